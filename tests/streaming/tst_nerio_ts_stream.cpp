// nerio-ts stream as a user runs it: argument errors, a run to the end of the file captured on loopback,
// the bitrate measured from the file, and Ctrl-C.

#include "enginefixture.h"

#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

#include <QElapsedTimer>

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

    // 1000 packets on PID 0x100 with a PCR every 100 packets at 2 Mbit/s: 100 packets = 150 400 bits =
    // 75.2 ms = 2 030 400 ticks.
    void makeFile()
    {
        for (int i = 0; i < 1000; ++i) {
            if (i % 100 == 0) {
                const quint64 ticks = quint64(i / 100) * 2030400;
                fileBytes += fixture::pcrPacket(0x100, quint8(i), ticks / 300, quint16(ticks % 300));
            } else {
                fileBytes += fixture::packet(0x100, quint8(i), quint32(i));
            }
        }
        file = fixture::writeFile(dir, "cli.ts", fileBytes);
    }

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
        makeFile();
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no file") << QStringList { "--dest", "127.0.0.1:5000" } << QByteArray("missing FILE");
        QTest::newRow("no dest") << QStringList { "x.ts" } << QByteArray("missing --dest");
        QTest::newRow("bad dest") << QStringList { "x.ts", "--dest", "127.0.0.1" } << QByteArray("--dest wants");
        QTest::newRow("port 0") << QStringList { "x.ts", "--dest", "127.0.0.1:0" } << QByteArray("--dest wants");
        QTest::newRow("low bitrate") << QStringList { "x.ts", "--dest", "127.0.0.1:5000", "--bitrate", "5" }
                                     << QByteArray("bad value '5' for --bitrate");
        QTest::newRow("unknown") << QStringList { "x.ts", "--fast" } << QByteArray("unknown option '--fast'");
        QTest::newRow("gap alone") << QStringList { "x.ts", "--dest", "127.0.0.1:5000", "--inject-gap", "3" }
                                   << QByteArray("go together");
        QTest::newRow("missing file") << QStringList { "/nonexistent/x.ts", "--dest", "127.0.0.1:5000" }
                                      << QByteArray("cannot open /nonexistent/x.ts");
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

    void folderAndGarbageAreRefused()
    {
        QCOMPARE(runTool({ dir.path(), "--dest", "127.0.0.1:5000" }).code, 2);
        const QString garbage = fixture::writeFile(dir, "garbage.ts", QByteArray(5000, 'x'));
        const Result r = runTool({ garbage, "--dest", "127.0.0.1:5000" });
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains("no transport stream packet grid"));
    }

    void streamsTheFileToItsEndAtTheMeasuredRate()
    {
        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress::LocalHost, 0));
        receiver.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 << 20);
        const Result r = runTool({ file, "--dest", QString("127.0.0.1:%1").arg(receiver.localPort()) });
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains("at 2000000 bit/s"), r.err.constData());
        QVERIFY2(r.err.contains("end of file:"), r.err.constData());
        // The file's 142 whole datagrams arrive in order, byte for byte.
        QByteArray got;
        while (receiver.hasPendingDatagrams() && got.size() < 200 * 1316) {
            QByteArray d(int(receiver.pendingDatagramSize()), Qt::Uninitialized);
            receiver.readDatagram(d.data(), d.size());
            QCOMPARE(d.size(), 1316);
            got += d;
        }
        QVERIFY(got.size() >= 142 * 1316);
        QCOMPARE(got.left(142 * 1316), fileBytes.left(142 * 1316));
    }

    void timestampsFollowTheirProgramsPcr()
    {
        // PAT (program 1 -> PMT 0x1000) and PMT (PCR on 0x100, MPEG audio on 0x101), CRCs computed apart.
        auto section = [](quint16 pid, const char *hex) {
            QByteArray p(188, char(0xFF));
            p[0] = 0x47;
            p[1] = char(0x40 | (pid >> 8));
            p[2] = char(pid & 0xFF);
            p[3] = 0x10;
            p[4] = 0;
            p.replace(5, int(strlen(hex) / 2), QByteArray::fromHex(hex));
            return p;
        };
        QByteArray bytes = section(0x0000, "00B00D0001C100000001F0002ab104b2")
            + section(0x1000, "02B0120001C10000E100F00004E101F0002dbdc3cf") + fixture::pcrPacket(0x100, 0, 1000, 0)
            + fixture::pesPacket(0x101, 0, 90000, 86400);
        for (int i = 0; i < 3; ++i)
            bytes += fixture::packet(0x100, quint8(1 + i));
        const QString path = fixture::writeFile(dir, "pes.ts", bytes);
        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress::LocalHost, 0));
        QProcess p;
        p.start(program,
            { "stream", path, "--dest", QString("127.0.0.1:%1").arg(receiver.localPort()), "--loop", "--bitrate",
                "1000000", "--pcr" });
        QVERIFY(p.waitForStarted());
        QList<QByteArray> got;
        QElapsedTimer t;
        t.start();
        while (got.size() < 2 && t.elapsed() < 5000) {
            receiver.waitForReadyRead(100);
            while (receiver.hasPendingDatagrams()) {
                QByteArray d(int(receiver.pendingDatagramSize()), Qt::Uninitialized);
                receiver.readDatagram(d.data(), d.size());
                got << d;
            }
        }
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(2000));
        QVERIFY(got.size() >= 2);
        // Second pass: the PCR is 1000 * 300 + 7 packets at 1 Mbit/s (10 528 bits = 284 256 ticks); the audio
        // PES follows its program's PCR PID: +284 256 / 300 = +947 ticks of 90 kHz.
        const QByteArray second = got[1];
        QCOMPARE(fixture::pcrOf(second.mid(2 * 188, 188)), quint64(300000 + 284256));
        QCOMPARE(fixture::timestampOf(second.mid(3 * 188, 188), 13), quint64(90947));
        QCOMPARE(fixture::timestampOf(second.mid(3 * 188, 188), 18), quint64(87347));
    }

    void ctrlCStopsCleanly()
    {
        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress::LocalHost, 0));
        QProcess p;
        p.start(program,
            { "stream", file, "--dest", QString("127.0.0.1:%1").arg(receiver.localPort()), "--loop", "--bitrate",
                "1000000", "--rtp" });
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(receiver.hasPendingDatagrams(), 5000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(2000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains("stopped:"), err.constData());
    }
};

QTEST_GUILESS_MAIN(tst_nerio_ts_stream)
#include "tst_nerio_ts_stream.moc"
