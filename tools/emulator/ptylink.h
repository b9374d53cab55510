#pragma once
// Serial adapter: the emulator holds the master side of a pseudo-terminal and the application
// opens the slave as its serial port. Non-blocking: short writes wait for POLLOUT; when the
// application closes its side (EIO / POLLHUP) the link is polled slowly until it is reopened.

#include "consolesession.h"
#include "outputpacer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class ModulatorDevice;
class QSocketNotifier;
class WireLog;

class PtyLink : public QObject
{
    Q_OBJECT
public:
    PtyLink(ModulatorDevice *device, WireLog *log, const OutputPacer::Options &pacing, int dropAfter,
        std::function<qint64()> clock, QObject *parent = nullptr);
    ~PtyLink() override;

    // Creates the pseudo-terminal; symlinkPath (optional) is made to point at its slave.
    bool open(const QString &symlinkPath, QString *error);
    QString slavePath() const { return path; }
    void tick();

signals:
    // A new pseudo-terminal replaced a dropped one (--drop-after).
    void reopened(const QString &path);

private:
    void readable();
    void writable();
    void hungUp();
    void checkPeer();
    void flush();
    void writeBytes(const QByteArray &bytes);
    void closeMaster();
    void dropLink();

    ModulatorDevice *device;
    WireLog *log;
    OutputPacer::Options pacing;
    int dropAfter;
    std::function<qint64()> clock;

    int fd = -1;
    QString path;
    QString symlink;
    bool peerPresent = false;
    std::unique_ptr<ConsoleSession> session;
    OutputPacer pacer;
    QByteArray pending; // accepted from the pacer, not yet taken by the pseudo-terminal
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QTimer peerTimer;
    QTimer paceTimer;
    QTimer dropTimer;
};
