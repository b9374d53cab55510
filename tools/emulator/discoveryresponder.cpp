#include "discoveryresponder.h"

#include "wirelog.h"

#include <QNetworkDatagram>

DiscoveryResponder::DiscoveryResponder(const QString &productName, const QString &mac, WireLog *l, QObject *parent)
    : QObject(parent)
    , reply(answer(productName, mac))
    , log(l)
{
    connect(&socket, &QUdpSocket::readyRead, this, &DiscoveryResponder::readable);
}

QByteArray DiscoveryResponder::query()
{
    return QByteArrayLiteral("Discovery: who is out there ?\r");
}

QByteArray DiscoveryResponder::answer(const QString &productName, const QString &mac)
{
    return productName.toLatin1() + "\r\n" + mac.toLatin1() + "\r\n";
}

bool DiscoveryResponder::listen(QString *error)
{
    // Broadcasts reach only a socket bound to the any-address; the application shares the port.
    if (socket.bind(QHostAddress::AnyIPv4, Port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return true;
    *error = QStringLiteral("cannot listen for discovery on UDP %1: %2").arg(Port).arg(socket.errorString());
    return false;
}

void DiscoveryResponder::readable()
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram d = socket.receiveDatagram();
        if (!d.isValid() || d.data() != query())
            continue;
        if (log)
            log->received(QStringLiteral("discovery"), d.data());
        socket.writeDatagram(reply, d.senderAddress(), quint16(d.senderPort()));
        if (log)
            log->sent(QStringLiteral("discovery"), reply);
    }
}
