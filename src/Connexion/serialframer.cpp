#include "serialframer.h"

SerialFramer::SerialFramer(int maxHeld)
    : cap(maxHeld)
{
}

std::optional<QByteArray> SerialFramer::feed(const QByteArray &read)
{
    lastDiscarded = 0;
    if (read.isEmpty())
        return std::nullopt;
    // Raw bytes until the message is complete, so a character cut between two reads is decoded whole.
    // The terminating NULs frame messages on the wire; kept in the text they would make the last value of
    // a reading differ from the same reading received over telnet.
    for (const char c : read) {
        if (c != '\r' && c != '\0')
            buffer.append(c);
    }
    if (read.endsWith('\0')) {
        QByteArray message;
        message.swap(buffer);
        return message;
    }
    if (buffer.size() > cap) {
        lastDiscarded = int(buffer.size());
        buffer.clear();
    }
    return std::nullopt;
}

void SerialFramer::clear()
{
    buffer.clear();
    lastDiscarded = 0;
}
