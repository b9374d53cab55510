#pragma once
// A UDP socket on 127.0.0.1 (a free port) that gathers whole datagrams for a bounded time, processing events
// meanwhile so queued signals of a run reach the test thread.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QUdpSocket>

struct LoopbackCapture {
    QUdpSocket socket;

    bool open()
    {
        if (!socket.bind(QHostAddress::LocalHost, 0))
            return false;
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 << 20);
        return true;
    }
    quint16 port() const { return socket.localPort(); }
    QString dest() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

    // What arrives within ms, or the first maxCount datagrams if they come sooner; one read at least.
    QList<QByteArray> read(int ms, int maxCount = 200000)
    {
        QList<QByteArray> got;
        QElapsedTimer t;
        t.start();
        do {
            socket.waitForReadyRead(10);
            while (socket.hasPendingDatagrams() && got.size() < maxCount) {
                QByteArray d(int(socket.pendingDatagramSize()), Qt::Uninitialized);
                socket.readDatagram(d.data(), d.size());
                got.append(d);
            }
            QCoreApplication::processEvents();
        } while (t.elapsed() < ms && got.size() < maxCount);
        return got;
    }
};
