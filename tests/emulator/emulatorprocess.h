#pragma once
// Test helpers: the nerio-emulator program as a child process, and one raw client for either of its
// links (pseudo-terminal slave or loopback TCP) that splits what arrives into NUL-terminated messages.
// Every wait is bounded.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

// "--telnet 0 --delay-ms 400" as an argument list.
inline QStringList args(const char *line)
{
    return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

inline QByteArray nul(const QByteArray &text)
{
    return text + QByteArray(1, '\0');
}

class EmulatorProcess
{
public:
    ~EmulatorProcess()
    {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    // Starts the program and waits for its "ready" line, noting the links announced before it.
    bool start(const QStringList &arguments)
    {
        process.start(qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator"), arguments);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && process.state() != QProcess::NotRunning) {
            const QString line = nextLine(100);
            if (line == QLatin1String("ready"))
                return true;
            if (line.startsWith(QLatin1String("serial: ")))
                serialPath = line.mid(8);
            if (line.startsWith(QLatin1String("telnet: ")))
                telnetPort = quint16(line.mid(8).toUInt());
        }
        return false;
    }
    // The next stdout line, waiting up to timeoutMs for it.
    QString nextLine(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!process.canReadLine() && t.elapsed() < timeoutMs && process.state() != QProcess::NotRunning)
            process.waitForReadyRead(50);
        return process.canReadLine() ? QString::fromLocal8Bit(process.readLine()).trimmed() : QString();
    }
    QProcess process;
    QString serialPath;
    quint16 telnetPort = 0;
};

// A raw client on a non-blocking descriptor: the terminal's slave side, or a TCP connection.
class Client
{
public:
    ~Client() { close(); }

    bool openSerial(const QString &path)
    {
        close();
        telnet = false;
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio {};
        if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
        return fd >= 0;
    }
    bool connectTelnet(quint16 port)
    {
        close();
        telnet = true;
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return false;
        return ::fcntl(fd, F_SETFL, O_NONBLOCK) == 0;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        hungUp = false;
        buffer.clear();
    }
    bool send(const QByteArray &bytes)
    {
        return fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // The next message including its NUL, or whatever arrived (without NUL) at the time-out.
    QByteArray message(int timeoutMs = 3000)
    {
        QElapsedTimer t;
        t.start();
        int end;
        while ((end = buffer.indexOf('\0')) < 0 && t.elapsed() < timeoutMs && readSome(int(timeoutMs - t.elapsed())))
            ;
        const QByteArray m = buffer.left(end < 0 ? buffer.size() : end + 1);
        buffer.remove(0, m.size());
        return m;
    }
    // One command line as the application sends it, and the answer.
    QByteArray ask(const QByteArray &line)
    {
        send(line + "\n\r");
        return message();
    }
    // Everything arriving within windowMs (silence checks), or until the far end hangs up.
    QByteArray drain(int windowMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < windowMs && !hungUp)
            readSome(int(windowMs - t.elapsed()));
        const QByteArray all = buffer;
        buffer.clear();
        return all;
    }
    // Serial: ESC wakes the prompt; telnet: IAC DO AUTHENTICATION and the prompt arrive by themselves.
    bool logIn()
    {
        if (!telnet)
            send("\x1b");
        if (message() != (telnet ? QByteArray("\xff\xfd\x25", 3) : QByteArray()) + nul("Login:"))
            return false;
        send("admin\r\nkorva\r\n");
        return message() == nul("Password:") && message() == nul("Logged in successfully\r\n");
    }

    int reads = 0; // how many separate reads delivered data
    bool hungUp = false; // end of file, or EIO once the emulator closed the terminal

private:
    bool readSome(int timeoutMs)
    {
        pollfd p { fd, POLLIN, 0 };
        if (fd < 0 || ::poll(&p, 1, qMax(0, timeoutMs)) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buffer.append(chunk, int(n));
            ++reads;
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            hungUp = true;
        return false;
    }

    int fd = -1;
    bool telnet = false;
    QByteArray buffer;
};

// Starts the emulator and logs a client in on its first link: the terminal if it has one, else TCP.
inline bool startLoggedIn(EmulatorProcess &emu, Client &client, const QStringList &arguments)
{
    return emu.start(arguments)
        && (emu.serialPath.isEmpty() ? client.connectTelnet(emu.telnetPort) : client.openSerial(emu.serialPath))
        && client.logIn();
}
