#include "emulatorapp.h"

#include "discoveryresponder.h"
#include "ptylink.h"
#include "telnetlink.h"
#include "udpinput.h"

#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSaveFile>

#include <cstdio>

Q_LOGGING_CATEGORY(lcApp, "nerio.emulator")

namespace
{
// Reboot ends and paced output are driven from here; 10 ms keeps a reboot's end prompt timely.
constexpr int tickMs = 10;
}

EmulatorApp::EmulatorApp(const EmulatorConfig &c, QObject *parent)
    : QObject(parent)
    , config(c)
    , device(c.identity, c.faults)
{
    clock.start();
    tickTimer.setInterval(tickMs);
    connect(&tickTimer, &QTimer::timeout, this, &EmulatorApp::tick);
}

EmulatorApp::~EmulatorApp() = default;

void EmulatorApp::printLine(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool EmulatorApp::start(QString *error)
{
    if (!config.logFile.isEmpty() && !log.open(config.logFile)) {
        *error = QStringLiteral("cannot open the log file %1").arg(config.logFile);
        return false;
    }
    WireLog *wireLog = log.isOpen() ? &log : nullptr;
    loadState();
    const auto now = [this] { return clock.elapsed(); };
    device.setChangeHandler([this] { parametersChanged(); });

    if (config.serial) {
        pty = std::make_unique<PtyLink>(&device, wireLog, config.pacing, config.dropAfter, now);
        if (!pty->open(config.serialLink, error))
            return false;
        connect(pty.get(), &PtyLink::reopened, this,
            [](const QString &path) { printLine(QStringLiteral("serial: ") + path); });
        printLine(QStringLiteral("serial: ") + pty->slavePath());
    }
    if (config.telnet) {
        telnet = std::make_unique<TelnetLink>(&device, wireLog, config.pacing, config.dropAfter, now);
        if (!telnet->listen(config.bind, config.telnetPort, error))
            return false;
        printLine(QStringLiteral("telnet: %1").arg(telnet->port()));
    }
    if (config.discovery) {
        discovery = std::make_unique<DiscoveryResponder>(config.identity.productName, config.identity.mac, wireLog);
        if (!discovery->listen(error))
            return false;
    }
    udp = std::make_unique<UdpInput>(&device, wireLog, now);
    udp->follow();
    tickTimer.start();
    printLine(QStringLiteral("ready"));
    return true;
}

void EmulatorApp::tick()
{
    if (pty)
        pty->tick();
    if (telnet)
        telnet->tick();
}

void EmulatorApp::parametersChanged()
{
    if (udp)
        udp->follow();
    saveState();
}

void EmulatorApp::loadState()
{
    if (config.stateFile.isEmpty())
        return;
    QFile file(config.stateFile);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcApp) << "cannot read the state file" << config.stateFile;
        return;
    }
    QJsonParseError parseError {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        qCWarning(lcApp) << "state file" << config.stateFile << "is not a JSON object:" << parseError.errorString()
                         << "- starting from the defaults";
        return;
    }
    DeviceParameters p;
    p.fromJson(doc.object());
    device.setParameters(p);
}

void EmulatorApp::saveState()
{
    if (config.stateFile.isEmpty())
        return;
    // Written whole and renamed into place, so a crash never leaves half a file.
    QSaveFile file(config.stateFile);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcApp) << "cannot write the state file" << config.stateFile;
        return;
    }
    file.write(QJsonDocument(device.parameters().toJson()).toJson());
    if (!file.commit())
        qCWarning(lcApp) << "cannot write the state file" << config.stateFile << file.errorString();
}
