# One tree builds against Qt 5.15 (the default) or Qt 6: -DNERIO_QT=5|6. Targets are named
# Qt${NERIO_QT}::Core and so on.
set(NERIO_QT 5 CACHE STRING "Qt major version to build with (5 or 6)")
set_property(CACHE NERIO_QT PROPERTY STRINGS 5 6)
if(NERIO_QT STREQUAL "5")
    set(NERIO_QT_MIN_VERSION 5.15)
elseif(NERIO_QT STREQUAL "6")
    set(NERIO_QT_MIN_VERSION 6.2)
else()
    message(FATAL_ERROR "NERIO_QT must be 5 or 6, not '${NERIO_QT}'")
endif()
find_package(Qt${NERIO_QT} ${NERIO_QT_MIN_VERSION} REQUIRED COMPONENTS Core Gui Widgets Network Xml SerialPort Charts Test)
message(STATUS "Building with Qt ${Qt${NERIO_QT}_VERSION}")
