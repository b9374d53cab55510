#pragma once
// The command line of nerio-control: the route the connect button opens, whether the network route's
// buttons are usable, and connecting at start. Plain value code, any thread.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

struct StartOptions
{
    QString serialPort;
    QString host; // dotted IPv4 address of the telnet route
    quint16 hostPort = 23;
    bool network = false;
    bool connectAtStart = false;
};

class CommandLine
{
public:
    static constexpr quint16 TELNET_PORT = 23;

    CommandLine();

    // After parser.parse() or parser.process(): the options, or false and the reason for a value that
    // cannot be used. A usable line can still carry a note (an option that has no effect).
    bool read(StartOptions *options, QString *message) const;
    // "ADDRESS[:PORT]" as --host takes it.
    static bool parseHost(const QString &text, QString *address, quint16 *port);

    QCommandLineParser parser;

private:
    QCommandLineOption serialPort;
    QCommandLineOption host;
    QCommandLineOption network;
    QCommandLineOption connectAtStart;
};
