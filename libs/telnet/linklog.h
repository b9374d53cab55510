#pragma once
// Logging categories of the device link: events, and the raw traffic dumps kept apart so they can be
// switched on alone (QT_LOGGING_RULES="nerio.link.traffic=true").

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcLinkTraffic)
