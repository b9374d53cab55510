#pragma once
// Base of the PSI tables: gathers the sections of one table (one table_id and table_id_extension) by
// version_number and section_number (ISO/IEC 13818-1, 2.4.4.5) and keeps the latest version whose
// sections 0..last_section_number have all been seen. Sections reach it already cut and CRC-checked
// (sectionreader). Used only by the thread that scans the file.

#include <QByteArray>
#include <QObject>
#include <QVector>

class table : public QObject
{
    Q_OBJECT
public:
    table(QObject *parent, quint16 pid, quint8 table_id);

    // Offers one section. True when it completes a version other than the one held, which then replaces it.
    // Sections of another table_id, of the short syntax, not yet applicable (current_next_indicator 0) or
    // numbered past their last_section_number are ignored, and so is a copy of the version held: a repeated
    // version_number is not an update.
    bool add_section(const QByteArray &section);

    bool isComplete() const { return complete; }
    quint16 getPid() const { return pid; }
    quint8 getTableId() const { return table_id; }
    // table_id_extension and version_number of the version held.
    quint16 getExtension() const { return extension; }
    quint8 getVersion() const { return version; }
    // The sections of the version held, by section_number.
    const QVector<QByteArray> &getSections() const { return sections; }

protected:
    quint16 pid;
    quint8 table_id;
    bool complete = false;
    quint16 extension = 0;
    quint8 version = 0;
    QVector<QByteArray> sections;

private:
    // The version being gathered.
    bool gathering = false;
    quint16 nextExtension = 0;
    quint8 nextVersion = 0;
    QVector<QByteArray> nextSections; // indexed by section_number, empty until seen
    int nextMissing = 0;
};
