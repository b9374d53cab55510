#pragma once
// Minimal telnet client for the modulator console: strips telnet commands from what the device sends,
// hands text up one run at a time and writes raw bytes. Negotiates nothing. GUI thread only.

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>

class QTcpSocket;
class QTimer;

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
    // Silence after which text without its NUL is handed up anyway.
    static constexpr int HELD_RUN_MS = 50;
    // A run longer than this without NUL is handed up as it is.
    static constexpr int MAX_HELD_RUN = 1 << 20;

    explicit QTelnetPerso(QObject *parent = nullptr);

    void connectToHost(const QString &host, quint16 port);
    void disconnectFromHost();
    bool isConnected() const { return connected; }
    QString peerName() const;

    // Feeds received bytes through the splitter as if the socket had delivered them.
    void processData(const QByteArray &received);
    // Hands up held text that still waits for its NUL (also done by a timer after HELD_RUN_MS).
    void flushHeldText();

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
    QTimer *heldRunTimer;
    // Unfinished input: a command cut by the end of a read, or a text run waiting for its NUL.
    QByteArray buffer;
    bool holdingRun = false;
    bool connected = false;
};
