// Telnet splitter: any bytes, cut into reads where the first input byte says. Properties: no message is
// empty or carries a NUL, and with the data cut anywhere outside a command, the messages joined together
// equal the same data delivered in one read, apart from run starts (CR and DM dropped there).

#include "qtelnetperso.h"

#include <QCoreApplication>

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
    for (const QStringList *list : { &whole, &split }) {
        for (const QString &m : *list) {
            if (m.isEmpty() || m.contains(QChar(0)))
                abort();
        }
    }
    // Without command or run-start bytes the text is the same whichever way it was cut.
    if (!data.contains(char(0xff)) && !data.contains('\r') && !data.contains(char(0xf2))
        && whole.join(QString()) != split.join(QString()))
        abort();
    return 0;
}
