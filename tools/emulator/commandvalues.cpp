#include "commandvalues.h"

#include <QRegularExpression>

const QStringList &CommandValues::inputMuxWords()
{
    static const QStringList w { QStringLiteral("IP"), QStringLiteral("ASI"), QStringLiteral("AUTO") };
    return w;
}

const QStringList &CommandValues::refClockWords()
{
    static const QStringList w { QStringLiteral("internal"), QStringLiteral("external"), QStringLiteral("AUTO") };
    return w;
}

const QStringList &CommandValues::onOffWords()
{
    static const QStringList w { QStringLiteral("ON"), QStringLiteral("OFF") };
    return w;
}

const QStringList &CommandValues::bandwidthWords()
{
    static const QStringList w { QStringLiteral("8"), QStringLiteral("7"), QStringLiteral("6") };
    return w;
}

const QStringList &CommandValues::guardIntervalWords()
{
    static const QStringList w { QStringLiteral("1/32"), QStringLiteral("1/16"), QStringLiteral("1/8"),
        QStringLiteral("1/4") };
    return w;
}

const QStringList &CommandValues::constellationWords()
{
    static const QStringList w { QStringLiteral("QPSK"), QStringLiteral("16QAM"), QStringLiteral("64QAM") };
    return w;
}

const QStringList &CommandValues::codeRateWords()
{
    static const QStringList w { QStringLiteral("1/2"), QStringLiteral("2/3"), QStringLiteral("3/4"),
        QStringLiteral("5/6"), QStringLiteral("7/8") };
    return w;
}

const QStringList &CommandValues::transmissionModeWords()
{
    static const QStringList w { QStringLiteral("2K"), QStringLiteral("8K") };
    return w;
}

const QStringList &CommandValues::addressingWords()
{
    static const QStringList w { QStringLiteral("unicast"), QStringLiteral("multicast") };
    return w;
}

bool CommandValues::frequency(const QString &value, QString *normalised)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,4}(\\.\\d{1,6})?$"));
    if (!pattern.match(value).hasMatch())
        return false;
    // Compare in kHz so that 858.0004 is not taken for 858.000 by a rounding print.
    const double mhz = value.toDouble();
    const qint64 khz = qint64(mhz * 1000.0 + 0.5);
    if (mhz * 1000.0 < 474000.0 - 1e-6 || mhz * 1000.0 > 858000.0 + 1e-6)
        return false;
    if (normalised)
        *normalised = QString::asprintf("%lld.%03lld", khz / 1000, khz % 1000);
    return true;
}

bool CommandValues::attenuation(const QString &value, int *dB)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,2}$"));
    if (!pattern.match(value).hasMatch())
        return false;
    const int v = value.toInt();
    if (v > 30)
        return false;
    if (dB)
        *dB = v;
    return true;
}

bool CommandValues::multicastAddress(const QString &value, QString *normalised)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch m = pattern.match(value);
    if (!m.hasMatch())
        return false;
    int octets[4];
    for (int i = 0; i < 4; ++i) {
        octets[i] = m.captured(i + 1).toInt();
        if (octets[i] > 255)
            return false;
    }
    if (octets[0] < 224 || octets[0] > 239)
        return false;
    if (normalised)
        *normalised = QStringLiteral("%1.%2.%3.%4").arg(octets[0]).arg(octets[1]).arg(octets[2]).arg(octets[3]);
    return true;
}

bool CommandValues::port(const QString &value, int *port)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,5}$"));
    if (!pattern.match(value).hasMatch())
        return false;
    const int v = value.toInt();
    if (v < 1024 || v > 65535)
        return false;
    if (port)
        *port = v;
    return true;
}

bool CommandValues::tuning(const QString &value, std::array<int, 4> *values)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?\\d{1,4}$"));
    const QStringList parts = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return false;
    static const int lower[4] = { -128, -128, -512, -512 };
    static const int upper[4] = { 127, 127, 511, 511 };
    std::array<int, 4> out {};
    for (int i = 0; i < 4; ++i) {
        if (!number.match(parts.at(i)).hasMatch())
            return false;
        out[size_t(i)] = parts.at(i).toInt();
        if (out[size_t(i)] < lower[i] || out[size_t(i)] > upper[i])
            return false;
    }
    if (values)
        *values = out;
    return true;
}
