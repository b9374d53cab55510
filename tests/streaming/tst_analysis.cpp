// What the pages and nerio-ts report about a stream: packet grid search and PCR bitrate of files written at
// exactly 10 Mbit/s (pcrstream.h), how far the PSI tables are read after the bitrate scan, the icons of current
// programmes, and the stream monitor of nerio-ts receive fed hand-made datagrams with chosen arrival times.

#include "analysistree.h"
#include "enginefixture.h"
#include "pcrstream.h"
#include "tsmonitor.h"
#include "tsparser.h"
#include "tspcrmeasure.h"

#include <QtTest>

using namespace pcrstream;

namespace
{
void feed(tsmonitor &m, const QByteArray &d, qint64 arrivalNs)
{
    m.datagram(reinterpret_cast<const uchar *>(d.constData()), d.size(), arrivalNs);
}
} // namespace

class tst_analysis : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void measure_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<int>("packets"); // read by the measurement scan
        QTest::addColumn<qint64>("bitrate");

        // Starting four intervals before the 2^33 x 300 wrap: the counter passes zero mid-file.
        QTest::newRow("wrap") << build(regular(10, 265, WRAP - ticksAt(4 * 265)), 2386) << 0LL << 2386 << 10000000LL;
        QList<pcrAt> back = regular(10, 265, 5000000000ULL);
        QList<pcrAt> flagged = regular(10, 265);
        for (int k = 5; k < 10; ++k) {
            back[k].value = 1000 + ticksAt(quint64(k - 5) * 265); // second file, clock restarted low
            flagged[k].value += 100000; // a 3.7 ms jump: only the flag tells
        }
        flagged[5].discontinuity = true;
        QTest::newRow("spliced, clock steps back") << build(back, 2386) << 0LL << 2386 << 10000000LL;
        QTest::newRow("discontinuity_indicator") << build(flagged, 2386) << 0LL << 2386 << 10000000LL;

        // P1 repeated at 270 restarts the reference there: the next interval spans 265 packets against
        // 270 packets of clock. The first interval is dropped; the mean of 10e6 x 265/270 and 10e6 is
        // 10e6 x 535/540 = 9 907 407.4.
        const QList<pcrAt> equal
            = { { 0, 0 }, { 265, ticksAt(265) }, { 270, ticksAt(265) }, { 535, ticksAt(535) }, { 800, ticksAt(800) } };
        QTest::newRow("equal PCRs") << build(equal, 801) << 0LL << 801 << 9907407LL;

        // Packet grid search (nerio-ts analyze's tests find a grid behind stray sync bytes and none in 2 MiB of
        // random bytes): PCRs on packets 0, 265 and 530.
        const QByteArray packets = build(regular(3, 265), 531);
        QTest::newRow("beyond 32767") << QByteArray(40000, char(0xB8)) + packets << 40000LL << 531 << 10000000LL;
        QTest::newRow("two packets, truncated") << packets.left(2 * 188 - 50) << 0LL << 1 << -1LL;
        QByteArray broken = packets;
        broken[564] = char(0x48);
        // The grid resumes on the first packet with three good successors; one interval left, dropped.
        QTest::newRow("fourth sync byte missing") << broken << 752LL << 527 << -1LL;
    }

    void measure()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, offset);
        QFETCH(int, packets);
        QFETCH(qint64, bitrate);
        tspcrmeasure m(nullptr, fixture::writeFile(dir, QString::fromLatin1(QTest::currentDataTag()), bytes));
        QCOMPARE(m.findSync(), offset);
        QCOMPARE(m.measureBitrate(), bitrate);
        QCOMPARE(m.getPacketCount(), quint64(packets));
    }

    // After its 1000 PCR intervals the scan hands packets to the PSI parser alone, until the tables are complete or
    // 30 s of stream from the start have gone by. At 451 200 bit/s (300 packets a second, 90 000 ticks of 27 MHz a
    // packet) with a PCR in every packet but the PAT, PMT and SDT, the scan ends near packet 1000 and the bound is
    // packet 9000: an NIT at 8999 is found, one at 9000 is not.
    void psiReadOnAfterTheScan_data()
    {
        QTest::addColumn<int>("nitAt");
        QTest::addColumn<QString>("network");
        QTest::newRow("last packet inside") << 8999 << "Inside";
        QTest::newRow("first packet outside") << 9000 << "";
    }

    void psiReadOnAfterTheScan()
    {
        QFETCH(int, nitAt);
        QFETCH(QString, network);
        using namespace tsbuild;
        QByteArray bytes = join(packetize(0, patSection(1, { { 1, 0x1000 } })))
            + join(packetize(0x1000, pmtSection(1, 0x100, { { 0x24, 0x100, {} } })))
            + join(packetize(0x11, sdtSection(0x42, 1, { { 1, false, "P", "S" } })));
        for (int i = 3; i < 9100; ++i)
            bytes += i == nitAt ? join(packetize(0x10, nitSection(0x40, 1, descriptor(0x40, "Inside"))))
                                : pcrPacket(0x100, quint64(i) * 90000);
        tspcrmeasure m(nullptr, fixture::writeFile(dir, QString::fromLatin1(QTest::currentDataTag()), bytes));
        QCOMPARE(m.measureBitrate(), 451200LL);
        QCOMPARE(m.getParser()->network_name(), network);
        QCOMPARE(m.getPacketCount() + m.getPsiPacketCount(), quint64(9000));
        // The per-PID counts stay those of the scan.
        QCOMPARE(m.pidPacketCount(0x100), m.getPacketCount() - 3);
    }

    // A programme of HEVC video, AC-3 audio and subtitles carried as private data is a television programme; one of
    // E-AC-3 alone a radio programme.
    void currentProgrammesIcons()
    {
        const auto stream = [](quint8 type, quint16 pid, QVector<quint8> tags) {
            es_entry e;
            e.stream_type = type;
            e.elementary_PID = pid;
            e.descriptor_tags = tags;
            e.first_descriptor_tag = tags.isEmpty() ? 255 : tags.first();
            return e;
        };
        program_info tv;
        tv.program_number = 1;
        tv.es_list = { stream(0x24, 0x100, {}), stream(0x06, 0x101, { 0x0A, 0x6A }), stream(0x06, 0x102, { 0x59 }) };
        program_info radio;
        radio.program_number = 2;
        radio.es_list = { stream(0x06, 0x200, { 0x7A }) };
        const analysisnode top = analysistree::programTree(
            { tv, radio }, 1, QString(), 10000000, [](quint16) { return 0.0; }, es_table());
        QStringList icons;
        for (const analysisnode &programme : top.children) {
            icons.append(programme.icon);
            for (int s = 0; s < programme.children.size() - 4; ++s)
                icons.append(programme.children.at(s).text + ' ' + programme.children.at(s).icon);
        }
        QCOMPARE(icons,
            QStringList({ ":/tv.png", "HEVC/H.265 Video (0 bps) :/video.png", "AC-3 Audio (0 bps) :/audio.png",
                "DVB Subtitling (0 bps) :/text.png", ":/audio.png", "E-AC-3 Audio (0 bps) :/audio.png" }));
    }

    void monitorErrorsBurstsAndDatagrams()
    {
        // PID 0x100: 0, 1, 2, 2 (legal duplicate), 2 (error), 3, adaptation-only 3 (fine), adaptation-only 5
        // (error), 9 (error: 5 + 1 expected), a PCR with the discontinuity flag and 0 (accepted), 1. Null packets never
        // count.
        const QByteArray discontinuity = tsbuild::pcrPacket(0x100, 0, true);
        QByteArray counters;
        for (int cc : { 0, 1, 2, 2, 2, 3 })
            counters += fixture::packet(0x100, quint8(cc));
        counters += fixture::adaptationOnly(0x100, 3) + fixture::adaptationOnly(0x100, 5) + fixture::packet(0x100, 9)
            + discontinuity + fixture::packet(0x100, 1) + fixture::packet(0x1FFF, 7) + fixture::packet(0x1FFF, 2)
            + fixture::packet(0x1FFF, 0);
        // bad, good, bad, bad (loss 1), 5 good (regained), bad, bad (loss 2), good, good, good.
        const QByteArray bad(188, char(0x87));
        const QByteArray good = fixture::packet(0x1FFF, 0);
        QByteArray sync = bad + good + bad + bad;
        for (int i = 0; i < 5; ++i)
            sync += good;
        sync += bad + bad + good + good + good;
        // The counters as RTP datagrams numbered 0 and 2 (one lost) 1.5 ms apart, the sync run as two plain
        // datagrams 40 us apart (two in one millisecond), then a datagram of three packets.
        tsmonitor m;
        for (int k = 0; k < 2; ++k)
            feed(m, QByteArray::fromHex("80a100") + char(2 * k) + QByteArray(8, 0) + counters.mid(k * 7 * 188, 7 * 188),
                k * 1500000);
        feed(m, sync.left(7 * 188), 3000000);
        feed(m, sync.mid(7 * 188), 3040000);
        feed(m, counters.right(3 * 188), 4500000);
        const tsmonitor::report r = m.finish();
        QCOMPARE(r.ccErrors, quint64(3));
        QCOMPARE(r.syncByteErrors, quint64(5));
        QCOMPARE(r.syncLosses, quint64(2));
        QCOMPARE(r.packets, quint64(31));
        QCOMPARE(r.rtpDatagrams, quint64(2));
        QCOMPARE(r.rtpSequenceErrors, quint64(1));
        QCOMPARE(r.partialDatagrams, quint64(1));
        QCOMPARE(r.maxPerMs, 2);
    }

    void monitorRateAndPcrAccuracy()
    {
        // At 10.528 Mbit/s a 1316-byte datagram lasts exactly 1 ms = 27 000 ticks. A PCR leads every tenth of
        // 1010 datagrams (null packets otherwise) with the value its position gives, except the middle one of 101,
        // which is 27 ticks (1 us) off: against the fitted line it stands out by 27 * (1 - 1/101) ticks = 990.1 ns.
        tsmonitor m;
        for (int i = 0; i < 1010; ++i) {
            QByteArray d = i % 10 != 0 ? fixture::packet(0x1FFF, 0)
                                       : tsbuild::pcrPacket(0x100, quint64(i) * 27000 + 5000000 + (i == 500 ? 27 : 0));
            for (int k = 0; k < 6; ++k)
                d += fixture::packet(0x1FFF, 0);
            feed(m, d, qint64(i) * 1000000);
        }
        const tsmonitor::report r = m.finish();
        QCOMPARE(r.pcrCount, quint64(101));
        QCOMPARE(qRound(r.pcrAccuracyNs * 10), 9901);
        QVERIFY(!r.accuracyOk);
        QCOMPARE(r.pcrDiscontinuities, quint64(0));
        QCOMPARE(qRound64(r.pcrBitrate), qint64(10528000));
        QCOMPARE(qRound64(r.bitrate), qint64(10528000)); // by arrival
    }

    void monitorHistory()
    {
        // 12 s of the same 10.528 Mbit/s stream, a datagram a millisecond, a PCR leading every tenth. The PCR of
        // second 3 is 1 us off; a counter of PID 0x101 skips in second 7; from the first PCR of the second block
        // (10.010 s, after the one at 10 s closed the first) the PCRs run 1 s ahead: a new time base, seen only
        // against the block before.
        tsmonitor m;
        quint8 cc = 0;
        for (int i = 0; i < 12000; ++i) {
            QByteArray d;
            if (i % 10 == 0)
                d = tsbuild::pcrPacket(0x100, quint64(i) * 27000 + (i == 3000 ? 27 : 0) + (i > 10000 ? 27000000 : 0));
            else
                d = fixture::packet(0x101, cc++ & 0x0F);
            if (i == 7500)
                cc += 3;
            for (int k = 0; k < 6; ++k)
                d += fixture::packet(0x1FFF, 0);
            feed(m, d, qint64(i) * 1000000);
        }
        const tsmonitor::report r = m.finish();
        QCOMPARE(r.pcrDiscontinuities, quint64(1));
        QCOMPARE(r.ccErrors, quint64(1));
        const tstimeline t = m.history();
        QCOMPARE(t.secondsPerPoint(), 1);
        QCOMPARE(t.points().size(), 12);
        for (int s = 0; s < 12; ++s) {
            const tstimeline::point &p = t.points().at(s);
            QCOMPARE(p.datagrams, quint64(1000));
            QCOMPARE(p.bytes, quint64(1000 * 1316));
            QCOMPARE(p.gapP99Us, 1000.0);
            QCOMPARE(p.ccErrors, quint64(s == 7));
            QCOMPARE(p.pcrDiscontinuities, quint64(s == 10));
            QCOMPARE(qRound(p.pcrIntervalMs), 10);
            // The offset PCR against its block's line; the others within a few ns of theirs.
            QVERIFY2(s == 3 ? p.pcrAccuracyNs > 900 : p.pcrAccuracyNs < 10, qPrintable(QString::number(s)));
        }
        QCOMPARE(r.pcrAccuracyNs, t.points().at(3).pcrAccuracyNs);
        QCOMPARE(t.ccEvents().size(), 1);
        QCOMPARE(t.ccEvents().first().pid, quint16(0x101));
        QCOMPARE(t.ccEvents().first().seconds, 7.501);

        // Past an hour the points merge two by two: 3700 datagrams a second apart, the one of second 1801 half a
        // second late, fill 1850 points of 2 s; the late one's 1.5 s gap stays the worst of its point.
        tsmonitor hours;
        for (int i = 0; i < 3700; ++i)
            feed(hours, fixture::packet(0x1FFF, 0), qint64(i) * 1000000000 + (i == 1801 ? 500000000 : 0));
        const tstimeline h = hours.history();
        QCOMPARE(h.secondsPerPoint(), 2);
        QCOMPARE(h.points().size(), 1850);
        quint64 datagrams = 0;
        for (const tstimeline::point &p : h.points())
            datagrams += p.datagrams;
        QCOMPARE(datagrams, quint64(3700));
        QCOMPARE(h.points().at(900).gapMaxUs, 1.5e6);
        QCOMPARE(h.points().at(901).gapMaxUs, 1e6);
    }
};

QTEST_GUILESS_MAIN(tst_analysis)
#include "tst_analysis.moc"
