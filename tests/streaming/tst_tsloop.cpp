// File reader of a run: packet grid, wraps, continuity renumbering, seeks and error injection.

#include "enginefixture.h"
#include "tsloop.h"

#include <QSignalSpy>
#include <QtTest>

class tst_tsloop : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // Reader with the injection off; cc and start correction as given.
    tsloop *reader(const QString &path, bool cc, bool start, qint16 offset = 0, quint64 bitrate = 8000000)
    {
        return new tsloop(nullptr, path, bitrate, offset, tsloop::loopEnabled, cc, start, false, false, 1000, 0, 1);
    }

private slots:
    void unreadableFileGivesEmptyPackets()
    {
        std::unique_ptr<tsloop> loop(reader(dir.filePath("missing.ts"), true, true));
        QVERIFY(!loop->isOpen());
        QCOMPARE(loop->nextPacket().size(), 0);
    }

    void startSyncReadsFromTheFirstPacketStart()
    {
        // Five stray bytes, then two packets: with start synchronisation every pass begins at byte 5.
        const QByteArray body = fixture::packet(0x100, 0, 1) + fixture::packet(0x100, 1, 2);
        const QString path = fixture::writeFile(dir, "offset5.ts", QByteArray(5, 'x') + body);
        std::unique_ptr<tsloop> loop(reader(path, false, true, 5));
        for (int pass = 0; pass < 3; ++pass) {
            QCOMPARE(loop->nextPacket(), body.left(188));
            QCOMPARE(loop->nextPacket(), body.mid(188));
        }
        QCOMPARE(loop->wrapCount(), quint64(2));

        // Without it the first pass starts at byte 0 and is misaligned by five bytes, as is every later one.
        std::unique_ptr<tsloop> raw(reader(path, false, false, 5));
        const QByteArray file = QByteArray(5, 'x') + body;
        QCOMPARE(raw->nextPacket(), file.left(188));
        QCOMPARE(raw->nextPacket(), file.mid(188, 188));
        QCOMPARE(raw->nextPacket(), file.left(188)); // 5 bytes left over: a short read, so a wrap
    }

    void trailingBytesAreNeverSent()
    {
        const QByteArray body = fixture::counterRun(0x100, 1000);
        const QString path = fixture::writeFile(dir, "stray.ts", body + QByteArray(50, char(0x47)));
        std::unique_ptr<tsloop> loop(reader(path, false, true));
        for (int i = 0; i < 2500; ++i) {
            const QByteArray p = loop->nextPacket();
            QCOMPARE(p.size(), 188);
            QCOMPARE(fixture::serialOf(p), quint32(i % 1000));
        }
    }

    void loopDisabledAsksForStopAtEachWrapAndGoesOn()
    {
        const QString path = fixture::writeFile(dir, "short.ts", fixture::counterRun(0x100, 3));
        tsloop loop(nullptr, path, 8000000, 0, tsloop::loopDisabled, false, true, false, false, 1000, 0, 1);
        QSignalSpy stop(&loop, &tsloop::loopDisable_emitStopStreaming);
        for (int i = 0; i < 3; ++i)
            loop.nextPacket();
        QCOMPARE(stop.count(), 0);
        QCOMPARE(fixture::serialOf(loop.nextPacket()), quint32(0));
        QCOMPARE(stop.count(), 1);
    }

    void continuityRunsOnAcrossTheWrap()
    {
        // PID 0x100 counts 0..15 then 0..7 (24 packets, ends at 7); after the wrap the file restarts at 0
        // but the output goes on 8, 9, ...
        const QString path = fixture::writeFile(dir, "cc.ts", fixture::counterRun(0x100, 24));
        std::unique_ptr<tsloop> loop(reader(path, true, true));
        for (int i = 0; i < 24; ++i)
            QCOMPARE(quint8(loop->nextPacket()[3]) & 0x0F, i & 0x0F);
        for (int i = 0; i < 40; ++i) {
            const QByteArray p = loop->nextPacket();
            QCOMPARE(quint8(p[3]) & 0x0F, (8 + i) & 0x0F);
            QCOMPARE(quint8(p[3]) & 0xF0, 0x10);
        }
        // Without the correction the counter jumps back to the file's own.
        std::unique_ptr<tsloop> raw(reader(path, false, true));
        for (int i = 0; i < 24; ++i)
            raw->nextPacket();
        QCOMPARE(quint8(raw->nextPacket()[3]) & 0x0F, 0);
    }

    void adaptationOnlyAndDuplicatesKeepTheCounter()
    {
        // File counters: 3 (first, kept), 9, adaptation-only 9, 10, 10 (legal duplicate), 10 (third: new data).
        const QByteArray file = fixture::packet(0x200, 3) + fixture::packet(0x200, 9)
            + fixture::adaptationOnly(0x200, 9) + fixture::packet(0x200, 10) + fixture::packet(0x200, 10)
            + fixture::packet(0x200, 10) + fixture::packet(0x300, 12);
        const QString path = fixture::writeFile(dir, "dup.ts", file);
        std::unique_ptr<tsloop> loop(reader(path, true, true));
        const int expected[] = { 3, 4, 4, 5, 5, 6, 12 };
        for (int cc : expected)
            QCOMPARE(quint8(loop->nextPacket()[3]) & 0x0F, cc);
        // Next pass: the first packet of 0x200 carries 3 again, which is no duplicate of the 10 before the
        // wrap: it continues as 7.
        QCOMPARE(quint8(loop->nextPacket()[3]) & 0x0F, 7);
    }

    void sameCounterAfterAWrapIsNoDuplicate()
    {
        // One packet of PID 0x400 (counter 5) per pass: each pass brings new data, so the output counts on.
        const QString path = fixture::writeFile(dir, "onecc.ts", fixture::packet(0x400, 5) + fixture::packet(0x401, 0));
        std::unique_ptr<tsloop> loop(reader(path, true, true));
        for (int pass = 0; pass < 4; ++pass) {
            QCOMPARE(quint8(loop->nextPacket()[3]) & 0x0F, 5 + pass);
            loop->nextPacket();
        }
        // A seek breaks the incoming counters the same way.
        loop->nextPacket();
        loop->newPositionFileSet(0);
        QCOMPARE(quint8(loop->nextPacket()[3]) & 0x0F, 10);
    }

    void seekAlignsToWholePackets()
    {
        // 60 s at 8 Mbit/s = 60 000 000 bytes, aligned down: 60 000 000 - 60 000 000 % 188 = 59 999 824.
        const QString path = fixture::writeFile(dir, "seek.ts", fixture::counterRun(0x100, 4));
        std::unique_ptr<tsloop> loop(reader(path, false, true, 7));
        loop->newPositionFileSet(60);
        QCOMPARE(loop->getReadPosition(), quint64(59999824 + 7));
        std::unique_ptr<tsloop> raw(reader(path, false, false, 7));
        raw->newPositionFileSet(60);
        QCOMPARE(raw->getReadPosition(), quint64(59999824));
        // Far past the end: the next read wraps to the start.
        QCOMPARE(fixture::serialOf(raw->nextPacket()), quint32(0));
    }

    void positionIsReportedOncePerSecond()
    {
        // 1000 packets at 188 * 8 * 100 bit/s: one second of stream every 100 packets.
        const QString path = fixture::writeFile(dir, "pos.ts", fixture::counterRun(0x100, 1000));
        std::unique_ptr<tsloop> loop(reader(path, false, true, 0, 150400));
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
            if (p == QByteArray(188, char(0x87)))
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
        for (int i = 0; i < 50; ++i) {
            const QByteArray p = loop.nextPacket();
            QCOMPARE(p == QByteArray(188, char(0x87)), i % 10 == 0);
        }
        // A live change restarts the rhythm from a fresh gap: 2 packets of the PID pass, then one goes.
        loop.setScramblingGap(2);
        QList<bool> hits;
        for (int i = 0; i < 40; ++i) {
            const QByteArray p = loop.nextPacket();
            if (i % 10 == 0)
                hits << (p == QByteArray(188, char(0x87)));
        }
        QCOMPARE(hits, (QList<bool> { false, false, true, false }));
    }
};

QTEST_GUILESS_MAIN(tst_tsloop)
#include "tst_tsloop.moc"
