// nerio-ts analyze: the analysis the Streaming page shows on loading a file, as indented text or JSON.

#include "subcommands.h"

#include "analysistree.h"
#include "es_table.h"
#include "tspacket.h"
#include "tsparser.h"
#include "tspcrmeasure.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace
{

const char HELP[] = "Usage: nerio-ts analyze [--json] FILE\n"
                    "\n"
                    "Reads a transport stream file as the Streaming page does when it loads one: finds the\n"
                    "188-byte packet grid, measures the multiplex bitrate from the PCRs (up to 1000 intervals),\n"
                    "counts packets per PID over that scan and decodes the PAT, PMTs, NIT and SDT, reading on\n"
                    "after the scan until they are all complete or 30 s of stream have gone by. Every section\n"
                    "in a packet is read; sections failing their CRC_32 are dropped and counted; tables of\n"
                    "several sections are assembled and the latest complete version is shown.\n"
                    "\n"
                    "Without --json it prints the file information, program and PID trees as indented text.\n"
                    "Bitrates of programs, streams and PIDs use the settled bitrate: the measured one, or\n"
                    "10 Mbps when no PCR was found or the measurement is 0 or above 65 000 000 bit/s.\n"
                    "\n"
                    "  --json     print one JSON object instead: file_size, packets, sync_offset, bitrate (measured,\n"
                    "             -1 when none), settled_bitrate, transport_stream_id, network_name, crc_errors,\n"
                    "             programs (program_number, pmt_pid, pcr_pid, scrambled, provider, service, streams\n"
                    "             of pid, stream_type, first_descriptor_tag and codec, a word such as \"mpeg2video\",\n"
                    "             \"hevc\", \"ac3\" or \"dvb_subtitle\", null when unknown) and pids (pid, packets\n"
                    "             counted by the scan)\n"
                    "  -h, --help show this help\n"
                    "\n"
                    "Exit status: 0 on success; 1 when the file cannot be opened, is empty or has no packet grid\n"
                    "within its first 1 MiB; 2 on a usage error.\n";

int fail(const QString &message, int status = 1)
{
    QTextStream(stderr) << "nerio-ts analyze: " << message << '\n';
    return status;
}

int usageError(const QString &message)
{
    return fail(message, 2);
}

void printTree(QTextStream &out, const analysisnode &node, int depth)
{
    out << QString(depth * 2, QLatin1Char(' ')) << node.text << '\n';
    for (const analysisnode &child : node.children)
        printTree(out, child, depth + 1);
}

QJsonObject jsonReport(tspcrmeasure &measure, qint64 fileSize, qint64 measured, qint64 settled,
    const QList<program_info> &programs, const es_table &names)
{
    tsparser *parser = measure.getParser();
    QJsonObject report;
    report.insert(QStringLiteral("file_size"), fileSize);
    report.insert(QStringLiteral("packets"), (fileSize - measure.getSyncOffset()) / tspacket::PKT_SIZE);
    report.insert(QStringLiteral("sync_offset"), measure.getSyncOffset());
    report.insert(QStringLiteral("bitrate"), measured);
    report.insert(QStringLiteral("settled_bitrate"), settled);
    report.insert(QStringLiteral("transport_stream_id"), parser->transport_stream_id());
    const QString network = parser->network_name();
    report.insert(QStringLiteral("network_name"), network.isEmpty() ? QJsonValue() : QJsonValue(network));
    report.insert(QStringLiteral("crc_errors"), parser->crc_errors());

    QJsonArray programArray;
    for (const program_info &program : programs) {
        QJsonObject entry;
        entry.insert(QStringLiteral("program_number"), program.program_number);
        entry.insert(QStringLiteral("pmt_pid"), program.PMT_PID);
        entry.insert(QStringLiteral("pcr_pid"), program.PCR_PID);
        entry.insert(QStringLiteral("scrambled"), program.free_CA_mode != 0);
        entry.insert(QStringLiteral("provider"), program.provider_name);
        entry.insert(QStringLiteral("service"), program.service_name);
        QJsonArray streams;
        for (const es_entry &es : program.es_list) {
            QJsonObject stream;
            stream.insert(QStringLiteral("pid"), es.elementary_PID);
            stream.insert(QStringLiteral("stream_type"), es.stream_type);
            stream.insert(QStringLiteral("first_descriptor_tag"), es.first_descriptor_tag);
            const QString codec = names.describe(es).codec;
            stream.insert(QStringLiteral("codec"), codec.isEmpty() ? QJsonValue() : QJsonValue(codec));
            streams.append(stream);
        }
        entry.insert(QStringLiteral("streams"), streams);
        programArray.append(entry);
    }
    report.insert(QStringLiteral("programs"), programArray);

    QVector<quint16> pids = measure.getPidList();
    std::sort(pids.begin(), pids.end());
    QJsonArray pidArray;
    for (const quint16 pid : qAsConst(pids)) {
        QJsonObject entry;
        entry.insert(QStringLiteral("pid"), pid);
        entry.insert(QStringLiteral("packets"), qint64(measure.pidPacketCount(pid)));
        pidArray.append(entry);
    }
    report.insert(QStringLiteral("pids"), pidArray);
    return report;
}

} // namespace

int runAnalyze(const QStringList &args)
{
    bool json = false;
    QString path;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            QTextStream(stdout) << HELP;
            return 0;
        }
        if (arg == QLatin1String("--json")) {
            json = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option '%1' (try --help)").arg(arg));
        } else if (path.isEmpty()) {
            path = arg;
        } else {
            return usageError(QStringLiteral("one FILE only (try --help)"));
        }
    }
    if (path.isEmpty())
        return usageError(QStringLiteral("missing FILE (try --help)"));
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("%1 is a folder, not a transport stream file").arg(path));

    tspcrmeasure measure(nullptr, path);
    if (!measure.isOpen())
        return fail(QStringLiteral("cannot open %1: %2").arg(path, measure.openError()));
    const qint64 fileSize = measure.getFileSize();
    if (fileSize == 0)
        return fail(QStringLiteral("%1 is empty").arg(path));
    if (measure.findSync() < 0)
        return fail(tspcrmeasure::noGridMessage(path, fileSize));
    const qint64 measured = measure.measureBitrate();

    qint64 bitrate = 0;
    const analysistree::settlement settled = analysistree::settleBitrate(measured, bitrate);
    if (settled == analysistree::settlement::NoPcr)
        QTextStream(stderr)
            << "warning: No PCR detected, please enter bitrate manualy. Default bitrate value is : 10 Mbps\n";
    else if (settled == analysistree::settlement::CalculError)
        QTextStream(stderr) << "warning: Bitrate calcul error. Default bitrate value is : 10 Mbps\n";

    tsparser *parser = measure.getParser();
    const QList<program_info> programs = parser->programs();

    const es_table names;
    QTextStream out(stdout);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out.setCodec("UTF-8"); // Qt 6 always writes UTF-8; Qt 5 would follow the locale
#endif
    if (json) {
        out << QJsonDocument(jsonReport(measure, fileSize, measured, bitrate, programs, names))
                   .toJson(QJsonDocument::Indented);
        return 0;
    }

    const auto share = [&measure](quint16 pid) { return measure.pidShare(pid); };
    for (const analysisnode &node :
        analysistree::fileInformation(quint64(fileSize), measured, settled, parser->crc_errors()))
        printTree(out, node, 0);
    out << '\n';
    printTree(out,
        analysistree::programTree(
            programs, parser->transport_stream_id(), parser->network_name(), bitrate, share, names),
        0);
    out << '\n';
    for (const analysisnode &node : analysistree::pidTree(measure.getPidList(), programs, bitrate, share, names))
        printTree(out, node, 0);
    return 0;
}
