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
    : table(parent, tspacket::PID_SDT, 0x42)
{
}

void sdt_table::parse()
{
    serviceList.clear();
    for (const QByteArray &section : qAsConst(sections)) {
        psibuffer buf(section);
        const int loopEnd = buf.size() - 4;
        int i = 11;
        while (i + 5 <= loopEnd) {
            sdt_service service;
            service.service_id = buf.u16(i);
            service.free_CA_mode = (buf.u8(i + 3) & 0x10) ? 1 : 0;
            const int descriptorsEnd = i + 5 + (buf.u16(i + 3) & 0x0FFF);
            if (descriptorsEnd > loopEnd)
                break;
            for (int j = i + 5; j + 2 <= descriptorsEnd;) {
                const int length = buf.u8(j + 1);
                if (j + 2 + length > descriptorsEnd)
                    break;
                if (buf.u8(j) == SERVICE_DESCRIPTOR) {
                    readServiceDescriptor(buf, j + 2, length, service);
                    break;
                }
                j += 2 + length;
            }
            serviceList.append(service);
            i = descriptorsEnd;
        }
    }
}
