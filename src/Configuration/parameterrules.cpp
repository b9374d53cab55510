#include "parameterrules.h"

#include "channelplan.h"

#include <QRegularExpression>

namespace ParameterRules {

namespace {
// The whole text: a plain "$" would also match before a final line feed, which would then go to the device.
bool matches(const QString &pattern, const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

bool matches(const char *pattern, const QString &text)
{
    return matches(QString::fromLatin1(pattern), text);
}

// The dots match any character, as the device's own rule does.
const char *const MULTICAST_PATTERN
    = "^((22[4-9]|23[0-9]).)((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?).){2}(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$";
const char *const OCTET = "(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)";
}

bool attenuation(const QString &text, int *db)
{
    if (!matches("^[0-9]{1,2}$", text))
        return false;
    const int value = text.toInt();
    if (value > MAX_ATTENUATION_DB)
        return false;
    if (db)
        *db = value;
    return true;
}

bool frequency(const QString &text)
{
    // toFloat alone takes "nan", "inf" and exponents, which would then go to the device as written.
    return matches("^[0-9]{1,4}(\\.[0-9]{1,6})?$", text) && ChannelPlan::inRange(text.toFloat());
}

bool onOff(const QString &text)
{
    return text == QLatin1String("ON") || text == QLatin1String("OFF");
}

bool addressingMethod(const QString &text)
{
    return text == QLatin1String("unicast") || text == QLatin1String("multicast");
}

bool multicastAddress(const QString &text)
{
    return matches(MULTICAST_PATTERN, text);
}

bool unicastAddress(const QString &text)
{
    return matches(QStringLiteral("(%1\\.){3}%1").arg(QLatin1String(OCTET)), text);
}

bool port(const QString &text)
{
    if (!matches("^[0-9]{4,5}$", text))
        return false;
    const int value = text.toInt();
    return value >= MIN_PORT && value <= MAX_PORT;
}

bool integerInRange(const QString &text, int min, int max, int *value)
{
    // Six digits at most: enough for any dial, and no overflow to wrap into range.
    if (!matches("^[-+]?[0-9]{1,6}$", text))
        return false;
    const int v = text.toInt();
    if (v < min || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace ParameterRules
