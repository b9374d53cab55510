#pragma once
// One console link (serial line or telnet connection) of the modulator: telnet option bytes, the
// login dialogue, command lines. Bytes in, device messages out (each one write, NUL-terminated);
// time is passed in. The adapter writes what takeOutput() returns and closes the link when
// closeRequested() says so.

#include <QByteArray>
#include <QList>
#include <QString>

class ModulatorDevice;
class WireLog;

class ConsoleSession
{
public:
    enum class Kind { Serial, Telnet };
    enum class State { LoggedOut, AwaitLogin, AwaitPassword, LoggedIn };

    static constexpr int MaxLineLength = 4096;

    ConsoleSession(Kind kind, ModulatorDevice *device, const QString &linkName, WireLog *log = nullptr);

    // Telnet: the connection was accepted; sends IAC DO AUTHENTICATION and the login prompt.
    void open(qint64 nowMs);
    void receive(const QByteArray &bytes, qint64 nowMs);
    // Lets time-driven events happen (the prompt after a reboot).
    void tick(qint64 nowMs);
    // The far end went away (serial: the application closed its side).
    void hangUp();

    QList<QByteArray> takeOutput();
    bool closeRequested() const { return closing; }
    State state() const { return loginState; }

    // --drop-after N: close the link after answering N command lines; -1 = never.
    void setDropAfter(int lines) { dropAfter = lines; }

private:
    void dataByte(char c, qint64 nowMs);
    void lineEnded(qint64 nowMs);
    void commandLine(const QByteArray &line, qint64 nowMs);
    void prompt();
    void send(const QByteArray &text, bool message = true);
    void followReboot(qint64 nowMs);

    enum class Telnet { Data, Iac, Option, Sub, SubIac };

    Kind kind;
    ModulatorDevice *device;
    QString link;
    WireLog *log;

    State loginState = State::LoggedOut;
    Telnet telnet = Telnet::Data;
    QByteArray line;
    bool overflow = false;
    QString loginName;
    QList<QByteArray> output;
    bool closing = false;
    int generation = 0;
    bool promptAfterReboot = false;
    int dropAfter = -1;
    int linesAnswered = 0;
};
