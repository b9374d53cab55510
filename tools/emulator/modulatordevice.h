#pragma once
// The modulator behind the console: its parameters, identity, command table, flash download and
// reboot. Shared by every link of one emulator. Pure: command lines in, answer texts out, time
// passed in; the links and sockets live elsewhere.

#include "deviceparameters.h"
#include "firmwareimage.h"
#include "ipinputmeter.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

struct DeviceIdentity {
    QString login = QStringLiteral("admin");
    QString password = QStringLiteral("korva");
    QString serialNumber = QStringLiteral("NR0042");
    QString mac = QStringLiteral("02-4E-52-00-00-2A");
    QString productName = QStringLiteral("Nerio DVB-T modulator");
    QString manufacturingDate = QStringLiteral("2025-11-04");
    QString options = QStringLiteral("IP ASI");
    QString unicastAddress = QStringLiteral("127.0.0.1");
};

struct DeviceFaults {
    int muteAfter = -1; // command lines answered before the device falls silent; -1 = never
    QStringList refused; // commands always answered "KO"
    int rebootMs = 2000;
    QMap<QString, QByteArray> readings; // readings answered with this text instead of the device's own
};

class ModulatorDevice
{
public:
    struct Answer {
        QByteArray text; // lines ended by CR LF, without the closing NUL; empty = no answer
        bool reboot = false; // the answer is the last thing said before rebooting
    };

    struct IpListen {
        bool enabled = false;
        bool multicast = true;
        QString address;
        int port = 0;
        bool operator==(const IpListen &o) const
        {
            return enabled == o.enabled && multicast == o.multicast && address == o.address && port == o.port;
        }
        bool operator!=(const IpListen &o) const { return !(*this == o); }
    };

    ModulatorDevice(const DeviceIdentity &identity, const DeviceFaults &faults);

    const DeviceIdentity &identity() const { return id; }
    const DeviceParameters &parameters() const { return params; }
    void setParameters(const DeviceParameters &p) { params = p; }

    bool checkCredentials(const QString &login, const QString &password) const;

    // One command line of a logged-in console.
    Answer execute(const QString &line, qint64 nowMs);

    // After --mute-after N command lines the device says nothing more on any link.
    bool isMuted() const;
    bool isRebooting(qint64 nowMs) const { return nowMs < rebootUntilMs; }
    // Grows by one at each reboot, so every link notices the reboot it did not ask for.
    int bootGeneration() const { return generation; }

    IpInputMeter &ipMeter() { return meter; }
    IpListen ipListen() const;

    // Called after a setting changed the parameters (state file, IP input binding).
    void setChangeHandler(std::function<void()> handler) { onChange = std::move(handler); }

    QByteArray coreParametersText() const;
    QByteArray ipParametersText() const;
    QByteArray idText() const;
    QByteArray statusText(qint64 nowMs);
    QByteArray tuningText() const;

private:
    QByteArray setting(const QString &command, const QString &value, qint64 nowMs, bool *reboot);
    QByteArray flashRequest(const QString &value);
    QByteArray flashPacket(const QString &value);
    void changed();

    DeviceIdentity id;
    DeviceFaults faults;
    DeviceParameters params;
    IpInputMeter meter;
    std::function<void()> onChange;

    int commandLines = 0;
    bool muted = false;
    qint64 rebootUntilMs = -1;
    int generation = 0;

    struct Flash {
        bool active = false;
        bool complete = false;
        FirmwareHeader header;
        quint64 received = 0;
    } flash;
};
