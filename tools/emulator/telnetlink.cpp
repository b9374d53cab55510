#include "telnetlink.h"

#include "modulatordevice.h"
#include "wirelog.h"

#include <QTcpSocket>

TelnetLink::TelnetLink(
    ModulatorDevice *d, WireLog *l, const OutputPacer::Options &p, int drop, std::function<qint64()> c, QObject *parent)
    : QObject(parent)
    , device(d)
    , log(l)
    , pacing(p)
    , dropAfter(drop)
    , clock(std::move(c))
    , pacer(p)
{
    paceTimer.setSingleShot(true);
    paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&paceTimer, &QTimer::timeout, this, &TelnetLink::flush);
    connect(&server, &QTcpServer::newConnection, this, &TelnetLink::accept);
}

bool TelnetLink::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (server.listen(address, port))
        return true;
    *error
        = QStringLiteral("cannot listen on %1 port %2: %3").arg(address.toString()).arg(port).arg(server.errorString());
    return false;
}

void TelnetLink::accept()
{
    while (QTcpSocket *incoming = server.nextPendingConnection()) {
        if (socket || device->isRebooting(clock())) {
            if (log)
                log->event(QStringLiteral("telnet"), QStringLiteral("connection refused (busy)"));
            incoming->abort();
            incoming->deleteLater();
            continue;
        }
        socket = incoming;
        // Small device messages must leave as written, not merged by Nagle's algorithm.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &TelnetLink::readable);
        connect(socket, &QTcpSocket::disconnected, this, &TelnetLink::closed);
        if (log)
            log->event(
                QStringLiteral("telnet"), QStringLiteral("connected from %1").arg(socket->peerAddress().toString()));
        session = std::make_unique<ConsoleSession>(ConsoleSession::Kind::Telnet, device, QStringLiteral("telnet"), log);
        session->setDropAfter(dropAfter);
        pacer = OutputPacer(pacing);
        closing = false;
        session->open(clock());
        flush();
    }
}

void TelnetLink::readable()
{
    if (!socket || !session)
        return;
    session->receive(socket->readAll(), clock());
    flush();
}

void TelnetLink::tick()
{
    if (!session)
        return;
    session->tick(clock());
    flush();
}

void TelnetLink::flush()
{
    if (!socket || !session || closing)
        return;
    const qint64 now = clock();
    for (const QByteArray &m : session->takeOutput())
        pacer.enqueue(m, now);
    for (const QByteArray &w : pacer.takeDue(now)) {
        socket->write(w);
        socket->flush(); // one message, one send
    }
    const qint64 next = pacer.nextDueMs();
    if (next >= 0)
        paceTimer.start(int(qBound(qint64(0), next - now, qint64(60000))));
    if (session->closeRequested() && pacer.isEmpty()) {
        // Graceful: what was written still reaches the client before the FIN.
        closing = true;
        socket->disconnectFromHost();
    }
}

void TelnetLink::closed()
{
    if (log)
        log->event(QStringLiteral("telnet"), QStringLiteral("closed"));
    paceTimer.stop();
    pacer.clear();
    session.reset();
    if (socket)
        socket->deleteLater();
    socket = nullptr;
    closing = false;
}
