// Analysis throughput: writes a transport stream of at least 500 MB (40 Mbit/s, PCR every 40 ms,
// PAT/PMT/SDT/NIT every 100 ms) into a temporary folder, then times the file scan that a file load
// runs (grid search, PCR bitrate, per-PID counts, PSI) over the whole file, and the default load,
// which stops after 1000 PCR intervals and then reads on for the PSI tables alone until they are
// complete (or 30 s of stream). --file times an existing file, for instance one from ffmpeg, which
// `ffprobe -count_packets` can read too (this file's payloads hold no PES packets).
//
// Usage: bench_analysis [size in MB, default 512] [--keep PATH: write the file there and keep it]
//        bench_analysis --file PATH   (time an existing file instead)

#include "tsparser.h"
#include "tspcrmeasure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace
{

constexpr quint64 BITRATE = 40000000;
constexpr quint64 CLOCK = 27000000;
constexpr int PKT = 188;

quint32 crc32(const uchar *data, int size)
{
    quint32 crc = 0xFFFFFFFF;
    for (int i = 0; i < size; ++i) {
        crc ^= quint32(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

// One packet holding a whole section after a zero pointer field.
QByteArray sectionPacket(quint16 pid, QByteArray section)
{
    const int length = section.size() + 4 - 3;
    section[1] = char(0xB0 | (length >> 8));
    section[2] = char(length & 0xFF);
    const quint32 crc = crc32(reinterpret_cast<const uchar *>(section.constData()), section.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        section.append(char(crc >> shift));
    QByteArray p = QByteArray::fromHex("470000100000");
    p[1] = char(0x40 | (pid >> 8));
    p[2] = char(pid & 0xFF);
    p.replace(5, 0, section);
    p.truncate(5 + section.size());
    p.append(QByteArray(PKT - p.size(), char(0xFF)));
    return p;
}

QList<QByteArray> psiPackets()
{
    const QByteArray pat = QByteArray::fromHex("000000"
                                               "0001C10000"
                                               "0000E010"
                                               "0001E100");
    const QByteArray pmt = QByteArray::fromHex("020000"
                                               "0001C10000"
                                               "E101F000"
                                               "02E101F000"
                                               "03E102F006"
                                               "0A04656E6700");
    QByteArray sdt = QByteArray::fromHex("420000"
                                         "0001C10000"
                                         "0001FF"
                                         "0001FC8000");
    const QByteArray provider("Bench");
    const QByteArray name("Bench HD");
    QByteArray desc
        = QByteArray::fromHex("4800") + char(0x01) + char(provider.size()) + provider + char(name.size()) + name;
    desc[1] = char(desc.size() - 2);
    sdt[sdt.size() - 1] = char(desc.size());
    sdt.append(desc);
    QByteArray nit = QByteArray::fromHex("400000"
                                         "0001C10000"
                                         "F000");
    const QByteArray network("Bench network");
    nit.append(char(0x40)).append(char(network.size())).append(network);
    nit[9] = char(network.size() + 2);
    nit.append(QByteArray::fromHex("F000"));
    return { sectionPacket(0, pat), sectionPacket(0x100, pmt), sectionPacket(0x11, sdt), sectionPacket(0x10, nit) };
}

bool writeStream(const QString &path, qint64 bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QList<QByteArray> psi = psiPackets();
    const quint64 packets = quint64(bytes + PKT - 1) / PKT;
    const quint64 pcrEvery = BITRATE / 25 / (PKT * 8); // 40 ms
    const quint64 psiEvery = BITRATE / 10 / (PKT * 8); // 100 ms
    QByteArray block;
    block.reserve(PKT * 8192);
    QByteArray payload(PKT, char(0x5A));
    quint8 cc[3] = { 0, 0, 0 };
    for (quint64 i = 0; i < packets; ++i) {
        if (i % psiEvery == 0) {
            for (const QByteArray &p : psi)
                block.append(p);
            i += psi.size() - 1;
        } else if (i % pcrEvery == 1) {
            const quint64 pcr = (i * PKT + 10) * 8 * CLOCK / BITRATE;
            const quint64 base = pcr / 300;
            const quint64 ext = pcr % 300;
            QByteArray p = QByteArray::fromHex("470101") + char(0x30 | (cc[0]++ & 0x0F)) + char(7) + char(0x10);
            for (int shift = 25; shift >= 1; shift -= 8)
                p.append(char(base >> shift));
            p.append(char(((base & 1) << 7) | 0x7E | (ext >> 8))).append(char(ext & 0xFF));
            p.append(payload.left(PKT - p.size()));
            block.append(p);
        } else {
            // 80 % video, 10 % audio, 10 % null packets.
            const int kind = int(i % 10);
            const quint16 pid = kind < 8 ? 0x101 : kind == 8 ? 0x102 : 0x1FFF;
            const int counter = pid == 0x101 ? 0 : pid == 0x102 ? 1 : 2;
            QByteArray p = payload;
            p[0] = char(0x47);
            p[1] = char(pid >> 8);
            p[2] = char(pid & 0xFF);
            p[3] = char(0x10 | (cc[counter]++ & 0x0F));
            block.append(p);
        }
        if (block.size() >= PKT * 8000) {
            if (f.write(block) != block.size())
                return false;
            block.clear();
        }
    }
    return f.write(block) == block.size();
}

void timeScan(QTextStream &out, const QString &path, int sampleLimit, const char *label)
{
    QElapsedTimer clock;
    clock.start();
    tspcrmeasure measure(nullptr, path);
    measure.setSampleLimit(sampleLimit);
    measure.findSync();
    const qint64 bitrate = measure.measureBitrate();
    const int programs = measure.getParser() ? measure.getParser()->programs().size() : 0;
    const qint64 ns = clock.nsecsElapsed();
    const double mb = double(measure.getPacketCount() + measure.getPsiPacketCount()) * PKT / 1e6;
    out << label << ": " << QString::number(mb, 'f', 1) << " MB scanned in " << QString::number(ns / 1e6, 'f', 1)
        << " ms = " << QString::number(mb / (ns / 1e9), 'f', 0) << " MB/s; bitrate " << bitrate << " bit/s from "
        << measure.getSampleCount() << " PCR intervals, " << measure.getPidList().size() << " PIDs, " << programs
        << " program(s); " << QString::number(double(measure.getPsiPacketCount()) * PKT / 1e6, 'f', 1)
        << " MB of it for the PSI alone\n";
    out.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("nerio.*.debug=false"));
    QTextStream out(stdout);
    QStringList args = app.arguments().mid(1);
    QString path;
    QTemporaryDir dir;
    const int fileArg = args.indexOf(QStringLiteral("--file"));
    if (fileArg >= 0 && fileArg + 1 < args.size()) {
        path = args.at(fileArg + 1);
    } else {
        const qint64 megabytes
            = args.isEmpty() || args.first().startsWith(QLatin1Char('-')) ? 512 : qMax(1LL, args.first().toLongLong());
        if (!dir.isValid()) {
            QTextStream(stderr) << "bench_analysis: no temporary folder\n";
            return 1;
        }
        const int keepArg = args.indexOf(QStringLiteral("--keep"));
        path = keepArg >= 0 && keepArg + 1 < args.size() ? args.at(keepArg + 1)
                                                         : dir.filePath(QStringLiteral("bench.ts"));
        out << "writing " << megabytes << " MB at 40 Mbit/s to " << path << " ...\n";
        out.flush();
        QElapsedTimer clock;
        clock.start();
        if (!writeStream(path, megabytes * 1000 * 1000)) {
            QTextStream(stderr) << "bench_analysis: cannot write " << path << '\n';
            return 1;
        }
        out << "written in " << clock.elapsed() << " ms\n";
    }
    out << "file: " << QFile(path).size() << " bytes (the timings include reading it, mostly from the page cache)\n";
    out.flush();
    for (int run = 1; run <= 3; ++run)
        timeScan(out, path, 0, qPrintable(QStringLiteral("whole-file scan, run %1").arg(run)));
    timeScan(out, path, tspcrmeasure::DEFAULT_SAMPLE_LIMIT, "file load (1000 PCR intervals, then the PSI)");
    return 0;
}
