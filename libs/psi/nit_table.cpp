#include "nit_table.h"

#include "dvbtext.h"
#include "psibuffer.h"
#include "tspacket.h"

namespace
{
constexpr quint8 NETWORK_NAME_DESCRIPTOR = 0x40;
}

nit_table::nit_table(QObject *parent)
    : table(parent, tspacket::PID_NIT, 0x40)
{
}

void nit_table::parse()
{
    networkName.clear();
    for (const QByteArray &section : qAsConst(sections)) {
        psibuffer buf(section);
        const int loopEnd = 10 + (buf.u16(8) & 0x0FFF);
        // A descriptor loop longer than the section is corrupt: no name rather than bytes of the CRC.
        if (loopEnd > buf.size() - 4)
            continue;
        for (int j = 10; j + 2 <= loopEnd;) {
            const int length = buf.u8(j + 1);
            if (j + 2 + length > loopEnd)
                break;
            if (buf.u8(j) == NETWORK_NAME_DESCRIPTOR) {
                networkName = dvbtext::decode(buf.bytes(j + 2, length));
                return;
            }
            j += 2 + length;
        }
    }
}
