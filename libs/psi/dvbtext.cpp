#include "dvbtext.h"

#include <QTextCodec>

namespace
{

// The QByteArray overloads of QString::fromLatin1/fromUtf8 stop at the first NUL; names may hold one.
QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

// Selectors 0x01-0x0B name ISO/IEC 8859 parts 5 to 15; part 12 was never published (0x08 reserved).
const int SINGLE_BYTE_PART[] = { 5, 6, 7, 8, 9, 10, 11, 0, 13, 14, 15 };

QString decodeWith(const char *codecName, const QByteArray &bytes)
{
    QTextCodec *codec = QTextCodec::codecForName(codecName);
    if (!codec)
        return latin1(bytes);
    return codec->toUnicode(bytes);
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
        return removeControls(decodeWith("UTF-16BE", bytes.mid(1)));
    case 0x13:
        return removeControls(decodeWith("GB2312", bytes.mid(1)));
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
