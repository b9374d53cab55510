#pragma once
// A UDP socket on 127.0.0.1 or on a multicast group (a free port) that gathers whole datagrams for a bounded time,
// processing events meanwhile so queued signals of a run reach the test thread.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>

struct LoopbackCapture {
    QUdpSocket socket;

    // A large queue: a 300 ms freeze of the test thread at 10 Mbit/s leaves 500 kB waiting.
    bool open()
    {
        if (!socket.bind(QHostAddress::LocalHost, 0))
            return false;
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 << 20);
        return true;
    }
    // A multicast group on the loopback (of a test's own network namespace), on a free port.
    bool openGroup(const QHostAddress &group)
    {
        if (!socket.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::ShareAddress))
            return false;
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 << 20);
        return socket.joinMulticastGroup(group, QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
    }
    quint16 port() const { return socket.localPort(); }

    // What arrives within ms, or the first maxCount datagrams if they come sooner; one read at least.
    QList<QByteArray> read(int ms, int maxCount = 200000)
    {
        QList<QByteArray> got;
        QElapsedTimer t;
        t.start();
        do {
            socket.waitForReadyRead(10);
            while (socket.hasPendingDatagrams() && got.size() < maxCount)
                got.append(socket.receiveDatagram().data());
            QCoreApplication::processEvents();
        } while (t.elapsed() < ms && got.size() < maxCount);
        return got;
    }
};
