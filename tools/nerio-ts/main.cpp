// nerio-ts: command-line front end of the transport-stream tool. Each subcommand is one row of the
// table below and lives in its own file.

#include "subcommands.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>

namespace
{

struct subcommand {
    const char *name;
    const char *summary;
    int (*run)(const QStringList &args);
};

const subcommand SUBCOMMANDS[] = {
    { "analyze", "show the programs, PIDs and PCR bitrate of a transport stream file", runAnalyze },
    { "stream", "stream a transport stream file over UDP/RTP at its bitrate", runStream },
    { "receive", "measure a stream arriving on a UDP port", runReceive },
};

void usage(FILE *to)
{
    QTextStream out(to);
    out << "Usage: nerio-ts <command> [options]\n\nCommands:\n";
    for (const subcommand &command : SUBCOMMANDS)
        out << "  " << QString::fromLatin1(command.name).leftJustified(10) << command.summary << '\n';
    out << "\nA FILE may be a named pipe (FIFO): it is read as it comes, and nerio-ts waits for its writer\n"
           "(Ctrl-C ends the wait).\n";
    out << "\nRun 'nerio-ts <command> --help' for the options of a command, 'nerio-ts --version' for the version.\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nerio-ts"));
    // Diagnostics stay out of the tool's output unless QT_LOGGING_RULES asks for them.
    QLoggingCategory::setFilterRules(QStringLiteral("nerio.*.debug=false"));
    const QStringList args = QCoreApplication::arguments();

    if (args.size() < 2) {
        usage(stderr);
        return 1;
    }
    const QString name = args.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        usage(stdout);
        return 0;
    }
    if (name == QLatin1String("--version") || name == QLatin1String("-v")) {
        QTextStream(stdout) << "nerio-ts " NERIO_VERSION "\n";
        return 0;
    }
    for (const subcommand &command : SUBCOMMANDS) {
        if (name == QLatin1String(command.name))
            return command.run(args.mid(2));
    }
    QTextStream(stderr) << "nerio-ts: unknown command '" << name << "' (try 'nerio-ts --help')\n";
    return 1;
}
