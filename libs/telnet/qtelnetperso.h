#pragma once
// Minimal telnet client for the modulator console: strips telnet commands from what the device sends,
// hands text up one run at a time and writes raw bytes. Negotiates nothing. GUI thread only.

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>

class QTcpSocket;

class QTelnetPerso : public QObject
{
    Q_OBJECT
public:
    // RFC 854 command bytes and the one option this client answers.
    static constexpr quint8 IAC = 255;
    static constexpr quint8 DONT = 254;
    static constexpr quint8 DO = 253;
    static constexpr quint8 WONT = 252;
    static constexpr quint8 WILL = 251;
    static constexpr quint8 SB = 250;
    static constexpr quint8 GA = 249;
    static constexpr quint8 EL = 248;
    static constexpr quint8 EC = 247;
    static constexpr quint8 DM = 242;
    static constexpr quint8 OPT_AUTHENTICATION = 37;

    static constexpr int CONNECT_TIMEOUT_MS = 2000;

    explicit QTelnetPerso(QObject *parent = nullptr);

    void connectToHost(const QString &host, quint16 port);
    void disconnectFromHost();
    bool isConnected() const { return connected; }
    QString peerName() const;

    // Feeds received bytes through the splitter as if the socket had delivered them.
    void processData(const QByteArray &received);

public slots:
    void sendData(const QByteArray &data);
    void socketReadyRead();

signals:
    void message(const QString &data);
    void errorOnSocket(QAbstractSocket::SocketError error);
    void sockConnected();
    void sockDisconnected();

private:
    int parseIAC(quint8 command, quint8 option);
    int emitText(const QByteArray &data, int from);

    QTcpSocket *socket;
    QByteArray buffer;
    bool connected = false;
};
