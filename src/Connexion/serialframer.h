#pragma once
// Framing of the serial console: bytes are held raw until a read ends with NUL, which completes one device
// message. Carriage returns and NULs are dropped from the message; input that grows past the cap without
// a message end is thrown away. Pure, no I/O, so it can be tested and fuzzed on its own.

#include <QByteArray>

#include <optional>

class SerialFramer
{
public:
    // A device that never ends a message must not grow the held input without bound.
    static constexpr int DEFAULT_MAX_HELD = 1 << 20;

    explicit SerialFramer(int maxHeld = DEFAULT_MAX_HELD);

    // One read from the port. The completed message's bytes (possibly empty) when the read ends with NUL;
    // nothing otherwise.
    std::optional<QByteArray> feed(const QByteArray &read);

    // Bytes the last feed() threw away because the held input passed the cap; 0 when it threw none.
    int discarded() const { return lastDiscarded; }
    int held() const { return int(buffer.size()); }
    int maxHeld() const { return cap; }
    void clear();

private:
    QByteArray buffer;
    int cap;
    int lastDiscarded = 0;
};
