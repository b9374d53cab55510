// The PSI library: DVB text, stream type and descriptor names, section assembly from transport
// packets (first packets that start no section or point outside themselves), and PAT, PMT, NIT and SDT
// decoding through tsparser, including sections whose length fields lie. Sections are built byte by byte by
// tsbuilder.h; expected values are hand-decoded.

#include "dvbtext.h"
#include "es_table.h"
#include "table.h"
#include "tsbuilder.h"
#include "tsparser.h"

#include <QtTest>

using tsbuild::descriptor;
using tsbuild::packet;
using tsbuild::packetize;

namespace
{
constexpr quint16 PID = 0x0100;

const QByteArray FIRST_PAT = tsbuild::patSection(1, { { 1, 0x100 } }); // program 1 on PID 0x100

void feed(tsparser &parser, const QList<QByteArray> &packets)
{
    for (const QByteArray &p : packets)
        parser.parse(p);
}

// One entry a program, in hex: "number pmt PID pcr PID ca free_CA_mode provider/service" and
// "stream_type:PID:first descriptor tag" a stream.
QString describe(const QList<program_info> &programs)
{
    QStringList out;
    for (const program_info &p : programs) {
        QString s = QString::asprintf("%x pmt %x pcr %x ca %d ", p.program_number, p.PMT_PID, p.PCR_PID, p.free_CA_mode)
            + p.provider_name + '/' + p.service_name;
        for (const es_entry &e : p.es_list)
            s += QString::asprintf(" %x:%x:%x", e.stream_type, e.elementary_PID, e.first_descriptor_tag);
        out.append(s);
    }
    return out.join(QStringLiteral(" | "));
}
} // namespace

class tst_psi : public QObject
{
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void firstPacket_data();
    void firstPacket();
    void sectionsAcrossPackets();
    void programsAndNames();
    void lyingLengthsEndTheWalk_data();
    void lyingLengthsEndTheWalk();
};

void tst_psi::texts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    // DVB text: expected characters from the code charts of the character sets the selectors name.
    const auto decode = [](const char *hex) { return dvbtext::decode(QByteArray::fromHex(hex)); };
    QTest::newRow("default table is Latin-1") << decode("436166e9 205456") << "Café TV";
    QTest::newRow("0x15 UTF-8") << decode("15 42c3aa7461 204844") << "Bêta HD";
    QTest::newRow("0x01 ISO 8859-5") << decode("01 b0d0") << "Аа";
    QTest::newRow("0x0B ISO 8859-15") << decode("0b a4") << "€";
    QTest::newRow("0x10 0x00 0x07 ISO 8859-7") << decode("100007 c1") << "Α";
    QTest::newRow("0x10 truncated") << decode("1000") << "";
    QTest::newRow("0x11 UCS-2") << decode("11 0042 00ea 4e2d") << "Bê中";
    QTest::newRow("0x13 GB2312") << decode("13 d6d0") << "中";
    QTest::newRow("0x14 Big5") << decode("14 a4a4") << "中";
    QTest::newRow("0x1F unknown selector dropped") << decode("1f 414243") << "ABC";
    QTest::newRow("NUL and LF dropped, not the rest") << decode("416200630a64") << "Abcd";
    QTest::newRow("UTF-8 with NUL") << decode("15 610062") << "ab";

    // Stream type short name (the description matches it for these) and descriptor name, where an index
    // could be off by one: the reserved gap, the last listed type and descriptor tag, user private.
    const auto names = [](quint8 value) {
        const es_names n = es_table().lookup(value);
        return n.description == n.short_name ? n.short_name + " / " + n.descriptor_name : QStringLiteral("?");
    };
    const QString reserved = QStringLiteral("ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Reserved / ");
    QTest::newRow("0x29") << names(0x29) << reserved + "IPMP (0xMPEG-2 IPMP, ISO 13818-11)";
    QTest::newRow("0x7F") << names(0x7F) << "IPMP stream / User defined/ATSC Reserved";
    QTest::newRow("0x80") << names(0x80) << "User private / ";
}

void tst_psi::texts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void tst_psi::firstPacket_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("status");
    const QByteArray start = QByteArray(1, 0) + FIRST_PAT;
    const int waiting = table::section_waiting;
    const int error = table::section_error;
    // pointer_field 10: the tail of an earlier section nobody collected comes first.
    QTest::newRow("pointer field 10") << packet(PID, true, 0, char(10) + QByteArray(10, 0x55) + FIRST_PAT)
                                      << int(table::section_complete);
    // A 20-byte adaptation field, then the payload.
    QByteArray adapted = packet(PID, true, 0, char(20) + QByteArray(20, char(0xFF)) + start);
    adapted[3] = char(0x30);
    QTest::newRow("after an adaptation field") << adapted << int(table::section_complete);
    QTest::newRow("other PID") << packet(PID + 1, true, 0, start) << waiting;
    QTest::newRow("PES start on the PID") << packet(PID, true, 0, QByteArray::fromHex("000001e00000")) << waiting;
    adapted[3] = char(0x00);
    QTest::newRow("adaptation_field_control 0") << adapted << waiting;
    adapted[3] = char(0x20);
    QTest::newRow("adaptation field only") << adapted << waiting;
    QTest::newRow("two bytes") << QByteArray::fromHex("4741") << waiting;
    QTest::newRow("cut after six bytes") << packet(PID, true, 0, start).left(6) << error;
    // Section start 4 + 1 + 180 = 185: no room for table_id and section_length.
    QTest::newRow("pointer field past the packet") << packet(PID, true, 0, QByteArray(1, char(180))) << error;
    // The pointer field itself would be byte 188.
    QByteArray full = packet(PID, true, 0, QByteArray(1, char(183)));
    full[3] = char(0x30);
    QTest::newRow("adaptation field fills the packet") << full << error;
}

void tst_psi::firstPacket()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, status);
    table t(nullptr, PID);
    QCOMPARE(int(t.get_section(packet)), status);
    if (status == table::section_complete)
        QCOMPARE(t.getSection().left(FIRST_PAT.size()), FIRST_PAT);
    else
        QCOMPARE(t.getStatus(), table::section_waiting);
}

void tst_psi::sectionsAcrossPackets()
{
    // A PMT long enough to need three packets: 3 streams with 150-byte descriptor loops.
    QList<tsbuild::stream> streams;
    for (int i = 0; i < 3; ++i)
        streams.append({ 0x02, quint16(0x200 + i), descriptor(0x05, QByteArray(148, char('a' + i))) });
    const QByteArray section = tsbuild::pmtSection(1, 0x200, streams);
    const QList<QByteArray> packets = packetize(PID, section);
    QCOMPARE(packets.size(), 3);
    table t(nullptr, PID);
    // A continuation before any start is dropped.
    QCOMPARE(t.get_section(packets.at(1)), table::section_waiting);
    QCOMPARE(t.get_section(packets.at(0)), table::section_incomplete);
    QCOMPARE(t.getSectionLength(), quint16(section.size() - 3));
    // A new start abandons the unfinished section; a finished table takes nothing more until reset.
    QCOMPARE(t.get_section(packetize(PID, FIRST_PAT).at(0)), table::section_complete);
    QCOMPARE(t.get_section(packets.at(0)), table::section_complete);
    QCOMPARE(t.getSection().left(FIRST_PAT.size()), FIRST_PAT);
    t.reset();
    QCOMPARE(t.get_section(packets.at(0)), table::section_incomplete);
    QCOMPARE(t.get_section(packets.at(1)), table::section_incomplete);
    QCOMPARE(t.get_section(packets.at(2)), table::section_complete);
    // The stuffing after the section in the last packet is kept too.
    QCOMPARE(t.getSection().size(), 3 * 184 - 1);
    QCOMPARE(t.getSection().left(section.size()), section);

    // 190 bytes: 183 in the first packet, the last 7 before the start of the next section in the second.
    const QByteArray first = tsbuild::pmtSection(1, 0x200, { { 0x02, 0x200, QByteArray(169, char(0x11)) } });
    QCOMPARE(first.size(), 190);
    t.reset();
    QCOMPARE(t.get_section(packet(PID, true, 0, char(0) + first.left(183))), table::section_incomplete);
    QCOMPARE(t.get_section(packet(PID, true, 1, char(7) + first.mid(183) + FIRST_PAT)), table::section_complete);
    QCOMPARE(t.getTableId(), quint8(0x02));
    QCOMPARE(t.getSection(), first);
}

void tst_psi::programsAndNames()
{
    tsparser parser;
    // SDT and NIT of another stream and network come first on their PIDs. Program 1's PMT arrives
    // before the PAT, so it is not collected then; programs 1 and 5 share a PMT PID, program 0 points
    // at the NIT.
    feed(parser, packetize(0x11, tsbuild::sdtSection(0x46, 0x0999, { { 1, false, "Wrong", "Wrong" } })));
    feed(parser, packetize(0x10, tsbuild::nitSection(0x41, 2, descriptor(0x40, "Elsewhere"))));
    const QList<QByteArray> pmt = packetize(0x100,
        tsbuild::pmtSection(1, 0x101,
            { { 0x02, 0x101, QByteArray() },
                { 0x06, 0x103, descriptor(0x59, QByteArray(8, 0)) + descriptor(0x0A, "fra") },
                { 0x03, 0x102, descriptor(0x0A, "eng\x01") } }));
    feed(parser, pmt);
    feed(parser, packetize(0, tsbuild::patSection(9, { { 0, 0x10 }, { 1, 0x100 }, { 5, 0x100 } })));
    QCOMPARE(describe(parser.programs()), QStringLiteral("1 pmt 100 pcr 1fff ca 0 / | 5 pmt 100 pcr 1fff ca 0 /"));
    feed(parser, pmt);
    feed(parser, packetize(0x100, tsbuild::pmtSection(5, 0x1FFF, { { 0x1B, 0x300, QByteArray() } })));
    feed(parser,
        packetize(0x11, tsbuild::sdtSection(0x42, 0x1234, { { 1, true, "Prov", "Chan" }, { 2, false, "X", "Y" } })));
    QVERIFY(!parser.complete());
    // Leading selector 0x05 (ISO 8859-9, ASCII alike) and an embedded 0x00 both vanish from the name.
    const QByteArray name("\x05Net\x00work 1", 11);
    feed(parser, packetize(0x10, tsbuild::nitSection(0x40, 1, descriptor(0x41, "xx") + descriptor(0x40, name))));
    QVERIFY(parser.complete());
    QCOMPARE(describe(parser.programs()),
        QStringLiteral(
            "1 pmt 100 pcr 101 ca 1 Prov/Chan 2:101:ff 6:103:59 3:102:a | 5 pmt 100 pcr 1fff ca 0 / 1b:300:ff"));
    QCOMPARE(parser.transport_stream_id(), quint16(0x1234));
    QCOMPARE(parser.network_name(), QStringLiteral("Network 1"));
}

void tst_psi::lyingLengthsEndTheWalk_data()
{
    QTest::addColumn<quint16>("pid");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<int>("streams");
    // Rewrites a byte of a built section; the parser does not check the CRC.
    const auto patched = [](QByteArray section, int offset, quint8 value) {
        section[offset] = char(value);
        return section;
    };

    const QByteArray pmt
        = tsbuild::pmtSection(1, 0x101, { { 0x02, 0x101, QByteArray() }, { 0x03, 0x102, QByteArray(4, 0x0A) } });
    // Byte 11 is program_info_length (low byte), byte 21 the second ES_info_length's.
    QTest::newRow("program_info_length past the end") << quint16(0x100) << patched(pmt, 11, 0xFF) << 0;
    QTest::newRow("second ES_info_length past the end") << quint16(0x100) << patched(pmt, 21, 0x40) << 1;

    const QByteArray sdt = tsbuild::sdtSection(0x42, 1, { { 1, false, "P", "S" } });
    // Service at 11: descriptors_loop_length low byte at 15; descriptor at 16: length at 17,
    // provider_name_length at 19, service_name_length at 21.
    QTest::newRow("descriptors_loop_length past the end") << quint16(0x11) << patched(sdt, 15, 0xF0) << 0;
    QTest::newRow("descriptor length past the loop") << quint16(0x11) << patched(sdt, 17, 0x7F) << 0;
    QTest::newRow("provider length past the descriptor") << quint16(0x11) << patched(sdt, 19, 0x60) << 0;
    QTest::newRow("service name length past the descriptor") << quint16(0x11) << patched(sdt, 21, 0x02) << 0;

    const QByteArray nit = tsbuild::nitSection(0x40, 1, descriptor(0x40, "Net"));
    // network_descriptors_length low byte at 9, name length at 11.
    QTest::newRow("network_descriptors_length past the end") << quint16(0x10) << patched(nit, 9, 0xFF) << 0;
    QTest::newRow("network name length past the loop") << quint16(0x10) << patched(nit, 11, 0x04) << 0;
}

void tst_psi::lyingLengthsEndTheWalk()
{
    QFETCH(quint16, pid);
    QFETCH(QByteArray, section);
    QFETCH(int, streams);
    tsparser parser;
    feed(parser, packetize(0, FIRST_PAT));
    feed(parser, packetize(pid, section));
    if (pid != 0x100)
        feed(parser, packetize(0x100, tsbuild::pmtSection(1, 0x101, {})));
    const QList<program_info> programs = parser.programs();
    QCOMPARE(programs.size(), 1);
    QCOMPARE(programs.at(0).es_list.size(), streams);
    QCOMPARE(programs.at(0).service_name, QString());
    QCOMPARE(parser.network_name(), QString());
}

QTEST_APPLESS_MAIN(tst_psi)
#include "tst_psi.moc"
