#include "table.h"

#include "psilog.h"
#include "tspacket.h"

namespace
{
constexpr int MAX_SECTION_BYTES = 4096 + tspacket::PKT_SIZE; // 12-bit section_length + header + one packet
}

table::table(QObject *parent, quint16 pid)
    : QObject(parent)
    , pid(pid)
{
}

table::section_status_enum table::get_section(const QByteArray &packet)
{
    return get_section(reinterpret_cast<const uchar *>(packet.constData()), packet.size());
}

table::section_status_enum table::get_section(const uchar *p, int size)
{
    if (status == section_complete)
        return section_complete;
    if (size < 4 || tspacket::pid(p) != pid)
        return status;

    const int afc = tspacket::adaptationFieldControl(p);
    if (afc == 0) {
        qCDebug(lcPsiSection) << "Invalid adaptation field";
        return status;
    }
    if (afc == 2)
        return status;

    int payload = 4;
    if (afc == 3) {
        if (size < 5)
            return status;
        payload = 5 + p[4];
    }
    const uchar *end = p + size;

    if (!tspacket::payloadUnitStart(p)) {
        if (status != section_incomplete || payload >= size)
            return status;
        return append(p + payload, end);
    }

    // The pointer field must itself be inside the packet before anything is read from it.
    if (payload >= size) {
        qCDebug(lcPsiSection) << "parse_section : pointer field exceeds max value, its value = " << payload;
        return section_error;
    }
    if (payload + 2 < size && p[payload] == 0 && p[payload + 1] == 0 && p[payload + 2] == 1)
        return status; // a PES start, not a section

    const int pointer = p[payload];
    const int start = payload + 1 + pointer;
    if (start >= size - 4) {
        qCDebug(lcPsiSection) << "parse_section : pointer field exceeds max value, its value = " << start - 1;
        return section_error;
    }

    // The bytes before the new section are the tail of the one being collected: finish it with them
    // rather than throw away a section that was only one packet short.
    if (status == section_incomplete && pointer > 0) {
        if (append(p + payload + 1, p + start) == section_complete)
            return section_complete;
    }

    section.clear();
    section.reserve(MAX_SECTION_BYTES);
    table_id = p[start];
    section_length = quint16(((p[start + 1] << 8) | p[start + 2]) & 0x0FFF);
    status = section_incomplete;
    return append(p + start, end);
}

table::section_status_enum table::append(const uchar *from, const uchar *end)
{
    section.append(reinterpret_cast<const char *>(from), int(end - from));
    if (section.size() >= int(section_length) + 3)
        status = section_complete;
    return status;
}

void table::reset()
{
    section.clear();
    table_id = 0;
    section_length = 0;
    status = section_waiting;
}
