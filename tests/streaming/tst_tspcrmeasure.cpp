// Packet grid search, PCR bitrate measurement and per-PID counts on files written by the test, at
// exactly 10 Mbit/s (pcrstream.h).

#include "pcrstream.h"
#include "tsparser.h"
#include "tspcrmeasure.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace pcrstream;

class tst_tspcrmeasure : public QObject
{
    Q_OBJECT
private slots:
    void exactBitrateAndCounts();
    void measure_data();
    void measure();

private:
    QString write(const QByteArray &bytes);
    QTemporaryDir dir;
    int fileCounter = 0;
};

QString tst_tspcrmeasure::write(const QByteArray &bytes)
{
    const QString path = dir.filePath(QString::number(++fileCounter));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
}

void tst_tspcrmeasure::exactBitrateAndCounts()
{
    // PAT and PMT, then PCRs every 265 packets (39.86 ms). Packet 1002 lost its sync byte and
    // claims PID 0x777 with a PCR: it is counted as a packet but not analysed.
    QByteArray stream = tsbuild::join(tsbuild::packetize(0, tsbuild::patSection(3, { { 1, 0x1000 } }))
        + tsbuild::packetize(0x1000, tsbuild::pmtSection(1, PCR_PID, { { 0x1B, DATA_PID, QByteArray() } })));
    stream += build(regular(10, 265), 9 * 265 + 1);
    QByteArray bad = tsbuild::pcrPacket(0x777, 12345);
    bad[0] = char(0x00);
    stream.replace(1002 * 188, 188, bad);
    tspcrmeasure m(nullptr, write(stream));
    QCOMPARE(m.findSync(), qint64(0));
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getSampleCount(), 8);
    QCOMPARE(m.getPacketCount(), quint64(2388));
    QCOMPARE(m.getPidList(), (QVector<quint16> { 0, 0x1000, PCR_PID, DATA_PID }));
    QCOMPARE(m.getPidPacketCounts(), (QVector<quint64> { 1, 1, 10, 2375 }));
    QCOMPARE(m.pidShare(PCR_PID), 10.0 / 2388.0);
    QCOMPARE(m.pidShare(0x777), 0.0);
    QCOMPARE(m.getParser()->programs().at(0).es_list.at(0).stream_type, quint8(0x1B));
    // A second measurement starts over instead of counting on.
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getPacketCount(), quint64(2388));
}

void tst_tspcrmeasure::measure_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("packets"); // read by the measurement scan
    QTest::addColumn<qint64>("bitrate");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("changes");

    QTest::newRow("two PCRs: the only interval is dropped")
        << build(regular(2, 265), 600) << 0LL << 600 << -1LL << 0 << 0;
    // Starting four intervals before the 2^33 x 300 wrap: the counter passes zero mid-file.
    QTest::newRow("wrap") << build(regular(10, 265, WRAP - ticksAt(4 * 265)), 2386) << 0LL << 2386 << 10000000LL << 8
                          << 0;
    QList<pcrAt> back = regular(10, 265, 5000000000ULL);
    QList<pcrAt> forward = regular(10, 265);
    QList<pcrAt> flagged = regular(10, 265);
    for (int k = 5; k < 10; ++k) {
        back[k].value = 1000 + ticksAt(quint64(k - 5) * 265); // second file, clock restarted low
        forward[k].value += 3600ULL * 27000000ULL; // an hour later
        flagged[k].value += 100000; // a 3.7 ms jump: only the flag tells
    }
    flagged[5].discontinuity = true;
    QTest::newRow("spliced, clock steps back") << build(back, 2386) << 0LL << 2386 << 10000000LL << 7 << 1;
    QTest::newRow("spliced, clock jumps forward") << build(forward, 2386) << 0LL << 2386 << 10000000LL << 7 << 1;
    QTest::newRow("discontinuity_indicator") << build(flagged, 2386) << 0LL << 2386 << 10000000LL << 7 << 0;

    // P1 repeated at 270 restarts the reference there: the next interval spans 265 packets against
    // 270 packets of clock. The first interval is dropped; the mean of 10e6 x 265/270 and 10e6 is
    // 10e6 x 535/540 = 9 907 407.4.
    const QList<pcrAt> equal
        = { { 0, 0 }, { 265, ticksAt(265) }, { 270, ticksAt(265) }, { 535, ticksAt(535) }, { 800, ticksAt(800) } };
    QTest::newRow("equal PCRs") << build(equal, 801) << 0LL << 801 << 9907407LL << 2 << 1;

    // PID 0x100's first interval is 1000 ticks short but is the file's first sample, so dropped;
    // PID 0x200's intervals, the first ending at packet 270, are all exact.
    QList<pcrAt> twoPids;
    for (int k = 0; k < 6; ++k) {
        twoPids.append({ k * 265, ticksAt(quint64(k) * 265) + (k == 0 ? 1000 : 0) });
        twoPids.append({ k * 265 + 5, ticksAt(quint64(k) * 265 + 5), 0x200 });
    }
    QTest::newRow("first sample of any PID dropped") << build(twoPids, 1331) << 0LL << 1331 << 10000000LL << 9 << 0;
    // The 1000th interval ends on packet 5000; the packet after it is read but not processed.
    QTest::newRow("sample limit") << build(regular(1100, 5), 5500) << 0LL << 5001 << 10000000LL << 999 << 0;

    // Packet grid search: PCRs on packets 0, 265 and 530.
    const QByteArray packets = build(regular(3, 265), 531);
    QByteArray stray(100, char(0x00));
    stray[10] = char(0x47); // a sync byte with no packet 188 bytes on
    QTest::newRow("offset 100 after a stray 0x47") << stray + packets << 100LL << 531 << 10000000LL << 1 << 0;
    QTest::newRow("beyond 32767") << QByteArray(40000, char(0xB8)) + packets << 40000LL << 531 << 10000000LL << 1 << 0;
    QTest::newRow("past the search limit")
        << QByteArray(int(tspcrmeasure::SYNC_SEARCH_LIMIT) + 10, char(0)) + packets << -1LL << 0 << -1LL << 0 << 0;
    QTest::newRow("two packets, truncated") << packets.left(2 * 188 - 50) << 0LL << 1 << -1LL << 0 << 0;
    QTest::newRow("one packet") << packets.left(188) << -1LL << 0 << -1LL << 0 << 0;
    QTest::newRow("empty") << QByteArray() << -1LL << 0 << -1LL << 0 << 0;
    // Packets of 192 bytes (time code first) and 204 bytes (parity after): no 188-byte grid.
    QByteArray m2ts;
    QByteArray rs;
    for (int i = 0; i < 40; ++i) {
        m2ts += QByteArray::fromHex("0a0b0c0d") + packets.mid(i * 188, 188);
        rs += packets.mid(i * 188, 188) + QByteArray(16, char(0x5A));
    }
    QTest::newRow("192-byte packets") << m2ts << -1LL << 0 << -1LL << 0 << 0;
    QTest::newRow("204-byte packets") << rs << -1LL << 0 << -1LL << 0 << 0;
    QByteArray broken = packets;
    broken[564] = char(0x48);
    // The grid resumes on the first packet with three good successors; one interval left, dropped.
    QTest::newRow("fourth sync byte missing") << broken << 752LL << 527 << -1LL << 0 << 0;
}

void tst_tspcrmeasure::measure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, offset);
    QFETCH(int, packets);
    QFETCH(qint64, bitrate);
    QFETCH(int, samples);
    QFETCH(int, changes);
    tspcrmeasure m(nullptr, write(bytes));
    QCOMPARE(m.findSync(), offset);
    QCOMPARE(m.measureBitrate(), bitrate);
    QCOMPARE(m.getSyncOffset(), offset);
    QCOMPARE(m.getPacketCount(), quint64(packets));
    QCOMPARE(m.getSampleCount(), samples);
    QCOMPARE(m.getDiscontinuityCount(), changes);
}

QTEST_GUILESS_MAIN(tst_tspcrmeasure)
#include "tst_tspcrmeasure.moc"
