// nerio-ts stream as a user runs it: argument errors, a run to the end of the file captured on loopback
// at the bitrate measured from the file, timestamps following their program's PCR PID, and Ctrl-C.

#include "enginefixture.h"
#include "loopbackcapture.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstring>

class tst_nerio_ts_stream : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString program;
    QString file;
    QByteArray fileBytes;

    struct Result {
        int code;
        QByteArray err;
    };

    Result runTool(const QStringList &args, int timeoutMs = 10000)
    {
        QProcess p;
        p.start(program, QStringList { "stream" } + args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return { -1, p.readAllStandardError() };
        }
        return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError() };
    }

private slots:
    void initTestCase()
    {
        program = qEnvironmentVariable("NERIO_BIN_DIR") + "/nerio-ts";
        if (!QFileInfo::exists(program))
            QSKIP("nerio-ts not built");
        // 1000 packets on PID 0x100 with a PCR every 100 packets at 2 Mbit/s: 100 packets = 150 400 bits =
        // 75.2 ms = 2 030 400 ticks.
        for (int i = 0; i < 1000; ++i) {
            const quint64 ticks = quint64(i / 100) * 2030400;
            fileBytes += i % 100 == 0 ? fixture::pcrPacket(0x100, quint8(i), ticks)
                                      : fixture::packet(0x100, quint8(i), quint32(i));
        }
        file = fixture::writeFile(dir, "cli.ts", fileBytes);
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("message");
        const QString dest = "127.0.0.1:5000";
        const QString garbage = fixture::writeFile(dir, "garbage.ts", QByteArray(5000, 'x'));
        QTest::newRow("no file") << QStringList { "--dest", dest } << QByteArray("missing FILE");
        QTest::newRow("no dest") << QStringList { "x.ts" } << QByteArray("missing --dest");
        QTest::newRow("bad dest") << QStringList { "x.ts", "--dest", "127.0.0.1" } << QByteArray("--dest wants");
        QTest::newRow("port 0") << QStringList { "x.ts", "--dest", "127.0.0.1:0" } << QByteArray("--dest wants");
        QTest::newRow("low bitrate") << QStringList { "x.ts", "--dest", dest, "--bitrate", "5" }
                                     << QByteArray("bad value '5' for --bitrate");
        QTest::newRow("unknown") << QStringList { "x.ts", "--fast" } << QByteArray("unknown option '--fast'");
        QTest::newRow("gap alone") << QStringList { "x.ts", "--dest", dest, "--inject-gap", "3" }
                                   << QByteArray("go together");
        QTest::newRow("missing file") << QStringList { "/nonexistent/x.ts", "--dest", dest }
                                      << QByteArray("cannot open /nonexistent/x.ts");
        QTest::newRow("folder") << QStringList { dir.path(), "--dest", dest } << QByteArray("is a folder");
        QTest::newRow("garbage") << QStringList { garbage, "--dest", dest }
                                 << QByteArray("no transport stream packet grid");
    }

    void badArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, message);
        const Result r = runTool(args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QCOMPARE(r.err.count('\n'), 1);
    }

    void streamsTheFileToItsEndAtTheMeasuredRate()
    {
        LoopbackCapture receiver;
        QVERIFY(receiver.open());
        const Result r = runTool({ file, "--dest", receiver.dest() });
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains("at 2000000 bit/s"), r.err.constData());
        QVERIFY2(r.err.contains("end of file:"), r.err.constData());
        // The file's 142 whole datagrams arrive in order, byte for byte.
        QByteArray got;
        for (const QByteArray &d : receiver.read(0, 200)) {
            QCOMPARE(d.size(), 1316);
            got += d;
        }
        QVERIFY(got.size() >= 142 * 1316);
        QCOMPARE(got.left(142 * 1316), fileBytes.left(142 * 1316));
    }

    void timestampsFollowTheirProgramsPcrAndCtrlCStops()
    {
        // PAT (program 1 -> PMT 0x1000) and PMT (PCR on 0x100, MPEG audio on 0x101), CRCs computed apart.
        auto section = [](quint16 pid, const char *hex) {
            QByteArray p(188, char(0xFF));
            p.replace(0, 5, QByteArray::fromHex("4740001000"));
            p[1] = char(0x40 | (pid >> 8));
            p[2] = char(pid & 0xFF);
            p.replace(5, int(strlen(hex) / 2), QByteArray::fromHex(hex));
            return p;
        };
        QByteArray bytes = section(0x0000, "00B00D0001C100000001F0002ab104b2")
            + section(0x1000, "02B0120001C10000E100F00004E101F0002dbdc3cf") + fixture::pcrPacket(0x100, 0, 300000)
            + fixture::pesPacket(0x101, 0, 90000, 86400);
        for (int i = 0; i < 3; ++i)
            bytes += fixture::packet(0x100, quint8(1 + i));
        LoopbackCapture receiver;
        QVERIFY(receiver.open());
        QProcess p;
        p.start(program,
            { "stream", fixture::writeFile(dir, "pes.ts", bytes), "--dest", receiver.dest(), "--loop", "--bitrate",
                "1000000", "--pcr" });
        QVERIFY(p.waitForStarted());
        const QList<QByteArray> got = receiver.read(5000, 2);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(2000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains("stopped:"), err.constData());
        QCOMPARE(got.size(), 2);
        // Second pass: the PCR is 1000 * 300 + 7 packets at 1 Mbit/s (10 528 bits = 284 256 ticks); the audio
        // PES follows its program's PCR PID: +284 256 / 300 = +947 ticks of 90 kHz.
        const QByteArray second = got[1];
        QCOMPARE(fixture::pcrOf(second.mid(2 * 188, 188)), quint64(300000 + 284256));
        QCOMPARE(fixture::timestampOf(second.mid(3 * 188, 188), 13), quint64(90947));
        QCOMPARE(fixture::timestampOf(second.mid(3 * 188, 188), 18), quint64(87347));
        QCOMPARE(quint8(second[3 * 188 + 13]) >> 4, 3); // prefix nibbles kept
        QCOMPARE(quint8(second[3 * 188 + 18]) >> 4, 1);
    }
};

QTEST_GUILESS_MAIN(tst_nerio_ts_stream)
#include "tst_nerio_ts_stream.moc"
