#pragma once
// --discovery: answers the broadcast query on UDP 30303 with the product name and the MAC address,
// from port 30303 to the sender. Anything else on the port is ignored.

#include <QByteArray>
#include <QObject>
#include <QUdpSocket>

class WireLog;

class DiscoveryResponder : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 Port = 30303;

    DiscoveryResponder(const QString &productName, const QString &mac, WireLog *log, QObject *parent = nullptr);
    bool listen(QString *error);

    static QByteArray query();
    static QByteArray answer(const QString &productName, const QString &mac);

private:
    void readable();

    QByteArray reply;
    WireLog *log;
    QUdpSocket socket;
};
