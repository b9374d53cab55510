#include "udpinput.h"

#include "wirelog.h"

#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QNetworkInterface>

Q_LOGGING_CATEGORY(lcUdp, "nerio.emulator.ipinput")

UdpInput::UdpInput(ModulatorDevice *d, WireLog *l, std::function<qint64()> c, QObject *parent)
    : QObject(parent)
    , device(d)
    , log(l)
    , clock(std::move(c))
{
}

void UdpInput::follow()
{
    const ModulatorDevice::IpListen wanted = device->ipListen();
    if (socket && wanted == current)
        return;
    if (!socket && !wanted.enabled && !current.enabled)
        return;
    socket.reset();
    device->ipMeter().reset();
    current = wanted;
    if (!wanted.enabled)
        return;

    const QHostAddress address(wanted.address);
    auto s = std::make_unique<QUdpSocket>();
    // Several emulators (or a test's own receiver) may listen on the same port.
    const auto mode = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    // Bound to the group itself, the socket receives that group's datagrams and nothing else.
    if (!s->bind(address, quint16(wanted.port), mode)) {
        qCWarning(lcUdp) << "IP input: cannot bind" << wanted.address << wanted.port << s->errorString();
        return;
    }
    if (wanted.multicast) {
        // Join on the interface of the device's own address only, so that the default (loopback)
        // emulator never sends membership reports onto a real network.
        QNetworkInterface chosen;
        const QHostAddress own(device->identity().unicastAddress);
        for (const QNetworkInterface &i : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &e : i.addressEntries()) {
                if (e.ip() == own)
                    chosen = i;
            }
        }
        if (!chosen.isValid() || !s->joinMulticastGroup(address, chosen)) {
            qCWarning(lcUdp) << "IP input: cannot join" << wanted.address << "on the interface of" << own.toString()
                             << s->errorString();
        }
    }
    connect(s.get(), &QUdpSocket::readyRead, this, &UdpInput::readable);
    if (log)
        log->event(QStringLiteral("ip"), QStringLiteral("listening on %1:%2").arg(wanted.address).arg(wanted.port));
    socket = std::move(s);
}

void UdpInput::readable()
{
    while (socket && socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = socket->receiveDatagram();
        if (d.isValid())
            device->ipMeter().addDatagram(d.data(), clock());
    }
}
