#pragma once
// Test helpers: the nerio-emulator program as a child process, and raw clients for its serial
// (pseudo-terminal slave) and telnet links that split what arrives into NUL-terminated messages.
// Every wait is bounded.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

inline QString emulatorProgram()
{
    const QByteArray dir = qgetenv("NERIO_BIN_DIR");
    return QString::fromLocal8Bit(dir.isEmpty() ? QByteArray(".") : dir) + QStringLiteral("/nerio-emulator");
}

class EmulatorProcess
{
public:
    ~EmulatorProcess() { stop(); }

    // Starts the program and waits for its "ready" line; the link lines before it are kept.
    bool start(const QStringList &arguments, int timeoutMs = 10000)
    {
        process.setProgram(emulatorProgram());
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start();
        if (!process.waitForStarted(timeoutMs))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            while (process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
                lines << line;
                if (line.startsWith(QLatin1String("serial: ")))
                    serialPath = line.mid(8);
                if (line.startsWith(QLatin1String("telnet: ")))
                    telnetPort = quint16(line.mid(8).toUInt());
                if (line == QLatin1String("ready"))
                    return true;
            }
            if (process.state() != QProcess::Running)
                return false;
            process.waitForReadyRead(100);
        }
        return false;
    }
    // Further stdout lines (after ready), waiting up to timeoutMs for one.
    QString nextLine(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!process.canReadLine() && t.elapsed() < timeoutMs && process.state() == QProcess::Running)
            process.waitForReadyRead(50);
        return process.canReadLine() ? QString::fromLocal8Bit(process.readLine()).trimmed() : QString();
    }
    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(3000)) {
                process.kill();
                process.waitForFinished(3000);
            }
        }
    }
    qint64 pid() const { return process.processId(); }

    QProcess process;
    QStringList lines;
    QString serialPath;
    quint16 telnetPort = 0;
};

// Splits received bytes into device messages (each ends with NUL).
class MessageReader
{
public:
    virtual ~MessageReader() = default;
    // The next message including its NUL, or whatever arrived (without NUL) at the time-out.
    QByteArray message(int timeoutMs = 3000)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            const int nul = buffer.indexOf('\0');
            if (nul >= 0) {
                const QByteArray m = buffer.left(nul + 1);
                buffer.remove(0, nul + 1);
                return m;
            }
            const qint64 left = timeoutMs - t.elapsed();
            if (left <= 0 || !readSome(int(left))) {
                const QByteArray partial = buffer;
                buffer.clear();
                return partial;
            }
        }
    }
    // Bytes arriving within windowMs (for silence checks and raw openings).
    QByteArray drain(int windowMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < windowMs)
            readSome(int(windowMs - t.elapsed()));
        const QByteArray all = buffer;
        buffer.clear();
        return all;
    }
    int reads = 0; // how many separate reads delivered data

protected:
    // Appends what arrives within timeoutMs; false on time-out or end of the link.
    virtual bool readSome(int timeoutMs) = 0;
    QByteArray buffer;
};

class SerialClient : public MessageReader
{
public:
    explicit SerialClient(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios tio {};
            if (tcgetattr(fd, &tio) == 0) {
                cfmakeraw(&tio);
                tcsetattr(fd, TCSANOW, &tio);
            }
        }
    }
    ~SerialClient() override { close(); }
    bool isOpen() const { return fd >= 0; }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool send(const QByteArray &bytes)
    {
        return fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    bool hungUp = false;

protected:
    bool readSome(int timeoutMs) override
    {
        if (fd < 0)
            return false;
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buffer.append(chunk, int(n));
            ++reads;
            return true;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            hungUp = true;
        return false;
    }

private:
    int fd = -1;
};

class TelnetClient : public MessageReader
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(3000);
    }
    bool send(const QByteArray &bytes)
    {
        socket.write(bytes);
        return socket.waitForBytesWritten(3000);
    }
    bool closedByPeer(int timeoutMs)
    {
        if (socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs && socket.state() != QAbstractSocket::UnconnectedState) {
            socket.waitForReadyRead(50);
            buffer += socket.readAll();
        }
        return socket.state() == QAbstractSocket::UnconnectedState;
    }
    QTcpSocket socket;

protected:
    bool readSome(int timeoutMs) override
    {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs))
            return false;
        buffer += socket.readAll();
        ++reads;
        return true;
    }
};

inline QByteArray nul(const QByteArray &text)
{
    return text + QByteArray(1, '\0');
}

// ESC, then the default credentials; true once logged in.
inline bool serialLogIn(SerialClient &client)
{
    client.send("\x1b");
    if (client.message() != nul("Login:"))
        return false;
    client.send("admin\r\nkorva\r\n");
    return client.message() == nul("Password:") && client.message() == nul("Logged in successfully\r\n");
}

// The opening IAC DO AUTHENTICATION with the prompt, then the default credentials.
inline bool telnetLogIn(TelnetClient &client)
{
    if (client.message() != QByteArray("\xff\xfd\x25", 3) + nul("Login:"))
        return false;
    client.send("admin\r\nkorva\r\n");
    return client.message() == nul("Password:") && client.message() == nul("Logged in successfully\r\n");
}
