// nerio-ts analyze against transport streams made by ffmpeg and a broadcast-like multiplex made here byte by byte,
// compared with what was written and with ffprobe's view of the same files, and its behaviour on files that are
// not, or only partly, transport streams.

#include "pcrstream.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace
{

struct result {
    int exitCode = -1; // also when the program did not finish in time
    QByteArray out;
    QByteArray err;
    qint64 cpuMs = 0; // user + system time of the child: what it cost, whatever the machine's load
};

qint64 childrenCpuMs()
{
#ifdef Q_OS_UNIX
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
#else
    return 0;
#endif
}

result run(const QString &program, const QStringList &args, int timeoutMs = 60000)
{
    result r;
    QProcess p;
    const qint64 cpuBefore = childrenCpuMs();
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return r;
    }
    r.cpuMs = childrenCpuMs() - cpuBefore;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// The named members of a JSON object, space separated (numbers without decimals, absent ones empty).
QString fields(const QJsonValue &object, const QStringList &keys)
{
    QStringList out;
    for (const QString &key : keys)
        out.append(object[key].toVariant().toString());
    return out.join(' ');
}

// One elementary stream of the hand-made multiplex and the codec word its analysis must give.
struct esSpec {
    quint8 type;
    QByteArray descriptors;
    const char *codec;
};

// Programme k of the multiplex carries set (k - 1) % 8: every stream type and private data descriptor a current
// broadcast uses, PCR on the first stream.
QList<esSpec> streamSet(int k)
{
    using tsbuild::descriptor;
    const QByteArray lang = descriptor(0x0A, QByteArray("fra\0", 4));
    const QByteArray one(1, 0); // flags byte of the AC-3, E-AC-3 and AAC descriptors, nothing signalled
    const QList<QList<esSpec>> sets = {
        { { 0x24, {}, "hevc" }, { 0x06, lang + descriptor(0x6A, one), "ac3" } },
        { { 0x1B, {}, "h264" }, { 0x06, descriptor(0x7A, one), "eac3" },
            { 0x06, lang + descriptor(0x59, QByteArray::fromHex("667261 10 0001 0002")), "dvb_subtitle" } },
        { { 0x02, {}, "mpeg2video" }, { 0x03, lang, "mpeg1audio" },
            { 0x06, descriptor(0x56, QByteArray::fromHex("667261 09 00")), "dvb_teletext" } },
        { { 0x33, {}, "vvc" }, { 0x2D, {}, "mpegh_3d_audio" } },
        { { 0x24, {}, "hevc" }, { 0x06, descriptor(0x7B, QByteArray(5, 0)), "dts" },
            { 0x06, descriptor(0x7C, one), "aac" } },
        { { 0x1B, {}, "h264" }, { 0x0F, {}, "aac" }, { 0x11, {}, "aac_latm" } },
        { { 0x04, {}, "mpeg2audio" } },
        { { 0x21, {}, "jpeg2000" }, { 0x1C, {}, "mpeg4audio" }, { 0x1D, {}, "timed_text" } },
    };
    return sets.at((k - 1) % sets.size());
}

constexpr int PROGRAMMES = 20;
constexpr quint16 TSID = 0x2222;

quint16 pmtPid(int k) // two programmes to a PMT PID
{
    return quint16(0x1000 + (k + 1) / 2);
}
quint16 esPid(int k, int s)
{
    return quint16(0x100 + 0x10 * k + s);
}
QByteArray serviceName(int k, int sdtVersion)
{
    return k == 1 && sdtVersion > 0 ? QByteArray("One, renamed") : "Service " + QByteArray::number(k);
}

// 3 s of a 20-programme multiplex at exactly 4 512 000 bit/s: 3000 packets a second, a packet lasting 9000 ticks of
// 27 MHz. A PCR every 40 ms per programme (one packet in 6), so the bitrate scan has its 1000 intervals after about
// 2 s. PAT every 100 ms, the first one damaged (bad CRC, programme 1's PMT PID wrong); PMTs two to a section run
// every 100 ms; the SDT in three sections packed behind an SDT of another stream every 500 ms, version 1 from 1 s on
// (service 1 renamed); the NIT packed behind one of another network every 2 s from 2.1 s on, after the scan.
QByteArray broadcastMultiplex()
{
    using namespace tsbuild;
    QHash<quint16, int> cc;
    QList<QByteArray> queue;
    const auto post = [&](quint16 pid, const QList<QByteArray> &sections) {
        const QList<QByteArray> packets = packetizeSections(pid, sections, cc[pid]);
        cc[pid] += packets.size();
        queue += packets;
    };
    QList<QPair<quint16, quint16>> patEntries = { { 0, 0x10 } };
    for (int k = 1; k <= PROGRAMMES; ++k)
        patEntries.append({ quint16(k), pmtPid(k) });
    QByteArray damaged = patSection(TSID, patEntries);
    damaged[14] = char(0xE0 | 0x07); // programme 1's PMT PID reads 0x0700; the CRC no longer matches

    QByteArray all;
    for (int i = 0; i < 9000; ++i) {
        if (i == 0)
            post(0, { damaged });
        if (i % 300 == 1) {
            post(0, { patSection(TSID, patEntries) });
            for (int k = 1; k <= PROGRAMMES; k += 2) {
                QList<QByteArray> pair;
                for (const int p : { k, k + 1 }) {
                    QList<stream> streams;
                    int s = 0;
                    for (const esSpec &e : streamSet(p))
                        streams.append({ e.type, esPid(p, s++), e.descriptors });
                    pair.append(pmtSection(quint16(p), esPid(p, 0), streams));
                }
                post(pmtPid(k), pair);
            }
        }
        if (i % 1500 == 2) {
            const int version = i >= 3000 ? 1 : 0;
            QList<QByteArray> sdt = { sdtSection(0x46, 0x0999, { { 1, false, "Other", "Other" } }) };
            for (int part = 0; part < 3; ++part) {
                QList<service> services;
                for (int k = 1 + 7 * part; k <= qMin(PROGRAMMES, 7 + 7 * part); ++k)
                    services.append({ quint16(k), k % 5 == 0, "Hostile", serviceName(k, version) });
                sdt.append(numbered(sdtSection(0x42, TSID, services), version, part, 2));
            }
            post(0x11, sdt);
        }
        if (i % 6000 == 300 && i > 6000)
            post(0x10,
                { nitSection(0x41, 9, descriptor(0x40, "Elsewhere")),
                    nitSection(0x40, 1, descriptor(0x40, "Hostile Net")) });
        if (i % 6 == 0)
            all += pcrPacket(esPid(i / 6 % PROGRAMMES + 1, 0), quint64(i) * 9000);
        else if (!queue.isEmpty())
            all += queue.takeFirst();
        else
            all += packet(0x1FFF, false, 0, {});
    }
    return all;
}

} // namespace

class tst_nerio_ts : public QObject
{
    Q_OBJECT
private:
    QString nerioTs;
    QString ffmpeg;
    QString ffprobe;
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        nerioTs = qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-ts");
        QVERIFY2(QFile::exists(nerioTs), qPrintable(nerioTs));
        QVERIFY(dir.isValid());
        ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    }
    void matchesFfprobe()
    {
        if (ffprobe.isEmpty() || ffmpeg.isEmpty())
            QSKIP("ffmpeg or ffprobe is missing (scripts/setup installs them)");

        const QString path = dir.filePath(QStringLiteral("ffmpeg.ts"));
        const result made = run(ffmpeg,
            QStringList { "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "3" }
                + QStringList { "-c:v", "mpeg2video", "-b:v", "1M", "-c:a", "mp2", "-metadata", "service_name=Bêta HD",
                    "-metadata", "service_provider=Réseau Sud", "-mpegts_flags", "+nit", "-mpegts_transport_stream_id",
                    "0x1234", "-mpegts_service_id", "7", "-muxrate", "3000000", "-f", "mpegts", path });
        QVERIFY2(made.exitCode == 0, made.err.constData());

        const result probe = run(ffprobe, { "-v", "error", "-show_programs", "-of", "json", path });
        QCOMPARE(probe.exitCode, 0);
        const QJsonArray probed = QJsonDocument::fromJson(probe.out).object().value("programs").toArray();
        QVERIFY(!probed.isEmpty());
        const result analysis = run(nerioTs, { "analyze", "--json", path });
        QCOMPARE(analysis.exitCode, 0);
        const QJsonObject ours = QJsonDocument::fromJson(analysis.out).object();
        const qint64 size = QFileInfo(path).size();
        // ffmpeg names the network after the provider.
        QCOMPARE(fields(ours, { "file_size", "packets", "sync_offset", "transport_stream_id", "network_name" }),
            QStringLiteral("%1 %2 0 4660 Réseau Sud").arg(size).arg(size / 188));

        // One line a program on each side: number, PMT and PCR PIDs, provider, service, scrambling,
        // then PID and stream_type a stream (the muxer writes MPEG-2 video as 2 and MPEG audio as 3).
        QStringList mine;
        QStringList theirs;
        for (const QJsonValue v : ours.value("programs").toArray()) {
            mine.append(fields(v, { "program_number", "pmt_pid", "pcr_pid", "provider", "service", "scrambled" }));
            for (const QJsonValue es : v["streams"].toArray())
                mine.last() += ' ' + fields(es, { "pid", "stream_type" });
        }
        for (const QJsonValue v : probed) {
            theirs.append(fields(v, { "program_num", "pmt_pid", "pcr_pid" }) + ' '
                + fields(v["tags"], { "service_provider", "service_name" }) + " false");
            for (const QJsonValue es : v["streams"].toArray())
                theirs.last() += QStringLiteral(" %1 %2")
                                     .arg(es["id"].toString().toInt(nullptr, 16))
                                     .arg(es["codec_type"] == "video" ? 2 : 3);
        }
        QCOMPARE(mine, theirs);

        const qint64 bitrate = ours.value("bitrate").toVariant().toLongLong();
        QVERIFY2(qAbs(bitrate - 3000000) <= 3000, qPrintable(QString::number(bitrate)));
        QCOMPARE(ours.value("settled_bitrate").toVariant().toLongLong(), bitrate);
    }

    // The hand-made multiplex: what analyze reports is what was written; ffprobe agrees on programmes, PIDs and
    // names, and on the codec of every stream it names.
    void broadcastMultiplex()
    {
        const QString path = dir.filePath(QStringLiteral("broadcast.ts"));
        QFile f(path);
        const QByteArray bytes = ::broadcastMultiplex();
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush());
        const result analysis = run(nerioTs, { "analyze", "--json", path });
        QCOMPARE(analysis.exitCode, 0);
        const QJsonObject ours = QJsonDocument::fromJson(analysis.out).object();
        QCOMPARE(fields(ours, { "bitrate", "transport_stream_id", "network_name", "crc_errors" }),
            QStringLiteral("4512000 8738 Hostile Net 1"));

        QStringList written;
        for (int k = 1; k <= PROGRAMMES; ++k) {
            written.append(QStringLiteral("%1 %2 %3 Hostile %4 %5")
                               .arg(k)
                               .arg(pmtPid(k))
                               .arg(esPid(k, 0))
                               .arg(QString::fromLatin1(serviceName(k, 1)), k % 5 == 0 ? "true" : "false"));
            int s = 0;
            for (const esSpec &e : streamSet(k)) {
                const int firstTag = e.descriptors.isEmpty() ? 255 : quint8(e.descriptors.at(0));
                written.last()
                    += QStringLiteral(" %1:%2:%3:%4").arg(esPid(k, s++)).arg(e.type).arg(firstTag).arg(e.codec);
            }
        }
        QStringList mine;
        for (const QJsonValue v : ours.value("programs").toArray()) {
            mine.append(fields(v, { "program_number", "pmt_pid", "pcr_pid", "provider", "service", "scrambled" }));
            for (const QJsonValue es : v["streams"].toArray())
                mine.last()
                    += ' ' + fields(es, { "pid", "stream_type", "first_descriptor_tag", "codec" }).replace(' ', ':');
        }
        QCOMPARE(mine, written);

        const result text = run(nerioTs, { "analyze", path });
        QVERIFY(text.out.contains("\n  CRC errors: 1\n"));
        QVERIFY(text.out.contains("\nNetwork Name : Hostile Net ID 8738\n  One, renamed - Program Number : 1 ("));

        if (ffprobe.isEmpty())
            QSKIP("ffprobe is missing (scripts/setup installs it)");
        const result probe = run(ffprobe, { "-v", "error", "-show_programs", "-of", "json", path });
        QCOMPARE(probe.exitCode, 0);
        // ffprobe names MPEG audio after its layer and MPEG-4 audio AAC; the streams it does not name (VVC, MPEG-H
        // and others in older versions) are left out, but most must be compared.
        const auto same = [](const QString &mine, const QString &theirs) {
            return mine == theirs || (mine.startsWith("mpeg") && mine.endsWith("audio") && theirs.startsWith("mp"))
                || (mine == "mpeg4audio" && theirs == "aac");
        };
        QStringList theirs;
        QStringList expected;
        int compared = 0;
        for (const QJsonValue v : QJsonDocument::fromJson(probe.out).object().value("programs").toArray()) {
            const int k = v["program_num"].toInt();
            const QList<esSpec> set = streamSet(k);
            theirs.append(fields(v, { "program_num", "pmt_pid", "pcr_pid" }) + ' '
                + fields(v["tags"], { "service_provider", "service_name" }));
            expected.append(QStringLiteral("%1 %2 %3 Hostile ").arg(k).arg(pmtPid(k)).arg(esPid(k, 0))
                + QString::fromLatin1(serviceName(k, 1)));
            for (int s = 0; s < set.size(); ++s)
                expected.last() += ' ' + QString::number(esPid(k, s));
            for (const QJsonValue es : v["streams"].toArray()) {
                const int pid = es["id"].toString().toInt(nullptr, 16);
                const QString codec = es["codec_name"].toString();
                theirs.last() += ' ' + QString::number(pid);
                if (codec.isEmpty() || codec == "bin_data")
                    continue;
                ++compared;
                if (!same(QString::fromLatin1(set.value(pid - esPid(k, 0)).codec), codec))
                    theirs.last() += ':' + codec;
            }
        }
        QCOMPARE(theirs, expected);
        QVERIFY2(compared >= 30, qPrintable(QString::number(compared)));
    }

    void badAndPartialFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("exitCode");
        // On failure a text of the one-line error; on success sync_offset, packets, bitrate,
        // settled_bitrate, then the program's number and PCR PID.
        QTest::addColumn<QString>("expected");

        QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        const QString noGrid = QStringLiteral("no transport stream packet grid");
        QTest::newRow("random bytes") << noise << 1 << noGrid;
        QTest::newRow("empty") << QByteArray() << 1 << "is empty";

        // PAT and PMT of program 5, then 5038 packets at exactly 10 Mbit/s, PCRs every 265 packets.
        const QByteArray stream
            = tsbuild::join(tsbuild::packetize(0, tsbuild::patSection(1, { { 5, 0x1000 } }))
                  + tsbuild::packetize(0x1000, tsbuild::pmtSection(5, 0x100, { { 0x02, 0x101, {} } })))
            + pcrstream::build(pcrstream::regular(20, 265), 19 * 265 + 1);
        QByteArray junk(1000, char(0)); // stray sync bytes, two of them a packet apart
        junk[10] = char(0x47);
        junk[198] = char(0x47);
        // 192- and 204-byte packets hold a sync byte every 192 or 204 bytes: no 188-byte grid, said so.
        for (const int size : { 192, 204 }) {
            QByteArray padded;
            for (int at = 0; at + 188 <= stream.size(); at += 188)
                padded += stream.mid(at, 188) + QByteArray(size - 188, char(0xFF));
            QTest::newRow(qPrintable(QStringLiteral("%1-byte packets").arg(size))) << padded << 1 << noGrid;
        }
        QTest::newRow("three packets") << stream.left(3 * 188) << 0 << "0 3 -1 10000000 5 256";
        QTest::newRow("leading junk") << junk + stream << 0 << "1000 5038 10000000 10000000 5 256";
    }

    void badAndPartialFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush());
        const result r = run(nerioTs, { "analyze", "--json", path }, 10000);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.cpuMs < 1000, qPrintable(QString::number(r.cpuMs)));
        if (exitCode != 0) {
            QVERIFY(r.out.isEmpty());
            QVERIFY2(r.err.startsWith("nerio-ts analyze: ") && r.err.contains(expected.toUtf8()), r.err.constData());
            QCOMPARE(r.err.count('\n'), 1);
            return;
        }
        const QJsonObject ours = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(fields(ours, { "sync_offset", "packets", "bitrate", "settled_bitrate" }) + ' '
                + fields(ours["programs"][0], { "program_number", "pcr_pid" }),
            expected);
    }

    // Bad arguments end with one line naming the fault and status 2, before anything is sent.
    void argumentErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        const QString ts = dir.filePath(QStringLiteral("any.ts"));
        QFile file(ts);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(188, 0x47)) == 188);
        QTest::newRow("missing file") << QStringList { "stream", "/nonexistent.ts", "--dest", "127.0.0.1:5000" }
                                      << "nerio-ts stream: cannot open /nonexistent.ts";
        QTest::newRow("folder") << QStringList { "stream", dir.path(), "--dest", "127.0.0.1:5000" }
                                << "nerio-ts stream: " + dir.path() + " is a folder";
        QTest::newRow("port 0") << QStringList { "stream", ts, "--dest", "127.0.0.1:0" }
                                << "nerio-ts stream: --dest wants ADDR:PORT";
        QTest::newRow("gap of 21 digits") << QStringList { "stream", ts, "--dest", "127.0.0.1:5000", "--inject-gap",
            "123456789012345678901", "--inject-run", "1" }
                                          << "nerio-ts stream: bad value '123456789012345678901'";
        QTest::newRow("gap without run") << QStringList { "stream", ts, "--dest", "127.0.0.1:5000", "--inject-gap",
            "5" } << "nerio-ts stream: --inject-gap and --inject-run go together";
        QTest::newRow("analyze option") << QStringList { "analyze", "--frobnicate", ts }
                                        << "nerio-ts analyze: unknown option '--frobnicate'";
        QTest::newRow("analyze two files") << QStringList { "analyze", ts, ts } << "nerio-ts analyze: one FILE only";
        QTest::newRow("listen port") << QStringList { "receive", "--listen", "127.0.0.1:99999" }
                                     << "nerio-ts receive: --listen wants an IPv4 ADDR:PORT";
        // Numbers are checked alike everywhere: not a number, infinite, negative, past the type's range.
        for (const char *seconds : { "nan", "inf", "-1", "1e400" })
            QTest::newRow(qPrintable(QStringLiteral("seconds %1").arg(seconds)))
                << QStringList { "receive", "--listen", "127.0.0.1:5000", "--seconds", seconds }
                << QStringLiteral("nerio-ts receive: bad value '%1' for --seconds").arg(seconds);
        QTest::newRow("duration nan") << QStringList { "stream", ts, "--dest", "127.0.0.1:5000", "--duration", "nan" }
                                      << "nerio-ts stream: bad value 'nan' for --duration";
        QTest::newRow("bitrate 1e7") << QStringList { "stream", ts, "--dest", "127.0.0.1:5000", "--bitrate", "1e7" }
                                     << "nerio-ts stream: bad value '1e7' for --bitrate";
    }

    void argumentErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        const result r = run(nerioTs, args, 10000);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith(expected.toUtf8()), r.err.constData());
        QCOMPARE(r.err.count('\n'), 1);
    }
};

QTEST_GUILESS_MAIN(tst_nerio_ts)
#include "tst_nerio_ts.moc"
