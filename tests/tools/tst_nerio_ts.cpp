// nerio-ts analyze against transport streams made by ffmpeg, compared with ffprobe's view of the same files,
// and its behaviour on files that are not, or only partly, transport streams.

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
            "123456789012345678901", "--inject-run", "1" } << "nerio-ts stream: bad value '123456789012345678901'";
        QTest::newRow("gap without run") << QStringList { "stream", ts, "--dest", "127.0.0.1:5000", "--inject-gap", "5" }
                                         << "nerio-ts stream: --inject-gap and --inject-run go together";
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
