// nerio-ts analyze against transport streams made by ffmpeg and GStreamer, compared with ffprobe's
// view of the same files, and its behaviour on files that are not, or only partly, transport streams.

#include "pcrstream.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
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

// Stream types the ffmpeg muxer writes for each codec (ISO/IEC 13818-1 Table 2-34).
int streamTypeOf(const QString &codec)
{
    static const QHash<QString, int> types { { "mpeg1video", 0x01 }, { "mpeg2video", 0x02 }, { "mp2", 0x03 },
        { "mp3", 0x03 }, { "aac", 0x0F }, { "h264", 0x1B }, { "hevc", 0x24 } };
    return types.value(codec, -1);
}

} // namespace

class tst_nerio_ts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesFfprobe_data();
    void matchesFfprobe();
    void badAndPartialFiles_data();
    void badAndPartialFiles();

private:
    QString nerioTs;
    QString gstLaunch;
    QString ffmpeg;
    QString ffprobe;
    QTemporaryDir dir;
};

void tst_nerio_ts::initTestCase()
{
    nerioTs = QDir(qEnvironmentVariable("NERIO_BIN_DIR")).filePath(QStringLiteral("nerio-ts"));
    QVERIFY2(QFile::exists(nerioTs), qPrintable(nerioTs));
    QVERIFY(dir.isValid());
    ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    gstLaunch = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
}

void tst_nerio_ts::matchesFfprobe_data()
{
    QTest::addColumn<QString>("muxer");
    QTest::addColumn<QStringList>("muxerArgs");
    QTest::addColumn<int>("tsid");
    QTest::addColumn<qint64>("muxrate");
    QTest::addColumn<QString>("network");

    // ffmpeg names the network after the provider.
    QTest::newRow("CBR, UTF-8 names, NIT")
        << "ffmpeg"
        << QStringList { "-c:v", "mpeg2video", "-b:v", "1M", "-c:a", "mp2", "-metadata", "service_name=Bêta HD",
               "-metadata", "service_provider=Réseau Sud", "-mpegts_flags", "+nit", "-mpegts_transport_stream_id",
               "0x1234", "-mpegts_service_id", "7", "-muxrate", "3000000" }
        << 0x1234 << qint64(3000000) << QStringLiteral("Réseau Sud");
    QTest::newRow("two programs, H.264 and AAC, VBR")
        << "ffmpeg"
        << QStringList { "-map", "0:v", "-map", "1:a", "-map", "0:v", "-map", "1:a", "-c:v:0", "libx264", "-c:v:1",
               "mpeg2video", "-c:a:0", "aac", "-c:a:1", "mp2", "-program", "program_num=10:title=One:st=0:st=1",
               "-program", "program_num=20:title=Two:st=2:st=3", "-mpegts_transport_stream_id", "77",
               "-mpegts_pmt_start_pid", "0x200", "-mpegts_start_pid", "0x300" }
        << 77 << qint64(0) << QString();
    // GStreamer's muxer writes no SDT, so no names and transport_stream_id 0.
    QTest::newRow("GStreamer CBR, H.264 and MP3")
        << "gstreamer"
        << QStringList { "mpegtsmux", "name=mux", "bitrate=2000000", "prog-map=x,sink_65=(int)5,sink_66=(int)5", "!",
               "filesink", "location=@OUT@", "videotestsrc", "num-buffers=75", "!",
               "video/x-raw,width=160,height=120,framerate=25/1", "!", "openh264enc", "!", "h264parse", "!",
               "mux.sink_65", "audiotestsrc", "num-buffers=150", "!", "audio/x-raw,rate=48000", "!", "lamemp3enc", "!",
               "mpegaudioparse", "!", "mux.sink_66" }
        << 0 << qint64(2000000) << QString();
}

void tst_nerio_ts::matchesFfprobe()
{
    QFETCH(QString, muxer);
    QFETCH(QStringList, muxerArgs);
    QFETCH(int, tsid);
    QFETCH(qint64, muxrate);
    QFETCH(QString, network);
    if (ffprobe.isEmpty() || (muxer == "ffmpeg" && ffmpeg.isEmpty()) || (muxer == "gstreamer" && gstLaunch.isEmpty()))
        QSKIP("the muxer or ffprobe is missing (scripts/setup installs them)");

    const QString path = dir.filePath(muxer + QStringLiteral(".ts"));
    QStringList args = muxerArgs;
    if (muxer == "ffmpeg") {
        args = QStringList { "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
            "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "3" }
            + args + QStringList { "-f", "mpegts", path };
    } else {
        args.replaceInStrings(QStringLiteral("@OUT@"), path).prepend(QStringLiteral("-q"));
    }
    const result made = run(muxer == "ffmpeg" ? ffmpeg : gstLaunch, args);
    if (made.exitCode != 0 && muxer == "gstreamer")
        QSKIP("gst-launch-1.0 could not build the pipeline (an element is missing)");
    QVERIFY2(made.exitCode == 0, made.err.constData());

    const result probe = run(ffprobe, { "-v", "error", "-show_programs", "-of", "json", path });
    QCOMPARE(probe.exitCode, 0);
    const QJsonArray probed = QJsonDocument::fromJson(probe.out).object().value("programs").toArray();
    QVERIFY(!probed.isEmpty());
    const result analysis = run(nerioTs, { "analyze", "--json", path });
    QCOMPARE(analysis.exitCode, 0);
    const QJsonObject ours = QJsonDocument::fromJson(analysis.out).object();
    const qint64 size = QFileInfo(path).size();
    QCOMPARE(fields(ours, { "file_size", "packets", "sync_offset", "transport_stream_id", "network_name" }),
        QStringLiteral("%1 %2 0 %3 %4").arg(size).arg(size / 188).arg(tsid).arg(network));

    // One line a program on each side: number, PMT and PCR PIDs, provider, service, scrambling,
    // then PID and stream_type a stream.
    QStringList mine;
    QStringList theirs;
    QSet<int> signalled { 0x0000 };
    for (const QJsonValue v : ours.value("programs").toArray()) {
        mine.append(fields(v, { "program_number", "pmt_pid", "pcr_pid", "provider", "service", "scrambled" }));
        signalled.insert(v["pmt_pid"].toInt());
        for (const QJsonValue es : v["streams"].toArray()) {
            mine.last() += ' ' + fields(es, { "pid", "stream_type" });
            signalled.insert(es["pid"].toInt());
        }
    }
    for (const QJsonValue v : probed) {
        theirs.append(fields(v, { "program_num", "pmt_pid", "pcr_pid" }) + ' '
            + fields(v["tags"], { "service_provider", "service_name" }) + " false");
        for (const QJsonValue es : v["streams"].toArray())
            theirs.last() += QStringLiteral(" %1 %2")
                                 .arg(es["id"].toString().toInt(nullptr, 16))
                                 .arg(streamTypeOf(es["codec_name"].toString()));
    }
    QCOMPARE(mine, theirs);

    // Every PID the scan met is a signalled one, PSI or stuffing, and every signalled one is met.
    QSet<int> seen;
    for (const QJsonValue v : ours.value("pids").toArray())
        seen.insert(v["pid"].toInt());
    QVERIFY2((signalled - seen).isEmpty(), "a signalled PID was not counted");
    QVERIFY2((seen - signalled - QSet<int> { 0x0010, 0x0011, 0x1FFF }).isEmpty(), "an unexpected PID was counted");

    const qint64 bitrate = ours.value("bitrate").toVariant().toLongLong();
    QVERIFY2(muxrate ? qAbs(bitrate - muxrate) * 1000 <= muxrate : bitrate > 0, qPrintable(QString::number(bitrate)));
    QCOMPARE(ours.value("settled_bitrate").toVariant().toLongLong(), bitrate);
}

void tst_nerio_ts::badAndPartialFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // null: the file is not created
    QTest::addColumn<QStringList>("extraArgs");
    QTest::addColumn<int>("exitCode");
    // On failure a text of the one-line error; on success sync_offset, packets, bitrate,
    // settled_bitrate, then the program's number and PCR PID.
    QTest::addColumn<QString>("expected");

    QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    const QString noGrid = QStringLiteral("no transport stream packet grid");
    QTest::newRow("random bytes") << noise << QStringList() << 1 << noGrid;
    QTest::newRow("empty") << QByteArray("") << QStringList() << 1 << "is empty";
    QTest::newRow("missing") << QByteArray() << QStringList() << 1 << "cannot open";
    QTest::newRow("one packet") << char(0x47) + QByteArray(187, char(0xFF)) << QStringList() << 1 << noGrid;
    QTest::newRow("unknown option") << QByteArray("x") << QStringList { "--frob" } << 1 << "unknown option";

    // PAT and PMT of program 5, then 5038 packets at exactly 10 Mbit/s, PCRs every 265 packets.
    const QByteArray stream = tsbuild::join(tsbuild::packetize(0, tsbuild::patSection(1, { { 5, 0x1000 } }))
                                  + tsbuild::packetize(0x1000, tsbuild::pmtSection(5, 0x100, { { 0x02, 0x101, {} } })))
        + pcrstream::build(pcrstream::regular(20, 265), 19 * 265 + 1);
    QByteArray junk(1000, char(0)); // stray sync bytes, two of them a packet apart
    junk[10] = char(0x47);
    junk[198] = char(0x47);
    QTest::newRow("three packets") << stream.left(3 * 188) << QStringList() << 0 << "0 3 -1 10000000 5 256";
    QTest::newRow("truncated mid-packet")
        << stream.left(2600 * 188 + 100) << QStringList() << 0 << "0 2600 10000000 10000000 5 256";
    QTest::newRow("leading junk") << junk + stream << QStringList() << 0 << "1000 5038 10000000 10000000 5 256";
}

void tst_nerio_ts::badAndPartialFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, extraArgs);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    const QString path = dir.filePath(QStringLiteral("bad.ts"));
    QFile::remove(path);
    QFile f(path);
    if (!content.isNull())
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush());
    const result r = run(nerioTs, QStringList { "analyze", "--json" } + extraArgs + QStringList { path }, 10000);
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

QTEST_GUILESS_MAIN(tst_nerio_ts)
#include "tst_nerio_ts.moc"
