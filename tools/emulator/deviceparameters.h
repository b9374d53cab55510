#pragma once
// The modulator's settable parameters, in the device's own words, with their JSON form for --state.

#include <QJsonObject>
#include <QString>

#include <array>

struct DeviceParameters {
    QString inputMux = QStringLiteral("IP"); // IP, ASI, AUTO
    QString refClockMux = QStringLiteral("internal"); // internal, external, AUTO
    QString mipControl = QStringLiteral("OFF"); // ON, OFF
    QString bandwidth = QStringLiteral("8"); // 8, 7, 6 (MHz)
    QString guardInterval = QStringLiteral("1/32");
    QString outputFrequency = QStringLiteral("666.000"); // MHz, three decimals
    QString outputState = QStringLiteral("OFF");
    QString constellation = QStringLiteral("64QAM");
    QString codeRate = QStringLiteral("2/3");
    QString transmissionMode = QStringLiteral("8K");
    int attenuation = 0; // dB
    QString ipAddressingMethod = QStringLiteral("multicast");
    QString ipMulticastAddress = QStringLiteral("239.0.0.1");
    int ipPort = 1234;
    std::array<int, 4> tuning { { 0, 0, 0, 0 } }; // I bias, Q bias, QMC gain, QMC phase
    QString version = QStringLiteral("1.0.0"); // replaced by the firmware name after an upgrade

    QJsonObject toJson() const;
    // Takes every known key that holds a valid value; unknown or invalid entries keep the defaults.
    void fromJson(const QJsonObject &object);
};
