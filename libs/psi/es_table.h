#pragma once
// Names of PMT stream types and descriptor tags for the analysis view. Fixed data built once by the
// constructor; it derives from table but is never fed packets. Any single thread.

#include "table.h"

#include <QList>
#include <QString>

struct stream_type_record {
    QString short_name;
    QString description;
    quint8 stream_type = 0;
};

struct descriptor_record {
    quint8 tag = 0;
    QString name;
};

struct es_names {
    QString short_name;
    QString description;
    QString descriptor_name;
};

class es_table : public table
{
    Q_OBJECT
public:
    explicit es_table(QObject *parent = nullptr);

    // One value looked up both as a stream_type (short name, description) and as a descriptor tag
    // (descriptor name; empty from 0x80 on, so also for 255, "no descriptor").
    es_names lookup(quint8 value) const;

    const QList<stream_type_record> &streamTypes() const { return streamTypeList; }
    const QList<descriptor_record> &descriptors() const { return descriptorList; }

private:
    QList<stream_type_record> streamTypeList;
    QList<descriptor_record> descriptorList;
};
