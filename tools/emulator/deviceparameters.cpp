#include "deviceparameters.h"

#include "commandvalues.h"

#include <QJsonArray>

QJsonObject DeviceParameters::toJson() const
{
    QJsonObject o;
    o[QStringLiteral("inputMux")] = inputMux;
    o[QStringLiteral("refClockMux")] = refClockMux;
    o[QStringLiteral("mipControl")] = mipControl;
    o[QStringLiteral("bandwidth")] = bandwidth;
    o[QStringLiteral("guardInterval")] = guardInterval;
    o[QStringLiteral("outputFrequency")] = outputFrequency;
    o[QStringLiteral("outputState")] = outputState;
    o[QStringLiteral("constellation")] = constellation;
    o[QStringLiteral("codeRate")] = codeRate;
    o[QStringLiteral("transmissionMode")] = transmissionMode;
    o[QStringLiteral("attenuation")] = attenuation;
    o[QStringLiteral("ipAddressingMethod")] = ipAddressingMethod;
    o[QStringLiteral("ipMulticastAddress")] = ipMulticastAddress;
    o[QStringLiteral("ipPort")] = ipPort;
    QJsonArray t;
    for (int v : tuning)
        t.append(v);
    o[QStringLiteral("tuning")] = t;
    o[QStringLiteral("version")] = version;
    return o;
}

void DeviceParameters::fromJson(const QJsonObject &o)
{
    // Each value goes through the same check as the console command that sets it, so a hand-edited
    // state file cannot put the device into a state the console could never reach.
    const auto word = [&o](const char *key, QString &field, const QStringList &words) {
        const QString v = o.value(QLatin1String(key)).toString();
        if (words.contains(v))
            field = v;
    };
    word("inputMux", inputMux, CommandValues::inputMuxWords());
    word("refClockMux", refClockMux, CommandValues::refClockWords());
    word("mipControl", mipControl, CommandValues::onOffWords());
    word("bandwidth", bandwidth, CommandValues::bandwidthWords());
    word("guardInterval", guardInterval, CommandValues::guardIntervalWords());
    word("outputState", outputState, CommandValues::onOffWords());
    word("constellation", constellation, CommandValues::constellationWords());
    word("codeRate", codeRate, CommandValues::codeRateWords());
    word("transmissionMode", transmissionMode, CommandValues::transmissionModeWords());
    word("ipAddressingMethod", ipAddressingMethod, CommandValues::addressingWords());

    QString text;
    if (CommandValues::frequency(o.value(QStringLiteral("outputFrequency")).toString(), &text))
        outputFrequency = text;
    int number = 0;
    if (CommandValues::attenuation(QString::number(o.value(QStringLiteral("attenuation")).toInt(-1)), &number))
        attenuation = number;
    if (CommandValues::multicastAddress(o.value(QStringLiteral("ipMulticastAddress")).toString(), &text))
        ipMulticastAddress = text;
    if (CommandValues::port(QString::number(o.value(QStringLiteral("ipPort")).toInt(-1)), &number))
        ipPort = number;
    const QJsonArray t = o.value(QStringLiteral("tuning")).toArray();
    if (t.size() == 4) {
        QStringList parts;
        for (const QJsonValue &v : t)
            parts << QString::number(v.toInt(100000));
        std::array<int, 4> values {};
        if (CommandValues::tuning(parts.join(QLatin1Char(' ')), &values))
            tuning = values;
    }
    const QString v = o.value(QStringLiteral("version")).toString();
    if (!v.isEmpty() && v.size() <= 20)
        version = v;
}
