// Clock stage: PCR regeneration from the output position, PTS/DTS shift, field widths and wide arithmetic.

#include "enginefixture.h"
#include "tsloop.h"
#include "tsstamp.h"

#include <QtTest>

class tst_tsstamp : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // 1000 packets of PID 0x100, a PCR every 100 packets (serial 0, 100, ...) whose value follows the file's
    // own rate of 10 Mbit/s, starting at base 1000: 100 packets = 150 400 bits = 406 080 ticks of 27 MHz.
    QString pcrFile()
    {
        QByteArray file;
        for (int i = 0; i < 1000; ++i) {
            if (i % 100 == 0) {
                const quint64 ticks = 1000 * 300 + quint64(i / 100) * 406080;
                file += fixture::pcrPacket(0x100, quint8(i), ticks / 300, quint16(ticks % 300));
            } else {
                file += fixture::packet(0x100, quint8(i), quint32(i));
            }
        }
        return fixture::writeFile(dir, "pcr.ts", file);
    }

private slots:
    void fieldCodecsMatchHandDecodedBytes()
    {
        // base 0x1_2345_6789 (33 bits), extension 0x123: bytes 91 A2 B3 C4 FF 23 (bit 0 of base in b10's top
        // bit, six reserved ones, extension bit 8).
        QByteArray p = fixture::pcrPacket(0x100, 0, 0x123456789ULL, 0x123);
        QCOMPARE(p.mid(6, 6).toHex(), QByteArray("91a2b3c4ff23"));
        const uchar *u = reinterpret_cast<const uchar *>(p.constData());
        QVERIFY(tsstamp::hasPcr(u));
        QCOMPARE(tsstamp::readPcr(u), 0x123456789ULL * 300 + 0x123);
        QByteArray q(188, 0);
        tsstamp::writePcr(reinterpret_cast<uchar *>(q.data()), 0x123456789ULL * 300 + 0x123);
        QCOMPARE(q.mid(6, 6), p.mid(6, 6));

        // PTS 0x1_0000_0001 with prefix 0011: bit 32 lands in t0 bit 3, so 39 00 01 00 03.
        QByteArray t = fixture::timestamp(3, 0x100000001ULL);
        QCOMPARE(t.toHex(), QByteArray("3900010003"));
        QCOMPARE(tsstamp::readTimestamp(reinterpret_cast<const uchar *>(t.constData())), 0x100000001ULL);
        QByteArray w = QByteArray::fromHex("1000000000");
        tsstamp::writeTimestamp(reinterpret_cast<uchar *>(w.data()), 0x1FFFFFFFFULL);
        QCOMPARE(w.toHex(), QByteArray("1fffffffff"));
    }

    void pcrContinuesAcrossTheWrapWithCorrection()
    {
        tsloop loop(nullptr, pcrFile(), 10000000, 0, tsloop::loopEnabled, false, true, false, false, 1000, 0, 1);
        tsstamp stamp(&loop, 10000000, true);
        // Every PCR of the output sits 100 packets after the previous one: 406 080 ticks later, also
        // across the wraps at packets 1000 and 2000, where the file's own PCR jumps back.
        quint64 previous = 0;
        int pcrs = 0;
        for (int i = 0; i < 2500; ++i) {
            const QByteArray p = stamp.nextPacket();
            if (i % 100 != 0)
                continue;
            const quint64 v = fixture::pcrOf(p);
            if (i == 0)
                QCOMPARE(v, quint64(1000 * 300)); // the first PCR passes unchanged
            else
                QCOMPARE(v - previous, quint64(406080));
            previous = v;
            ++pcrs;
        }
        QCOMPARE(pcrs, 25);
        QCOMPARE(stamp.getPacketCount(), quint64(2500));
    }

    void pcrJumpsWithTheDefaultRecord()
    {
        tsloop loop(nullptr, pcrFile(), 10000000, 0, tsloop::loopEnabled, false, true, false, false, 1000, 0, 1);
        tsstamp stamp(&loop, 10000000, false);
        QByteArray p;
        for (int i = 0; i <= 1000; ++i)
            p = stamp.nextPacket();
        QCOMPARE(fixture::pcrOf(p), quint64(1000 * 300)); // packet 1000 is the file's first again
    }

    void regenerationUsesWideArithmetic()
    {
        // 10^11 bytes at 65 Mbit/s: 10^11 * 216e6 / 65e6 = 332 307 692 307 ticks (quotient truncated), past the
        // 2^64 limit of a 64-bit product (8.5e10 bytes).
        QCOMPARE(tsstamp::regeneratedPcr(0, 100000000000ULL, 65000000), 332307692307ULL);
        // Five days at 65 Mbit/s = 3.51e12 bytes = 432 000 s = 1.1664e13 ticks, reduced modulo
        // 2^33 * 300 = 2 576 980 377 600: 11 664 000 000 000 - 4 * 2 576 980 377 600 = 1 356 078 489 600.
        const quint64 bytes = 65000000ULL / 8 * 432000;
        QCOMPARE(tsstamp::regeneratedPcr(0, bytes, 65000000), quint64(1356078489600ULL));
        // One packet at 65 Mbit/s is 624 ticks (624.7 truncated): the PCR wraps to the start of its range.
        QCOMPARE(tsstamp::regeneratedPcr(2576980377600ULL - 100, 188, 65000000), quint64(524));
    }

    void timestampsShiftWithTheirProgramsPcr()
    {
        // PID 0x100: PCR 1000 * 300 at packet 0; packet 1 on PID 0x101 starts a PES with PTS 9000 and DTS 6000.
        // Second pass: the PCR becomes 1000*300 + 2 packets (3008 bits) at 8 Mbit/s = 10 152 ticks; the offset
        // is 10 152 / 300 = 33 (90 kHz, truncated), so PTS 9033 and DTS 6033.
        const QByteArray file = fixture::pcrPacket(0x100, 0, 1000, 0) + fixture::pesPacket(0x101, 0, 9000, 6000);
        const QString path = fixture::writeFile(dir, "pes.ts", file);
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, false, true, false, false, 1000, 0, 1);
        tsstamp stamp(&loop, 8000000, true);
        stamp.setPcrPidOf(0x101, 0x100);
        stamp.nextPacket();
        QByteArray pes = stamp.nextPacket();
        QCOMPARE(fixture::timestampOf(pes, 13), quint64(9000));
        QCOMPARE(fixture::pcrOf(stamp.nextPacket()), quint64(1000 * 300 + 10152));
        pes = stamp.nextPacket();
        QCOMPARE(fixture::timestampOf(pes, 13), quint64(9033));
        QCOMPARE(fixture::timestampOf(pes, 18), quint64(6033));
        QCOMPARE(quint8(pes[13]) >> 4, 3); // prefix nibbles kept
        QCOMPARE(quint8(pes[18]) >> 4, 1);

        // A PID outside every program keeps its timestamps.
        tsloop loop2(nullptr, path, 8000000, 0, tsloop::loopEnabled, false, true, false, false, 1000, 0, 1);
        tsstamp stamp2(&loop2, 8000000, true);
        for (int i = 0; i < 3; ++i)
            stamp2.nextPacket();
        QCOMPARE(fixture::timestampOf(stamp2.nextPacket(), 13), quint64(9000));
    }

    void timestampsWrapModuloTheirWidth()
    {
        // PTS near 2^33 shifted forward by 100 ticks wraps to 99; a PCR offset across the PCR wrap counts the
        // short way round (+300 ticks = +1).
        QCOMPARE(tsstamp::shiftedTimestamp(0x1FFFFFFFFULL, 30000, 0), quint64(99));
        QCOMPARE(tsstamp::shiftedTimestamp(5, 150, 2576980377600ULL - 150), quint64(6));
        QCOMPARE(tsstamp::shiftedTimestamp(5, 0, 600), quint64(3)); // a negative offset
    }

    void headerPastThePacketEndIsLeftAlone()
    {
        // Adaptation field of 165 bytes puts the PES header at 170: the PTS (179..183) fits, the DTS
        // (184..188) does not and must stay as it was.
        QByteArray p = fixture::pesPacket(0x101, 0, 9000, 6000);
        QByteArray q(188, char(0xFF));
        q.replace(0, 4, p.left(4));
        q[3] = char(0x30);
        q[4] = char(165);
        q[5] = 0;
        q.replace(170, 18, p.mid(4, 18));
        QByteArray pcr = fixture::pcrPacket(0x100, 0, 1000, 0);
        const QString path = fixture::writeFile(dir, "edge.ts", pcr + q);
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, false, true, false, false, 1000, 0, 1);
        tsstamp stamp(&loop, 8000000, true);
        stamp.setPcrPidOf(0x101, 0x100);
        for (int i = 0; i < 3; ++i)
            stamp.nextPacket();
        const QByteArray out = stamp.nextPacket();
        QCOMPARE(out.size(), 188);
        QCOMPARE(fixture::timestampOf(out, 179), quint64(9033));
        QCOMPARE(out.mid(184), q.mid(184));
    }

    void replacementPacketsPassUnchanged()
    {
        const QString path = fixture::writeFile(dir, "rep.ts", fixture::pcrPacket(0x100, 0, 1000, 0));
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopEnabled, false, true, true, false, 0, 0, 1);
        tsstamp stamp(&loop, 8000000, true);
        QCOMPARE(stamp.nextPacket(), QByteArray(188, char(0x87)));
    }
};

QTEST_GUILESS_MAIN(tst_tsstamp)
#include "tst_tsstamp.moc"
