#include "modulatordevice.h"

#include "commandvalues.h"

#include <QRegularExpression>

namespace
{
const QByteArray crlf("\r\n");
const QByteArray ok("OK\r\n");
const QByteArray ko("KO\r\n");

QByteArray lines(const QStringList &list)
{
    QByteArray out;
    for (const QString &l : list)
        out += l.toLatin1() + crlf;
    return out;
}

// Settings whose value is one word of a fixed list, and the parameter each one sets.
struct WordSetting {
    const char *command;
    const QStringList &(*words)();
    QString DeviceParameters::*field;
};

const WordSetting wordSettings[] = {
    { "setInputMux", &CommandValues::inputMuxWords, &DeviceParameters::inputMux },
    { "setRefClockMux", &CommandValues::refClockWords, &DeviceParameters::refClockMux },
    { "setMipControl", &CommandValues::onOffWords, &DeviceParameters::mipControl },
    { "setBandwidth", &CommandValues::bandwidthWords, &DeviceParameters::bandwidth },
    { "setGuardInterval", &CommandValues::guardIntervalWords, &DeviceParameters::guardInterval },
    { "setOutputState", &CommandValues::onOffWords, &DeviceParameters::outputState },
    { "setConstellation", &CommandValues::constellationWords, &DeviceParameters::constellation },
    { "setCodeRate", &CommandValues::codeRateWords, &DeviceParameters::codeRate },
    { "setTransmissionMode", &CommandValues::transmissionModeWords, &DeviceParameters::transmissionMode },
    { "setIPAddressingMethod", &CommandValues::addressingWords, &DeviceParameters::ipAddressingMethod },
};

QString lockText(IpInputMeter::Lock lock)
{
    switch (lock) {
    case IpInputMeter::Lock::Locked188:
        return QStringLiteral("Locked on 188 bytes packets");
    case IpInputMeter::Lock::Locked204:
        return QStringLiteral("Locked on 204 bytes packets");
    case IpInputMeter::Lock::NotLocked:
        return QStringLiteral("Not locked");
    case IpInputMeter::Lock::NoData:
        break;
    }
    return QStringLiteral("No data");
}

// "+012": sign and three digits, so that every value takes four characters (see tuningText).
QString signedField(int v)
{
    return QString::asprintf("%c%03d", v < 0 ? '-' : '+', v < 0 ? -v : v);
}
}

ModulatorDevice::ModulatorDevice(const DeviceIdentity &identity, const DeviceFaults &f)
    : id(identity)
    , faults(f)
{
}

bool ModulatorDevice::checkCredentials(const QString &login, const QString &password) const
{
    return login == id.login && password == id.password;
}

bool ModulatorDevice::isMuted() const
{
    return muted;
}

ModulatorDevice::Answer ModulatorDevice::execute(const QString &line, qint64 nowMs)
{
    Answer answer;
    // The line after the last one answered is where the device falls silent, for good.
    if (faults.muteAfter >= 0 && commandLines >= faults.muteAfter)
        muted = true;
    if (muted)
        return answer;
    ++commandLines;
    const int space = line.indexOf(QLatin1Char(' '));
    const QString command = space < 0 ? line : line.left(space);
    const QString value = space < 0 ? QString() : line.mid(space + 1).trimmed();

    if (faults.refused.contains(command)) {
        answer.text = ko;
        return answer;
    }
    if (faults.readings.contains(command)) {
        answer.text = faults.readings.value(command);
        return answer;
    }
    if (command == QLatin1String("getCoreParameters"))
        answer.text = coreParametersText();
    else if (command == QLatin1String("getIPParameters"))
        answer.text = ipParametersText();
    else if (command == QLatin1String("getID"))
        answer.text = idText();
    else if (command == QLatin1String("getStatus"))
        answer.text = statusText(nowMs);
    else if (command == QLatin1String("getTuningValues"))
        answer.text = tuningText();
    else
        answer.text = setting(command, value, nowMs, &answer.reboot);
    return answer;
}

QByteArray ModulatorDevice::setting(const QString &command, const QString &value, qint64 nowMs, bool *reboot)
{
    for (const WordSetting &s : wordSettings) {
        if (command != QLatin1String(s.command))
            continue;
        if (!s.words().contains(value))
            return ko;
        params.*(s.field) = value;
        changed();
        return ok;
    }
    QString text;
    int number = 0;
    if (command == QLatin1String("setOutputFrequency")) {
        if (!CommandValues::frequency(value, &text))
            return ko;
        params.outputFrequency = text;
    } else if (command == QLatin1String("setAttenuation")) {
        if (!CommandValues::attenuation(value, &number))
            return ko;
        params.attenuation = number;
    } else if (command == QLatin1String("setIPMulticastAddress")) {
        if (!CommandValues::multicastAddress(value, &text))
            return ko;
        params.ipMulticastAddress = text;
    } else if (command == QLatin1String("setIPPort")) {
        if (!CommandValues::port(value, &number))
            return ko;
        params.ipPort = number;
    } else if (command == QLatin1String("setTuningValues")) {
        std::array<int, 4> values {};
        if (!CommandValues::tuning(value, &values))
            return ko;
        params.tuning = values;
    } else if (command == QLatin1String("setFlashRequest")) {
        return flashRequest(value);
    } else if (command == QLatin1String("setFlashPacket")) {
        return flashPacket(value);
    } else if (command == QLatin1String("setSoftReset")) {
        if (value == QLatin1String("OFF"))
            return ok;
        if (value != QLatin1String("ON"))
            return ko;
        // A completed download becomes the running firmware at this restart.
        if (flash.active && flash.complete)
            params.version = QString::fromLatin1(flash.header.name);
        flash = Flash();
        rebootUntilMs = nowMs + std::max(0, faults.rebootMs);
        ++generation;
        *reboot = true;
    } else {
        return ko;
    }
    changed();
    return ok;
}

QByteArray ModulatorDevice::flashRequest(const QString &value)
{
    // A new announcement always replaces the download in progress, accepted or not.
    flash = Flash();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{68}$"));
    if (!hex.match(value).hasMatch())
        return ko;
    FirmwareHeader header;
    if (FirmwareImage::parseStoredHeader(QByteArray::fromHex(value.toLatin1()), &header) != FirmwareImage::Check::Ok)
        return ko;
    if (header.bank < 0 || header.bank > 5)
        return ko;
    if (!header.serial.isEmpty() && header.serial != id.serialNumber.toLatin1())
        return ko;
    flash.active = true;
    flash.header = header;
    flash.complete = header.size == 0;
    return QByteArrayLiteral("Bank erased\r\n");
}

QByteArray ModulatorDevice::flashPacket(const QString &value)
{
    static const QRegularExpression hex(QStringLiteral("^([0-9a-fA-F]{2})+$"));
    if (!flash.active || !hex.match(value).hasMatch())
        return ko;
    const quint64 bytes = quint64(value.size() / 2);
    if (flash.received + bytes > flash.header.size)
        return ko;
    flash.received += bytes;
    if (flash.received < flash.header.size)
        return ok;
    flash.complete = true;
    return QByteArrayLiteral("Download complete\r\n");
}

void ModulatorDevice::changed()
{
    if (onChange)
        onChange();
}

ModulatorDevice::IpListen ModulatorDevice::ipListen() const
{
    IpListen l;
    l.enabled = params.inputMux != QLatin1String("ASI");
    l.multicast = params.ipAddressingMethod == QLatin1String("multicast");
    l.address = l.multicast ? params.ipMulticastAddress : id.unicastAddress;
    l.port = params.ipPort;
    return l;
}

QByteArray ModulatorDevice::coreParametersText() const
{
    return lines({
        QStringLiteral("Input mux : ") + params.inputMux,
        QStringLiteral("Ref clock mux : ") + params.refClockMux,
        QStringLiteral("Code Rate : ") + params.codeRate,
        QStringLiteral("Guard Interval : ") + params.guardInterval,
        QStringLiteral("Constellation : ") + params.constellation,
        QStringLiteral("Bandwidth : ") + params.bandwidth + QStringLiteral("MHz"),
        QStringLiteral("Transmission Mode : OFDM mode : ") + params.transmissionMode,
        QStringLiteral("Output Frequency : ") + params.outputFrequency + QStringLiteral("MHz"),
        QStringLiteral("Attenuation : ") + QString::number(params.attenuation) + QStringLiteral("dB"),
        QStringLiteral("Output State : ") + params.outputState,
        QStringLiteral("MIP control : ") + params.mipControl,
    });
}

QByteArray ModulatorDevice::ipParametersText() const
{
    return lines({
        QStringLiteral("IP addressing method : ") + params.ipAddressingMethod,
        QStringLiteral("IP multicast address : ") + params.ipMulticastAddress,
        QStringLiteral("IP unicast address : ") + id.unicastAddress,
        QStringLiteral("IP port : ") + QString::number(params.ipPort),
    });
}

QByteArray ModulatorDevice::idText() const
{
    return lines({
        QStringLiteral("Product type : ") + id.productName,
        QStringLiteral("Product serial number : ") + id.serialNumber,
        QStringLiteral("Product MAC address : ") + id.mac,
        QStringLiteral("Product version : ") + params.version,
        QStringLiteral("Product manufacturing date : ") + id.manufacturingDate,
        QStringLiteral("Product options : ") + id.options,
    });
}

QByteArray ModulatorDevice::statusText(qint64 nowMs)
{
    IpInputMeter::Reading ip;
    if (ipListen().enabled)
        ip = meter.reading(nowMs);
    // No reference is wired to the emulator: an external clock never locks.
    const QString pll = params.refClockMux == QLatin1String("external") ? QStringLiteral("Not locked")
                                                                        : QStringLiteral("Locked on internal");
    return lines({
        QStringLiteral("IP input status : ") + lockText(ip.lock),
        QStringLiteral("ASI input status : No data"),
        QStringLiteral("Input raw bitrate : ") + QString::asprintf("%.3f", ip.rawMbps) + QStringLiteral(" Mbps"),
        QStringLiteral("Input net bitrate : ") + QString::asprintf("%.3f", ip.netMbps) + QStringLiteral(" Mbps"),
        QStringLiteral("PLL status : ") + pll,
        QStringLiteral("Output status : ") + params.outputState,
    });
}

QByteArray ModulatorDevice::tuningText() const
{
    // The panel removes the character at index 10, then the one at index 0, and splits the rest at
    // single spaces (carriage returns are gone by then). With four-character fields:
    //   index 0 "\n", 1-4 I bias, 5 " ", 6-9 Q bias, 10 "\n", 11 " ", 12-15 gain, 16 " ",
    //   17-20 phase, 21 " ", 22 "\n"
    // leaves "+012 -003 +100 +000 \n": the four values, then a fifth part holding only the final
    // line feed. Three line feeds make the reply a complete reading.
    const auto &t = params.tuning;
    return crlf + signedField(t[0]).toLatin1() + ' ' + signedField(t[1]).toLatin1() + crlf + ' '
        + signedField(t[2]).toLatin1() + ' ' + signedField(t[3]).toLatin1() + ' ' + crlf;
}
