#include "udpmanager.h"

#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>

namespace
{

Q_LOGGING_CATEGORY(lcDiscovery, "nerio.discovery")

// Six pairs of upper-case hex digits joined by "-", anywhere in the answer's second line.
const QRegularExpression &macPattern()
{
    static const QRegularExpression re(
        QStringLiteral("(([A-F]|[0-9])([A-F]|[0-9]))-(([A-F]|[0-9])([A-F]|[0-9]))-(([A-F]|[0-9])([A-F]|[0-9]))-"
                       "(([A-F]|[0-9])([A-F]|[0-9]))-(([A-F]|[0-9])([A-F]|[0-9]))-(([A-F]|[0-9])([A-F]|[0-9]))"));
    return re;
}

} // namespace

udpManager::udpManager(QObject *parent, int time)
    : QObject(parent)
    , collectionTime(time)
{
    collectLocalAddresses();
    bindSocket();
    connect(&socket, &QUdpSocket::readyRead, this, &udpManager::readBroadcastDatagram);
    timer.setInterval(collectionTime);
    connect(&timer, &QTimer::timeout, this, &udpManager::timeout);
}

QByteArray udpManager::query()
{
    return QByteArrayLiteral("Discovery: who is out there ?\r");
}

bool udpManager::bindSocket()
{
    // Broadcasts reach only a socket bound to the any-address; the port is shared with other programs that
    // listen for the same answers. The query is IPv4 broadcast, so the socket is IPv4 only.
    if (socket.bind(
            QHostAddress::AnyIPv4, DISCOVERY_PORT, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        lastError.clear();
        return true;
    }
    lastError = QStringLiteral("UDP port %1 is not available: %2").arg(DISCOVERY_PORT).arg(socket.errorString());
    qCWarning(lcDiscovery) << lastError;
    return false;
}

void udpManager::collectLocalAddresses()
{
    localAddresses.clear();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        // Every IPv4 address, whether or not a broadcast address was configured with it: an address set
        // without one still receives our own query back.
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol
                && entry.ip() != QHostAddress(QHostAddress::LocalHost))
                localAddresses.append(entry.ip());
        }
    }
}

bool udpManager::isLocal(const QHostAddress &address) const
{
    for (const QHostAddress &local : localAddresses) {
        if (local.isEqual(address, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

void udpManager::startDiscovery()
{
    resultList.clear();
    fullReported = false;
    // The port may have been freed since construction; without it no answer can arrive.
    if (!isBound() && !bindSocket())
        emit discoveryError(int(Failure::PortUnavailable));
    else
        sendBroadcastDatagram();
    timer.setSingleShot(true);
    timer.start();
}

void udpManager::sendBroadcastDatagram()
{
    const QByteArray q = query();
    if (socket.writeDatagram(q, QHostAddress::Broadcast, DISCOVERY_PORT) == -1) {
        lastError = QStringLiteral("The discovery query could not be sent: %1").arg(socket.errorString());
        qCWarning(lcDiscovery) << lastError;
        collectLocalAddresses();
        emit discoveryError(int(Failure::SendFailed));
    }
}

QString udpManager::answerEntry(const QByteArray &datagram, const QHostAddress &sender)
{
    const int nul = datagram.indexOf('\0');
    QString text = QString::fromLatin1(nul < 0 ? datagram : datagram.left(nul));
    text.remove(QLatin1Char('\r'));
    // Exactly two line feeds: count them before splitting, so a long datagram of line feeds costs nothing.
    if (text.count(QLatin1Char('\n')) != 2)
        return QString();
    const QStringList parts = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    if (!macPattern().match(parts.at(1)).hasMatch())
        return QString();
    return sender.toString() + QStringLiteral(" (") + parts.at(1) + QLatin1Char(')');
}

void udpManager::readBroadcastDatagram()
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        if (!datagram.isValid())
            continue;
        // Our own query comes back to us from one of our own addresses.
        if (isLocal(datagram.senderAddress()))
            continue;
        const QString entry = answerEntry(datagram.data(), datagram.senderAddress());
        if (entry.isEmpty())
            continue;
        if (resultList.size() >= MAX_RESULTS) {
            if (!fullReported)
                qCWarning(lcDiscovery) << "more than" << MAX_RESULTS << "answers, the rest are dropped";
            fullReported = true;
            continue;
        }
        resultList.append(entry);
    }
}

void udpManager::timeout()
{
    emit info();
}
