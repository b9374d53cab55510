// PAT, PMT, NIT and SDT decoding through tsparser, including sections whose length fields lie.

#include "nit_table.h"
#include "pmt_table.h"
#include "sdt_table.h"
#include "tsbuilder.h"
#include "tsparser.h"

#include <QRandomGenerator>
#include <QtTest>

using tsbuild::packetize;

namespace
{

void feed(tsparser &parser, const QList<QByteArray> &packets)
{
    for (const QByteArray &p : packets)
        parser.parse(p);
}

// Rewrites a byte of a built section; the parser does not check the CRC.
QByteArray patched(QByteArray section, int offset, quint8 value)
{
    section[offset] = char(value);
    return section;
}

} // namespace

class tst_tsparser : public QObject
{
    Q_OBJECT
private slots:
    void programsFromPatPmtAndSdt();
    void programWithoutService();
    void otherTablesAreSkipped();
    void pmtPidSharedByTwoPrograms();
    void networkNameControls();
    void lyingLengthsEndTheWalk_data();
    void lyingLengthsEndTheWalk();
    void completeOnlyWhenEveryTableIsDecoded();
    void corruptedPacketsStayInBounds();
};

void tst_tsparser::programsFromPatPmtAndSdt()
{
    tsparser parser;
    QCOMPARE(parser.transport_stream_id(), quint16(0));
    QVERIFY(parser.network_name().isNull());

    // The PMT arrives before the PAT: it cannot be collected yet.
    const QList<QByteArray> pmt = packetize(0x100,
        tsbuild::pmtSection(1, 0x101,
            {
                { 0x02, 0x101, QByteArray() },
                { 0x06, 0x103, tsbuild::descriptor(0x59, QByteArray(8, 0)) + tsbuild::descriptor(0x0A, "fra") },
                { 0x03, 0x102, tsbuild::descriptor(0x0A, "eng\x01") },
            }));
    feed(parser, pmt);
    feed(parser, packetize(0, tsbuild::patSection(9, { { 0, 0x10 }, { 1, 0x100 } })));
    QCOMPARE(parser.pmts().size(), 2);
    QCOMPARE(parser.pmts().at(0)->getProgramNumber(), quint16(0));
    QCOMPARE(parser.pmts().at(0)->getPid(), quint16(0x10));
    QCOMPARE(parser.programs().size(), 1);
    QCOMPARE(parser.programs().at(0).es_list.size(), 0);

    feed(parser, pmt);
    feed(parser,
        packetize(0x11, tsbuild::sdtSection(0x42, 0x1234, { { 1, true, "Prov", "Chan" }, { 2, false, "X", "Y" } })));

    const QList<program_info> programs = parser.programs();
    QCOMPARE(programs.size(), 1);
    const program_info &p = programs.at(0);
    QCOMPARE(p.program_number, quint16(1));
    QCOMPARE(p.PMT_PID, quint16(0x100));
    QCOMPARE(p.PCR_PID, quint16(0x101));
    QCOMPARE(p.free_CA_mode, quint8(1));
    QCOMPARE(p.provider_name, QStringLiteral("Prov"));
    QCOMPARE(p.service_name, QStringLiteral("Chan"));
    QCOMPARE(p.es_list.size(), 3);
    QCOMPARE(p.es_list.at(0).stream_type, quint8(0x02));
    QCOMPARE(p.es_list.at(0).elementary_PID, quint16(0x101));
    QCOMPARE(p.es_list.at(0).first_descriptor_tag, quint8(255));
    QCOMPARE(p.es_list.at(1).stream_type, quint8(0x06));
    QCOMPARE(p.es_list.at(1).elementary_PID, quint16(0x103));
    QCOMPARE(p.es_list.at(1).first_descriptor_tag, quint8(0x59));
    QCOMPARE(p.es_list.at(2).elementary_PID, quint16(0x102));
    QCOMPARE(p.es_list.at(2).first_descriptor_tag, quint8(0x0A));
    QCOMPARE(parser.transport_stream_id(), quint16(4660));
}

void tst_tsparser::programWithoutService()
{
    tsparser parser;
    feed(parser, packetize(0, tsbuild::patSection(1, { { 5, 0x200 } })));
    feed(parser, packetize(0x200, tsbuild::pmtSection(5, 0x1FFF, {})));
    feed(parser, packetize(0x11, tsbuild::sdtSection(0x42, 1, { { 6, true, "Other", "Service" } })));
    const QList<program_info> programs = parser.programs();
    QCOMPARE(programs.size(), 1);
    QCOMPARE(programs.at(0).PCR_PID, quint16(0x1FFF));
    QCOMPARE(programs.at(0).free_CA_mode, quint8(0));
    QVERIFY(programs.at(0).service_name.isEmpty());
    QVERIFY(programs.at(0).provider_name.isEmpty());
    QCOMPARE(programs.at(0).es_list.size(), 0);
}

void tst_tsparser::otherTablesAreSkipped()
{
    tsparser parser;
    // SDT and NIT of another stream and network come first on their PIDs.
    feed(parser, packetize(0x11, tsbuild::sdtSection(0x46, 0x0999, { { 1, false, "Wrong", "Wrong" } })));
    feed(parser, packetize(0x10, tsbuild::nitSection(0x41, 2, tsbuild::descriptor(0x40, "Elsewhere"))));
    feed(parser, packetize(0x11, tsbuild::sdtSection(0x42, 0x0042, { { 1, false, "Right", "Here" } })));
    feed(parser, packetize(0x10, tsbuild::nitSection(0x40, 1, tsbuild::descriptor(0x40, "Home"))));
    feed(parser, packetize(0, tsbuild::patSection(0x42, { { 1, 0x100 } })));
    feed(parser, packetize(0x100, tsbuild::pmtSection(1, 0x101, { { 0x1B, 0x101, QByteArray() } })));
    QCOMPARE(parser.transport_stream_id(), quint16(0x42));
    QCOMPARE(parser.network_name(), QStringLiteral("Home"));
    QCOMPARE(parser.programs().at(0).service_name, QStringLiteral("Here"));
}

void tst_tsparser::pmtPidSharedByTwoPrograms()
{
    tsparser parser;
    feed(parser, packetize(0, tsbuild::patSection(1, { { 1, 0x100 }, { 2, 0x100 } })));
    feed(parser, packetize(0x100, tsbuild::pmtSection(1, 0x101, { { 0x02, 0x101, QByteArray() } })));
    feed(parser, packetize(0x100, tsbuild::pmtSection(2, 0x201, { { 0x03, 0x202, QByteArray() } })));
    const QList<program_info> programs = parser.programs();
    QCOMPARE(programs.size(), 2);
    QCOMPARE(programs.at(0).PCR_PID, quint16(0x101));
    QCOMPARE(programs.at(0).es_list.at(0).elementary_PID, quint16(0x101));
    QCOMPARE(programs.at(1).PCR_PID, quint16(0x201));
    QCOMPARE(programs.at(1).es_list.at(0).elementary_PID, quint16(0x202));
}

void tst_tsparser::networkNameControls()
{
    tsparser parser;
    // Leading table selector 0x05 (ISO 8859-9, ASCII alike) and an embedded 0x00 both vanish.
    const QByteArray name("\x05Net\x00work 1", 11);
    feed(parser,
        packetize(
            0x10, tsbuild::nitSection(0x40, 1, tsbuild::descriptor(0x41, "xx") + tsbuild::descriptor(0x40, name))));
    QCOMPARE(parser.network_name(), QStringLiteral("Network 1"));
}

void tst_tsparser::lyingLengthsEndTheWalk_data()
{
    QTest::addColumn<quint16>("pid");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<int>("streams");
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("network");

    const QByteArray pmt
        = tsbuild::pmtSection(1, 0x101, { { 0x02, 0x101, QByteArray() }, { 0x03, 0x102, QByteArray(4, 0x0A) } });
    // Byte 11 is program_info_length (low byte), bytes 15-16 / 20-21 the ES_info_length fields.
    QTest::newRow("program_info_length past the end")
        << quint16(0x100) << patched(pmt, 11, 0xFF) << 0 << QString() << QString();
    QTest::newRow("second ES_info_length past the end")
        << quint16(0x100) << patched(pmt, 21, 0x40) << 1 << QString() << QString();
    QTest::newRow("first ES_info_length past the end")
        << quint16(0x100) << patched(pmt, 16, 0xFF) << 0 << QString() << QString();

    const QByteArray sdt = tsbuild::sdtSection(0x42, 1, { { 1, false, "P", "S" } });
    // Service at 11: descriptors_loop_length low byte at 15; descriptor at 16: length at 17,
    // provider_name_length at 19, service_name_length at 21.
    QTest::newRow("descriptors_loop_length past the end")
        << quint16(0x11) << patched(sdt, 15, 0xF0) << 0 << QString() << QString();
    QTest::newRow("descriptor length past the loop")
        << quint16(0x11) << patched(sdt, 17, 0x7F) << 0 << QString() << QString();
    QTest::newRow("provider length past the descriptor")
        << quint16(0x11) << patched(sdt, 19, 0x60) << 0 << QString() << QString();
    QTest::newRow("service name length past the descriptor")
        << quint16(0x11) << patched(sdt, 21, 0x02) << 0 << QString() << QString();
    QTest::newRow("sound service") << quint16(0x11) << sdt << 0 << QStringLiteral("S") << QString();

    const QByteArray nit = tsbuild::nitSection(0x40, 1, tsbuild::descriptor(0x40, "Net"));
    // network_descriptors_length low byte at 9, name length at 11.
    QTest::newRow("network_descriptors_length past the end")
        << quint16(0x10) << patched(nit, 9, 0xFF) << 0 << QString() << QString();
    QTest::newRow("network name length past the loop")
        << quint16(0x10) << patched(nit, 11, 0x04) << 0 << QString() << QString();
    QTest::newRow("sound network") << quint16(0x10) << nit << 0 << QString() << QStringLiteral("Net");
}

void tst_tsparser::lyingLengthsEndTheWalk()
{
    QFETCH(quint16, pid);
    QFETCH(QByteArray, section);
    QFETCH(int, streams);
    QFETCH(QString, service);
    QFETCH(QString, network);

    tsparser parser;
    feed(parser, packetize(0, tsbuild::patSection(1, { { 1, 0x100 } })));
    feed(parser, packetize(pid, section));
    if (pid != 0x100)
        feed(parser, packetize(0x100, tsbuild::pmtSection(1, 0x101, {})));
    const QList<program_info> programs = parser.programs();
    QCOMPARE(programs.size(), 1);
    QCOMPARE(programs.at(0).es_list.size(), streams);
    QCOMPARE(programs.at(0).service_name, service);
    QCOMPARE(parser.network_name(), network);
}

void tst_tsparser::completeOnlyWhenEveryTableIsDecoded()
{
    tsparser parser;
    feed(parser, packetize(0, tsbuild::patSection(1, { { 0, 0x10 }, { 1, 0x100 } })));
    feed(parser, packetize(0x10, tsbuild::nitSection(0x40, 1, QByteArray())));
    feed(parser, packetize(0x11, tsbuild::sdtSection(0x42, 1, {})));
    QVERIFY(!parser.complete());
    feed(parser, packetize(0x100, tsbuild::pmtSection(1, 0x101, {})));
    QVERIFY(parser.complete());
    QVERIFY(parser.network_name().isEmpty());
}

void tst_tsparser::corruptedPacketsStayInBounds()
{
    // Valid PSI with random bytes overwritten: whatever the lengths claim, decoding reads only the
    // collected bytes (the sanitizer build turns any stray read into a failure) and what it yields
    // fits in them.
    QList<QByteArray> clean = packetize(0, tsbuild::patSection(1, { { 1, 0x100 }, { 2, 0x100 } }));
    clean += packetize(0x100,
        tsbuild::pmtSection(
            1, 0x101, { { 0x02, 0x101, tsbuild::descriptor(0x52, "x") }, { 0x03, 0x102, QByteArray() } }));
    clean
        += packetize(0x100, tsbuild::pmtSection(2, 0x101, { { 0x06, 0x103, tsbuild::descriptor(0x59, "abcdefgh") } }));
    clean += packetize(0x10, tsbuild::nitSection(0x40, 1, tsbuild::descriptor(0x40, "Network")));
    clean += packetize(0x11, tsbuild::sdtSection(0x42, 7, { { 1, false, "P1", "S1" }, { 2, true, "P2", "S2" } }));

    QRandomGenerator rng(12345);
    for (int round = 0; round < 3000; ++round) {
        tsparser parser;
        for (QByteArray p : clean) {
            const int flips = int(rng.bounded(4));
            for (int f = 0; f < flips; ++f)
                p[int(rng.bounded(1, 188))] = char(rng.bounded(256));
            parser.parse(p);
        }
        const QList<program_info> programs = parser.programs();
        // Entries and names cannot outnumber the bytes fed: 4 bytes a PAT entry, 5 a stream, and a
        // name's length is one byte.
        const int fed = clean.size() * 184;
        QVERIFY(programs.size() <= fed / 4);
        for (const program_info &program : programs) {
            QVERIFY(program.es_list.size() <= fed / 5);
            QVERIFY(program.service_name.size() <= 255 && program.provider_name.size() <= 255);
        }
        QVERIFY(parser.network_name().size() <= 255);
    }
}

QTEST_APPLESS_MAIN(tst_tsparser)
#include "tst_tsparser.moc"
