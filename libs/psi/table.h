#pragma once
// Base of the PSI tables: reassembles the first section carried on one PID from 188-byte transport
// packets (ISO/IEC 13818-1, 2.4.4). Used only by the thread that scans the file.

#include <QByteArray>
#include <QObject>

class table : public QObject
{
    Q_OBJECT
public:
    enum section_status_enum {
        section_error = 0, // returned only: the pointer field leads outside the packet
        section_waiting = 1,
        section_incomplete = 2,
        section_complete = 3,
    };

    table(QObject *parent, quint16 pid);

    // Offers one transport packet; the section is complete once section_length + 3 bytes are in.
    section_status_enum get_section(const QByteArray &packet);
    section_status_enum get_section(const uchar *packet, int size);

    // Forgets the collected section so the next section start on the PID is tried.
    void reset();

    quint16 getPid() const { return pid; }
    quint8 getTableId() const { return table_id; }
    quint16 getSectionLength() const { return section_length; }
    section_status_enum getStatus() const { return status; }
    const QByteArray &getSection() const { return section; }

protected:
    quint16 pid;
    quint8 table_id = 0;
    quint16 section_length = 0;
    QByteArray section;
    section_status_enum status = section_waiting;

private:
    section_status_enum append(const uchar *from, const uchar *end);
};
