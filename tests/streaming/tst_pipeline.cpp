// The pacing thread's pipeline without a socket: pacing arithmetic on an injected clock, the file reader
// (packet grid, wraps, continuity renumbering, seeks, error injection), the clock stage and datagram building.

#include "enginefixture.h"
#include "pacer.h"
#include "tsloop.h"
#include "tsstamp.h"
#include "tsudpsend.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace
{
int cc(const QByteArray &p)
{
    return quint8(p[3]) & 0x0F;
}
const QByteArray injected(188, char(0x87));
} // namespace

class tst_pipeline : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // Reader with the injection off.
    std::unique_ptr<tsloop> reader(const QString &path, bool cc, bool start = true, qint16 offset = 0,
        quint64 bitrate = 8000000, int loopState = tsloop::loopEnabled)
    {
        return std::make_unique<tsloop>(nullptr, path, bitrate, offset, loopState, cc, start, false, false, 1000, 0, 1);
    }

    struct Chain {
        std::unique_ptr<tsloop> loop;
        tsstamp *stamp = nullptr; // owned by loop
        std::unique_ptr<tsudpsend> sender;
    };

    Chain chain(const QString &path, bool rtp)
    {
        Chain c;
        c.loop = reader(path, false, true, 0, 10000000);
        c.stamp = new tsstamp(c.loop.get(), 10000000, false);
        c.sender.reset(new tsudpsend(c.stamp, 10000000, QHostAddress::LocalHost, 9, 7, rtp));
        return c;
    }

    // 1000 packets of PID 0x100, a PCR every 100 packets (serial 0, 100, ...) following the file's own rate of
    // 10 Mbit/s from base 1000: 100 packets = 150 400 bits = 406 080 ticks of 27 MHz.
    QString pcrFile()
    {
        QByteArray file;
        for (int i = 0; i < 1000; ++i) {
            const quint64 ticks = 1000 * 300 + quint64(i / 100) * 406080;
            file += i % 100 == 0 ? fixture::pcrPacket(0x100, quint8(i), ticks / 300, quint16(ticks % 300))
                                 : fixture::packet(0x100, quint8(i), quint32(i));
        }
        return fixture::writeFile(dir, "pcr.ts", file);
    }

private slots:
    void datagramsDue_data()
    {
        QTest::addColumn<qint64>("elapsedNs");
        QTest::addColumn<quint64>("bitrate");
        QTest::addColumn<quint64>("due");
        // 10 Mbit/s, 7 packets = 10 528 bits: a datagram every 1.0528 ms, the first at 0.
        QTest::newRow("just before #1") << qint64(1052799) << quint64(10000000) << quint64(1);
        QTest::newRow("#1 due") << qint64(1052800) << quint64(10000000) << quint64(2);
        // 18 * 10 528 = 189 504 bits fit in the 200 000 due at 20 ms, the 19th datagram (index 18) too.
        QTest::newRow("20 ms") << qint64(20000000) << quint64(10000000) << quint64(19);
        QTest::newRow("negative") << qint64(-5) << quint64(10000000) << quint64(0);
        // 65 Mbit/s for 329 s: 2 031 250 whole datagrams are due before the end, plus the one at the origin.
        QTest::newRow("329 s at 65M") << qint64(329000000000) << quint64(65000000) << quint64(2031251);
    }

    void datagramsDue()
    {
        QFETCH(qint64, elapsedNs);
        QFETCH(quint64, bitrate);
        QFETCH(quint64, due);
        QCOMPARE(pacer::datagramsDueBy(elapsedNs, bitrate, 10528), due);
    }

    void scheduleHasNoRoundingDrift()
    {
        // The period at 65 Mbit/s is 161 969.23 ns; a schedule of whole-nanosecond periods would drift 1.56 ms
        // over 2 031 250 datagrams. Due times come from the exact product: 329 s to the nanosecond.
        QCOMPARE(pacer::dueOffsetNs(1, 65000000, 10528), qint64(161970));
        QCOMPARE(pacer::dueOffsetNs(2031250, 65000000, 10528), qint64(329000000000));
        // Thirty days of datagrams at 65 Mbit/s (index * bits * 1e9 is past 2^64).
        QCOMPARE(pacer::dueOffsetNs(2031250ULL * 7879, 65000000, 10528), qint64(329000000000) * 7879);
    }

    void onScheduleEachDatagramAtItsOwnTime()
    {
        pacer p(10000000, 10528);
        p.restart(5000);
        for (quint64 k = 0; k < 100; ++k) {
            const qint64 due = 5000 + qint64(k) * 1052800;
            QCOMPARE(p.nextDeadline(), due);
            QVERIFY(!p.isDue(due - 1));
            QVERIFY(p.isDue(due));
            p.sent(due + 30000); // 30 us of wake-up lateness changes nothing
        }
        QCOMPARE(p.stallCount(), quint64(0));
    }

    void stallIsMadeUpAtABoundedRate()
    {
        // 100 ms stall at 65 Mbit/s: 617 datagrams behind. They go out at 150 % of the nominal rate (one per
        // 107 980 ns), so catching up takes about 200 ms and no millisecond carries more than 10 datagrams
        // (9 gaps of 107 980 ns fit in 1 ms, 10 do not).
        const quint64 bitrate = 65000000;
        pacer p(bitrate, 10528);
        p.restart(0);
        qint64 now = 0;
        for (int k = 0; k < 10; ++k) {
            now = p.nextDeadline();
            p.sent(now);
        }
        now += 100000000;
        QList<qint64> sends;
        while (sends.size() < 20000 && now < 2000000000) {
            now = std::max(now, p.nextDeadline());
            p.sent(now);
            sends << now;
            if (p.nextDeadline() == pacer::dueOffsetNs(p.datagramsSent(), bitrate, 10528))
                break; // back on schedule
        }
        QCOMPARE(p.stallCount(), quint64(1));
        const qint64 caughtUp = sends.last() - sends.first();
        QVERIFY2(caughtUp > 180000000 && caughtUp < 220000000, qPrintable(QString::number(caughtUp)));
        int worst = 0;
        for (int i = 0, j = 0; i < sends.size(); ++i) {
            while (sends[i] - sends[j] >= 1000000)
                ++j;
            worst = std::max(worst, i - j + 1);
        }
        QCOMPARE(worst, 10);
        // Back on schedule, every datagram due by now has gone: the average rate is exact again.
        QCOMPARE(p.datagramsSent(), pacer::datagramsDueBy(sends.last(), bitrate, 10528));
    }

    void longStallAndPauseMakeNothingUp()
    {
        pacer p(10000000, 10528);
        p.restart(0);
        p.sent(0);
        p.sent(5000000000); // five seconds late: given up, not flooded
        QCOMPARE(p.stallCount(), quint64(1));
        QCOMPARE(p.forgivenNs(), qint64(5000000000 - 1052800));
        QCOMPARE(p.nextDeadline(), qint64(5000000000 + 1052800));
        // A pause: the schedule restarts at the resume, its first datagram due at once, the next a period later.
        p.restart(10000000000);
        QCOMPARE(p.nextDeadline(), qint64(10000000000));
        p.sent(10000000000);
        QCOMPARE(p.nextDeadline(), qint64(10000000000 + 1052800));
        QCOMPARE(p.stallCount(), quint64(1));
    }

    void startSyncReadsFromTheFirstPacketStart()
    {
        // Five stray bytes, then two packets: with start synchronisation every pass begins at byte 5.
        const QByteArray body = fixture::packet(0x100, 0, 1) + fixture::packet(0x100, 1, 2);
        const QByteArray file = QByteArray(5, 'x') + body;
        const QString path = fixture::writeFile(dir, "offset5.ts", file);
        auto loop = reader(path, false, true, 5);
        for (int pass = 0; pass < 3; ++pass) {
            QCOMPARE(loop->nextPacket(), body.left(188));
            QCOMPARE(loop->nextPacket(), body.mid(188));
        }
        QCOMPARE(loop->wrapCount(), quint64(2));
        // Without it the first pass starts at byte 0 and is misaligned by five bytes, as is every later one.
        auto raw = reader(path, false, false, 5);
        QCOMPARE(raw->nextPacket(), file.left(188));
        QCOMPARE(raw->nextPacket(), file.mid(188, 188));
        QCOMPARE(raw->nextPacket(), file.left(188)); // 5 bytes left over: a short read, so a wrap
    }

    void trailingBytesAreNeverSent()
    {
        const QByteArray body = fixture::counterRun(0x100, 1000);
        auto loop = reader(fixture::writeFile(dir, "stray.ts", body + QByteArray(50, char(0x47))), false);
        for (int i = 0; i < 2500; ++i) {
            const QByteArray p = loop->nextPacket();
            QCOMPARE(p.size(), 188);
            QCOMPARE(fixture::serialOf(p), quint32(i % 1000));
        }
    }

    void loopDisabledAsksForStopAtEachWrapAndGoesOn()
    {
        const QString path = fixture::writeFile(dir, "short.ts", fixture::counterRun(0x100, 3));
        auto loop = reader(path, false, true, 0, 8000000, tsloop::loopDisabled);
        QSignalSpy stop(loop.get(), &tsloop::loopDisable_emitStopStreaming);
        for (int i = 0; i < 3; ++i)
            loop->nextPacket();
        QCOMPARE(stop.count(), 0);
        QCOMPARE(fixture::serialOf(loop->nextPacket()), quint32(0));
        QCOMPARE(stop.count(), 1);
    }

    void continuityRunsOnAcrossTheWrap()
    {
        // PID 0x100 counts 0..15 then 0..7 (24 packets, ends at 7); after the wrap the file restarts at 0
        // but the output goes on 8, 9, ...
        const QString path = fixture::writeFile(dir, "cc.ts", fixture::counterRun(0x100, 24));
        auto loop = reader(path, true);
        for (int i = 0; i < 24; ++i)
            QCOMPARE(cc(loop->nextPacket()), i & 0x0F);
        for (int i = 0; i < 40; ++i) {
            const QByteArray p = loop->nextPacket();
            QCOMPARE(cc(p), (8 + i) & 0x0F);
            QCOMPARE(quint8(p[3]) & 0xF0, 0x10);
        }
        // Without the correction the counter jumps back to the file's own.
        auto raw = reader(path, false);
        for (int i = 0; i < 24; ++i)
            raw->nextPacket();
        QCOMPARE(cc(raw->nextPacket()), 0);
    }

    void adaptationOnlyAndDuplicatesKeepTheCounter()
    {
        // File counters: 3 (first, kept), 9, adaptation-only 9, 10, 10 (legal duplicate), 10 (third: new data).
        const QByteArray file = fixture::packet(0x200, 3) + fixture::packet(0x200, 9)
            + fixture::adaptationOnly(0x200, 9) + fixture::packet(0x200, 10) + fixture::packet(0x200, 10)
            + fixture::packet(0x200, 10) + fixture::packet(0x300, 12);
        auto loop = reader(fixture::writeFile(dir, "dup.ts", file), true);
        for (int expected : { 3, 4, 4, 5, 5, 6, 12 })
            QCOMPARE(cc(loop->nextPacket()), expected);
        // Next pass: the first packet of 0x200 carries 3 again, which is no duplicate of the 10 before the
        // wrap: it continues as 7.
        QCOMPARE(cc(loop->nextPacket()), 7);

        // One packet of PID 0x400 (counter 5) per pass: each pass brings new data, so the output counts on.
        const QString one = fixture::writeFile(dir, "onecc.ts", fixture::packet(0x400, 5) + fixture::packet(0x401, 0));
        loop = reader(one, true);
        for (int pass = 0; pass < 4; ++pass) {
            QCOMPARE(cc(loop->nextPacket()), 5 + pass);
            loop->nextPacket();
        }
        // A seek breaks the incoming counters the same way.
        loop->nextPacket();
        loop->newPositionFileSet(0);
        QCOMPARE(cc(loop->nextPacket()), 10);
    }

    void seekAlignsToWholePackets()
    {
        // 60 s at 8 Mbit/s = 60 000 000 bytes, aligned down: 60 000 000 - 60 000 000 % 188 = 59 999 824.
        const QString path = fixture::writeFile(dir, "seek.ts", fixture::counterRun(0x100, 4));
        auto loop = reader(path, false, true, 7);
        loop->newPositionFileSet(60);
        QCOMPARE(loop->getReadPosition(), quint64(59999824 + 7));
        auto raw = reader(path, false, false, 7);
        raw->newPositionFileSet(60);
        QCOMPARE(raw->getReadPosition(), quint64(59999824));
        // Far past the end: the next read wraps to the start.
        QCOMPARE(fixture::serialOf(raw->nextPacket()), quint32(0));
    }

    void positionIsReportedOncePerSecond()
    {
        // 1000 packets at 188 * 8 * 100 bit/s: one second of stream every 100 packets.
        auto loop = reader(fixture::writeFile(dir, "pos.ts", fixture::counterRun(0x100, 1000)), false, true, 0, 150400);
        QSignalSpy spy(loop.get(), &tsloop::positionChanged);
        for (int i = 0; i < 1050; ++i)
            loop->nextPacket();
        QCOMPARE(spy.count(), 12); // 0 .. 10 over the first pass, then 0 once more after the wrap
        QCOMPARE(spy.at(0).at(0).toULongLong(), 0ULL);
        QCOMPARE(spy.at(10).at(0).toULongLong(), 10ULL);
        QCOMPARE(spy.at(11).at(0).toULongLong(), 0ULL);
    }

    void injectionRhythm_data()
    {
        QTest::addColumn<quint64>("gap");
        QTest::addColumn<quint64>("run");
        QTest::addColumn<int>("packets");
        QTest::addColumn<QList<int>>("replaced"); // 1-based packet numbers
        QTest::newRow("gap 1000 run 1") << quint64(1000) << quint64(1) << 2003 << QList<int> { 1001, 2002 };
        QTest::newRow("gap 3 run 2") << quint64(3) << quint64(2) << 10 << QList<int> { 4, 5, 9, 10 };
        QTest::newRow("gap 0") << quint64(0) << quint64(1) << 5 << QList<int> { 1, 2, 3, 4, 5 };
        QTest::newRow("run 0 acts as 1") << quint64(2) << quint64(0) << 7 << QList<int> { 3, 6 };
    }

    void injectionRhythm()
    {
        QFETCH(quint64, gap);
        QFETCH(quint64, run);
        QFETCH(int, packets);
        QFETCH(QList<int>, replaced);
        const QString path = fixture::writeFile(dir, "inject.ts", fixture::counterRun(0x100, 3000));
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, false, true, true, false, gap, 0, run);
        QList<int> seen;
        for (int i = 1; i <= packets; ++i) {
            const QByteArray p = loop.nextPacket();
            if (p == injected)
                seen << i;
            else
                QCOMPARE(fixture::serialOf(p), quint32(i - 1));
        }
        QCOMPARE(seen, replaced);
    }

    void injectionOnOnePid()
    {
        // One packet in ten on PID 0x100; gap 0 on that PID replaces exactly those.
        QByteArray file;
        for (int i = 0; i < 50; ++i)
            file += fixture::packet(i % 10 == 0 ? 0x100 : 0x101, quint8(i), quint32(i));
        const QString path = fixture::writeFile(dir, "onepid.ts", file);
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, false, true, true, true, 0, 0x100, 1);
        for (int i = 0; i < 50; ++i)
            QCOMPARE(loop.nextPacket() == injected, i % 10 == 0);
        // A live change restarts the rhythm from a fresh gap: 2 packets of the PID pass, then one goes.
        loop.setScramblingGap(2);
        QList<bool> hits;
        for (int i = 0; i < 40; ++i) {
            const bool hit = loop.nextPacket() == injected;
            if (i % 10 == 0)
                hits << hit;
        }
        QCOMPARE(hits, (QList<bool> { false, false, true, false }));
    }

    void fieldCodecsMatchHandDecodedBytes()
    {
        // PCR base 0x1_2345_6789 (33 bits), extension 0x123: bytes 91 A2 B3 C4 FF 23 (bit 0 of base in b10's top
        // bit, six reserved ones, extension bit 8). PTS 0x1_0000_0001 with prefix 0011: bit 32 lands in t0 bit 3,
        // so 39 00 01 00 03. The fixture's own codec is the yardstick of every other clock check.
        const QByteArray p = fixture::pcrPacket(0x100, 0, 0x123456789ULL, 0x123);
        QCOMPARE(p.mid(6, 6).toHex(), QByteArray("91a2b3c4ff23"));
        QCOMPARE(tsstamp::readPcr(reinterpret_cast<const uchar *>(p.constData())), 0x123456789ULL * 300 + 0x123);
        QByteArray t = fixture::timestamp(3, 0x100000001ULL);
        QCOMPARE(t.toHex(), QByteArray("3900010003"));
        QCOMPARE(tsstamp::readTimestamp(reinterpret_cast<const uchar *>(t.constData())), 0x100000001ULL);
        tsstamp::writeTimestamp(reinterpret_cast<uchar *>(t.data()), 0x1FFFFFFFFULL);
        QCOMPARE(t.toHex(), QByteArray("3fffffffff"));
    }

    void pcrContinuesAcrossTheWrapWithCorrection()
    {
        auto loop = reader(pcrFile(), false, true, 0, 10000000);
        tsstamp stamp(loop.get(), 10000000, true);
        // Every PCR of the output sits 100 packets after the previous one: 406 080 ticks later, also
        // across the wraps at packets 1000 and 2000, where the file's own PCR jumps back.
        quint64 previous = 0;
        for (int i = 0; i < 2500; ++i) {
            const QByteArray p = stamp.nextPacket();
            if (i % 100 != 0)
                continue;
            const quint64 v = fixture::pcrOf(p);
            QCOMPARE(v - previous, i == 0 ? quint64(1000 * 300) : quint64(406080)); // the first passes unchanged
            previous = v;
        }
        QCOMPARE(stamp.getPacketCount(), quint64(2500));
        // With the default record the PCR jumps back: packet 1000 is the file's first again.
        auto raw = reader(pcrFile(), false, true, 0, 10000000);
        tsstamp plain(raw.get(), 10000000, false);
        QByteArray p;
        for (int i = 0; i <= 1000; ++i)
            p = plain.nextPacket();
        QCOMPARE(fixture::pcrOf(p), quint64(1000 * 300));
    }

    void clockArithmeticIsWideAndWrapsModuloTheFieldWidth()
    {
        // (tst_hardening adds the values next to the 64-bit limits.) Five days at 65 Mbit/s = 3.51e12 bytes =
        // 432 000 s = 1.1664e13 ticks (bytes * 216e6 is past 2^64), reduced modulo 2^33 * 300 = 2 576 980 377 600:
        // 11 664 000 000 000 - 4 * 2 576 980 377 600 = 1 356 078 489 600.
        QCOMPARE(tsstamp::regeneratedPcr(0, 65000000ULL / 8 * 432000, 65000000), quint64(1356078489600ULL));
        // A PCR offset across the PCR wrap counts the short way round (+300 ticks = +1); a negative offset.
        QCOMPARE(tsstamp::shiftedTimestamp(5, 150, 2576980377600ULL - 150), quint64(6));
        QCOMPARE(tsstamp::shiftedTimestamp(5, 0, 600), quint64(3));
        // RTP: 90 kHz of the run clock, truncated; 60 hours = 216 000 s * 90 000 = 19 440 000 000, low 32 bits
        // 2 260 130 816 (ns * 90 000 overflows 64 bits).
        QCOMPARE(tsudpsend::rtpTimestamp(11111), quint32(0));
        QCOMPARE(tsudpsend::rtpTimestamp(11112), quint32(1));
        QCOMPARE(tsudpsend::rtpTimestamp(216000LL * 1000000000), quint32(2260130816U));
    }

    void timestampsOfNoProgramAreKept()
    {
        // PCR on 0x100, then a PES on 0x101 that no program claims: on the second pass the PCR has moved on
        // (the shift of a program's PTS/DTS is checked through nerio-ts, which maps PIDs from the PMT), the
        // PES keeps its PTS.
        const QByteArray file = fixture::pcrPacket(0x100, 0, 1000, 0) + fixture::pesPacket(0x101, 0, 9000, 6000);
        auto loop = reader(fixture::writeFile(dir, "pes.ts", file), false);
        tsstamp stamp(loop.get(), 8000000, true);
        for (int i = 0; i < 2; ++i)
            stamp.nextPacket();
        QCOMPARE(fixture::pcrOf(stamp.nextPacket()), quint64(1000 * 300 + 10152)); // + 3008 bits at 8 Mbit/s
        QCOMPARE(fixture::timestampOf(stamp.nextPacket(), 13), quint64(9000));
    }

    void headerPastThePacketEndIsLeftAlone()
    {
        // Adaptation field of 165 bytes puts the PES header at 170: the PTS (179..183) fits, the DTS
        // (184..188) does not and must stay as it was.
        const QByteArray p = fixture::pesPacket(0x101, 0, 9000, 6000);
        QByteArray q(188, char(0xFF));
        q.replace(0, 4, p.left(4));
        q[3] = char(0x30);
        q[4] = char(165);
        q[5] = 0;
        q.replace(170, 18, p.mid(4, 18));
        auto loop = reader(fixture::writeFile(dir, "edge.ts", fixture::pcrPacket(0x100, 0, 1000, 0) + q), false);
        tsstamp stamp(loop.get(), 8000000, true);
        stamp.setPcrPidOf(0x101, 0x100);
        for (int i = 0; i < 3; ++i)
            stamp.nextPacket();
        const QByteArray out = stamp.nextPacket();
        QCOMPARE(out.size(), 188);
        QCOMPARE(fixture::timestampOf(out, 179), quint64(9033));
        QCOMPARE(out.mid(184), q.mid(184));
        // An injected packet (0x87 everywhere, no sync byte) is no PCR packet to rewrite.
        const QString rep = fixture::writeFile(dir, "rep.ts", fixture::pcrPacket(0x100, 0, 1000, 0));
        tsloop injecting(nullptr, rep, 8000000, 0, tsloop::loopEnabled, false, true, true, false, 0, 0, 1);
        tsstamp stamp3(&injecting, 8000000, true);
        QCOMPARE(stamp3.nextPacket(), injected);
    }

    void rtpHeaderAndSequenceWrap()
    {
        Chain c = chain(fixture::writeFile(dir, "seq.ts", fixture::counterRun(0x100, 7)), true);
        // One second of the 90 kHz clock is 90 000 = 0x00015F90.
        QVERIFY(c.sender->buildDatagram(1000000000));
        QCOMPARE(c.sender->datagram().size(), 12 + 7 * 188);
        QCOMPARE(c.sender->datagram().left(12).toHex(), QByteArray("80a1000000015f90ffffffff"));
        for (int i = 0; i < 65534; ++i)
            c.sender->buildDatagram(0);
        QVERIFY(c.sender->buildDatagram(0)); // the 65 536th
        QCOMPARE(c.sender->datagram().mid(2, 2).toHex(), QByteArray("ffff"));
        QVERIFY(c.sender->buildDatagram(0));
        QCOMPARE(c.sender->datagram().mid(2, 2).toHex(), QByteArray("0000"));
    }

    void fileWithoutAWholePacketSendsNothing()
    {
        Chain c = chain(fixture::writeFile(dir, "tiny.ts", QByteArray(100, char(0x47))), false);
        QVERIFY(!c.sender->buildDatagram(0));
        qint64 now = 0;
        c.sender->setClock([&now] { return now; });
        c.sender->sendDue();
        QCOMPARE(c.sender->datagramsSent(), quint64(0));
        QCOMPARE(c.sender->starvedDatagrams(), quint64(1));
    }

    void sendsOnTheInjectedClock()
    {
        Chain c = chain(fixture::writeFile(dir, "pace.ts", fixture::counterRun(0x100, 70)), true);
        qint64 now = 1000;
        c.sender->setClock([&now] { return now; });
        // First call starts the schedule: one datagram due at once, the next 1.0528 ms later.
        QCOMPARE(c.sender->sendDue(), qint64(1000 + 1052800));
        QCOMPARE(c.sender->datagramsSent(), quint64(1));
        QCOMPARE(c.sender->packetsSent(), quint64(7));
        // A 50 ms stall: one call sends one datagram, not the backlog, and the stall is counted.
        now += 50000000;
        c.sender->sendDue();
        QCOMPARE(c.sender->datagramsSent(), quint64(2));
        QCOMPARE(c.sender->stalls(), quint64(1));
    }
};

QTEST_GUILESS_MAIN(tst_pipeline)
#include "tst_pipeline.moc"
