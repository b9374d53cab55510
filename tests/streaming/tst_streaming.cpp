// A whole run on loopback: datagrams captured on a UDP socket, pause and resume, stop from any state and a
// frozen GUI thread.

#include "enginefixture.h"
#include "loopbackcapture.h"
#include "streaming.h"
#include "streamingtools.h"
#include "tsloop.h"

#include <QtTest>

#include <memory>

namespace
{
quint32 rtpTimestamp(const QByteArray &d)
{
    return quint32(quint8(d[4])) << 24 | quint32(quint8(d[5])) << 16 | quint32(quint8(d[6])) << 8 | quint8(d[7]);
}
} // namespace

class tst_streaming : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    LoopbackCapture receiver;
    streamingtools tools;

    std::unique_ptr<streaming> start(int packets, quint32 bitrate, bool rtp)
    {
        const QString path
            = fixture::writeFile(dir, QString("run%1.ts").arg(packets), fixture::counterRun(0x100, packets));
        auto r = std::make_unique<streaming>(
            nullptr, 0, tsloop::loopEnabled, path, bitrate, &tools, rtp, QHostAddress::LocalHost, receiver.port(), 7);
        r->startStreaming();
        return r;
    }

    // Deletes the run and throws away what it sent last.
    void finish(std::unique_ptr<streaming> &r)
    {
        r.reset();
        receiver.read(30);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(receiver.open());
    }

    void datagramsOnTheWire_data()
    {
        QTest::addColumn<bool>("rtp");
        QTest::newRow("plain") << false;
        QTest::newRow("rtp") << true;
    }

    void datagramsOnTheWire()
    {
        QFETCH(bool, rtp);
        auto r = start(10, 10000000, rtp);
        const QList<QByteArray> got = receiver.read(1000);
        finish(r);
        // About 950 datagrams a second at 10 Mbit/s; 7 packets each, in file order across the wraps, behind
        // a 12-byte RTP header whose sequence has no gap.
        QVERIFY2(got.size() > 800 && got.size() < 1000, qPrintable(QString::number(got.size())));
        const int header = rtp ? 12 : 0;
        for (int i = 0; i < got.size(); ++i) {
            const QByteArray &d = got[i];
            QCOMPARE(d.size(), header + 1316);
            for (int k = 0; k < 7; ++k)
                QCOMPARE(fixture::serialOf(d.mid(header + k * 188, 188)), quint32((i * 7 + k) % 10));
            if (rtp) {
                QCOMPARE(d.left(2).toHex(), QByteArray("80a1"));
                QCOMPARE((quint8(d[2]) << 8) | quint8(d[3]), i);
                QCOMPARE(d.mid(8, 4).toHex(), QByteArray("ffffffff"));
            }
        }
        if (!rtp)
            return;
        // Datagram k leaves at k * 1.0528 ms: its 90 kHz timestamp is k * 94.752 plus the sender's lateness,
        // which stays under a machine stall (tens of ms) however the scheduler behaves.
        const quint32 ts = rtpTimestamp(got.last());
        const double expected = (got.size() - 1) * 94.752;
        QVERIFY2(ts >= expected - 1 && ts < expected + 90 * 150, qPrintable(QString("%1 vs %2").arg(ts).arg(expected)));
    }

    void pauseSendsNothingResumeNoBurstAndDeletingPausedStops()
    {
        auto r = start(700, 10000000, true);
        receiver.read(200);
        emit r->toggle();
        QTRY_VERIFY_WITH_TIMEOUT(r->isPaused(), 1000);
        receiver.read(50);
        const quint64 before = r->datagramsSent();
        QVERIFY(receiver.read(700).isEmpty());
        QCOMPARE(r->datagramsSent(), before);
        emit r->toggle();
        const QList<QByteArray> after = receiver.read(300);
        // 300 ms at the nominal rate is 285 datagrams; made-up pause time would add 660 more at once.
        QVERIFY2(after.size() > 200 && after.size() <= 300, qPrintable(QString::number(after.size())));
        QCOMPARE(after.first().mid(4, 4).toHex(), QByteArray("00000000")); // the RTP clock restarted
        // Deleting a paused run stops it promptly.
        emit r->toggle();
        QTRY_VERIFY_WITH_TIMEOUT(r->isPaused(), 1000);
        QElapsedTimer t;
        t.start();
        r.reset();
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        receiver.read(30);
    }

    void deletingAnUnstartedOrSlowRunIsPrompt()
    {
        auto built = std::make_unique<streaming>(nullptr, 0, tsloop::loopEnabled, dir.filePath("run10.ts"), 10000000,
            &tools, false, QHostAddress::LocalHost, receiver.port(), 7);
        built.reset();
        // 100 kbit/s: a datagram every 105 ms; the stop must not wait for the next one.
        auto slow = start(70, 100000, false);
        receiver.read(20);
        QElapsedTimer t;
        t.start();
        slow.reset();
        QVERIFY2(t.elapsed() < 50, qPrintable(QString::number(t.elapsed())));
        receiver.read(30);
    }

    void frozenGuiThreadNeitherStallsNorBunchesTheStream()
    {
        auto r = start(700, 10000000, true);
        receiver.read(100);
        const quint64 before = r->datagramsSent();
        QThread::msleep(400); // a modal box or a blocking connect in the GUI thread
        const quint64 during = r->datagramsSent() - before;
        const QList<QByteArray> got = receiver.read(200);
        finish(r);
        // 400 ms is 380 datagrams; the send times (RTP timestamps) keep their spacing through the freeze.
        QVERIFY2(during > 300 && during < 400, qPrintable(QString::number(during)));
        quint32 widest = 0;
        for (int i = 1; i < got.size(); ++i)
            widest = std::max(widest, rtpTimestamp(got[i]) - rtpTimestamp(got[i - 1]));
        QVERIFY2(widest < 90 * 150, qPrintable(QString::number(widest)));
    }
};

QTEST_GUILESS_MAIN(tst_streaming)
#include "tst_streaming.moc"
