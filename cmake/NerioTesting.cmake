# nerio_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>] [LABELS <labels...>])
# One executable per test file, registered with ctest and run headless.
set(NERIO_TEST_RUNTIME_DIR "${CMAKE_BINARY_DIR}/xdg-runtime")
file(MAKE_DIRECTORY "${NERIO_TEST_RUNTIME_DIR}")
file(CHMOD "${NERIO_TEST_RUNTIME_DIR}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(nerio_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt${NERIO_QT}::Test ${T_LIBS})
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${NERIO_TEST_RUNTIME_DIR};NERIO_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
