#pragma once
// One elementary stream of a PMT stream loop, in section order.

#include <QVector>
#include <QtGlobal>

struct es_entry {
    quint8 stream_type = 0;
    quint16 elementary_PID = 0;
    // Tag of the stream's first ES_info descriptor; 255 when its ES_info_length is 0.
    quint8 first_descriptor_tag = 255;
    // Tags of all its ES_info descriptors in loop order (those whose header lies inside the loop).
    QVector<quint8> descriptor_tags;
};
