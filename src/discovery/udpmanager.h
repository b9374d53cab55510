#pragma once
// Broadcast discovery of modulators: sends the query on UDP port 30303, collects the answers that carry a
// MAC address for a fixed time, then emits info(). GUI thread only.

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUdpSocket>

class udpManager : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 DISCOVERY_PORT = 30303;
    // A flood of answers must not grow the list without bound; no network holds this many modulators.
    static constexpr int MAX_RESULTS = 1024;

    enum class Failure {
        PortUnavailable = 0, // another program holds UDP 30303 exclusively: no answer can be received
        SendFailed = 1, // the query could not be sent (no broadcast route, no interface up)
    };

    udpManager(QObject *parent, int collectionTime);

    void startDiscovery();
    QStringList results() const { return resultList; }
    bool isBound() const { return socket.state() == QAbstractSocket::BoundState; }
    QString errorString() const { return lastError; }

    static QByteArray query();
    // The result entry "<sender> (<MAC line>)" for an answer datagram, or an empty text when the datagram
    // is not an answer.
    static QString answerEntry(const QByteArray &datagram, const QHostAddress &sender);

signals:
    void info();
    // A failure the owner should show; info() still follows after the collection time.
    void discoveryError(int failure);

private slots:
    void sendBroadcastDatagram();
    void readBroadcastDatagram();
    void timeout();

private:
    bool bindSocket();
    void collectLocalAddresses();
    bool isLocal(const QHostAddress &address) const;

    int collectionTime;
    QList<QHostAddress> localAddresses;
    QUdpSocket socket;
    QTimer timer;
    QStringList resultList;
    QString lastError;
    bool fullReported = false;
};
