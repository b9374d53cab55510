#include "channelplan.h"

#include <cmath>

namespace ChannelPlan {

namespace {
// One eighth: the raster step in MHz⁻¹, exact in binary so centre frequencies give whole numbers.
constexpr float PER_CHANNEL = 0.125f;

int lowerChannelIndex(float frequency)
{
    return int(std::trunc(std::trunc(frequency - MIN_FREQUENCY_MHZ) / float(CHANNEL_WIDTH_MHZ)));
}
}

bool inRange(float frequency)
{
    return frequency >= MIN_FREQUENCY_MHZ && frequency <= MAX_FREQUENCY_MHZ;
}

int centreIndex(float frequency)
{
    if (!inRange(frequency))
        return -1;
    const float x = (frequency - MIN_FREQUENCY_MHZ) * PER_CHANNEL;
    return x == std::trunc(x) ? int(x) : -1;
}

QString betweenText(float frequency)
{
    const int k = lowerChannelIndex(frequency);
    return QStringLiteral("Between Channel %1 and %2").arg(k + FIRST_CHANNEL).arg(k + FIRST_CHANNEL + 1);
}

QString channelOf(float frequency)
{
    const float x = (frequency - MIN_FREQUENCY_MHZ) * PER_CHANNEL;
    if (x == std::trunc(x))
        return QString::number(int(x) + FIRST_CHANNEL);
    return betweenText(frequency);
}

QString channelLabelText(const QString &channelText)
{
    QString text = channelText;
    if (text.contains(QLatin1String("Between"))) {
        text.remove(QStringLiteral("Between Channel "));
        text.replace(QStringLiteral("and"), QStringLiteral("and <"));
        return QStringLiteral("> ") + text;
    }
    return text.remove(QStringLiteral("Channel "));
}

} // namespace ChannelPlan
