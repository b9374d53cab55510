#include "wirelog.h"

#include <QDateTime>

bool WireLog::open(const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

QByteArray WireLog::escaped(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (char c : bytes) {
        const auto u = quint8(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\0')
            out += "\\0";
        else if (c == '\\')
            out += "\\\\";
        else if (u < 0x20 || u >= 0x7f)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

void WireLog::write(const QString &link, const char *direction, const QByteArray &text)
{
    if (!file.isOpen())
        return;
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    file.write(stamp + ' ' + link.toLatin1() + ' ' + direction + ' ' + text + '\n');
}

void WireLog::received(const QString &link, const QByteArray &line)
{
    write(link, "<", escaped(line));
}

void WireLog::sent(const QString &link, const QByteArray &message)
{
    write(link, ">", escaped(message));
}

void WireLog::event(const QString &link, const QString &text)
{
    write(link, "*", text.toLatin1());
}
