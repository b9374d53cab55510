#pragma once
// Bounds-checked reader over the bytes of one section. Every read past the end returns zero and sets
// a sticky error flag, so a length field that lies never makes a decoder read outside the buffer.
// Used by the table decoders in the thread that scans the file.

#include <QByteArray>
#include <QtGlobal>

class psibuffer
{
public:
    psibuffer(const uchar *data, int size);
    explicit psibuffer(const QByteArray &bytes);

    int size() const { return length; }
    bool error() const { return failed; }
    // True when [offset, offset + count) lies inside the buffer; records nothing.
    bool contains(int offset, int count) const;

    quint8 u8(int offset);
    quint16 u16(int offset);
    // A view of count bytes; empty (and error set) when they do not all lie in the buffer.
    QByteArray bytes(int offset, int count);

private:
    const uchar *data;
    int length;
    bool failed = false;
};
