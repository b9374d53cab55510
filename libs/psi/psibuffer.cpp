#include "psibuffer.h"

psibuffer::psibuffer(const uchar *data, int size)
    : data(data)
    , length(size < 0 ? 0 : size)
{
}

psibuffer::psibuffer(const QByteArray &bytes)
    : psibuffer(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size())
{
}

bool psibuffer::contains(int offset, int count) const
{
    // 64-bit sum: offsets come from length fields and may be anything.
    return offset >= 0 && count >= 0 && qint64(offset) + count <= length;
}

quint8 psibuffer::u8(int offset)
{
    if (!contains(offset, 1)) {
        failed = true;
        return 0;
    }
    return data[offset];
}

quint16 psibuffer::u16(int offset)
{
    if (!contains(offset, 2)) {
        failed = true;
        return 0;
    }
    return quint16((data[offset] << 8) | data[offset + 1]);
}

QByteArray psibuffer::bytes(int offset, int count)
{
    if (!contains(offset, count)) {
        failed = true;
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char *>(data + offset), count);
}
