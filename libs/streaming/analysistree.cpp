#include "analysistree.h"

#include "tspacket.h"

#include <algorithm>

namespace
{

const QString ICON_DATA = QStringLiteral(":/data.png");
const QString ICON_VIDEO = QStringLiteral(":/video.png");
const QString ICON_AUDIO = QStringLiteral(":/audio.png");
const QString ICON_TEXT = QStringLiteral(":/text.png");
const QString ICON_TV = QStringLiteral(":/tv.png");
const QString ICON_TS = QStringLiteral(":/ts.png");
const QString ICON_BITRATE = QStringLiteral(":/bitrate.png");

// The operator reads at most this many group separators.
constexpr int MAX_GROUP_SPACES = 5;

analysisnode leaf(const QString &text)
{
    analysisnode node;
    node.text = text;
    return node;
}

QString bps(double value)
{
    return analysistree::bitrateText(value) + QStringLiteral("bps");
}

} // namespace

analysistree::settlement analysistree::settleBitrate(qint64 measured, qint64 &bitrate)
{
    if (measured < 0) {
        bitrate = DEFAULT_BITRATE;
        return settlement::NoPcr;
    }
    if (measured == 0 || measured > MAX_BITRATE) {
        bitrate = DEFAULT_BITRATE;
        return settlement::CalculError;
    }
    bitrate = measured;
    return settlement::Measured;
}

QString analysistree::groupedInteger(qint64 value)
{
    const bool negative = value < 0;
    QString digits = QString::number(negative ? -quint64(value) : quint64(value));
    int spaces = 0;
    for (int at = digits.size() - 3; at > 0 && spaces < MAX_GROUP_SPACES; at -= 3, ++spaces)
        digits.insert(at, QLatin1Char(' '));
    return negative ? QLatin1Char('-') + digits : digits;
}

QString analysistree::bitrateText(double value)
{
    if (value > 1000000.0)
        return QString::asprintf("%.3f M", value / 1000000.0);
    if (value > 1000.0)
        return QString::asprintf("%.3f K", value / 1000.0);
    return QString::asprintf("%.0f ", value);
}

QString analysistree::streamIcon(es_kind kind, const QString &descriptionLine)
{
    if (descriptionLine.contains(QLatin1String("Subtitling")) || descriptionLine.contains(QLatin1String("Teletext")))
        return ICON_TEXT;
    switch (kind) {
    case es_kind::Video:
        return ICON_VIDEO;
    case es_kind::Audio:
        return ICON_AUDIO;
    case es_kind::Text:
        return ICON_TEXT;
    case es_kind::Data:
        break;
    }
    return ICON_DATA;
}

int analysistree::raiseCategory(int category, es_kind kind)
{
    return qMax(category, int(kind));
}

int analysistree::raiseCategory(int category, const QString &text)
{
    if (text.contains(QLatin1String("Video")))
        return category <= 3 ? 4 : category;
    if (text.contains(QLatin1String("Audio")))
        return category <= 1 ? 2 : category;
    if (text.contains(QLatin1String("Subtitling")) || text.contains(QLatin1String("Teletext"))
        || text.contains(QLatin1String("teletext")))
        return category <= 0 ? 1 : category;
    return category;
}

QString analysistree::programIcon(int category)
{
    switch (category) {
    case 4:
        return ICON_TV;
    case 3:
        return ICON_VIDEO;
    case 2:
        return ICON_AUDIO;
    case 1:
        return ICON_TEXT;
    default:
        return ICON_DATA;
    }
}

QList<analysisnode> analysistree::fileInformation(quint64 fileSize, qint64 measured, settlement settled, int crcErrors)
{
    analysisnode file;
    file.text = QStringLiteral("File informations");
    file.icon = ICON_DATA;
    file.children.append(leaf(groupedInteger(qint64(fileSize)) + QStringLiteral(" bytes")));
    file.children.append(leaf(groupedInteger(qint64(fileSize / tspacket::PKT_SIZE)) + QStringLiteral(" packets")));

    analysisnode rate;
    rate.text = QStringLiteral("Computed bitrate");
    rate.icon = ICON_BITRATE;
    switch (settled) {
    case settlement::NoPcr:
        rate.children.append(leaf(QStringLiteral("No PCR detected")));
        break;
    case settlement::CalculError:
        rate.children.append(
            leaf(QStringLiteral("Raw bitrate = ") + groupedInteger(DEFAULT_BITRATE) + QStringLiteral(" bps")));
        break;
    case settlement::Measured:
        rate.children.append(
            leaf(QStringLiteral("Raw bitrate = ") + groupedInteger(measured) + QStringLiteral(" bps")));
        break;
    }

    analysisnode psi;
    psi.text = QStringLiteral("PSI sections");
    psi.icon = ICON_DATA;
    psi.children.append(leaf(QStringLiteral("CRC errors: ") + QString::number(crcErrors)));
    return { file, rate, psi };
}

analysisnode analysistree::programTree(const QList<program_info> &programs, quint16 transportStreamId,
    const QString &networkName, qint64 bitrate, const shareFunction &share, const es_table &names)
{
    analysisnode top;
    top.icon = ICON_TS;
    if (!networkName.isEmpty())
        top.text = QStringLiteral("Network Name : ") + networkName + QStringLiteral(" ID ")
            + QString::number(transportStreamId);
    else
        top.text = QStringLiteral("Transport Stream ID ") + QString::number(transportStreamId);

    const double rate = double(bitrate);
    for (const program_info &program : programs) {
        analysisnode node;
        int category = 0;
        double programShare = share(program.PMT_PID);
        for (const es_entry &es : program.es_list) {
            const double streamBitrate = rate * share(es.elementary_PID);
            programShare += share(es.elementary_PID);
            const es_names typeNames = names.describe(es);

            analysisnode stream;
            stream.text = typeNames.short_name + QStringLiteral(" (") + bps(streamBitrate) + QLatin1Char(')');
            stream.toolTip = typeNames.description;
            const QString descriptionLine = QStringLiteral("Description : ") + typeNames.descriptor_name
                + QStringLiteral(" (Stream ID : ") + QString::number(es.first_descriptor_tag) + QLatin1Char(')');
            stream.icon = streamIcon(typeNames.kind, descriptionLine);
            stream.children.append(leaf(QStringLiteral("PID : ") + QString::number(es.elementary_PID)));
            stream.children.append(leaf(descriptionLine));
            stream.children.append(leaf(QStringLiteral("Bitrate : ") + bps(streamBitrate)));
            category = raiseCategory(category, typeNames.kind);
            category = raiseCategory(category, descriptionLine);
            node.children.append(stream);
        }

        node.children.append(leaf(QStringLiteral("Program PID : ") + QString::number(program.PMT_PID)
            + QStringLiteral(" (") + bps(rate * share(program.PMT_PID)) + QLatin1Char(')')));
        node.children.append(leaf(program.PCR_PID == tspacket::PID_NULL
                ? QStringLiteral("Program PCR PID : No PCR")
                : QStringLiteral("Program PCR PID : ") + QString::number(program.PCR_PID)));
        node.children.append(leaf(program.free_CA_mode ? QStringLiteral("Access Control : Scrambled")
                                                       : QStringLiteral("Access Control : Unscrambled")));
        node.children.append(
            leaf(program.provider_name.isEmpty() ? QStringLiteral("Program Provider : Not found")
                                                 : QStringLiteral("Program Provider : ") + program.provider_name));

        const QString number = QString::number(program.program_number);
        node.text = program.service_name.isEmpty()
            ? QStringLiteral("Program Stream (No name found) - Program Number : ") + number
            : program.service_name + QStringLiteral(" - Program Number : ") + number;
        node.text += QStringLiteral(" (") + bps(rate * programShare) + QLatin1Char(')');
        node.icon = programIcon(category);
        top.children.append(node);
    }
    return top;
}

QList<analysisnode> analysistree::pidTree(QVector<quint16> pids, const QList<program_info> &programs, qint64 bitrate,
    const shareFunction &share, const es_table &names)
{
    std::sort(pids.begin(), pids.end());
    QList<analysisnode> rows;
    for (const quint16 pid : qAsConst(pids)) {
        analysisnode row;
        row.text = QString::number(pid) + QStringLiteral(" - (") + bps(double(bitrate) * share(pid)) + QLatin1Char(')');

        QString name;
        es_kind kind = es_kind::Data;
        if (pid == tspacket::PID_PAT) {
            name = QStringLiteral("PAT");
        } else if (pid == tspacket::PID_NULL) {
            name = QStringLiteral("Null packets");
        } else {
            for (const program_info &program : programs) {
                if (program.PMT_PID == pid) {
                    name = QStringLiteral("PMT - Program Number : ") + QString::number(program.program_number);
                    break;
                }
                for (const es_entry &es : program.es_list) {
                    if (es.elementary_PID == pid) {
                        const es_names stream = names.describe(es);
                        name = stream.short_name;
                        kind = stream.kind;
                        break;
                    }
                }
                if (!name.isEmpty())
                    break;
            }
        }
        if (!name.isEmpty()) {
            analysisnode child = leaf(name);
            child.icon = streamIcon(kind);
            row.children.append(child);
        }
        rows.append(row);
    }
    return rows;
}
