#pragma once
// --log FILE: every line received and every message sent, one timestamped record per line, with
// control bytes escaped (\r, \n, \0, \xNN), so tests can assert on what went over the wire.

#include <QByteArray>
#include <QFile>
#include <QString>

class WireLog
{
public:
    bool open(const QString &path);
    bool isOpen() const { return file.isOpen(); }

    void received(const QString &link, const QByteArray &line);
    void sent(const QString &link, const QByteArray &message);
    void event(const QString &link, const QString &text);

    static QByteArray escaped(const QByteArray &bytes);

private:
    void write(const QString &link, const char *direction, const QByteArray &text);

    QFile file;
};
