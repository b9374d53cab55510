#pragma once
// Entry points of the nerio-ts subcommands. Each takes the arguments after its own name and returns
// the process exit status (0 success, 1 failure); errors go to stderr as one line.

#include <QStringList>

int runAnalyze(const QStringList &args);
int runStream(const QStringList &args);
int runReceive(const QStringList &args);
