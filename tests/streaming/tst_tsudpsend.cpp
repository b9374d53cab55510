// Datagram building and the sender's pacing on an injected clock (no socket, no sleeping).

#include "enginefixture.h"
#include "tsloop.h"
#include "tsstamp.h"
#include "tsudpsend.h"

#include <QtTest>

#include <memory>

class tst_tsudpsend : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    struct Chain {
        std::unique_ptr<tsloop> loop;
        tsstamp *stamp = nullptr;
        std::unique_ptr<tsudpsend> sender;
    };

    Chain chain(const QString &path, quint32 bitrate, bool rtp)
    {
        Chain c;
        c.loop.reset(new tsloop(nullptr, path, bitrate, 0, tsloop::loopEnabled, false, true, false, false, 1000, 0, 1));
        c.stamp = new tsstamp(c.loop.get(), bitrate, false);
        c.sender.reset(new tsudpsend(c.stamp, bitrate, QHostAddress::LocalHost, 9, 7, rtp));
        return c;
    }

private slots:
    void rtpHeaderLayout()
    {
        const QString path = fixture::writeFile(dir, "ten.ts", fixture::counterRun(0x100, 10));
        Chain c = chain(path, 10000000, true);
        // One second of the 90 kHz clock is 90 000 = 0x00015F90.
        QVERIFY(c.sender->buildDatagram(1000000000));
        const QByteArray d = c.sender->datagram();
        QCOMPARE(d.size(), 12 + 7 * 188);
        QCOMPARE(d.left(12).toHex(), QByteArray("80a1000000015f90ffffffff"));
        QVERIFY(c.sender->buildDatagram(0));
        QCOMPARE(c.sender->datagram().left(4).toHex(), QByteArray("80a10001"));
        // The second datagram wraps in the file: packets 7, 8, 9 then 0, 1, 2, 3 of the next pass.
        const QByteArray second = c.sender->datagram().mid(12);
        const quint32 serials[] = { 7, 8, 9, 0, 1, 2, 3 };
        for (int i = 0; i < 7; ++i)
            QCOMPARE(fixture::serialOf(second.mid(i * 188, 188)), serials[i]);
    }

    void plainDatagramIsSevenPackets()
    {
        const QString path = fixture::writeFile(dir, "seven.ts", fixture::counterRun(0x100, 7));
        Chain c = chain(path, 10000000, false);
        QVERIFY(c.sender->buildDatagram(0));
        QCOMPARE(c.sender->datagram(), fixture::counterRun(0x100, 7));
    }

    void sequenceWraps()
    {
        const QString path = fixture::writeFile(dir, "seq.ts", fixture::counterRun(0x100, 7));
        Chain c = chain(path, 10000000, true);
        for (int i = 0; i < 65535; ++i)
            c.sender->buildDatagram(0);
        QVERIFY(c.sender->buildDatagram(0)); // the 65 536th
        QCOMPARE(c.sender->datagram().mid(2, 2).toHex(), QByteArray("ffff"));
        QVERIFY(c.sender->buildDatagram(0));
        QCOMPARE(c.sender->datagram().mid(2, 2).toHex(), QByteArray("0000"));
    }

    void rtpTimestampUsesWideArithmetic()
    {
        QCOMPARE(tsudpsend::rtpTimestamp(1000000000), quint32(90000));
        QCOMPARE(tsudpsend::rtpTimestamp(11111), quint32(0)); // 0.99 of a tick
        QCOMPARE(tsudpsend::rtpTimestamp(11112), quint32(1));
        // 60 hours: 216 000 s * 90 000 = 19 440 000 000, low 32 bits 2 260 130 816 (ns * 90 000 overflows 64 bits).
        QCOMPARE(tsudpsend::rtpTimestamp(216000LL * 1000000000), quint32(2260130816U));
    }

    void fileWithoutAWholePacketSendsNothing()
    {
        const QString path = fixture::writeFile(dir, "tiny.ts", QByteArray(100, char(0x47)));
        Chain c = chain(path, 10000000, false);
        QVERIFY(!c.sender->buildDatagram(0));
        qint64 now = 0;
        c.sender->setClock([&now] { return now; });
        c.sender->sendDue();
        QCOMPARE(c.sender->datagramsSent(), quint64(0));
        QCOMPARE(c.sender->starvedDatagrams(), quint64(1));
    }

    void sendsOnTheInjectedClock()
    {
        const QString path = fixture::writeFile(dir, "pace.ts", fixture::counterRun(0x100, 70));
        Chain c = chain(path, 10000000, true);
        qint64 now = 1000;
        c.sender->setClock([&now] { return now; });
        // First call starts the schedule: one datagram due at once, the next 1.0528 ms later.
        QCOMPARE(c.sender->sendDue(), qint64(1000 + 1052800));
        QCOMPARE(c.sender->datagramsSent(), quint64(1));
        now += 1052799;
        c.sender->sendDue();
        QCOMPARE(c.sender->datagramsSent(), quint64(1));
        now += 1;
        c.sender->sendDue();
        QCOMPARE(c.sender->datagramsSent(), quint64(2));
        QCOMPARE(c.sender->packetsSent(), quint64(14));
        // A 50 ms stall: one call sends one datagram, not the backlog, and the stall is counted.
        now += 50000000;
        c.sender->sendDue();
        QCOMPARE(c.sender->datagramsSent(), quint64(3));
        QCOMPARE(c.sender->stalls(), quint64(1));
        // Pause: the clock restarts, nothing is made up; the RTP clock restarts too while the sequence goes on.
        c.sender->resetClock();
        now += 10000000000;
        c.sender->sendDue();
        QCOMPARE(c.sender->datagramsSent(), quint64(4));
        QCOMPARE(c.sender->datagram().mid(2, 6).toHex(), QByteArray("000300000000"));
        QCOMPARE(c.sender->stalls(), quint64(1));
    }
};

QTEST_GUILESS_MAIN(tst_tsudpsend)
#include "tst_tsudpsend.moc"
