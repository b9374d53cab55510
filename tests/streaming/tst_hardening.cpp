// Regressions found by the fuzz targets in the file reader and the clock stage; clocks across the PCR and
// PTS wrap and near the 64-bit limits of the rewrite and the RTP clock; files that are no packet grid.

#include "enginefixture.h"
#include "tsloop.h"
#include "tspcrmeasure.h"
#include "tsstamp.h"
#include "tsudpsend.h"

#include <QtTest>

#include <limits>

class tst_hardening : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void payloadAfterAdaptationOnlyWithTheSameCounterIsNoDuplicate()
    {
        // A file that starts a PID with an adaptation-only packet and then a payload packet of the same
        // counter (0): the payload packet is new data, not a repeat. Taken as a duplicate, it went out with
        // counter 0 on every pass, so a receiver dropped it as a repeat from the second pass on.
        const QByteArray file = fixture::adaptationOnly(0x300, 0) + fixture::packet(0x300, 0) + fixture::packet(0x301, 5);
        const QString path = fixture::writeFile(dir, "afirst.ts", file);
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, true, true, false, false, 1000, 0, 1);
        // Out: A0 P1 | A1 P2 | A2 P3 (payload steps by one per pass; adaptation-only repeats the last one).
        const int expected[] = { 0, 1, 5, 1, 2, 6, 2, 3, 7 };
        for (int cc : expected)
            QCOMPARE(quint8(loop.nextPacket()[3]) & 0x0F, cc);
    }

    void adaptationOnlyBetweenTwoRepeatsAllowsOneDuplicateOnly()
    {
        // Counters 4, 4 (legal duplicate), adaptation-only 4, 4: the last is new data and must step on,
        // otherwise three payload packets in a row carry one counter.
        const QByteArray file = fixture::packet(0x400, 4) + fixture::packet(0x400, 4) + fixture::adaptationOnly(0x400, 4)
            + fixture::packet(0x400, 4);
        const QString path = fixture::writeFile(dir, "dupdup.ts", file);
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, true, true, false, false, 1000, 0, 1);
        const int expected[] = { 4, 4, 4, 5 };
        for (int cc : expected)
            QCOMPARE(quint8(loop.nextPacket()[3]) & 0x0F, cc);
    }

    void longestGapInjectsNothing()
    {
        // The Testing page turns a gap too long for 64 bits into the longest gap; the reader then passes
        // every packet (a gap of 0 would replace every one).
        const QByteArray file = fixture::counterRun(0x100, 50);
        const QString path = fixture::writeFile(dir, "gap.ts", file);
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, false, true, true, false,
            quint64(std::numeric_limits<qint64>::max()), 0, 1);
        for (int i = 0; i < 120; ++i)
            QCOMPARE(loop.nextPacket(), file.mid((i % 50) * 188, 188));
    }

    void clocksRunOnAcrossTheWrapAndTheLoop()
    {
        // 1 504 000 bit/s: one packet lasts exactly 1 ms, 27 000 ticks of 27 MHz, 90 ticks of 90 kHz. A 10 s
        // file whose PCR starts 5 s before the 2^33 x 300 wrap, PCR every 20 packets (PID 0x100), a PES
        // with PTS/DTS every 40 (PID 0x101, one packet after a PCR), plain payload otherwise.
        constexpr quint64 M = tsstamp::PCR_MODULUS;
        constexpr quint64 P = tsstamp::PTS_MODULUS;
        constexpr int N = 10000;
        constexpr quint64 start = M - 5 * 27000000ULL;
        QByteArray file;
        file.reserve(N * 188);
        for (int n = 0; n < N; ++n) {
            const quint64 pcr = (start + quint64(n) * 27000) % M;
            if (n % 20 == 0) {
                file += fixture::pcrPacket(0x100, quint8(n / 20), pcr / 300, quint16(pcr % 300));
            } else if (n % 40 == 1) {
                const quint64 pts = (pcr / 300 + 9000) % P;
                file += fixture::pesPacket(0x101, quint8(n), pts, (pts + P - 3000) % P);
            } else {
                file += fixture::packet(0x101, quint8(n));
            }
        }
        const QString path = fixture::writeFile(dir, "wrap.ts", file);
        tsloop loop(nullptr, path, 1504000, 0, tsloop::loopEnabled, true, true, false, false, 1000, 0, 1);
        tsstamp stamp(&loop, 1504000, true);
        stamp.setPcrPidOf(0x101, 0x100);
        int lastCc = -1;
        int wrapsSeen = 0;
        quint64 previousPcr = 0;
        for (quint64 k = 0; k < 3 * N; ++k) {
            const QByteArray p = stamp.nextPacket();
            QCOMPARE(p.size(), 188);
            const int n = int(k % N);
            const quint64 pass = k / N;
            if (n % 20 == 0) {
                // The outgoing clock is the byte position at the constant rate: k ms after the first PCR.
                const quint64 pcr = fixture::pcrOf(p);
                QCOMPARE(pcr, (start + k * 27000) % M);
                if (k > 0 && pcr < previousPcr)
                    ++wrapsSeen;
                previousPcr = pcr;
                continue;
            }
            const int cc = quint8(p[3]) & 0x0F;
            if (lastCc >= 0)
                QCOMPARE(cc, (lastCc + 1) & 0x0F);
            lastCc = cc;
            if (n % 40 == 1) {
                // PTS/DTS move with the PCR offset: N x 90 ticks per earlier pass, modulo 2^33.
                const quint64 pts = ((start + quint64(n) * 27000) % M / 300 + 9000 + pass * N * 90) % P;
                QCOMPARE(fixture::timestampOf(p, 13), pts);
                QCOMPARE(fixture::timestampOf(p, 18), (pts + P - 3000) % P);
            }
        }
        // 30 s of clock from 5 s before the wrap: the PCR wraps once (at 5 s) and never steps back otherwise.
        QCOMPARE(wrapsSeen, 1);
        QCOMPARE(loop.wrapCount(), quint64(2));
    }

    void clockArithmeticNearTheLimits()
    {
        // Expected values from exact integer arithmetic (Python): floor(a * b / c) with no 64-bit overflow.
        QCOMPARE(tsudpsend::rtpTimestamp(std::numeric_limits<qint64>::max()), quint32(2269117121u));
        QCOMPARE(tsudpsend::rtpTimestamp(-1), quint32(0));
        QCOMPARE(tsstamp::regeneratedPcr(tsstamp::PCR_MODULUS - 1, quint64(1) << 62, 65000000),
            quint64(2047311795372ULL));
        QCOMPARE(tsstamp::regeneratedPcr(0, quint64(1) << 50, 100000), quint64(1030792151040ULL));
        QCOMPARE(tsstamp::regeneratedPcr(12345, 1 << 20, 0), quint64(12345));
        // A PTS 1 tick before its wrap shifted forward by 2 ticks (600 of 27 MHz) lands on 1.
        QCOMPARE(tsstamp::shiftedTimestamp(tsstamp::PTS_MODULUS - 1, 600, 0), quint64(1));
        // An incoming PCR just past the wrap and a new PCR just before it: the offset is 1 tick back.
        QCOMPARE(tsstamp::shiftedTimestamp(0, tsstamp::PCR_MODULUS - 300, 0), tsstamp::PTS_MODULUS - 1);
    }

    void filesWithoutA188ByteGrid_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("187 bytes") << (QByteArray(1, 0x47) + QByteArray(186, 0x00));
        QTest::newRow("no sync byte") << QByteArray(188 * 50, char(0x11));
        QByteArray m2ts; // 4-byte time code before each packet
        QByteArray rs; // 16 parity bytes after each packet
        for (int i = 0; i < 40; ++i) {
            const QByteArray pkt = fixture::pcrPacket(0x100, quint8(i), quint64(i) * 900, 0);
            m2ts += QByteArray::fromHex("0a0b0c0d") + pkt;
            rs += pkt + QByteArray(16, char(0x5A));
        }
        QTest::newRow("192-byte packets") << m2ts;
        QTest::newRow("204-byte packets") << rs;
    }

    void filesWithoutA188ByteGrid()
    {
        QFETCH(QByteArray, content);
        const QString path = fixture::writeFile(dir, QStringLiteral("nogrid%1.ts").arg(content.size()), content);
        tspcrmeasure measure(nullptr, path);
        QVERIFY(measure.isOpen());
        QCOMPARE(measure.findSync(), qint64(-1));
        QCOMPARE(measure.measureBitrate(), qint64(-1));
        QCOMPARE(measure.getPacketCount(), quint64(0));
    }
};

QTEST_GUILESS_MAIN(tst_hardening)
#include "tst_hardening.moc"
