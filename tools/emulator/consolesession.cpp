#include "consolesession.h"

#include "modulatordevice.h"
#include "wirelog.h"

namespace
{
constexpr char esc = 27;
constexpr quint8 iac = 255;
constexpr quint8 sb = 250;
constexpr quint8 se = 240;
constexpr quint8 will = 251;
constexpr quint8 dont = 254;
constexpr quint8 doOption = 253;
constexpr quint8 authentication = 37;
}

ConsoleSession::ConsoleSession(Kind k, ModulatorDevice *d, const QString &linkName, WireLog *l)
    : kind(k)
    , device(d)
    , link(linkName)
    , log(l)
    , generation(d->bootGeneration())
{
}

void ConsoleSession::open(qint64 nowMs)
{
    Q_UNUSED(nowMs)
    if (kind != Kind::Telnet)
        return;
    const char opening[] = { char(iac), char(doOption), char(authentication) };
    send(QByteArray(opening, 3), false);
    prompt();
}

void ConsoleSession::send(const QByteArray &text, bool message)
{
    if (device->isMuted())
        return;
    const QByteArray bytes = message ? text + '\0' : text;
    if (log)
        log->sent(link, bytes);
    output << bytes;
}

void ConsoleSession::prompt()
{
    line.clear();
    overflow = false;
    loginState = State::AwaitLogin;
    send(QByteArrayLiteral("Login:"));
}

QList<QByteArray> ConsoleSession::takeOutput()
{
    QList<QByteArray> out;
    out.swap(output);
    return out;
}

void ConsoleSession::hangUp()
{
    loginState = State::LoggedOut;
    telnet = Telnet::Data;
    line.clear();
    overflow = false;
    output.clear();
}

void ConsoleSession::followReboot(qint64 nowMs)
{
    if (generation != device->bootGeneration()) {
        // The device restarted: whoever was logged in is gone; telnet loses its connection.
        generation = device->bootGeneration();
        loginState = State::LoggedOut;
        line.clear();
        overflow = false;
        if (kind == Kind::Telnet)
            closing = true;
        else
            promptAfterReboot = true;
        if (log)
            log->event(link, QStringLiteral("reboot"));
    }
    if (promptAfterReboot && !device->isRebooting(nowMs)) {
        promptAfterReboot = false;
        prompt();
    }
}

void ConsoleSession::tick(qint64 nowMs)
{
    if (!closing)
        followReboot(nowMs);
}

void ConsoleSession::receive(const QByteArray &bytes, qint64 nowMs)
{
    followReboot(nowMs);
    for (char c : bytes) {
        // A rebooting device, or a link about to close, hears nothing.
        if (closing || device->isRebooting(nowMs))
            return;
        if (kind == Kind::Serial) {
            dataByte(c, nowMs);
            followReboot(nowMs);
            continue;
        }
        const auto u = quint8(c);
        switch (telnet) {
        case Telnet::Data:
            if (u == iac)
                telnet = Telnet::Iac;
            else
                dataByte(c, nowMs);
            break;
        case Telnet::Iac:
            if (u == iac) {
                telnet = Telnet::Data;
                dataByte(c, nowMs); // escaped 255
            } else if (u == sb) {
                telnet = Telnet::Sub;
            } else if (u >= will && u <= dont) {
                telnet = Telnet::Option; // WILL/WONT/DO/DONT carry one option byte
            } else {
                telnet = Telnet::Data; // two-byte commands (NOP, GA, ...)
            }
            break;
        case Telnet::Option:
            telnet = Telnet::Data;
            break;
        case Telnet::Sub:
            if (u == iac)
                telnet = Telnet::SubIac;
            break;
        case Telnet::SubIac:
            telnet = u == se ? Telnet::Data : Telnet::Sub;
            break;
        }
        followReboot(nowMs);
    }
}

void ConsoleSession::dataByte(char c, qint64 nowMs)
{
    if (c == esc) {
        // ESC is what the application sends on opening a serial link: it always yields a fresh
        // login prompt, even on a line left logged in by a previous session. On telnet the prompt
        // was already sent when the connection opened.
        if (kind == Kind::Serial)
            prompt();
        return;
    }
    if (loginState == State::LoggedOut) {
        if (c == '\r' && kind == Kind::Serial)
            prompt();
        return;
    }
    if (c == '\r' || c == '\n') {
        lineEnded(nowMs);
        return;
    }
    if (c == '\0')
        return; // telnet sends CR NUL for a bare carriage return
    if (line.size() >= MaxLineLength) {
        overflow = true;
        return;
    }
    line += c;
}

void ConsoleSession::lineEnded(qint64 nowMs)
{
    // CR LF, LF CR and LF alone all end one line: the second terminator finds an empty line.
    if (line.isEmpty() && !overflow)
        return;
    const QByteArray text = line;
    const bool tooLong = overflow;
    line.clear();
    overflow = false;
    if (log)
        log->received(link, tooLong ? text.left(64) + "..." : text);
    switch (loginState) {
    case State::LoggedOut:
        return;
    case State::AwaitLogin:
        loginName = QString::fromLatin1(text);
        loginState = State::AwaitPassword;
        send(QByteArrayLiteral("Password:"));
        return;
    case State::AwaitPassword:
        if (!tooLong && device->checkCredentials(loginName, QString::fromLatin1(text))) {
            loginState = State::LoggedIn;
            send(QByteArrayLiteral("Logged in successfully\r\n"));
        } else {
            send(QByteArrayLiteral("Access denied\r\n"));
            prompt();
        }
        return;
    case State::LoggedIn:
        if (tooLong) {
            send(QByteArrayLiteral("KO\r\n"));
            return;
        }
        commandLine(text, nowMs);
        return;
    }
}

void ConsoleSession::commandLine(const QByteArray &text, qint64 nowMs)
{
    if (text == "exit") {
        send(QByteArrayLiteral("Logged out\r\n"));
        loginState = State::LoggedOut;
        if (kind == Kind::Telnet)
            closing = true;
        return;
    }
    const ModulatorDevice::Answer answer = device->execute(QString::fromLatin1(text), nowMs);
    if (!answer.text.isEmpty())
        send(answer.text);
    ++linesAnswered;
    if (dropAfter >= 0 && linesAnswered >= dropAfter) {
        closing = true;
        if (log)
            log->event(link, QStringLiteral("drop"));
    }
}
