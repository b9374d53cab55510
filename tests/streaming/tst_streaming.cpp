// Whole runs on loopback. Through nerio-ts stream, as a user runs it: an RTP loop whose timestamps follow their
// program's PCR PID, and Ctrl-C; a file whose first packet is far in, sent once exactly; every datagram refused.
// Through the library: a frozen GUI thread, pause and resume (the Streaming page test stops runs from every
// state). The stream monitor's verdict, nerio-ts receive --strict judging a stream faster than its PCRs, and its
// HTML report of a clean and of a damaged stream, read as XML and drawn by a browser. The Streaming page's ring.

#include "enginefixture.h"
#include "loopbackcapture.h"
#include "pcrstream.h"
#include "streamhealth.h"
#include "streaming.h"
#include "streamingtools.h"
#include "tsbuilder.h"
#include "tsloop.h"
#include "tsmonitor.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>
#include <memory>

#include <unistd.h>

namespace
{
quint32 rtpTimestamp(const QByteArray &d)
{
    return quint32(quint8(d[4])) << 24 | quint32(quint8(d[5])) << 16 | quint32(quint8(d[6])) << 8 | quint8(d[7]);
}

int rtpSequence(const QByteArray &d)
{
    return quint8(d[2]) << 8 | quint8(d[3]);
}

QString nerioTs()
{
    return qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-ts");
}
} // namespace

class tst_streaming : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    LoopbackCapture receiver;
    streamingtools tools;

    struct measured {
        int exitCode = -1;
        QByteArray out;
    };
    // nerio-ts receive on a free loopback port while nerio-ts stream sends `path` there until it has finished.
    measured measure(const QString &path, const QStringList &streamOptions, const QStringList &receiveOptions)
    {
        QUdpSocket free;
        free.bind(QHostAddress::LocalHost, 0);
        const QString where = QStringLiteral("127.0.0.1:%1").arg(free.localPort());
        free.close();
        QProcess monitor;
        monitor.start(nerioTs(), QStringList { "receive", "--listen", where } + receiveOptions);
        monitor.setReadChannel(QProcess::StandardError);
        measured m;
        if (!monitor.waitForReadyRead(5000)) // "listening on"
            return m;
        QProcess sender;
        sender.start(nerioTs(), QStringList { "stream", path, "--dest", where } + streamOptions);
        monitor.waitForFinished(10000);
        sender.kill();
        sender.waitForFinished(2000);
        m.exitCode = monitor.exitCode();
        m.out = monitor.readAllStandardOutput();
        return m;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(receiver.open());
    }

    void toolRtpLoopFollowsTheProgramsPcrAndCtrlCStops()
    {
        // PAT (program 1 -> PMT 0x1000) and PMT (PCR on 0x100, MPEG audio on 0x101); then a PCR, an audio PES,
        // two packets and a second PES start: seven packets, one datagram a pass.
        QByteArray bytes = tsbuild::join(tsbuild::packetize(0, tsbuild::patSection(1, { { 1, 0x1000 } }))
                               + tsbuild::packetize(0x1000, tsbuild::pmtSection(1, 0x100, { { 0x04, 0x101, {} } })))
            + tsbuild::pcrPacket(0x100, 300000) + fixture::pesPacket(0x101, 0, 90000, 86400);
        // The last packet starts a PES whose header sits behind a 165-byte adaptation field: its PTS (bytes
        // 179..183) fits and moves with the clock, its DTS would end past the packet and is left as it was.
        const QByteArray pes = fixture::pesPacket(0x101, 1, 9000, 6000);
        QByteArray edge = pes.left(4) + QByteArray::fromHex("a500") + QByteArray(164, char(0xFF)) + pes.mid(4, 18);
        edge[3] = char(0x31);
        bytes += fixture::packet(0x100, 1) + fixture::packet(0x100, 2) + edge;
        QProcess p;
        p.start(nerioTs(),
            { "stream", fixture::writeFile(dir, "pes.ts", bytes), "--dest",
                QStringLiteral("127.0.0.1:%1").arg(receiver.port()), "--loop", "--bitrate", "1000000", "--pcr",
                "--rtp" });
        QVERIFY(p.waitForStarted());
        const QList<QByteArray> got = receiver.read(800);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(2000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        receiver.read(30);
        // 800 ms at 1 Mbit/s is 76 datagrams of 10 528 bits, less the tool's start.
        QVERIFY2(got.size() > 40 && got.size() <= 78, qPrintable(QString::number(got.size())));
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].size(), 12 + 7 * 188);
            QCOMPARE(got[i].left(2).toHex(), QByteArray("80a1"));
            QCOMPARE(rtpSequence(got[i]), i);
            QCOMPARE(got[i].mid(12, 2 * 188), bytes.left(2 * 188));
        }
        // Datagram k leaves at k * 10.528 ms: its 90 kHz timestamp is k * 947.52 plus the sender's lateness,
        // which stays under a machine stall (tens of ms) however the scheduler behaves.
        const double expected = (got.size() - 1) * 947.52;
        const quint32 ts = rtpTimestamp(got.last());
        QVERIFY2(ts >= expected - 1 && ts < expected + 90 * 150, qPrintable(QString("%1 vs %2").arg(ts).arg(expected)));
        // Second pass: the PCR is 1000 * 300 + 7 packets at 1 Mbit/s (10 528 bits = 284 256 ticks); the audio
        // PES follows its program's PCR PID: +284 256 / 300 = +947 ticks of 90 kHz.
        const QByteArray second = got[1].mid(12);
        QCOMPARE(fixture::pcrOf(second.mid(2 * 188, 188)), quint64(300000 + 284256));
        QCOMPARE(fixture::timestampOf(second.mid(3 * 188, 188), 13), quint64(90947));
        QCOMPARE(fixture::timestampOf(second.mid(3 * 188, 188), 18), quint64(87347));
        QCOMPARE(quint8(second[3 * 188 + 13]) >> 4, 3); // prefix nibbles kept
        QCOMPARE(quint8(second[3 * 188 + 18]) >> 4, 1);
        QCOMPARE(fixture::timestampOf(second.mid(6 * 188, 188), 179), quint64(9947));
        QCOMPARE(second.mid(6 * 188 + 184, 4), edge.mid(184));
    }

    void toolSendsAFileOnceFromItsFirstPacket()
    {
        // Ten packets behind 40 000 bytes that are not packets: sent once, as two datagrams of 7 and 3 packets,
        // nothing from the start of the file after them, and counted so.
        const QByteArray packets = fixture::counterRun(0x100, 10);
        const QString path = fixture::writeFile(dir, "late.ts", QByteArray(40000, char(0xB8)) + packets);
        QProcess p;
        p.start(nerioTs(),
            { "stream", path, "--dest", QStringLiteral("127.0.0.1:%1").arg(receiver.port()), "--bitrate", "1000000" });
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> got = receiver.read(300);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0] + got[1], packets);
        const QByteArray summary = p.readAllStandardError();
        QVERIFY2(summary.contains("end of file: 10 packets, 2 datagrams,"), summary.constData());
    }

    void toolFailsWhenEveryDatagramIsRefused()
    {
        // In a network namespace whose loopback is down, every send fails: the run says so and exits 1.
        if (geteuid() != 0)
            QSKIP("needs root for a network namespace");
        QProcess p;
        p.start(QStringLiteral("unshare"),
            { "-n", nerioTs(), "stream", fixture::writeFile(dir, "any.ts", fixture::counterRun(0x100, 700)), "--dest",
                "127.0.0.1:5000", "--bitrate", "1000000", "--duration", "0.5" });
        QVERIFY(p.waitForFinished(5000));
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(p.exitCode() == 1, err.constData());
        QVERIFY2(err.contains(": 0 packets, 0 datagrams,")
                && err.contains("nerio-ts stream: no datagram could be sent to 127.0.0.1:5000: "),
            err.constData());
    }

    void monitorVerdict()
    {
        // 300 datagrams 1 ms apart, a PCR leading every tenth: ticks that give the 10.528 Mbit/s they arrive at, ticks
        // for twice that (PCRs running faster than the stream arrives), or no PCR at all.
        const auto judge = [](int ticksPerDatagram) {
            tsmonitor m;
            for (int i = 0; i < 300; ++i) {
                QByteArray d = i % 10 != 0 || ticksPerDatagram == 0
                    ? fixture::packet(0x1FFF, 0)
                    : tsbuild::pcrPacket(0x100, quint64(i) * quint64(ticksPerDatagram));
                for (int k = 0; k < 6; ++k)
                    d += fixture::packet(0x1FFF, 0);
                m.datagram(reinterpret_cast<const uchar *>(d.constData()), d.size(), qint64(i) * 1000000);
            }
            return m.finish();
        };
        const tsmonitor::report good = judge(27000);
        QCOMPARE(good.faults(), QStringList());
        QCOMPARE(good.toJson().value("verdict").toString(), QStringLiteral("pass"));
        // Its PCRs are consistent among themselves: measured, no discontinuity; only the rate is off.
        const tsmonitor::report fast = judge(13500);
        QCOMPARE(fast.pcrDiscontinuities, quint64(0));
        QCOMPARE(fast.faults(),
            QStringList { "arrival rate 10528000 bit/s is 50.0 % below the PCR rate 21056000 bit/s (tolerance 1 %)" });
        const QJsonObject none = judge(0).toJson();
        QCOMPARE(none.value("verdict").toString(), QStringLiteral("fail"));
        QCOMPARE(none.value("faults").toVariant().toStringList(), QStringList { "no PCR" });
        for (const char *key : { "pcr_accuracy_ns", "pcr_accuracy_ok", "pcr_interval_max_ms", "pcr_bitrate" })
            QVERIFY2(none.value(key).isNull(), key);
    }

    void receiveStrictFailsAStreamFasterThanItsPcrs()
    {
        // PCRs written for 10 Mbit/s, sent at 5 Mbit/s (7 000 packets last 2.1 s at that rate: no wrap while measured).
        const QString path = fixture::writeFile(dir, "fast.ts", pcrstream::build(pcrstream::regular(100, 70), 7000));
        const measured m = measure(path, { "--bitrate", "5000000" }, { "--seconds", "1", "--strict" });
        QVERIFY2(m.exitCode == 1, m.out.constData());
        QVERIFY2(m.out.contains("\nverdict          FAIL: ")
                && m.out.contains(" bit/s is 50.0 % below the PCR rate 10000000 bit/s (tolerance 1 %)"),
            m.out.constData());
    }

    void receiveHtmlReport()
    {
        // The same 10 Mbit/s file looped for 2 s, its counters and PCRs carried across the wraps, or sent as it is
        // with two packets replaced every 5 000: the second's report marks the continuity errors where they
        // happened. Verdicts are compared on what no machine stall can cause.
        const QString path = fixture::writeFile(dir, "loop.ts", pcrstream::build(pcrstream::regular(100, 70), 7000));
        const QString cleanPage = dir.filePath(QStringLiteral("clean.html"));
        const QString brokenPage = dir.filePath(QStringLiteral("broken.html"));
        const measured clean = measure(path, { "--loop", "--cc", "--pcr" }, { "--seconds", "2", "--html", cleanPage });
        const measured broken = measure(path, { "--loop", "--inject-gap", "5000", "--inject-run", "2" },
            { "--seconds", "2", "--html", brokenPage });
        QVERIFY2(
            !clean.out.contains("continuity") && broken.out.contains(" continuity errors"), broken.out.constData());
        // Valid XHTML, nothing fetched, no script; the verdict and the faults are those printed.
        struct page {
            QString problem;
            QString verdict;
            QStringList faults;
            int charts = 0;
            int errorMarks = 0; // across the bitrate chart, the first
            QStringList cells;
        };
        const auto read = [](const QString &file) {
            QFile f(file);
            page p;
            const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            for (const char *outside : { "<script", "src=", "href=", "url(", "@import" }) {
                if (bytes.contains(outside))
                    p.problem = QString::fromLatin1(outside);
            }
            QXmlStreamReader xml(bytes);
            while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
                if (!xml.isStartElement())
                    continue;
                const QString cls = xml.attributes().value(QLatin1String("class")).toString();
                if (xml.name() == QLatin1String("p") && cls.startsWith(QLatin1String("verdict ")))
                    p.verdict = xml.readElementText();
                else if (xml.name() == QLatin1String("li"))
                    p.faults << xml.readElementText();
                else if (xml.name() == QLatin1String("td"))
                    p.cells << xml.readElementText();
                else if (xml.name() == QLatin1String("svg"))
                    ++p.charts;
                else if (xml.name() == QLatin1String("line") && p.charts == 1
                    && xml.attributes().value(QLatin1String("stroke-width")) == QLatin1String("1.5"))
                    ++p.errorMarks;
            }
            if (xml.hasError() || bytes.isEmpty())
                p.problem = xml.errorString() + QStringLiteral(" at line %1").arg(xml.lineNumber());
            return p;
        };
        const page c = read(cleanPage);
        const page b = read(brokenPage);
        QCOMPARE(c.problem, QString());
        QCOMPARE(b.problem, QString());
        QCOMPARE(c.charts, 5);
        QCOMPARE(b.charts, 5);
        const auto printed = [](const QByteArray &out) {
            const QString line = QString::fromUtf8(out).section(QStringLiteral("verdict          "), 1).trimmed();
            return line == QLatin1String("PASS") ? QStringList() : line.mid(6).split(QStringLiteral("; "));
        };
        QCOMPARE(c.faults, printed(clean.out));
        QCOMPARE(c.verdict, c.faults.isEmpty() ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
        QCOMPARE(b.verdict, QStringLiteral("FAIL"));
        QCOMPARE(b.faults, printed(broken.out));
        QVERIFY(b.errorMarks >= 1);
        QVERIFY(b.cells.contains(QStringLiteral("257 (0x0101)")));

        // A browser draws it: the verdict's red banner and the blue bitrate line are on the picture.
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            QSKIP("chromium is missing (scripts/setup installs it)");
        const QString png = dir.filePath(QStringLiteral("broken.png"));
        QStringList options { "--headless", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + dir.filePath(QStringLiteral("chromium")), "--screenshot=" + png,
            "--window-size=1000,1200", QUrl::fromLocalFile(brokenPage).toString() };
        if (geteuid() == 0)
            options.prepend(QStringLiteral("--no-sandbox"));
        QProcess browser;
        browser.start(chromium, options);
        QVERIFY(browser.waitForFinished(60000));
        const QImage shot(png);
        QCOMPARE(shot.size(), QSize(1000, 1200));
        int banner = 0;
        int line = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb c = shot.pixel(x, y);
                banner += c == qRgb(0xc6, 0x28, 0x28);
                line += qAbs(qRed(c) - 0x1f) < 24 && qAbs(qGreen(c) - 0x5f) < 24 && qAbs(qBlue(c) - 0xbf) < 24;
            }
        }
        QVERIFY2(banner > 5000 && line > 300, qPrintable(QStringLiteral("%1 %2").arg(banner).arg(line)));
    }

    void healthRing()
    {
        // 2660 packets over 1.25 s of the monotonic clock are 3 200 512 bit/s, whatever the wall clock did; a
        // reading older than two polls is left out; past five minutes the oldest seconds go first.
        streamhealth h;
        h.start(1000, 100);
        const streamhealth::deviceReading fresh { true, 900, 4e6, streamhealth::inputLock::Locked };
        h.record(50000, 2250, 2760, fresh);
        h.record(40000, 3250, 2760, { true, 2600, 4e6, streamhealth::inputLock::Locked });
        QCOMPARE(h.size(), 2);
        QCOMPARE(h.at(0).sentBps, 3200512.0);
        QCOMPARE(h.at(0).deviceRawBps, 4e6);
        QCOMPARE(h.at(0).deviceLock, streamhealth::inputLock::Locked);
        QCOMPARE(h.at(1).sentBps, 0.0);
        QCOMPARE(h.at(1).deviceRawBps, -1.0);
        QCOMPARE(h.at(1).deviceLock, streamhealth::inputLock::Unknown);
        for (int i = 0; i < streamhealth::SECONDS; ++i)
            h.record(60000 + i * 1000, 4250 + i * 1000, 2760, fresh);
        QCOMPARE(h.size(), streamhealth::SECONDS);
        QCOMPARE(h.at(0).atMs, qint64(60000));
        QCOMPARE(h.at(streamhealth::SECONDS - 1).atMs, qint64(60000 + 299 * 1000));
    }

    void frozenGuiPauseAndResume()
    {
        // 697 packets: datagrams straddle the wrap and still carry the file's packets in order. The GUI thread
        // freezes for 300 ms (a modal box, a blocking connect): the run neither stalls nor bunches meanwhile.
        const QString path = fixture::writeFile(dir, "run697.ts", fixture::counterRun(0x100, 697));
        auto r = std::make_unique<streaming>(
            nullptr, 0, tsloop::loopEnabled, path, 10000000, &tools, true, QHostAddress::LocalHost, receiver.port(), 7);
        r->startStreaming();
        QThread::msleep(300);
        const QList<QByteArray> first = receiver.read(100);
        // 400 ms is 380 datagrams, less the start of the run's thread.
        QVERIFY2(first.size() > 250 && first.size() <= 400, qPrintable(QString::number(first.size())));
        quint32 widest = 0;
        for (int i = 0; i < first.size(); ++i) {
            QCOMPARE(rtpSequence(first[i]), i);
            for (int k = 0; k < 7; ++k)
                QCOMPARE(fixture::serialOf(first[i].mid(12 + k * 188, 188)), quint32((i * 7 + k) % 697));
            if (i > 0)
                widest = std::max(widest, rtpTimestamp(first[i]) - rtpTimestamp(first[i - 1]));
        }
        QVERIFY2(widest < 90 * 150, qPrintable(QString::number(widest)));
        emit r->toggle();
        QTRY_VERIFY_WITH_TIMEOUT(r->isPaused(), 1000);
        receiver.read(50);
        QVERIFY(receiver.read(700).isEmpty());
        emit r->toggle();
        const QList<QByteArray> after = receiver.read(300);
        // 300 ms at the nominal rate is 285 datagrams; made-up pause time would add 660 more at once.
        QVERIFY2(!after.isEmpty() && after.size() <= 300, qPrintable(QString::number(after.size())));
    }
};

QTEST_GUILESS_MAIN(tst_streaming)
#include "tst_streaming.moc"
