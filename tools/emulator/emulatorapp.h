#pragma once
// Wires one emulated modulator to its links: pseudo-terminal, telnet listener, IP input, discovery,
// wire log and state file. Prints the link lines and "ready" on stdout.

#include "modulatordevice.h"
#include "outputpacer.h"
#include "wirelog.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class DiscoveryResponder;
class PtyLink;
class TelnetLink;
class UdpInput;

struct EmulatorConfig {
    bool serial = false;
    QString serialLink;
    bool telnet = false;
    quint16 telnetPort = 0;
    QHostAddress bind = QHostAddress(QHostAddress::LocalHost);
    bool discovery = false;
    DeviceIdentity identity;
    DeviceFaults faults;
    OutputPacer::Options pacing;
    int dropAfter = -1;
    QString logFile;
    QString stateFile;
};

class EmulatorApp : public QObject
{
    Q_OBJECT
public:
    explicit EmulatorApp(const EmulatorConfig &config, QObject *parent = nullptr);
    ~EmulatorApp() override;

    // Opens every link; false (with the reason) when one cannot be opened.
    bool start(QString *error);

private:
    void tick();
    void parametersChanged();
    void loadState();
    void saveState();
    static void printLine(const QString &line);

    EmulatorConfig config;
    ModulatorDevice device;
    WireLog log;
    QElapsedTimer clock;
    QTimer tickTimer;
    std::unique_ptr<PtyLink> pty;
    std::unique_ptr<TelnetLink> telnet;
    std::unique_ptr<UdpInput> udp;
    std::unique_ptr<DiscoveryResponder> discovery;
};
