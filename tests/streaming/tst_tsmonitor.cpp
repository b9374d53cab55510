// The stream monitor of nerio-ts receive, fed hand-made datagrams with chosen arrival times.

#include "enginefixture.h"
#include "tsmonitor.h"

#include <QtTest>

namespace
{
const uchar *bytes(const QByteArray &b)
{
    return reinterpret_cast<const uchar *>(b.constData());
}

// Seven payload packets of PID 0x1FFF (not counter-checked) with a chosen packet in front.
QByteArray datagramWith(const QByteArray &first)
{
    QByteArray d = first;
    for (int i = 0; i < 6; ++i)
        d += fixture::packet(0x1FFF, 0);
    return d;
}
} // namespace

class tst_tsmonitor : public QObject
{
    Q_OBJECT

    // Whole 7-packet datagrams of the bytes, one a millisecond.
    static tsmonitor::report feed(const QByteArray &all)
    {
        tsmonitor m;
        for (int at = 0; at + 7 * 188 <= all.size(); at += 7 * 188)
            m.datagram(bytes(all) + at, 7 * 188, at / (7 * 188) * 1000000);
        return m.finish();
    }

private slots:
    void continuityAndSync()
    {
        // PID 0x100: 0, 1, 2, 2 (legal duplicate), 2 (error), 3, adaptation-only 3 (fine), adaptation-only 5
        // (error), 9 (error: 5 + 1 expected), discontinuity-flagged 0 (accepted), 1. Null packets never count.
        QByteArray discontinuity = fixture::pcrPacket(0x100, 0, 0);
        discontinuity[5] = char(0x80);
        QByteArray all;
        for (int cc : { 0, 1, 2, 2, 2, 3 })
            all += fixture::packet(0x100, quint8(cc));
        all += fixture::adaptationOnly(0x100, 3) + fixture::adaptationOnly(0x100, 5) + fixture::packet(0x100, 9)
            + discontinuity + fixture::packet(0x100, 1) + fixture::packet(0x1FFF, 7) + fixture::packet(0x1FFF, 2)
            + fixture::packet(0x1FFF, 0);
        tsmonitor::report r = feed(all);
        QCOMPARE(r.ccErrors, quint64(3));
        QCOMPARE(r.packets, quint64(14));
        QCOMPARE(r.partialDatagrams, quint64(0));

        // bad, good, bad, bad (loss 1), 5 good (regained), bad, bad (loss 2), good, good, good.
        const QByteArray bad(188, char(0x87));
        const QByteArray good = fixture::packet(0x1FFF, 0);
        all = bad + good + bad + bad;
        for (int i = 0; i < 5; ++i)
            all += good;
        r = feed(all + bad + bad + good + good + good);
        QCOMPARE(r.syncByteErrors, quint64(5));
        QCOMPARE(r.syncLosses, quint64(2));
    }

    void gapsBurstsAndRate()
    {
        // 1316-byte datagrams every 1.0528 ms are exactly 10 Mbit/s. Datagram 50 comes 5 ms late and the
        // next four follow it within 40 us (a burst of five in one millisecond), then the spacing resumes.
        const QByteArray d = datagramWith(fixture::packet(0x1FFF, 0));
        tsmonitor m;
        QList<qint64> at;
        for (int i = 0; i < 200; ++i)
            at << qint64(i) * 1052800;
        for (int i = 50; i < 55; ++i)
            at[i] = at[49] + 5000000 + (i - 50) * 10000;
        for (qint64 t : at)
            m.datagram(bytes(d), d.size(), t);
        const tsmonitor::report r = m.finish();
        QCOMPARE(r.datagrams, quint64(200));
        QCOMPARE(r.maxPerMs, 5);
        QCOMPARE(r.gapMaxUs, 5000.0);
        QCOMPARE(r.gapP50Us, 1052.0);
        // 199 gaps: 4 of 10 us, 193 of 1052.8 us, the one after the burst of 1276.8 us (back on the grid) and
        // 5000 us; the p99 rank is ceil(0.99 * 199) = 198, the 1276 us bin.
        QCOMPARE(r.gapP99Us, 1276.0);

        tsmonitor even;
        for (int i = 0; i < 1000; ++i)
            even.datagram(bytes(d), d.size(), qint64(i) * 1052800);
        QCOMPARE(qRound64(even.finish().bitrate), qint64(10000000));
    }

    void pcrAccuracyRepetitionAndJitter()
    {
        // At 10.528 Mbit/s a 1316-byte datagram lasts exactly 1 ms = 27 000 ticks. A PCR leads every tenth
        // datagram with the value its position gives, except the middle one of 101, which is 27 ticks (1 us)
        // off: against the fitted line it stands out by 27 * (1 - 1/101) ticks = 990.1 ns.
        tsmonitor m;
        for (int i = 0; i < 1010; ++i) {
            QByteArray first = fixture::packet(0x1FFF, 0);
            if (i % 10 == 0) {
                quint64 ticks = quint64(i) * 27000 + 5000000;
                if (i == 500)
                    ticks += 27;
                first = fixture::pcrPacket(0x100, quint8(i / 10), ticks);
            }
            const QByteArray d = datagramWith(first);
            m.datagram(bytes(d), d.size(), qint64(i) * 1000000);
        }
        tsmonitor::report r = m.finish();
        QCOMPARE(r.pcrCount, quint64(101));
        QCOMPARE(qRound(r.pcrAccuracyNs * 10), 9901);
        QVERIFY(!r.accuracyOk);
        QCOMPARE(r.pcrIntervalMaxMs, 10.0);
        QVERIFY(r.repetitionOk);
        QCOMPARE(r.pcrDiscontinuities, quint64(0));
        QCOMPARE(qRound64(r.pcrBitrate), qint64(10528000));
        QVERIFY(r.pcrJitterUs < 1.1); // arrivals follow the PCRs except the 1 us one

        // A time-base change (a wrap without PCR correction) starts a new line instead of counting as
        // inaccuracy; a 50 ms hole breaks the 40 ms repetition rule.
        tsmonitor jump;
        for (int i = 0; i < 400; ++i) {
            QByteArray first = fixture::packet(0x1FFF, 0);
            if (i % 10 == 0 && i != 300 && i != 310 && i != 320 && i != 330) {
                const quint64 ticks = quint64(i < 200 ? i : i - 200) * 27000 + 5000000;
                first = fixture::pcrPacket(0x100, quint8(i / 10), ticks);
            }
            const QByteArray d = datagramWith(first);
            jump.datagram(bytes(d), d.size(), qint64(i) * 1000000);
        }
        r = jump.finish();
        QCOMPARE(r.pcrDiscontinuities, quint64(1));
        QVERIFY(r.pcrAccuracyNs < 1);
        QCOMPARE(r.pcrIntervalMaxMs, 50.0);
        QVERIFY(!r.repetitionOk);
    }

    void rtpDatagrams()
    {
        const QByteArray payload = datagramWith(fixture::packet(0x1FFF, 0));
        tsmonitor m;
        for (int seq : { 0, 1, 3, 4 }) {
            QByteArray d = QByteArray::fromHex("80a1") + char(seq >> 8) + char(seq) + QByteArray(8, 0) + payload;
            m.datagram(bytes(d), d.size(), seq * 1000000);
        }
        QByteArray shortOne = payload.left(3 * 188);
        m.datagram(bytes(shortOne), shortOne.size(), 5000000);
        const tsmonitor::report r = m.finish();
        QCOMPARE(r.rtpDatagrams, quint64(4));
        QCOMPARE(r.rtpSequenceErrors, quint64(1));
        QCOMPARE(r.partialDatagrams, quint64(1));
        QCOMPARE(r.packets, quint64(4 * 7 + 3));
    }
};

QTEST_GUILESS_MAIN(tst_tsmonitor)
#include "tst_tsmonitor.moc"
