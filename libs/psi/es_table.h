#pragma once
// Names of PMT stream types and descriptor tags for the analysis view, and what each stream carries. Fixed
// data built once by the constructor; it derives from table but is never fed sections. Any single thread.

#include "es_entry.h"
#include "table.h"

#include <QList>
#include <QString>

// What a stream carries, valued as the program categories of the analysis view (a program takes the highest).
enum class es_kind {
    Data = 0,
    Text = 1, // subtitles, teletext
    Audio = 2,
    Video = 4,
};

struct stream_type_record {
    QString short_name;
    QString description;
    quint8 stream_type = 0;
    es_kind kind = es_kind::Data;
    QString codec;
};

struct descriptor_record {
    quint8 tag = 0;
    QString name;
};

struct es_names {
    QString short_name;
    QString description;
    QString descriptor_name;
    // One lower-case word for the coding ("mpeg2video", "hevc", "ac3", "dvb_subtitle"); empty when the
    // stream type does not name one.
    QString codec;
    es_kind kind = es_kind::Data;
};

class es_table : public table
{
    Q_OBJECT
public:
    explicit es_table(QObject *parent = nullptr);

    // One value looked up both as a stream_type (short name, description, codec, kind) and as a descriptor tag
    // (descriptor name; empty from 0x80 on, so also for 255, "no descriptor").
    es_names lookup(quint8 value) const;

    // Names one stream of a PMT: by its stream_type, except that PES private data (0x06) takes its coding
    // from the first of its descriptors that tells it (DVB AC-3, E-AC-3, DTS, AAC, subtitling, teletext).
    // The descriptor name is that of its first descriptor.
    es_names describe(const es_entry &stream) const;

    const QList<stream_type_record> &streamTypes() const { return streamTypeList; }
    const QList<descriptor_record> &descriptors() const { return descriptorList; }

private:
    QList<stream_type_record> streamTypeList;
    QList<descriptor_record> descriptorList;
};
