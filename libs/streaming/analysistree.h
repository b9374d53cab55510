#pragma once
// Builds the three analysis trees of a loaded transport stream (file information, programs with
// their streams, PIDs) with their texts, icons and order, and settles the streaming bitrate.
// Pure functions of the measurement's results; any thread.

#include "analysisnode.h"
#include "es_table.h"
#include "program_info.h"

#include <QList>
#include <QString>
#include <QVector>

#include <functional>

class analysistree
{
public:
    enum class settlement {
        Measured, // the measured bitrate stands
        NoPcr, // no PCR interval found: default, warning
        CalculError, // 0 or above MAX_BITRATE: default, critical error
    };
    static constexpr qint64 DEFAULT_BITRATE = 10000000;
    static constexpr qint64 MAX_BITRATE = 65000000;

    // Share of all scanned packets carried by a PID (0 for an unknown PID).
    using shareFunction = std::function<double(quint16)>;

    // The bitrate used for streaming and for every bitrate shown, from the measurement's result
    // (-1 when no PCR was found).
    static settlement settleBitrate(qint64 measured, qint64 &bitrate);

    // Digits grouped by three with a space: 10000000 -> "10 000 000".
    static QString groupedInteger(qint64 value);
    // "3.000 M", "100.000 K" or "500 " ; the caller appends "bps".
    static QString bitrateText(double bitsPerSecond);

    // Icon of a stream item from what it carries and its description line.
    static QString streamIcon(es_kind kind, const QString &descriptionLine = QString());
    // Category of a program after one more of its streams or texts: 4 video, 2 audio, 1 subtitles/teletext.
    static int raiseCategory(int category, es_kind kind);
    static int raiseCategory(int category, const QString &text);
    static QString programIcon(int category);

    // "File informations", "Computed bitrate" and "PSI sections" (sections dropped by their CRC_32 check).
    static QList<analysisnode> fileInformation(quint64 fileSize, qint64 measured, settlement settled, int crcErrors);
    static analysisnode programTree(const QList<program_info> &programs, quint16 transportStreamId,
        const QString &networkName, qint64 bitrate, const shareFunction &share, const es_table &names);
    // One row per PID, ascending, named after the first program that uses it.
    static QList<analysisnode> pidTree(QVector<quint16> pids, const QList<program_info> &programs, qint64 bitrate,
        const shareFunction &share, const es_table &names);
};
