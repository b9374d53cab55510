// nerio-ts analyze against transport streams made by ffmpeg and GStreamer, compared with ffprobe's
// view of the same files, and its behaviour on files that are not transport streams.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
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
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0;
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
    return 0; // elsewhere only the wall-clock bound applies
#endif
}

result run(const QString &program, const QStringList &args, int timeoutMs = 60000)
{
    result r;
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    const qint64 cpuBefore = childrenCpuMs();
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return r;
    }
    r.elapsedMs = clock.elapsed();
    r.cpuMs = childrenCpuMs() - cpuBefore;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
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
    void unusableInput_data();
    void unusableInput();
    void partialFiles();

private:
    QString generate(const QString &name, const QStringList &ffmpegArgs);
    QString generateGstreamer(const QString &name, QStringList pipeline);
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

QString tst_nerio_ts::generate(const QString &name, const QStringList &ffmpegArgs)
{
    const QString path = dir.filePath(name);
    const QStringList args = QStringList { "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
        "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "3" }
        + ffmpegArgs + QStringList { "-f", "mpegts", path };
    const result r = run(ffmpeg, args);
    if (r.exitCode != 0) {
        qWarning() << "ffmpeg failed:" << r.err;
        return QString();
    }
    return path;
}

QString tst_nerio_ts::generateGstreamer(const QString &name, QStringList pipeline)
{
    const QString path = dir.filePath(name);
    pipeline.replaceInStrings(QStringLiteral("@OUT@"), path);
    const result r = run(gstLaunch, QStringList { "-q" } + pipeline);
    if (r.exitCode != 0 || !QFile::exists(path)) {
        qWarning() << "gst-launch-1.0 failed:" << r.err;
        return QString();
    }
    return path;
}

void tst_nerio_ts::matchesFfprobe_data()
{
    QTest::addColumn<QString>("muxer");
    QTest::addColumn<QStringList>("muxerArgs");
    QTest::addColumn<int>("tsid");
    QTest::addColumn<qint64>("muxrate");
    QTest::addColumn<QString>("network");

    QTest::newRow("CBR, UTF-8 service name")
        << "ffmpeg"
        << QStringList { "-c:v", "mpeg2video", "-b:v", "1M", "-c:a", "mp2", "-metadata", "service_name=Bêta HD",
               "-metadata", "service_provider=Nerio Test", "-mpegts_transport_stream_id", "0x1234",
               "-mpegts_service_id", "7", "-muxrate", "3000000" }
        << 0x1234 << qint64(3000000) << QString();
    QTest::newRow("CBR 8 Mbit/s with NIT")
        << "ffmpeg"
        << QStringList { "-c:v", "mpeg2video", "-b:v", "2M", "-c:a", "mp2", "-metadata", "service_provider=Réseau Sud",
               "-mpegts_flags", "+nit", "-muxrate", "8000000", "-mpegts_original_network_id", "0x20" }
        << 1 << qint64(8000000) << QStringLiteral("Réseau Sud");
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
    QTest::newRow("GStreamer VBR, H.264 and AAC")
        << "gstreamer"
        << QStringList { "mpegtsmux", "name=mux", "!", "filesink", "location=@OUT@", "videotestsrc", "num-buffers=75",
               "!", "video/x-raw,width=160,height=120,framerate=25/1", "!", "openh264enc", "!", "h264parse", "!",
               "mux.", "audiotestsrc", "num-buffers=150", "!", "audio/x-raw,rate=48000", "!", "voaacenc", "!",
               "aacparse", "!", "mux." }
        << 0 << qint64(0) << QString();
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

    const QString name = QString::fromLatin1(QTest::currentDataTag())
                             .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"))
        + QStringLiteral(".ts");
    const QString path = muxer == "ffmpeg" ? generate(name, muxerArgs) : generateGstreamer(name, muxerArgs);
    if (path.isEmpty() && muxer == "gstreamer")
        QSKIP("gst-launch-1.0 could not build the pipeline (an element is missing)");
    QVERIFY(!path.isEmpty());

    const result probe = run(ffprobe, { "-v", "error", "-show_programs", "-of", "json", path });
    QCOMPARE(probe.exitCode, 0);
    const QJsonArray probed = QJsonDocument::fromJson(probe.out).object().value("programs").toArray();
    QVERIFY(!probed.isEmpty());

    const result analysis = run(nerioTs, { "analyze", "--json", path });
    QCOMPARE(analysis.exitCode, 0);
    const QJsonObject ours = QJsonDocument::fromJson(analysis.out).object();
    QCOMPARE(ours.value("file_size").toVariant().toLongLong(), QFileInfo(path).size());
    QCOMPARE(ours.value("sync_offset").toInt(), 0);
    QCOMPARE(ours.value("transport_stream_id").toInt(), tsid);
    QCOMPARE(ours.value("network_name").toString(), network);

    const QJsonArray programs = ours.value("programs").toArray();
    QCOMPARE(programs.size(), probed.size());
    QSet<int> pidsExpected { 0x0000 };
    for (int i = 0; i < programs.size(); ++i) {
        const QJsonObject mine = programs.at(i).toObject();
        const QJsonObject theirs = probed.at(i).toObject();
        QCOMPARE(mine.value("program_number").toInt(), theirs.value("program_num").toInt());
        QCOMPARE(mine.value("pmt_pid").toInt(), theirs.value("pmt_pid").toInt());
        QCOMPARE(mine.value("pcr_pid").toInt(), theirs.value("pcr_pid").toInt());
        QCOMPARE(mine.value("service").toString(), theirs.value("tags").toObject().value("service_name").toString());
        QCOMPARE(
            mine.value("provider").toString(), theirs.value("tags").toObject().value("service_provider").toString());
        QCOMPARE(mine.value("scrambled").toBool(), false);
        pidsExpected.insert(mine.value("pmt_pid").toInt());

        const QJsonArray streams = mine.value("streams").toArray();
        const QJsonArray theirStreams = theirs.value("streams").toArray();
        QCOMPARE(streams.size(), theirStreams.size());
        for (int s = 0; s < streams.size(); ++s) {
            const QJsonObject es = streams.at(s).toObject();
            const QJsonObject theirEs = theirStreams.at(s).toObject();
            bool ok = false;
            QCOMPARE(es.value("pid").toInt(), theirEs.value("id").toString().toInt(&ok, 16));
            QVERIFY(ok);
            QCOMPARE(es.value("stream_type").toInt(), streamTypeOf(theirEs.value("codec_name").toString()));
            pidsExpected.insert(es.value("pid").toInt());
        }
    }

    // Every PID the scan met is one of the signalled ones, PSI or stuffing, and every signalled one is met.
    QSet<int> pidsSeen;
    for (const QJsonValue v : ours.value("pids").toArray())
        pidsSeen.insert(v.toObject().value("pid").toInt());
    QVERIFY2((pidsExpected - pidsSeen).isEmpty(), "a signalled PID was not counted");
    const QSet<int> psiAndStuffing { 0x0010, 0x0011, 0x1FFF };
    QVERIFY2((pidsSeen - pidsExpected - psiAndStuffing).isEmpty(), "an unexpected PID was counted");

    const qint64 bitrate = ours.value("bitrate").toVariant().toLongLong();
    if (muxrate > 0) {
        QVERIFY2(qAbs(bitrate - muxrate) * 1000 <= muxrate, qPrintable(QString::number(bitrate)));
        QCOMPARE(ours.value("settled_bitrate").toVariant().toLongLong(), bitrate);
    } else {
        QVERIFY(bitrate > 0);
    }
    QCOMPARE(ours.value("packets").toVariant().toLongLong(), QFileInfo(path).size() / 188);
}

void tst_nerio_ts::unusableInput_data()
{
    QTest::addColumn<QByteArray>("content"); // null: the file is not created
    QTest::addColumn<QStringList>("extraArgs");
    QTest::addColumn<QString>("error");

    QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator rng(7);
    rng.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QTest::newRow("random bytes") << noise << QStringList() << "no transport stream packet grid";
    QTest::newRow("empty") << QByteArray("") << QStringList() << "is empty";
    QTest::newRow("missing") << QByteArray() << QStringList() << "cannot open";
    QTest::newRow("one packet") << QByteArray(1, char(0x47)) + QByteArray(187, char(0xFF)) << QStringList()
                                << "no transport stream packet grid";
    QTest::newRow("unknown option") << QByteArray("x") << QStringList { "--frob" } << "unknown option";
}

void tst_nerio_ts::unusableInput()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, extraArgs);
    QFETCH(QString, error);
    const QString path = dir.filePath(QStringLiteral("bad.ts"));
    QFile::remove(path);
    if (!content.isNull()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(content), qint64(content.size()));
    }
    const result r = run(nerioTs, QStringList { "analyze" } + extraArgs + QStringList { path }, 10000);
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.startsWith("nerio-ts analyze: ") && r.err.contains(error.toUtf8()), r.err.constData());
    QCOMPARE(r.err.count('\n'), 1);
    // Under a second of work; the wall-clock bound only catches a hang on a loaded machine.
    QVERIFY2(r.cpuMs < 1000 && r.elapsedMs < 5000,
        qPrintable(QStringLiteral("%1 ms CPU, %2 ms").arg(r.cpuMs).arg(r.elapsedMs)));
}

void tst_nerio_ts::partialFiles()
{
    if (ffmpeg.isEmpty())
        QSKIP("ffmpeg is needed to make the stream (scripts/setup installs it)");
    const QString path = generate(QStringLiteral("whole.ts"),
        { "-c:v", "mpeg2video", "-c:a", "mp2", "-muxrate", "2000000", "-mpegts_service_id", "5" });
    QVERIFY(!path.isEmpty());
    QFile whole(path);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();

    // Stray sync bytes, two of them a packet apart, before the first packet.
    QByteArray junk(1000, char(0));
    junk[10] = char(0x47);
    junk[198] = char(0x47);

    struct cut {
        const char *name;
        QByteArray content;
        qint64 offset;
        qint64 packets;
        qint64 bitrate; // -1: none measurable; 0: close to the mux rate
    };
    const QList<cut> cuts = {
        { "three packets", bytes.left(3 * 188), 0, 3, -1 },
        { "truncated mid-packet", bytes.left(bytes.size() / 2 + 100), 0, (bytes.size() / 2 + 100) / 188, 0 },
        { "leading junk", junk + bytes.left(500000), 1000, 500000 / 188, 0 },
    };
    for (const cut &c : cuts) {
        const QString part = dir.filePath(QStringLiteral("part.ts"));
        QFile f(part);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.content);
        f.close();
        const result r = run(nerioTs, { "analyze", "--json", part }, 10000);
        QVERIFY2(r.exitCode == 0, c.name);
        QVERIFY2(r.cpuMs < 1000 && r.elapsedMs < 5000, c.name);
        const QJsonObject ours = QJsonDocument::fromJson(r.out).object();
        QVERIFY2(ours.value("packets").toVariant().toLongLong() == c.packets, c.name);
        QVERIFY2(ours.value("sync_offset").toInt() == c.offset, c.name);
        const qint64 bitrate = ours.value("bitrate").toVariant().toLongLong();
        if (c.bitrate < 0) {
            QVERIFY2(bitrate == -1, c.name);
            QVERIFY2(ours.value("settled_bitrate").toInt() == 10000000, c.name);
        } else {
            QVERIFY2(qAbs(bitrate - 2000000) * 1000 <= 2000000, c.name);
        }
        const QJsonArray programs = ours.value("programs").toArray();
        QVERIFY2(programs.size() == 1 && programs.at(0).toObject().value("program_number").toInt() == 5, c.name);
    }
}

QTEST_GUILESS_MAIN(tst_nerio_ts)
#include "tst_nerio_ts.moc"
