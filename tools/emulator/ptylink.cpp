#include "ptylink.h"

#include "modulatordevice.h"
#include "wirelog.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPty, "nerio.emulator.serial")

namespace
{
// How often a closed far end is checked for a new opener: slow enough not to spin.
constexpr int peerPollMs = 50;
constexpr int dropGraceMs = 200;
}

PtyLink::PtyLink(
    ModulatorDevice *d, WireLog *l, const OutputPacer::Options &p, int drop, std::function<qint64()> c, QObject *parent)
    : QObject(parent)
    , device(d)
    , log(l)
    , pacing(p)
    , dropAfter(drop)
    , clock(std::move(c))
    , pacer(p)
{
    peerTimer.setInterval(peerPollMs);
    connect(&peerTimer, &QTimer::timeout, this, &PtyLink::checkPeer);
    paceTimer.setSingleShot(true);
    paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&paceTimer, &QTimer::timeout, this, &PtyLink::flush);
    dropTimer.setSingleShot(true);
    dropTimer.setInterval(dropGraceMs);
    connect(&dropTimer, &QTimer::timeout, this, &PtyLink::dropLink);
}

PtyLink::~PtyLink()
{
    closeMaster();
    if (!symlink.isEmpty() && QFileInfo(symlink).isSymLink())
        QFile::remove(symlink);
}

bool PtyLink::open(const QString &symlinkPath, QString *error)
{
    fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        closeMaster();
        return false;
    }
    const char *name = ptsname(fd);
    if (!name) {
        *error = QStringLiteral("no pseudo-terminal name");
        closeMaster();
        return false;
    }
    path = QString::fromLocal8Bit(name);
    // Raw line discipline on the slave, as a serial port: every byte passes unchanged.
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios tio {};
        if (tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B115200);
            cfsetospeed(&tio, B115200);
            tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }
    if (!symlinkPath.isEmpty()) {
        if (QFileInfo(symlinkPath).isSymLink())
            QFile::remove(symlinkPath);
        if (::symlink(name, QFile::encodeName(symlinkPath).constData()) != 0) {
            *error = QStringLiteral("cannot make the link %1: %2")
                         .arg(symlinkPath, QString::fromLocal8Bit(strerror(errno)));
            closeMaster();
            return false;
        }
        symlink = symlinkPath;
    }
    session = std::make_unique<ConsoleSession>(ConsoleSession::Kind::Serial, device, QStringLiteral("serial"), log);
    session->setDropAfter(dropAfter);
    pacer = OutputPacer(pacing);
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &PtyLink::readable);
    writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &PtyLink::writable);
    // Nobody holds the slave yet: wait for the application to open it.
    readNotifier->setEnabled(false);
    peerPresent = false;
    peerTimer.start();
    checkPeer();
    return true;
}

void PtyLink::closeMaster()
{
    // Later, not now: this may run inside one of the notifiers' own signals.
    for (QSocketNotifier *n : { readNotifier, writeNotifier }) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    readNotifier = nullptr;
    writeNotifier = nullptr;
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    peerTimer.stop();
    paceTimer.stop();
    dropTimer.stop();
}

void PtyLink::checkPeer()
{
    if (fd < 0)
        return;
    pollfd p { fd, POLLIN, 0 };
    if (::poll(&p, 1, 0) < 0)
        return;
    if (p.revents & POLLHUP)
        return; // still nobody on the slave side
    peerTimer.stop();
    peerPresent = true;
    if (log)
        log->event(QStringLiteral("serial"), QStringLiteral("opened"));
    readNotifier->setEnabled(true);
    if (p.revents & POLLIN)
        readable();
}

void PtyLink::hungUp()
{
    // The application closed the port: forget its login and everything not yet delivered.
    if (readNotifier)
        readNotifier->setEnabled(false);
    if (writeNotifier)
        writeNotifier->setEnabled(false);
    peerPresent = false;
    pending.clear();
    pacer.clear();
    paceTimer.stop();
    session->hangUp();
    if (log)
        log->event(QStringLiteral("serial"), QStringLiteral("closed by the far end"));
    peerTimer.start();
}

void PtyLink::readable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            session->receive(QByteArray(buffer, int(n)), clock());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        hungUp(); // EIO (or end of file): the slave side is closed
        return;
    }
    flush();
}

void PtyLink::tick()
{
    if (!session || fd < 0)
        return;
    session->tick(clock());
    flush();
}

void PtyLink::flush()
{
    if (!session || fd < 0)
        return;
    const qint64 now = clock();
    for (const QByteArray &m : session->takeOutput()) {
        if (peerPresent)
            pacer.enqueue(m, now);
    }
    for (const QByteArray &w : pacer.takeDue(now))
        writeBytes(w);
    const qint64 next = pacer.nextDueMs();
    if (next >= 0)
        paceTimer.start(int(qBound(qint64(0), next - now, qint64(60000))));
    if (session->closeRequested() && pacer.isEmpty() && pending.isEmpty() && !dropTimer.isActive()) {
        // Hanging up flushes what the slave has not read yet: give the last answer time to arrive.
        readNotifier->setEnabled(false);
        dropTimer.start();
    }
}

void PtyLink::writeBytes(const QByteArray &bytes)
{
    if (!pending.isEmpty()) {
        pending += bytes; // keep the order behind what the terminal has not taken yet
        return;
    }
    const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
    if (n == bytes.size())
        return;
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        hungUp();
        return;
    }
    pending = bytes.mid(n > 0 ? n : 0);
    writeNotifier->setEnabled(true);
}

void PtyLink::writable()
{
    while (!pending.isEmpty()) {
        const ssize_t n = ::write(fd, pending.constData(), size_t(pending.size()));
        if (n > 0) {
            pending.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return; // the notifier stays on until the terminal drains
        hungUp();
        return;
    }
    writeNotifier->setEnabled(false);
    if (session->closeRequested())
        flush();
}

void PtyLink::dropLink()
{
    // --drop-after: hang the line up, then offer a fresh one (the symlink follows it).
    if (log)
        log->event(QStringLiteral("serial"), QStringLiteral("dropped"));
    const QString link = symlink;
    symlink.clear();
    closeMaster();
    QString error;
    if (open(link, &error))
        emit reopened(path);
    else
        qCWarning(lcPty) << error;
}
