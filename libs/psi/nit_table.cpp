#include "nit_table.h"

#include "dvbtext.h"
#include "psibuffer.h"
#include "tspacket.h"

namespace
{
constexpr quint8 NETWORK_NAME_DESCRIPTOR = 0x40;
}

nit_table::nit_table(QObject *parent)
    : table(parent, tspacket::PID_NIT)
{
}

int nit_table::parse()
{
    networkName.clear();
    psibuffer buf(section);
    if (buf.u8(0) != 0x40 || buf.error())
        return 0;
    const int descriptorsLength = buf.u16(8) & 0x0FFF;
    const int loopEnd = 10 + descriptorsLength;
    // A descriptor loop longer than the section is corrupt: no name rather than bytes of the CRC.
    if (loopEnd > qMin(int(section_length) - 1, buf.size()))
        return 3;
    int j = 10;
    while (j + 2 <= loopEnd) {
        const quint8 tag = buf.u8(j);
        const int length = buf.u8(j + 1);
        if (j + 2 + length > loopEnd)
            break;
        if (tag == NETWORK_NAME_DESCRIPTOR) {
            networkName = dvbtext::decode(buf.bytes(j + 2, length));
            break;
        }
        j += 2 + length;
    }
    return 3;
}
