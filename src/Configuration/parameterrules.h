#pragma once
// The form and range each parameter value must have before the Configuration page takes it, whoever
// supplies it: the operator, the modulator's readings or a configuration file. A value that breaks its
// rule is not taken. Pure functions, any thread.

#include <QString>

namespace ParameterRules {

constexpr int MAX_ATTENUATION_DB = 30;
constexpr int MIN_PORT = 1024;
// Five digits pass the form up to 99999; beyond 65535 there is no UDP port.
constexpr int MAX_PORT = 65535;

// Whole dB from 0 to 30, digits only ("12"; not "-7", "1e1" or twenty digits).
bool attenuation(const QString &text, int *db = nullptr);
// MHz as a plain decimal inside the UHF band ("666.000"; not "nan", "6.66e2" or "900").
bool frequency(const QString &text);
// "ON" or "OFF", as the console writes them.
bool onOff(const QString &text);
// "unicast" or "multicast".
bool addressingMethod(const QString &text);
// A group address from 224.0.0.0 to 239.255.255.255, the rule the IP input dialog marks.
bool multicastAddress(const QString &text);
// A dotted-quad IPv4 address (the device's own input address).
bool unicastAddress(const QString &text);
// Four or five digits, from 1024 to 65535.
bool port(const QString &text);
// A whole number with an optional sign, from min to max (a tuning dial's range).
bool integerInRange(const QString &text, int min, int max, int *value);

} // namespace ParameterRules
