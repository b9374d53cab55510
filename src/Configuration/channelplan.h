#pragma once
// UHF channel raster of the output frequency: 8 MHz channels, channel 21 centred on 474 MHz up to
// channel 69 on 858 MHz. Pure functions, any thread.

#include <QString>

namespace ChannelPlan {

constexpr float MIN_FREQUENCY_MHZ = 474.0f;
constexpr float MAX_FREQUENCY_MHZ = 858.0f;
constexpr int CHANNEL_WIDTH_MHZ = 8;
constexpr int FIRST_CHANNEL = 21;
constexpr int LAST_CHANNEL = 69;
constexpr int CHANNEL_COUNT = LAST_CHANNEL - FIRST_CHANNEL + 1;

bool inRange(float frequency);

// Channel index (0 for channel 21) when the frequency is a channel centre, else -1.
int centreIndex(float frequency);

// "Between Channel 45 and 46" for a frequency between two centres.
QString betweenText(float frequency);

// The channel as the device's replies and files supply it: "45" on a centre, the "Between" text otherwise.
QString channelOf(float frequency);

// What the channel label shows for a channel text: "45" for "Channel 45" or "45", "> 45 and < 46" for
// "Between Channel 45 and 46".
QString channelLabelText(const QString &channelText);

} // namespace ChannelPlan
