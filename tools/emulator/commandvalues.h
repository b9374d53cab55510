#pragma once
// The values each setting command accepts. Words match exactly and case-sensitively, as the
// application sends them; numbers are checked against the device's ranges.

#include <QString>
#include <QStringList>

#include <array>

class CommandValues
{
public:
    static const QStringList &inputMuxWords();
    static const QStringList &refClockWords();
    static const QStringList &onOffWords();
    static const QStringList &bandwidthWords();
    static const QStringList &guardIntervalWords();
    static const QStringList &constellationWords();
    static const QStringList &codeRateWords();
    static const QStringList &transmissionModeWords();
    static const QStringList &addressingWords();

    // 474.000 to 858.000 MHz; the stored text has three decimals.
    static bool frequency(const QString &value, QString *normalised);
    // Whole dB, 0 to 30.
    static bool attenuation(const QString &value, int *dB);
    // Dotted quad in 224.0.0.0 to 239.255.255.255; the stored text has no leading zeros.
    static bool multicastAddress(const QString &value, QString *normalised);
    // 1024 to 65535.
    static bool port(const QString &value, int *port);
    // Four integers separated by spaces: I and Q bias -128..127, QMC gain and phase -512..511.
    static bool tuning(const QString &value, std::array<int, 4> *values);
};
