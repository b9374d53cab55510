#pragma once
// The one link between the program and one modulator: telnet over TCP or the serial console,
// device messages as text, recognition of the login dialogue, and the recent-address file.
// GUI thread only.

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "serialframer.h"

class QTelnetPerso;

class Connection : public QObject
{
    Q_OBJECT
public:
    enum ConnectionError { UnknownError = 0, ComPortUnavailable = 1, HostUnreachable = 2, ConnectionTimeout = 3 };
    Q_ENUM(ConnectionError)

    enum LogRequest { LoginRequest = 0, PasswordRequest = 1, Logged = 2, LoginError = 3, PasswordError = 4 };
    Q_ENUM(LogRequest)

    enum LoginState { WaitLogin = 0, WaitPassword = 1, WaitResult = 2, LoggedIn = 3 };

    static constexpr int EXIT_WAIT_MS = 1000;
    // A device that never ends a message with NUL must not grow the buffer without bound.
    static constexpr int MAX_COM_BUFFER = SerialFramer::DEFAULT_MAX_HELD;
    static constexpr int MAX_RECENT_ADDRESS_LENGTH = 15;

    Connection(QObject *parent, bool loginRequired);
    ~Connection() override;

    void connectIPToHost(const QString &host, quint16 port);
    void connectCOMToHost(const QString &portName);
    void disconnectFromHost(bool sendExit);
    bool isConnected(int mode) const;

    void sendData(const QByteArray &data);
    void sendData(const QString &text);
    void setLogState(int state);
    int logState() const { return loginState; }

    void getIPList(QList<QString> &list) const;
    void updateIPList(const QString &address) const;

    static QString recentIPFileName() { return QStringLiteral("recentIP.txt"); }

signals:
    void connected();
    void disconnected();
    void error(Connection::ConnectionError error);
    void message(QString text);
    void logProcess(Connection::LogRequest request);

public slots:
    void sockConnected();
    void sockDisconnected();
    void readCOM();
    void incomingData(const QString &msg);
    void handleTelnetError(QAbstractSocket::SocketError socketError);

private:
    void handleSerialError(QSerialPort::SerialPortError serialError);
    void closeSerial();

    QTelnetPerso *telnet = nullptr;
    QSerialPort *serial = nullptr;
    int loginState = WaitLogin;
    SerialFramer comFramer;
};
