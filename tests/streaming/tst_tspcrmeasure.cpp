// Packet grid search, PCR bitrate measurement and per-PID counts on files written by the test.
//
// Streams are built at exactly 10 Mbit/s: a packet lasts 188 x 8 / 10e6 s = 4060.8 ticks of 27 MHz,
// so PCRs placed on packets whose index is a multiple of 5 carry whole tick values
// (PCR = index x 4060.8) and every interval between them measures exactly 10 000 000 bit/s.

#include "tsbuilder.h"
#include "tsparser.h"
#include "tspcrmeasure.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

constexpr quint16 PCR_PID = 0x100;
constexpr quint16 DATA_PID = 0x101;
constexpr quint64 WRAP = (quint64(1) << 33) * 300;

quint64 ticksAt(quint64 packetIndex)
{
    Q_ASSERT(packetIndex % 5 == 0);
    return packetIndex * 4060 + packetIndex / 5 * 4; // x 4060.8
}

struct pcrAt {
    int packet;
    quint64 value;
    quint16 pid = PCR_PID;
    bool discontinuity = false;
};

// totalPackets packets: the listed PCR packets, payload packets of DATA_PID everywhere else.
QByteArray buildStream(const QList<pcrAt> &pcrs, int totalPackets)
{
    QByteArray all;
    int next = 0;
    for (int i = 0; i < totalPackets; ++i) {
        if (next < pcrs.size() && pcrs.at(next).packet == i) {
            all.append(tsbuild::pcrPacket(pcrs.at(next).pid, pcrs.at(next).value % WRAP, pcrs.at(next).discontinuity));
            ++next;
        } else {
            all.append(tsbuild::packet(DATA_PID, false, i, QByteArray(184, char(0x33))));
        }
    }
    return all;
}

// Regular PCRs every `spacing` packets from packet 0, values starting at `start`.
QList<pcrAt> regularPcrs(int count, int spacing, quint64 start = 0)
{
    QList<pcrAt> pcrs;
    for (int k = 0; k < count; ++k)
        pcrs.append({ k * spacing, start + ticksAt(quint64(k) * spacing) });
    return pcrs;
}

} // namespace

Q_DECLARE_METATYPE(pcrAt)

class tst_tspcrmeasure : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void exactBitrateAndCounts();
    void tooFewPcrs_data();
    void tooFewPcrs();
    void stopsAfterSampleLimit();
    void timeBaseChanges_data();
    void timeBaseChanges();
    void equalPcrGivesNoSample();
    void firstSampleOfAnyPidIsDropped();
    void findSync_data();
    void findSync();
    void badSyncPacketsAreNotAnalysed();
    void parserIsFed();
    void unreadableFile();

private:
    QString write(const QByteArray &bytes);
    QTemporaryDir dir;
    int fileCounter = 0;
};

void tst_tspcrmeasure::init()
{
    QVERIFY(dir.isValid());
}

QString tst_tspcrmeasure::write(const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("f%1.ts").arg(++fileCounter));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

void tst_tspcrmeasure::exactBitrateAndCounts()
{
    // PCRs every 265 packets (39.86 ms at 10 Mbit/s), 10 of them.
    const QString path = write(buildStream(regularPcrs(10, 265), 9 * 265 + 1));
    tspcrmeasure m(nullptr, path);
    QCOMPARE(m.findSync(), qint64(0));
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getMeasuredBitrate(), qint64(10000000));
    QCOMPARE(m.getSampleCount(), 8);
    QCOMPARE(m.getPacketCount(), quint64(2386));
    // The first packet carries a PCR, so the PCR PID is met first.
    QCOMPARE(m.getPidList(), (QVector<quint16> { PCR_PID, DATA_PID }));
    QCOMPARE(m.getPidPacketCounts(), (QVector<quint64> { 10, 2376 }));
    QCOMPARE(m.pidShare(PCR_PID), 10.0 / 2386.0);
    QCOMPARE(m.pidShare(DATA_PID), 2376.0 / 2386.0);
    QCOMPARE(m.pidShare(0x1FFF), 0.0);

    // A second measurement starts over instead of counting on.
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getPacketCount(), quint64(2386));
}

void tst_tspcrmeasure::tooFewPcrs_data()
{
    QTest::addColumn<int>("pcrs");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("two: the only interval is dropped") << 2;
}

void tst_tspcrmeasure::tooFewPcrs()
{
    QFETCH(int, pcrs);
    tspcrmeasure m(nullptr, write(buildStream(regularPcrs(pcrs, 265), 600)));
    QCOMPARE(m.measureBitrate(), qint64(-1));
    QCOMPARE(m.getPacketCount(), quint64(600));
}

void tst_tspcrmeasure::stopsAfterSampleLimit()
{
    const QByteArray stream = buildStream(regularPcrs(1100, 5), 1100 * 5);
    tspcrmeasure m(nullptr, write(stream));
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    // The 1000th interval ends on packet 5000; the packet after it is read but not processed.
    QCOMPARE(m.getPacketCount(), quint64(5001));
    QCOMPARE(m.getSampleCount(), 999);

    m.setSampleLimit(0);
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getPacketCount(), quint64(5500));
    QCOMPARE(m.getSampleCount(), 1098);
}

void tst_tspcrmeasure::timeBaseChanges_data()
{
    QTest::addColumn<QList<pcrAt>>("pcrs");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("changes");

    // Starting four intervals before the 2^33 x 300 wrap: the counter passes zero mid-file.
    QTest::newRow("wrap") << regularPcrs(10, 265, WRAP - ticksAt(4 * 265)) << 8 << 0;

    QList<pcrAt> back = regularPcrs(10, 265, 5000000000ULL);
    for (int k = 5; k < 10; ++k)
        back[k].value = 1000 + ticksAt(quint64(k - 5) * 265); // second file, clock restarted low
    QTest::newRow("spliced, clock steps back") << back << 7 << 1;

    QList<pcrAt> forward = regularPcrs(10, 265);
    for (int k = 5; k < 10; ++k)
        forward[k].value += 3600ULL * 27000000ULL; // an hour later
    QTest::newRow("spliced, clock jumps forward") << forward << 7 << 1;

    QList<pcrAt> flagged = regularPcrs(10, 265);
    for (int k = 5; k < 10; ++k)
        flagged[k].value += 100000; // a 3.7 ms jump: only the flag tells
    flagged[5].discontinuity = true;
    QTest::newRow("discontinuity_indicator") << flagged << 7 << 0;
}

void tst_tspcrmeasure::timeBaseChanges()
{
    QFETCH(QList<pcrAt>, pcrs);
    QFETCH(int, samples);
    QFETCH(int, changes);
    tspcrmeasure m(nullptr, write(buildStream(pcrs, 9 * 265 + 1)));
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getSampleCount(), samples);
    QCOMPARE(m.getDiscontinuityCount(), changes);
}

void tst_tspcrmeasure::equalPcrGivesNoSample()
{
    // P0@0, P1@265, P1 again @270, P2@535, P3@800. The repeat restarts the reference at 270, so the
    // next interval spans 265 packets against 270 packets of clock: 10e6 x 265/270. The first interval
    // is dropped; the mean of 10e6 x 265/270 and 10e6 is 10e6 x 535/540 = 9 907 407.4.
    QList<pcrAt> pcrs
        = { { 0, 0 }, { 265, ticksAt(265) }, { 270, ticksAt(265) }, { 535, ticksAt(535) }, { 800, ticksAt(800) } };
    tspcrmeasure m(nullptr, write(buildStream(pcrs, 801)));
    QCOMPARE(m.measureBitrate(), qint64(9907407));
    QCOMPARE(m.getDiscontinuityCount(), 1);
}

void tst_tspcrmeasure::firstSampleOfAnyPidIsDropped()
{
    // PID 0x100's first interval (ending at packet 265) is 1000 ticks short: the first sample of the
    // file, so dropped. PID 0x200's intervals, the first ending at packet 270, are all exact.
    QList<pcrAt> pcrs;
    for (int k = 0; k < 6; ++k) {
        pcrs.append({ k * 265, ticksAt(quint64(k) * 265) + (k == 0 ? 1000 : 0), PCR_PID });
        pcrs.append({ k * 265 + 5, ticksAt(quint64(k) * 265 + 5), 0x200 });
    }
    tspcrmeasure m(nullptr, write(buildStream(pcrs, 5 * 265 + 6)));
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getSampleCount(), 9);
}

void tst_tspcrmeasure::findSync_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("offset");

    const QByteArray packets = buildStream(regularPcrs(3, 265), 531);
    QByteArray stray(100, char(0x00));
    stray[10] = char(0x47); // a sync byte with no packet 188 bytes on
    QTest::newRow("offset 100 after a stray 0x47") << stray + packets << qint64(100);
    QTest::newRow("beyond 32767") << QByteArray(40000, char(0x47 ^ 0xFF)) + packets << qint64(40000);
    QTest::newRow("past the search limit")
        << QByteArray(int(tspcrmeasure::SYNC_SEARCH_LIMIT) + 10, char(0)) + packets << qint64(-1);
    QTest::newRow("three packets") << packets.left(3 * 188) << qint64(0);
    QTest::newRow("two packets, truncated") << packets.left(2 * 188 - 50) << qint64(0);
    QTest::newRow("one packet") << packets.left(188) << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
    QByteArray broken = packets;
    broken[564] = char(0x48);
    // The grid resumes on the first packet with three good successors.
    QTest::newRow("fourth sync byte missing") << broken << qint64(4 * 188);
}

void tst_tspcrmeasure::findSync()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, offset);
    tspcrmeasure m(nullptr, write(bytes));
    QVERIFY(m.isOpen());
    QCOMPARE(m.findSync(), offset);
    QCOMPARE(m.getSyncOffset(), offset);
    if (offset < 0) {
        QCOMPARE(m.measureBitrate(), qint64(-1));
        QCOMPARE(m.getPacketCount(), quint64(0));
    } else {
        m.measureBitrate();
        QCOMPARE(m.getPacketCount(), quint64((bytes.size() - offset) / 188));
    }
}

void tst_tspcrmeasure::badSyncPacketsAreNotAnalysed()
{
    QByteArray stream = buildStream(regularPcrs(10, 265), 9 * 265 + 1);
    // Packet 1000 lost its sync byte and claims PID 0x0777 with a PCR.
    QByteArray bad = tsbuild::pcrPacket(0x777, 12345);
    bad[0] = char(0x00);
    stream.replace(1000 * 188, 188, bad);
    tspcrmeasure m(nullptr, write(stream));
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QCOMPARE(m.getPacketCount(), quint64(2386));
    QCOMPARE(m.pidPacketCount(0x777), quint64(0));
    QCOMPARE(m.pidPacketCount(DATA_PID), quint64(2375));
}

void tst_tspcrmeasure::parserIsFed()
{
    QByteArray stream = tsbuild::join(tsbuild::packetize(0, tsbuild::patSection(3, { { 1, 0x100 } })));
    stream
        += tsbuild::join(tsbuild::packetize(0x100, tsbuild::pmtSection(1, 0x100, { { 0x1B, 0x101, QByteArray() } })));
    stream += buildStream(regularPcrs(3, 265), 531);
    tspcrmeasure m(nullptr, write(stream));
    QCOMPARE(m.measureBitrate(), qint64(10000000));
    QVERIFY(m.getParser());
    const QList<program_info> programs = m.getParser()->programs();
    QCOMPARE(programs.size(), 1);
    QCOMPARE(programs.at(0).PCR_PID, quint16(0x100));
    QCOMPARE(programs.at(0).es_list.at(0).stream_type, quint8(0x1B));
}

void tst_tspcrmeasure::unreadableFile()
{
    tspcrmeasure m(nullptr, dir.filePath(QStringLiteral("missing.ts")));
    QVERIFY(!m.isOpen());
    QVERIFY(!m.openError().isEmpty());
    QCOMPARE(m.findSync(), qint64(-1));
    QCOMPARE(m.measureBitrate(), qint64(0));
    QCOMPARE(m.pidShare(0), 0.0);
    QVERIFY(!m.getParser());
}

QTEST_GUILESS_MAIN(tst_tspcrmeasure)
#include "tst_tspcrmeasure.moc"
