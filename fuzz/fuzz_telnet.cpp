// Telnet splitter: any bytes, cut into reads of a size the first input byte chooses. Properties: no
// message is empty or carries a NUL, and the messages are the same whichever way the reads were cut.

#include "qtelnetperso.h"

#include <cstdint>
#include <cstdlib>

namespace {
QStringList feed(const QByteArray &data, int chunk)
{
    QTelnetPerso telnet;
    QStringList out;
    QObject::connect(&telnet, &QTelnetPerso::message, [&](const QString &m) { out << m; });
    for (int i = 0; i < data.size(); i += chunk)
        telnet.processData(data.mid(i, chunk));
    telnet.flushHeldText();
    return out;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    const int chunk = 1 + bytes[0] % 64;
    const QByteArray data(reinterpret_cast<const char *>(bytes + 1), int(size - 1));

    const QStringList whole = feed(data, qMax(1, data.size()));
    const QStringList split = feed(data, chunk);
    for (const QString &m : whole) {
        if (m.isEmpty() || m.contains(QChar(0)))
            abort();
    }
    if (whole != split)
        abort();
    return 0;
}
