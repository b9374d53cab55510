#pragma once
// Logging categories of the transport-stream tool.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcStreaming)
Q_DECLARE_LOGGING_CATEGORY(lcPsi)
