#include "connection.h"

#include "linklog.h"
#include "qtelnetperso.h"

#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QTimer>

Connection::Connection(QObject *parent, bool loginRequired)
    : QObject(parent)
    , loginState(loginRequired ? WaitLogin : LoggedIn)
{
}

Connection::~Connection()
{
    if (telnet && telnet->isConnected())
        telnet->disconnectFromHost();
    if (serial)
        serial->close();
}

void Connection::connectIPToHost(const QString &host, quint16 port)
{
    delete telnet;
    telnet = new QTelnetPerso(this);
    connect(telnet, &QTelnetPerso::sockConnected, this, &Connection::sockConnected);
    connect(telnet, &QTelnetPerso::errorOnSocket, this, &Connection::handleTelnetError);
    telnet->connectToHost(host, port);
}

void Connection::connectCOMToHost(const QString &portName)
{
    closeSerial();
    serial = new QSerialPort(this);
    serial->setPortName(portName);
    serial->setBaudRate(QSerialPort::Baud115200);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);
    if (!serial->open(QIODevice::ReadWrite)) {
        qCWarning(lcLink) << "Port" << portName << "cannot be opened:" << serial->errorString();
        delete serial;
        serial = nullptr;
        emit error(ComPortUnavailable);
        return;
    }
    qCDebug(lcLink) << "Port" << portName << "ouvert!";
    connect(serial, &QSerialPort::readyRead, this, &Connection::readCOM);
    connect(serial, &QSerialPort::errorOccurred, this, &Connection::handleSerialError);
    emit connected();
}

void Connection::disconnectFromHost(bool sendExit)
{
    if (sendExit) {
        sendData(QStringLiteral("exit\r\n"));
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &Connection::message, &loop, &QEventLoop::quit);
        timer.start(EXIT_WAIT_MS);
        loop.exec();
    }
    if (telnet) {
        QTelnetPerso *session = telnet;
        telnet = nullptr;
        // A connected session reports its closing through sockDisconnected(), hence disconnected().
        if (session->isConnected())
            session->disconnectFromHost();
        session->deleteLater();
    }
    if (serial) {
        closeSerial();
        emit disconnected();
    }
    loginState = WaitLogin;
}

bool Connection::isConnected(int mode) const
{
    switch (mode) {
    case 0:
        return serial && serial->isOpen();
    case 1:
        return telnet && telnet->isConnected();
    case 2:
        return telnet ? telnet->isConnected() : (serial && serial->isOpen());
    default:
        return false;
    }
}

void Connection::sendData(const QByteArray &data)
{
    if (telnet) {
        qCDebug(lcLink) << "IP emit : " << data;
        telnet->sendData(data);
    } else if (serial) {
        qCDebug(lcLink) << "COM emit : " << data;
        serial->write(data);
    }
}

void Connection::sendData(const QString &text)
{
    sendData(text.toLocal8Bit());
}

void Connection::setLogState(int state)
{
    loginState = state;
}

void Connection::sockConnected()
{
    if (!telnet)
        return;
    connect(telnet, &QTelnetPerso::message, this, &Connection::incomingData);
    connect(telnet, &QTelnetPerso::sockDisconnected, this, &Connection::sockDisconnected);
    updateIPList(telnet->peerName());
    emit connected();
}

void Connection::sockDisconnected()
{
    qCDebug(lcLink) << "Socket disconnected";
    if (sender() == telnet)
        telnet = nullptr;
    emit disconnected();
}

void Connection::readCOM()
{
    if (!serial)
        return;
    const QByteArray received = serial->readAll();
    if (received.isEmpty())
        return;
    qCDebug(lcLinkTraffic) << "COM read :" << received.toHex(' ');
    const std::optional<QByteArray> complete = comFramer.feed(received);
    if (complete) {
        const QString msg = QString::fromLocal8Bit(*complete);
        qCDebug(lcLink) << "COM received : " << msg;
        incomingData(msg);
    } else if (comFramer.discarded() > 0) {
        qCWarning(lcLink) << "Serial input of" << comFramer.discarded() << "bytes without a message end, discarded";
    }
}

void Connection::incomingData(const QString &msg)
{
    if (loginState == LoggedIn) {
        emit message(msg);
    } else if (loginState == WaitLogin && msg.contains(QLatin1String("Login:"))) {
        qCDebug(lcLink) << "Login request";
        emit logProcess(LoginRequest);
    } else if (loginState == WaitPassword && msg.contains(QLatin1String("Password:"))) {
        qCDebug(lcLink) << "Password request";
        emit logProcess(PasswordRequest);
    } else if (msg.contains(QLatin1String("Access denied"))) {
        qCDebug(lcLink) << "Login error";
        emit logProcess(LoginError);
    } else if (msg.contains(QLatin1String("Logged in successfully"))) {
        qCDebug(lcLink) << "User logged!";
        loginState = LoggedIn;
        emit message(msg);
        emit logProcess(Logged);
    }
}

void Connection::handleTelnetError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::HostNotFoundError:
        emit error(HostUnreachable);
        break;
    case QAbstractSocket::SocketTimeoutError:
        emit error(ConnectionTimeout);
        break;
    default:
        emit error(UnknownError);
        break;
    }
}

void Connection::handleSerialError(QSerialPort::SerialPortError serialError)
{
    // A vanished device (unplugged adapter, closed pseudo-terminal) floods these errors while the port
    // stays open: close it once and report the link as gone.
    if (serialError != QSerialPort::ReadError && serialError != QSerialPort::ResourceError)
        return;
    if (!serial)
        return;
    qCWarning(lcLink) << "Serial port lost:" << serial->errorString();
    closeSerial();
    loginState = WaitLogin;
    emit disconnected();
}

void Connection::closeSerial()
{
    if (!serial)
        return;
    QSerialPort *port = serial;
    serial = nullptr;
    port->disconnect(this);
    port->close();
    port->deleteLater();
    comFramer.clear();
}

void Connection::getIPList(QList<QString> &list) const
{
    QFile file(recentIPFileName());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCDebug(lcLink) << "Erreur lors de l'ouverture du fichier d'adresses IP";
        return;
    }
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        if (line.endsWith(QLatin1Char('\n')))
            line.chop(1);
        if (line.isEmpty())
            break;
        if (line.size() > MAX_RECENT_ADDRESS_LENGTH) {
            list.prepend(line.left(MAX_RECENT_ADDRESS_LENGTH));
            break;
        }
        list.prepend(line);
    }
}

void Connection::updateIPList(const QString &address) const
{
    QFile file(recentIPFileName());
    bool endsWithLineFeed = true;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QByteArray raw;
        while (!file.atEnd()) {
            raw = file.readLine();
            QString line = QString::fromUtf8(raw);
            if (line.endsWith(QLatin1Char('\n')))
                line.chop(1);
            if (line == address)
                return;
        }
        endsWithLineFeed = raw.isEmpty() || raw.endsWith('\n');
        file.close();
    }
    // Unbuffered, so a short write shows here and not at close.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        qCDebug(lcLink) << "Cannot open" << recentIPFileName() << file.errorString();
        return;
    }
    const qint64 before = file.size();
    // A last line left without its line feed (a file edited by hand) is ended first: the address would
    // otherwise run into it and the list would offer the merged text back.
    const QByteArray line = (endsWithLineFeed ? QByteArray() : QByteArray(1, '\n')) + address.toUtf8() + '\n';
    if (file.write(line) != line.size()) {
        qCDebug(lcLink) << "Cannot write" << recentIPFileName() << file.errorString();
        // No part of an address is left behind (a full disk).
        file.resize(before);
    }
}
