// Pacing arithmetic on an injected clock: due times, exact long-run rate, bounded catch-up, pauses.

#include "pacer.h"

#include <QtTest>

class tst_pacer : public QObject
{
    Q_OBJECT

private slots:
    void datagramsDue_data()
    {
        QTest::addColumn<qint64>("elapsedNs");
        QTest::addColumn<quint64>("bitrate");
        QTest::addColumn<quint64>("due");
        // 10 Mbit/s, 7 packets = 10 528 bits: a datagram every 1.0528 ms, the first at 0.
        QTest::newRow("start") << qint64(0) << quint64(10000000) << quint64(1);
        QTest::newRow("1 ms") << qint64(1000000) << quint64(10000000) << quint64(1);
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

    void longStallIsGivenUpNotFlooded()
    {
        pacer p(10000000, 10528);
        p.restart(0);
        p.sent(0);
        p.sent(5000000000); // five seconds late
        QCOMPARE(p.stallCount(), quint64(1));
        QCOMPARE(p.forgivenNs(), qint64(5000000000 - 1052800));
        QCOMPARE(p.nextDeadline(), qint64(5000000000 + 1052800));
    }

    void restartMakesNothingUp()
    {
        // A ten-second pause: the schedule restarts at the resume, its first datagram due at once and the
        // next one a period later.
        pacer p(10000000, 10528);
        p.restart(0);
        p.sent(0);
        p.restart(10000000000);
        QCOMPARE(p.nextDeadline(), qint64(10000000000));
        p.sent(10000000000);
        QCOMPARE(p.nextDeadline(), qint64(10000000000 + 1052800));
        QCOMPARE(p.stallCount(), quint64(0));
    }
};

QTEST_GUILESS_MAIN(tst_pacer)
#include "tst_pacer.moc"
