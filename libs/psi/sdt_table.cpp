#include "sdt_table.h"

#include "dvbtext.h"
#include "psibuffer.h"
#include "tspacket.h"

namespace
{
constexpr quint8 SERVICE_DESCRIPTOR = 0x48;

// service_descriptor: service_type, provider_name_length, provider name, service_name_length,
// service name. Names are taken only when both lie inside the descriptor.
void readServiceDescriptor(psibuffer &buf, int data, int length, sdt_service &service)
{
    const int end = data + length;
    const int providerLength = buf.u8(data + 1);
    const int serviceLengthAt = data + 2 + providerLength;
    if (length < 2 || serviceLengthAt + 1 > end)
        return;
    const int serviceLength = buf.u8(serviceLengthAt);
    if (serviceLengthAt + 1 + serviceLength > end)
        return;
    service.provider_name = dvbtext::decode(buf.bytes(data + 2, providerLength));
    service.service_name = dvbtext::decode(buf.bytes(serviceLengthAt + 1, serviceLength));
}
} // namespace

sdt_table::sdt_table(QObject *parent)
    : table(parent, tspacket::PID_SDT)
{
}

int sdt_table::parse()
{
    serviceList.clear();
    transportStreamId = 0;
    psibuffer buf(section);
    if (buf.u8(0) != 0x42 || buf.error())
        return 0;
    transportStreamId = buf.u16(3);
    const int loopEnd = qMin(int(section_length) - 1, buf.size());
    int i = 11;
    while (i + 5 <= loopEnd) {
        sdt_service service;
        service.service_id = buf.u16(i);
        service.free_CA_mode = (buf.u8(i + 3) & 0x10) ? 1 : 0;
        const int loopLength = buf.u16(i + 3) & 0x0FFF;
        const int descriptorsEnd = i + 5 + loopLength;
        if (descriptorsEnd > loopEnd)
            break;
        int j = i + 5;
        while (j + 2 <= descriptorsEnd) {
            const quint8 tag = buf.u8(j);
            const int length = buf.u8(j + 1);
            if (j + 2 + length > descriptorsEnd)
                break;
            if (tag == SERVICE_DESCRIPTOR) {
                readServiceDescriptor(buf, j + 2, length, service);
                break;
            }
            j += 2 + length;
        }
        if (buf.error())
            break;
        serviceList.append(service);
        i = descriptorsEnd;
    }
    return 3;
}
