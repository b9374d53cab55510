// A whole run on loopback: datagrams captured on a UDP socket, pause and resume, stop from any state,
// the end-of-file request and a frozen GUI thread.

#include "enginefixture.h"
#include "streaming.h"
#include "streamingtools.h"
#include "tsloop.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

namespace
{
struct Captured {
    QByteArray data;
    qint64 atMs;
};
} // namespace

class tst_streaming : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QUdpSocket receiver;
    QElapsedTimer clock;

    QString file(int packets)
    {
        return fixture::writeFile(dir, QString("run%1.ts").arg(packets), fixture::counterRun(0x100, packets));
    }

    std::unique_ptr<streaming> run(
        const QString &path, quint32 bitrate, bool rtp, streamingtools *tools, int loopState = tsloop::loopEnabled)
    {
        return std::make_unique<streaming>(
            nullptr, 0, loopState, path, bitrate, tools, rtp, QHostAddress::LocalHost, receiver.localPort(), 7);
    }

    // Reads what arrives for durationMs (events processed meanwhile, so queued signals land).
    QList<Captured> capture(int durationMs)
    {
        QList<Captured> got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < durationMs) {
            receiver.waitForReadyRead(10);
            while (receiver.hasPendingDatagrams() && got.size() < 200000) {
                QByteArray d(int(receiver.pendingDatagramSize()), Qt::Uninitialized);
                receiver.readDatagram(d.data(), d.size());
                got.append({ d, clock.elapsed() });
            }
            QCoreApplication::processEvents();
        }
        return got;
    }

    void drain() { capture(30); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(receiver.bind(QHostAddress::LocalHost, 0));
        receiver.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 << 20);
        clock.start();
    }

    void rtpDatagramsOnTheWire()
    {
        streamingtools tools;
        auto r = run(file(700), 10000000, true, &tools);
        r->startStreaming();
        const QList<Captured> got = capture(1000);
        r.reset();
        drain();
        // About 950 datagrams a second at 10 Mbit/s; every one 12 + 1316 bytes, sequence without a gap.
        QVERIFY2(got.size() > 800 && got.size() < 1000, qPrintable(QString::number(got.size())));
        for (int i = 0; i < got.size(); ++i) {
            const QByteArray &d = got[i].data;
            QCOMPARE(d.size(), 1328);
            QCOMPARE(quint8(d[0]), quint8(0x80));
            QCOMPARE(quint8(d[1]), quint8(0xA1));
            QCOMPARE((quint8(d[2]) << 8) | quint8(d[3]), i);
            QCOMPARE(d.mid(8, 4).toHex(), QByteArray("ffffffff"));
            QCOMPARE(quint8(d[12]), quint8(0x47));
        }
        // Datagram k leaves at k * 1.0528 ms: its 90 kHz timestamp is k * 94.752 plus the sender's lateness,
        // which stays under a machine stall (tens of ms) however the scheduler behaves.
        const QByteArray &last = got.last().data;
        const quint32 ts = quint32(quint8(last[4])) << 24 | quint32(quint8(last[5])) << 16
            | quint32(quint8(last[6])) << 8 | quint8(last[7]);
        const double expected = (got.size() - 1) * 94.752;
        QVERIFY2(ts >= expected - 1 && ts < expected + 90 * 150, qPrintable(QString("%1 vs %2").arg(ts).arg(expected)));
    }

    void plainDatagramsCarrySevenPacketsInFileOrder()
    {
        streamingtools tools;
        auto r = run(file(10), 10000000, false, &tools);
        r->startStreaming();
        const QList<Captured> got = capture(100);
        r.reset();
        drain();
        QVERIFY(got.size() >= 20);
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].data.size(), 1316);
            for (int k = 0; k < 7; ++k)
                QCOMPARE(fixture::serialOf(got[i].data.mid(k * 188, 188)), quint32((i * 7 + k) % 10));
        }
        QCOMPARE(r.get(), nullptr);
    }

    void pauseSendsNothingAndResumeSendsNoBurst()
    {
        streamingtools tools;
        auto r = run(file(700), 10000000, true, &tools);
        r->startStreaming();
        capture(200);
        emit r->toggle();
        QTRY_VERIFY_WITH_TIMEOUT(r->isPaused(), 1000);
        capture(50);
        const quint64 before = r->datagramsSent();
        QVERIFY(capture(700).isEmpty());
        QCOMPARE(r->datagramsSent(), before);
        emit r->toggle();
        const QList<Captured> after = capture(300);
        r.reset();
        drain();
        // 300 ms at the nominal rate is 285 datagrams; made-up pause time would add 660 more at once.
        QVERIFY2(after.size() > 200 && after.size() <= 300, qPrintable(QString::number(after.size())));
        const QByteArray &first = after.first().data;
        QCOMPARE(first.mid(4, 4).toHex(), QByteArray("00000000")); // the RTP clock restarted
    }

    void deletingAPausedRunStopsIt()
    {
        streamingtools tools;
        auto r = run(file(70), 1000000, false, &tools);
        r->startStreaming();
        capture(50);
        emit r->toggle();
        QTRY_VERIFY_WITH_TIMEOUT(r->isPaused(), 1000);
        QElapsedTimer t;
        t.start();
        r.reset();
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        drain();
    }

    void deletingAnUnstartedOrSlowRunIsPrompt()
    {
        streamingtools tools;
        auto built = run(file(70), 10000000, false, &tools);
        built.reset();
        // 100 kbit/s: a datagram every 105 ms; the stop must not wait for the next one.
        auto slow = run(file(70), 100000, false, &tools);
        slow->startStreaming();
        capture(20);
        QElapsedTimer t;
        t.start();
        slow.reset();
        QVERIFY2(t.elapsed() < 50, qPrintable(QString::number(t.elapsed())));
        drain();
    }

    void endOfFileAndPositionReachTheGuiThread()
    {
        // 140 packets at 10 Mbit/s: the file lasts 21 ms; position 0 is reported, then the wrap asks to stop.
        streamingtools tools;
        auto r = run(file(140), 10000000, false, &tools, tsloop::loopDisabled);
        QSignalSpy position(r.get(), &streaming::positionHasChanged);
        QSignalSpy stop(r.get(), &streaming::loopDisable_emitStopStreaming);
        r->startStreaming();
        QVERIFY(stop.wait(2000));
        r.reset();
        drain();
        QVERIFY(position.count() >= 1);
        QCOMPARE(position.first().first().toULongLong(), 0ULL);
    }

    void frozenGuiThreadNeitherStallsNorBunchesTheStream()
    {
        streamingtools tools;
        auto r = run(file(700), 10000000, true, &tools);
        r->startStreaming();
        capture(100);
        const quint64 before = r->datagramsSent();
        QThread::msleep(400); // a modal box or a blocking connect in the GUI thread
        const quint64 during = r->datagramsSent() - before;
        const QList<Captured> got = capture(200);
        r.reset();
        drain();
        // 400 ms is 380 datagrams; the send times (RTP timestamps) keep their spacing through the freeze.
        QVERIFY2(during > 300 && during < 400, qPrintable(QString::number(during)));
        quint32 previous = 0;
        quint32 widest = 0;
        for (int i = 0; i < got.size(); ++i) {
            const QByteArray &d = got[i].data;
            const quint32 ts
                = quint32(quint8(d[4])) << 24 | quint32(quint8(d[5])) << 16 | quint32(quint8(d[6])) << 8 | quint8(d[7]);
            if (i > 0)
                widest = std::max(widest, ts - previous);
            previous = ts;
        }
        QVERIFY2(widest < 90 * 150, qPrintable(QString::number(widest)));
    }
};

QTEST_GUILESS_MAIN(tst_streaming)
#include "tst_streaming.moc"
