#include "table.h"

#include "psibuffer.h"

table::table(QObject *parent, quint16 pid, quint8 table_id)
    : QObject(parent)
    , pid(pid)
    , table_id(table_id)
{
}

bool table::add_section(const QByteArray &section)
{
    psibuffer buf(section);
    const quint8 id = buf.u8(0);
    const bool longSyntax = buf.u8(1) & 0x80;
    const quint16 ext = buf.u16(3);
    const quint8 versionByte = buf.u8(5);
    const int number = buf.u8(6);
    const int last = buf.u8(7);
    if (buf.error() || id != table_id || !longSyntax || !(versionByte & 0x01) || number > last)
        return false;
    const quint8 ver = (versionByte >> 1) & 0x1F;
    if (complete && ext == extension && ver == version)
        return false;

    if (!gathering || ext != nextExtension || ver != nextVersion || last + 1 != nextSections.size()) {
        gathering = true;
        nextExtension = ext;
        nextVersion = ver;
        nextSections = QVector<QByteArray>(last + 1);
        nextMissing = last + 1;
    }
    QByteArray &slot = nextSections[number];
    if (!slot.isEmpty())
        return false;
    slot = section;
    if (--nextMissing > 0)
        return false;

    complete = true;
    extension = nextExtension;
    version = nextVersion;
    sections = nextSections;
    gathering = false;
    nextSections.clear();
    return true;
}
