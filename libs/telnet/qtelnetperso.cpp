#include "qtelnetperso.h"

#include "linklog.h"

#include <QTcpSocket>
#include <QTimer>

QTelnetPerso::QTelnetPerso(QObject *parent)
    : QObject(parent)
    , socket(new QTcpSocket(this))
    , heldRunTimer(new QTimer(this))
{
    connect(socket, &QTcpSocket::readyRead, this, &QTelnetPerso::socketReadyRead);
    heldRunTimer->setSingleShot(true);
    heldRunTimer->setInterval(HELD_RUN_MS);
    connect(heldRunTimer, &QTimer::timeout, this, &QTelnetPerso::flushHeldText);
}

void QTelnetPerso::connectToHost(const QString &host, quint16 port)
{
    if (connected)
        return;
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (!socket->waitForConnected(CONNECT_TIMEOUT_MS)) {
        QAbstractSocket::SocketError err = socket->error();
        socket->abort();
        emit errorOnSocket(err);
        return;
    }
    connected = true;
    emit sockConnected();
}

void QTelnetPerso::disconnectFromHost()
{
    socket->disconnectFromHost();
    if (socket->state() != QAbstractSocket::UnconnectedState && !socket->waitForDisconnected(CONNECT_TIMEOUT_MS)) {
        emit errorOnSocket(socket->error());
        return;
    }
    connected = false;
    emit sockDisconnected();
}

QString QTelnetPerso::peerName() const
{
    return socket->peerName();
}

void QTelnetPerso::sendData(const QByteArray &data)
{
    if (!connected || data.isEmpty())
        return;
    qCDebug(lcLinkTraffic) << "IP send :" << data.toHex(' ');
    socket->write(data);
}

void QTelnetPerso::socketReadyRead()
{
    const QByteArray received = socket->readAll();
    qCDebug(lcLink) << "IP received : " << received;
    processData(received);
}

void QTelnetPerso::processData(const QByteArray &received)
{
    heldRunTimer->stop();
    buffer.append(received);
    const QByteArray data = buffer;
    buffer.clear();

    const int size = data.size();
    int i = 0;
    if (holdingRun) {
        // The held run goes on with this read: its bytes are text up to the next NUL.
        holdingRun = false;
        i = emitText(data, 0);
    }
    while (i < size) {
        const auto byte = static_cast<quint8>(data.at(i));
        if (byte == DM || byte == '\r') {
            ++i;
        } else if (byte == IAC) {
            // A command cut by the end of a read waits for the rest, so its option byte never
            // turns into text on the next read.
            const int available = size - i - 1;
            if (available == 0) {
                buffer = data.mid(i);
                return;
            }
            const auto command = static_cast<quint8>(data.at(i + 1));
            const bool needsOption = command >= SB && command <= DONT;
            if (needsOption && available == 1) {
                buffer = data.mid(i);
                return;
            }
            const auto option = available >= 2 ? static_cast<quint8>(data.at(i + 2)) : quint8(0);
            i += 1 + parseIAC(command, option);
        } else {
            i += emitText(data, i);
        }
    }
}

int QTelnetPerso::parseIAC(quint8 command, quint8 option)
{
    switch (command) {
    case EC:
        qCDebug(lcLink) << "erase char";
        return 1;
    case EL:
    case GA:
        return 1;
    case SB:
    case WILL:
    case WONT:
    case DONT:
        return 2;
    case DO:
        if (option == OPT_AUTHENTICATION) {
            qCDebug(lcLink) << "Authentication request" << command;
            // Refuse the option, as RFC 854 does for anything a client does not implement.
            const char refusal[] = { char(IAC), char(WONT), char(OPT_AUTHENTICATION) };
            sendData(QByteArray(refusal, sizeof refusal));
        }
        return 2;
    default:
        return 1;
    }
}

int QTelnetPerso::emitText(const QByteArray &data, int from)
{
    const int nul = data.indexOf('\0', from);
    if (nul < 0 && data.size() - from < MAX_HELD_RUN) {
        // The device ends each message with NUL; a run cut by the end of a read (TCP may split a message
        // anywhere) is held until its NUL arrives, or handed up after a short silence for a device that
        // sends a prompt without one. Handed up at once, a reading cut in two would never be recognised.
        buffer = data.mid(from);
        holdingRun = true;
        heldRunTimer->start();
        return data.size() - from;
    }
    const int end = nul < 0 ? data.size() : nul;
    const QString text = QString::fromLocal8Bit(data.constData() + from, end - from);
    if (!text.isEmpty())
        emit message(text);
    return nul < 0 ? data.size() - from : end - from + 1;
}

void QTelnetPerso::flushHeldText()
{
    heldRunTimer->stop();
    if (!holdingRun)
        return;
    holdingRun = false;
    const QString text = QString::fromLocal8Bit(buffer);
    buffer.clear();
    if (!text.isEmpty())
        emit message(text);
}
