// The pacing thread's pipeline without a socket: pacing arithmetic on an injected clock, the file reader
// (packet grid, continuity renumbering, seeks, error injection), the clock stage across the PCR and PTS wraps
// and near the 64-bit limits, and the RTP timestamp. Several cases are regressions the fuzz targets found.

#include "enginefixture.h"
#include "pacer.h"
#include "tsloop.h"
#include "tsstamp.h"
#include "tsudpsend.h"

#include <QtTest>

#include <limits>
#include <memory>

namespace
{
const QByteArray injected(188, char(0x87));
} // namespace

class tst_pipeline : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    int files = 0;

    QString write(const QByteArray &bytes)
    {
        return fixture::writeFile(dir, QStringLiteral("%1.ts").arg(++files), bytes);
    }

    // Reader of the bytes, looping, with the injection off.
    std::unique_ptr<tsloop> reader(
        const QByteArray &bytes, bool cc, bool startSync = true, qint64 offset = 0, quint64 bitrate = 8000000)
    {
        return std::make_unique<tsloop>(
            nullptr, write(bytes), bitrate, offset, tsloop::loopEnabled, cc, startSync, false, false, 1000, 0, 1);
    }

private slots:
    void scheduleLatenessLongStallsAndPauses()
    {
        // 10 Mbit/s, 7 packets = 10 528 bits: a datagram every 1.0528 ms, the first at 0.
        QCOMPARE(pacer::datagramsDueBy(1052799, 10000000, 10528), quint64(1));
        QCOMPARE(pacer::datagramsDueBy(1052800, 10000000, 10528), quint64(2));
        QCOMPARE(pacer::datagramsDueBy(-5, 10000000, 10528), quint64(0));
        // 65 Mbit/s for 329 s: 2 031 250 whole datagrams before the end plus the one at the origin. A period of
        // whole nanoseconds (161 969.23 ns) would drift 1.56 ms over them: due times come from the exact product.
        QCOMPARE(pacer::datagramsDueBy(329000000000, 65000000, 10528), quint64(2031251));
        QCOMPARE(pacer::dueOffsetNs(1, 65000000, 10528), qint64(161970));
        QCOMPARE(pacer::dueOffsetNs(2031250, 65000000, 10528), qint64(329000000000));
        // Thirty days of datagrams (index * bits * 1e9 is past 2^64).
        QCOMPARE(pacer::dueOffsetNs(2031250ULL * 7879, 65000000, 10528), qint64(329000000000) * 7879);

        // Wake-up lateness, long stalls and pauses make nothing up.
        pacer p(10000000, 10528);
        p.restart(5000);
        for (quint64 k = 0; k < 100; ++k) {
            const qint64 due = 5000 + qint64(k) * 1052800;
            QCOMPARE(p.nextDeadline(), due);
            p.sent(due + 30000); // 30 us of wake-up lateness changes nothing
        }
        QCOMPARE(p.stallCount(), quint64(0));

        pacer q(10000000, 10528);
        q.restart(0);
        q.sent(0);
        q.sent(5000000000); // five seconds late: given up, not flooded
        QCOMPARE(q.stallCount(), quint64(1));
        QCOMPARE(q.forgivenNs(), qint64(5000000000 - 1052800));
        QCOMPARE(q.nextDeadline(), qint64(5000000000 + 1052800));
        // A pause: the schedule restarts at the resume, its first datagram due at once, the next a period later.
        q.restart(10000000000);
        QCOMPARE(q.nextDeadline(), qint64(10000000000));
        q.sent(10000000000);
        QCOMPARE(q.nextDeadline(), qint64(10000000000 + 1052800));
        QCOMPARE(q.stallCount(), quint64(1));
    }

    void stallIsMadeUpAtABoundedRate_data()
    {
        QTest::addColumn<quint64>("bitrate");
        QTest::addColumn<int>("worstPerMs");
        QTest::addColumn<qint64>("clearedWithinNs");
        // 65 Mbit/s: 617 datagrams behind go out at three times the rate (one per 53 990 ns): 19 fit in 1 ms, and
        // the backlog is gone about 50 ms after the stall. 10 Mbit/s: 95 behind at the 75 Mbit/s spacing (140 374
        // ns), 8 in 1 ms, gone within 16 ms; at 150 % of the rate, as before, that took 200 ms.
        QTest::newRow("65 Mbit/s") << quint64(65000000) << 19 << qint64(51000000);
        QTest::newRow("10 Mbit/s") << quint64(10000000) << 8 << qint64(16000000);
    }

    void stallIsMadeUpAtABoundedRate()
    {
        QFETCH(quint64, bitrate);
        QFETCH(int, worstPerMs);
        QFETCH(qint64, clearedWithinNs);
        pacer p(bitrate, 10528);
        p.restart(0);
        qint64 now = 0;
        for (int k = 0; k < 10; ++k) {
            now = p.nextDeadline();
            QVERIFY(!p.isBehind(now));
            p.sent(now);
        }
        now += 100000000;
        const qint64 stallEnd = now;
        QList<qint64> sends;
        while (sends.size() < 20000 && now < 2000000000) {
            now = std::max(now, p.nextDeadline());
            p.sent(now);
            sends << now;
            if (!p.isBehind(now))
                break; // back on schedule: the next datagram is not due yet
        }
        QCOMPARE(p.stallCount(), quint64(1));
        QVERIFY2(sends.last() - stallEnd <= clearedWithinNs, qPrintable(QString::number(sends.last() - stallEnd)));
        int worst = 0;
        for (int i = 0, j = 0; i < sends.size(); ++i) {
            while (sends[i] - sends[j] >= 1000000)
                ++j;
            worst = std::max(worst, i - j + 1);
        }
        QCOMPARE(worst, worstPerMs);
        // Back on schedule, every datagram due by now has gone: the average rate is exact again.
        QCOMPARE(p.datagramsSent(), pacer::datagramsDueBy(sends.last(), bitrate, 10528));
    }

    void continuityCounters_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<int>>("expected"); // counters out, pass after pass
        using fixture::adaptationOnly;
        using fixture::packet;
        // 3 (first, kept), 9, adaptation-only 9, 10, 10 (legal duplicate), 10 (third: new data). Next pass the
        // first packet carries 3 again, which is no duplicate of the 10 before the wrap.
        QTest::newRow("duplicate and adaptation-only") << packet(0x200, 3) + packet(0x200, 9) + adaptationOnly(0x200, 9)
                + packet(0x200, 10) + packet(0x200, 10) + packet(0x200, 10)
                + packet(0x300, 12) << QList<int> { 3, 4, 4, 5, 5, 6, 12, 7 };
        // One packet of a PID per pass: each pass brings new data.
        QTest::newRow("one packet a pass") << packet(0x400, 5) + packet(0x401, 0) << QList<int> { 5, 0, 6, 1, 7, 2 };
        // Adaptation-only then payload with the same counter: the payload is new data. Taken as a duplicate
        // it went out with counter 0 on every pass and a receiver dropped it from the second pass on.
        QTest::newRow("adaptation-only first") << adaptationOnly(0x300, 0) + packet(0x300, 0) + packet(0x301, 5)
                                               << QList<int> { 0, 1, 5, 1, 2, 6, 2, 3, 7 };
        // 4, 4 (legal duplicate), adaptation-only 4, 4: the last is new data, or three payload packets in a row
        // would carry one counter.
        QTest::newRow("one duplicate only") << packet(0x400, 4) + packet(0x400, 4) + adaptationOnly(0x400, 4)
                + packet(0x400, 4) << QList<int> { 4, 4, 4, 5 };
    }

    void continuityCounters()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<int>, expected);
        auto loop = reader(file, true);
        QList<int> out;
        for (int i = 0; i < expected.size(); ++i) {
            const QByteArray p = loop->nextPacket();
            QCOMPARE(quint8(p[3]) & 0xF0, quint8(file[i * 188 % file.size() + 3]) & 0xF0);
            out << (quint8(p[3]) & 0x0F);
        }
        QCOMPARE(out, expected);
    }

    void startSyncTrailingBytesAndSeeks()
    {
        // Five stray bytes, three packets, 50 stray bytes: with start synchronisation every pass begins at byte 5
        // and the part packet at the end never goes out; the counters stay the file's own.
        const QByteArray body = fixture::counterRun(0x100, 3);
        const QByteArray file = QByteArray(5, 'x') + body + QByteArray(50, char(0x47));
        auto loop = reader(file, false, true, 5);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(loop->nextPacket(), body.mid(i % 3 * 188, 188));
        QCOMPARE(loop->wrapCount(), quint64(2));
        // A seek to 60 s at 8 Mbit/s (60 000 000 bytes) lands on a whole packet after the five bytes: 60 000 000 -
        // 60 000 000 % 188 = 59 999 824. Far past the end, the next read wraps to the start.
        loop->newPositionFileSet(60);
        QCOMPARE(loop->getReadPosition(), quint64(59999824 + 5));
        QCOMPARE(loop->nextPacket(), body.left(188));
        auto raw = reader(file, false, false, 5);
        raw->newPositionFileSet(60);
        QCOMPARE(raw->getReadPosition(), quint64(59999824));
        // After a seek the file's counter 0 comes again; it is new data, not a repeat of the one sent.
        auto renumbered = reader(body, true);
        renumbered->nextPacket();
        renumbered->newPositionFileSet(0);
        QCOMPARE(quint8(renumbered->nextPacket()[3]) & 0x0F, 1);
    }

    void injection_data()
    {
        QTest::addColumn<quint64>("gap");
        QTest::addColumn<quint64>("run");
        QTest::addColumn<bool>("onePid"); // only PID 0x100, every tenth packet of the file
        QTest::addColumn<QList<int>>("replaced"); // 0-based packet numbers among the first 20
        QTest::newRow("gap 3 run 2") << quint64(3) << quint64(2) << false << QList<int> { 3, 4, 8, 9, 13, 14, 18, 19 };
        // The Testing page turns a gap too long for 64 bits into this one: nothing is replaced.
        QTest::newRow("longest gap") << quint64(std::numeric_limits<qint64>::max()) << quint64(1) << false
                                     << QList<int> {};
        QTest::newRow("gap 0 on one PID") << quint64(0) << quint64(1) << true << QList<int> { 0, 10 };
    }

    void injection()
    {
        QFETCH(quint64, gap);
        QFETCH(quint64, run);
        QFETCH(bool, onePid);
        QFETCH(QList<int>, replaced);
        QByteArray file;
        for (int i = 0; i < 20; ++i)
            file += fixture::packet(i % 10 == 0 ? 0x100 : 0x101, quint8(i), quint32(i));
        tsloop loop(nullptr, write(file), 8000000, 0, tsloop::loopEnabled, false, true, true, onePid, gap, 0x100, run);
        QList<int> seen;
        for (int i = 0; i < 20; ++i) {
            const QByteArray p = loop.nextPacket();
            if (p == injected)
                seen << i;
            else
                QCOMPARE(fixture::serialOf(p), quint32(i));
        }
        QCOMPARE(seen, replaced);
    }

    void fieldLayoutsMatchHandDecodedBytes()
    {
        // The decoders every clock check reads with, pinned to hand-decoded bytes. PCR base 0x1_2345_6789 (33
        // bits), extension 0x123: 91 A2 B3 C4 FF 23 (bit 0 of the base in byte 10's top bit, six reserved ones,
        // extension bit 8). PTS 0x1_0000_0001 with prefix 0011: bit 32 lands in byte 0 bit 3, so 39 00 01 00 03.
        const QByteArray p = tsbuild::pcrPacket(0x100, 0x123456789ULL * 300 + 0x123);
        QCOMPARE(p.mid(6, 6).toHex(), QByteArray("91a2b3c4ff23"));
        QCOMPARE(fixture::pcrOf(p), 0x123456789ULL * 300 + 0x123);
        const QByteArray t = fixture::timestamp(3, 0x100000001ULL);
        QCOMPARE(t.toHex(), QByteArray("3900010003"));
        QCOMPARE(fixture::timestampOf(t, 0), 0x100000001ULL);
    }

    void clockArithmeticIsWideAndWrapsModuloTheFieldWidth()
    {
        // Expected values from exact integer arithmetic (Python): floor(a * b / c) with no 64-bit overflow.
        // Five days at 65 Mbit/s = 3.51e12 bytes = 1.1664e13 ticks (bytes * 216e6 is past 2^64), modulo
        // 2^33 * 300: 11 664 000 000 000 - 4 * 2 576 980 377 600 = 1 356 078 489 600.
        QCOMPARE(tsstamp::regeneratedPcr(0, 65000000ULL / 8 * 432000, 65000000), quint64(1356078489600ULL));
        QCOMPARE(
            tsstamp::regeneratedPcr(tspacket::PCR_WRAP - 1, quint64(1) << 62, 65000000), quint64(2047311795372ULL));
        QCOMPARE(tsstamp::regeneratedPcr(12345, 1 << 20, 0), quint64(12345));
        // A PCR offset across the PCR wrap counts the short way round (+300 ticks = +1); a negative offset; a PTS
        // 1 tick before its wrap moved on 2 ticks; a new PCR just before the wrap, the incoming one just past it.
        QCOMPARE(tsstamp::shiftedTimestamp(5, 150, tspacket::PCR_WRAP - 150), quint64(6));
        QCOMPARE(tsstamp::shiftedTimestamp(5, 0, 600), quint64(3));
        QCOMPARE(tsstamp::shiftedTimestamp(tsstamp::PTS_MODULUS - 1, 600, 0), quint64(1));
        QCOMPARE(tsstamp::shiftedTimestamp(0, tspacket::PCR_WRAP - 300, 0), tsstamp::PTS_MODULUS - 1);
        // RTP: 90 kHz of the run clock; 60 hours = 19 440 000 000 ticks, low 32 bits 2 260 130 816 (ns * 90 000
        // overflows 64 bits).
        QCOMPARE(tsudpsend::rtpTimestamp(216000LL * 1000000000), quint32(2260130816U));
        QCOMPARE(tsudpsend::rtpTimestamp(std::numeric_limits<qint64>::max()), quint32(2269117121u));
    }

    void clocksRunOnAcrossTheWrapAndTheLoop()
    {
        // 1 504 000 bit/s: one packet lasts exactly 1 ms, 27 000 ticks of 27 MHz, 90 ticks of 90 kHz. A 10 s
        // file whose PCR starts 5 s before the 2^33 x 300 wrap, PCR every 20 packets (PID 0x100), a PES
        // with PTS/DTS every 40 (PID 0x101, one packet after a PCR), plain payload otherwise.
        constexpr quint64 M = tspacket::PCR_WRAP;
        constexpr quint64 P = tsstamp::PTS_MODULUS;
        constexpr int N = 10000;
        constexpr quint64 start = M - 5 * 27000000ULL;
        QByteArray file;
        file.reserve(N * 188);
        for (int n = 0; n < N; ++n) {
            const quint64 pcr = (start + quint64(n) * 27000) % M;
            const quint64 pts = (pcr / 300 + 9000) % P;
            if (n % 20 == 0)
                file += tsbuild::pcrPacket(0x100, pcr);
            else if (n % 40 == 1)
                file += fixture::pesPacket(0x101, quint8(n), pts, (pts + P - 3000) % P);
            else
                file += fixture::packet(0x101, quint8(n));
        }
        auto loop = reader(file, true, true, 0, 1504000);
        tsstamp stamp(loop.get(), 1504000, true);
        stamp.setPcrPidOf(0x101, 0x100);
        int lastCc = -1;
        int wrapsSeen = 0;
        quint64 previousPcr = 0;
        for (quint64 k = 0; k < 3 * N; ++k) {
            const QByteArray p = stamp.nextPacket();
            const int n = int(k % N);
            if (n % 20 == 0) {
                // The outgoing clock is the byte position at the constant rate: k ms after the first PCR.
                const quint64 pcr = fixture::pcrOf(p);
                QCOMPARE(pcr, (start + k * 27000) % M);
                wrapsSeen += k > 0 && pcr < previousPcr;
                previousPcr = pcr;
                continue;
            }
            if (lastCc >= 0)
                QCOMPARE(quint8(p[3]) & 0x0F, (lastCc + 1) & 0x0F);
            lastCc = quint8(p[3]) & 0x0F;
            if (n % 40 == 1) {
                // PTS/DTS move with the PCR offset: N x 90 ticks per earlier pass, modulo 2^33.
                const quint64 pts = ((start + quint64(n) * 27000) % M / 300 + 9000 + k / N * N * 90) % P;
                QCOMPARE(fixture::timestampOf(p, 13), pts);
                QCOMPARE(fixture::timestampOf(p, 18), (pts + P - 3000) % P);
            }
        }
        // 30 s of clock from 5 s before the wrap: the PCR wraps once (at 5 s) and never steps back otherwise.
        QCOMPARE(wrapsSeen, 1);
        QCOMPARE(loop->wrapCount(), quint64(2));
    }
};

QTEST_GUILESS_MAIN(tst_pipeline)
#include "tst_pipeline.moc"
