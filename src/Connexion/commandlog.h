#pragma once
// Logging category of the command engine (requests, verdicts, time-outs).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCommand)
