#pragma once
// A pseudo-terminal pair for serial tests: the test holds the master side and plays the device;
// the code under test opens slavePath() as its serial port. Header-only, test thread only.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

class PtyPair
{
public:
    PtyPair()
    {
        masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio {};
        if (masterFd < 0 || grantpt(masterFd) != 0 || unlockpt(masterFd) != 0 || tcgetattr(masterFd, &tio) != 0)
            return;
        // Raw, as a serial port opened by the application would be (the master's termios are the slave's).
        cfmakeraw(&tio);
        tcsetattr(masterFd, TCSANOW, &tio);
        path = QString::fromLocal8Bit(ptsname(masterFd));
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return masterFd >= 0 && !path.isEmpty(); }
    QString slavePath() const { return path; }
    int fd() const { return masterFd; }

    void closeMaster()
    {
        if (masterFd >= 0)
            ::close(masterFd);
        masterFd = -1;
    }

    // Writes everything; while the pty is full it runs the event loop so the reader under test drains it.
    // False on error or after five seconds.
    bool write(const QByteArray &data)
    {
        qsizetype done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < data.size() && timer.elapsed() < 5000) {
            const ssize_t n = ::write(masterFd, data.constData() + done, size_t(data.size() - done));
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            done += qMax(n, ssize_t(0));
            if (n <= 0) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                pollfd p { masterFd, POLLOUT, 0 };
                ::poll(&p, 1, 5);
            }
        }
        return done == data.size();
    }

    // Whatever the application has written so far (non-blocking).
    QByteArray readAvailable()
    {
        QByteArray out;
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(masterFd, chunk, sizeof chunk)) > 0)
            out.append(chunk, int(n));
        return out;
    }

private:
    int masterFd = -1;
    QString path;
};
