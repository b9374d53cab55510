// Discovery answers: any datagram from an IPv4 or IPv6 sender. Properties: an entry is made only for a
// datagram with exactly two line feeds before its first NUL, and it is the sender followed by the
// answer's second line in parentheses.

#include "udpmanager.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const QHostAddress sender = (bytes[0] & 1) ? QHostAddress(QStringLiteral("fe80::1")) : QHostAddress(quint32(0x0A4D0002));
    const QByteArray datagram(reinterpret_cast<const char *>(bytes + 1), int(size - 1));
    const QString entry = udpManager::answerEntry(datagram, sender);
    if (entry.isEmpty())
        return 0;
    const int nul = datagram.indexOf('\0');
    const QByteArray text = nul < 0 ? datagram : datagram.left(nul);
    if (text.count('\n') != 2)
        abort();
    const QString prefix = sender.toString() + QStringLiteral(" (");
    if (!entry.startsWith(prefix) || !entry.endsWith(QLatin1Char(')')))
        abort();
    const QString mac = entry.mid(prefix.size(), entry.size() - prefix.size() - 1);
    QString second = QString::fromLatin1(text.split('\n').at(1));
    second.remove(QLatin1Char('\r'));
    if (mac != second)
        abort();
    return 0;
}
