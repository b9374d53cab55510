// Regressions found by the fuzz targets in the file reader and the clock stage.

#include "enginefixture.h"
#include "tsloop.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(tst_hardening)
#include "tst_hardening.moc"
