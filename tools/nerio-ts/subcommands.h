#pragma once
// Entry points of the nerio-ts subcommands. Each takes the arguments after its own name and returns
// the process exit status (0 success, 1 failure); errors go to stderr as one line.

#include <QStringList>

#include <cmath>

int runAnalyze(const QStringList &args);
int runStream(const QStringList &args);
int runReceive(const QStringList &args);

// Numeric option values, read alike by every subcommand: a whole number in [min, max] (no overflow), or a finite
// number of seconds in (0, max] (no nan, no infinity).
inline bool parseWholeOption(const QString &text, qint64 min, qint64 max, qint64 &value)
{
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok && value >= min && value <= max;
}

inline bool parseSecondsOption(const QString &text, double max, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value > 0 && value <= max;
}
