#include "dvbtext.h"

#include <unicode/ucnv.h>

namespace
{

// The QByteArray overloads of QString::fromLatin1/fromUtf8 stop at the first NUL; names may hold one.
QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

// Selectors 0x01-0x0B name ISO/IEC 8859 parts 5 to 15; part 12 was never published (0x08 reserved).
const int SINGLE_BYTE_PART[] = { 5, 6, 7, 8, 9, 10, 11, 0, 13, 14, 15 };

// Bytes that are not a character of the table become U+FFFD; a character cut off by the end of the text
// is dropped.
QString decodeWith(const char *tableName, const QByteArray &bytes)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open(tableName, &status);
    if (U_FAILURE(status))
        return latin1(bytes);
    // No table used here gives more than two UTF-16 units for one byte.
    QString text(2 * bytes.size(), Qt::Uninitialized);
    UChar *const begin = reinterpret_cast<UChar *>(text.data());
    UChar *target = begin;
    const char *source = bytes.constData();
    ucnv_toUnicode(converter, &target, begin + text.size(), &source, source + bytes.size(), nullptr, false,
        &status);
    ucnv_close(converter);
    if (U_FAILURE(status))
        return latin1(bytes);
    text.truncate(int(target - begin));
    return text;
}

// Two bytes per character, high byte first; a leading byte-order mark and an odd last byte are dropped.
QString utf16BigEndian(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() / 2);
    for (int i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = char16_t(quint8(bytes.at(i)) << 8 | quint8(bytes.at(i + 1)));
        if (i > 0 || unit != 0xFEFF)
            text.append(QChar(unit));
    }
    return text;
}

QString decodeIso8859(int part, const QByteArray &bytes)
{
    if (part < 1 || part > 15 || part == 12)
        return latin1(bytes);
    const QByteArray name = "ISO-8859-" + QByteArray::number(part);
    return decodeWith(name.constData(), bytes);
}

} // namespace

QString dvbtext::decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QString();
    const quint8 first = quint8(bytes.at(0));
    if (first >= 0x20)
        return removeControls(latin1(bytes));

    if (first >= 0x01 && first <= 0x0B)
        return removeControls(decodeIso8859(SINGLE_BYTE_PART[first - 1], bytes.mid(1)));
    switch (first) {
    case 0x10:
        if (bytes.size() >= 3 && bytes.at(1) == 0)
            return removeControls(decodeIso8859(quint8(bytes.at(2)), bytes.mid(3)));
        return removeControls(latin1(bytes.mid(qMin(3, bytes.size()))));
    case 0x11:
        return removeControls(utf16BigEndian(bytes.mid(1)));
    case 0x13:
        // GB 2312 read as its superset GBK.
        return removeControls(decodeWith("GBK", bytes.mid(1)));
    case 0x14:
        return removeControls(decodeWith("Big5", bytes.mid(1)));
    case 0x15:
        return removeControls(QString::fromUtf8(bytes.constData() + 1, bytes.size() - 1));
    default:
        // Unknown or reserved selector: keep the bytes as the default table; the selector itself
        // is a control character and disappears.
        return removeControls(latin1(bytes));
    }
}

QString dvbtext::removeControls(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20)
            out.append(c);
    }
    return out;
}
