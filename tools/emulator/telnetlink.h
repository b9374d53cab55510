#pragma once
// Telnet adapter: a TCP listener with one console session at a time. A second connection while a
// session runs, or any connection while the device reboots, is closed at once.

#include "consolesession.h"
#include "outputpacer.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <memory>

class ModulatorDevice;
class QTcpSocket;
class WireLog;

class TelnetLink : public QObject
{
    Q_OBJECT
public:
    TelnetLink(ModulatorDevice *device, WireLog *log, const OutputPacer::Options &pacing, int dropAfter,
        std::function<qint64()> clock, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return server.serverPort(); }
    void tick();

private:
    void accept();
    void readable();
    void flush();
    void closed();

    ModulatorDevice *device;
    WireLog *log;
    OutputPacer::Options pacing;
    int dropAfter;
    std::function<qint64()> clock;

    QTcpServer server;
    QTcpSocket *socket = nullptr;
    std::unique_ptr<ConsoleSession> session;
    OutputPacer pacer;
    QTimer paceTimer;
    bool closing = false;
};
