// Serial framing: any bytes, cut into reads the first input byte chooses (sizes, and whether every NUL
// also ends a read, as the device writes one message at a time); the second byte sets the cap on held
// input (0: the program's cap). Properties: a message is handed up exactly when a read ends with NUL and
// holds the input since the previous message (or since the last discard) without CR and NUL, so the
// messages concatenated are the filtered input up to the last message end when nothing was discarded; a
// discard is reported exactly when the held input passes the cap; the held input never exceeds the cap
// plus one read; and the messages decode to the same text as when each arrives in a single read.

#include "serialframer.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace
{
QByteArray withoutCrNul(const QByteArray &bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        if (c != '\r' && c != '\0')
            out.append(c);
    }
    return out;
}

QList<QByteArray> splitReads(const QByteArray &data, uint8_t how)
{
    const int limit = 1 + (how & 31);
    const bool cutAtNul = how & 0x40;
    const bool varying = how & 0x80;
    QList<QByteArray> reads;
    uint32_t state = how * 2654435761u + 1;
    int start = 0;
    while (start < data.size()) {
        int size = limit;
        if (varying) {
            state = state * 1103515245u + 12345u;
            size = 1 + int((state >> 16) % uint32_t(limit));
        }
        int end = qMin(data.size(), start + size);
        if (cutAtNul) {
            const int nul = data.indexOf('\0', start);
            if (nul >= 0 && nul < end)
                end = nul + 1;
        }
        reads << data.mid(start, end - start);
        start = end;
    }
    return reads;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 2 || size > 16384)
        return 0;
    const int cap = bytes[1] == 0 ? SerialFramer::DEFAULT_MAX_HELD : 4 * bytes[1];
    const QByteArray data(reinterpret_cast<const char *>(bytes + 2), int(size - 2));
    const QList<QByteArray> reads = splitReads(data, bytes[0]);

    SerialFramer framer(cap);
    QList<QByteArray> messages;
    QList<QByteArray> wholeReads; // the input of each message as one read, for the decoding check
    int position = 0; // end of the read just fed
    int since = 0; // where the input of the next message starts
    int lastMessageEnd = 0;
    bool anyDiscard = false;
    for (const QByteArray &read : reads) {
        const int start = since;
        position += read.size();
        const std::optional<QByteArray> message = framer.feed(read);
        const QByteArray expected = withoutCrNul(data.mid(start, position - start));
        if (read.endsWith('\0')) {
            if (!message || *message != expected || framer.discarded() != 0 || framer.held() != 0)
                abort();
            if (message->size() > cap + read.size())
                abort();
            messages << *message;
            wholeReads << data.mid(start, position - start);
            since = lastMessageEnd = position;
            continue;
        }
        if (message)
            abort();
        if (expected.size() > cap) {
            if (framer.discarded() != expected.size() || framer.held() != 0)
                abort();
            anyDiscard = true;
            since = position;
        } else if (framer.discarded() != 0 || framer.held() != expected.size()) {
            abort();
        }
        if (framer.held() > cap)
            abort();
    }

    if (!anyDiscard && messages.join() != withoutCrNul(data.left(lastMessageEnd)))
        abort();
    // No character cut: the text of every message is the text of its bytes received in one read.
    SerialFramer whole(cap);
    for (int i = 0; i < messages.size(); ++i) {
        const std::optional<QByteArray> again = whole.feed(wholeReads.at(i));
        if (!again)
            abort();
        const QString text = QString::fromUtf8(messages.at(i));
        if (text != QString::fromUtf8(*again) || text.contains(QLatin1Char('\r')) || text.contains(QChar(0)))
            abort();
    }
    return 0;
}
