// The PSI library: DVB text and the stream vocabulary; sections cut from transport packets (every section of a
// payload, tails, stuffing, lost and repeated packets, CRC_32); tables gathered by version and section number;
// PAT, PMT, NIT and SDT decoded through tsparser, also from sections whose length fields lie. Sections are built
// byte by byte by tsbuilder.h; expected values are hand-decoded.

#include "dvbtext.h"
#include "es_table.h"
#include "sectionreader.h"
#include "tsbuilder.h"
#include "tsparser.h"

#include <QtTest>

using tsbuild::descriptor;
using tsbuild::numbered;
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

QByteArray sdt(quint16 tsid, quint16 service, const QByteArray &name)
{
    return tsbuild::sdtSection(0x42, tsid, { { service, false, "P", name } });
}
} // namespace

class tst_psi : public QObject
{
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void sections_data();
    void sections();
    void tablesByVersionAndSection();
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
    QTest::newRow("0x07 ISO 8859-11") << decode("07 a1") << "ก";
    QTest::newRow("0x0B ISO 8859-15") << decode("0b a4") << "€";
    QTest::newRow("0x10 0x00 0x07 ISO 8859-7") << decode("100007 c1") << "Α";
    QTest::newRow("0x10 truncated") << decode("1000") << "";
    QTest::newRow("0x11 UCS-2") << decode("11 0042 00ea 4e2d") << "Bê中";
    QTest::newRow("0x13 GB2312, cut last character dropped") << decode("13 d6d0 d6") << "中";
    QTest::newRow("0x14 Big5") << decode("14 a4a4") << "中";
    QTest::newRow("0x1F unknown selector dropped") << decode("1f 414243") << "ABC";
    QTest::newRow("NUL and LF dropped, not the rest") << decode("416200630a64") << "Abcd";
    QTest::newRow("UTF-8 with NUL") << decode("15 610062") << "ab";

    // A stream by stream_type and descriptor tags: "short name / codec / kind / first descriptor's name", where
    // an index could be off by one (the last listed types, the first reserved ones, user private) and where a
    // private data stream is told by a descriptor that is not its first.
    const auto names = [](quint8 type, QVector<quint8> tags) {
        es_entry e;
        e.stream_type = type;
        e.descriptor_tags = tags;
        e.first_descriptor_tag = tags.isEmpty() ? 255 : tags.first();
        const es_names n = es_table().describe(e);
        return QStringLiteral("%1 / %2 / %3 / %4").arg(n.short_name, n.codec).arg(int(n.kind)).arg(n.descriptor_name);
    };
    QTest::newRow("0x1D") << names(0x1D, {}) << "MPEG-4 Timed Text / timed_text / 1 / ";
    QTest::newRow("0x24") << names(0x24, { 0x05 }) << "HEVC/H.265 Video / hevc / 4 / Registration";
    QTest::newRow("0x35") << names(0x35, {}) << "EVC Video / evc / 4 / ";
    const QString reserved = QStringLiteral("ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Reserved /  / 0 / ");
    QTest::newRow("0x36") << names(0x36, { 0x29 }) << reserved + "IPMP (0xMPEG-2 IPMP, ISO 13818-11)";
    QTest::newRow("0x7F") << names(0x7F, { 0x7F }) << "IPMP stream /  / 0 / User defined/ATSC Reserved";
    QTest::newRow("0x80") << names(0x80, { 0x80 }) << "User private /  / 0 / ";
    QTest::newRow("0x10") << names(0x10, {}) << "ISO/IEC 14496-2 Visual / mpeg4 / 4 / ";
    QTest::newRow("0x06 AC-3") << names(0x06, { 0x52, 0x6A }) << "AC-3 Audio / ac3 / 2 / Stream Identifier";
    QTest::newRow("0x06 E-AC-3") << names(0x06, { 0x7A }) << "E-AC-3 Audio / eac3 / 2 / Enhanced AC-3";
    QTest::newRow("0x06 DTS") << names(0x06, { 0x7B }) << "DTS Audio / dts / 2 / DTS";
    QTest::newRow("0x06 AAC") << names(0x06, { 0x7C }) << "AAC Audio / aac / 2 / AAC";
    QTest::newRow("0x06 subtitles") << names(0x06, { 0x0A, 0x59 })
                                    << "DVB Subtitling / dvb_subtitle / 1 / ISO-639 Language";
    QTest::newRow("0x06 teletext") << names(0x06, { 0x56, 0x6A }) << "Teletext / dvb_teletext / 1 / Teletext";
    QTest::newRow("0x06 untold") << names(0x06, { 0x0A }) << "Private data /  / 0 / ISO-639 Language";
    QTest::newRow("AC-3 descriptor on video") << names(0x02, { 0x6A }) << "MPEG-2 Video / mpeg2video / 4 / AC3";
}

void tst_psi::texts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void tst_psi::sections_data()
{
    using list = QList<QByteArray>;
    QTest::addColumn<list>("packets");
    QTest::addColumn<list>("expected");
    QTest::addColumn<int>("crcErrors");
    const auto row = [](const char *name, const list &packets, const list &expected, int crcErrors = 0) {
        QTest::newRow(name) << packets << expected << crcErrors;
    };
    const QByteArray start = QByteArray(1, 0) + FIRST_PAT;
    // pointer_field 10: the tail of an earlier section nobody collected comes first.
    row("pointer field 10", { packet(PID, true, 0, char(10) + QByteArray(10, 0x55) + FIRST_PAT) }, { FIRST_PAT });
    // A 20-byte adaptation field, then the payload.
    QByteArray adapted = packet(PID, true, 0, char(20) + QByteArray(20, char(0xFF)) + start);
    adapted[3] = char(0x30);
    row("after an adaptation field", { adapted }, { FIRST_PAT });
    row("PES start", { packet(PID, true, 0, QByteArray::fromHex("000001e00000")) }, {});
    adapted[3] = char(0x00);
    row("adaptation_field_control 0", { adapted }, {});
    adapted[3] = char(0x20);
    row("adaptation field only", { adapted }, {});
    row("two bytes", { QByteArray::fromHex("4741") }, {});
    row("cut after six bytes", { packet(PID, true, 0, start).left(6) }, {});
    // The section would start at byte 4 + 1 + 184 = 189.
    row("pointer field past the packet", { packet(PID, true, 0, QByteArray(1, char(184))) }, {});
    QByteArray full = packet(PID, true, 0, QByteArray(1, char(183)));
    full[3] = char(0x30);
    row("adaptation field fills the packet", { full }, {});

    // Back to back in one payload; after stuffing nothing more is read.
    const QByteArray pmt1 = tsbuild::pmtSection(1, 0x101, { { 0x02, 0x101, {} } });
    const QByteArray pmt2 = tsbuild::pmtSection(2, 0x201, { { 0x24, 0x201, {} } });
    row("two sections, stuffing, a third", { packet(PID, true, 0, char(0) + pmt1 + pmt2 + char(0xFF) + FIRST_PAT) },
        { pmt1, pmt2 });
    QByteArray damaged = FIRST_PAT;
    damaged[10] = char(damaged.at(10) ^ 0x01);
    row("CRC error, then a good copy", { packet(PID, true, 0, char(0) + damaged + FIRST_PAT) }, { FIRST_PAT }, 1);
    // Long syntax but section_length 5: no room for a CRC_32. A short-syntax section has none to check.
    const QByteArray stub = QByteArray::fromHex("00b005 0001c10000");
    const QByteArray shortSyntax = QByteArray::fromHex("72 7003 aabbcc");
    row("too short for a CRC; short syntax", { packet(PID, true, 0, char(0) + stub + shortSyntax) }, { shortSyntax },
        1);

    // A PMT long enough to need three packets: 3 streams with 150-byte descriptor loops.
    QList<tsbuild::stream> streams;
    for (int i = 0; i < 3; ++i)
        streams.append({ 0x02, quint16(0x200 + i), descriptor(0x05, QByteArray(148, char('a' + i))) });
    const QByteArray big = tsbuild::pmtSection(1, 0x200, streams);
    const list p = packetize(PID, big);
    row("three packets, a continuation first", { p[1], p[0], p[1], p[2] }, { big });
    row("a packet repeated", { p[0], p[1], p[1], p[2] }, { big });
    // A multiplexer that forgets payload_unit_start_indicator where the second section starts.
    row("section start without payload_unit_start_indicator", packetize(PID, big + FIRST_PAT), { big, FIRST_PAT });
    QByteArray errored = p[1];
    errored[1] = char(errored.at(1) | 0x80);
    row("transport_error_indicator", { p[0], errored, p[2] }, {});

    // 190 bytes: 183 in the first packet, the last 7 before the start of the next section in the second.
    const QByteArray first = tsbuild::pmtSection(1, 0x200, { { 0x02, 0x200, QByteArray(169, char(0x11)) } });
    const QByteArray head = packet(PID, true, 0, char(0) + first.left(183));
    row("tail before the next section", { head, packet(PID, true, 1, char(7) + first.mid(183) + FIRST_PAT) },
        { first, FIRST_PAT });
    // The packet with that tail is lost: the next one continues another section, not this one.
    row("a packet lost", { head, packet(PID, false, 2, big.mid(176)) }, {});
    // 181 bytes from byte 5 to 185: the next section's table_id and first length byte end the packet.
    const QByteArray filler
        = tsbuild::pmtSection(1, 0x200, { { 0x02, 0x200, descriptor(0x05, QByteArray(158, 'f')) } });
    row("section header across packets",
        { packet(PID, true, 0, char(0) + filler + FIRST_PAT.left(2)), packet(PID, false, 1, FIRST_PAT.mid(2)) },
        { filler, FIRST_PAT });
}

void tst_psi::sections()
{
    QFETCH(QList<QByteArray>, packets);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(int, crcErrors);
    sectionreader reader;
    QList<QByteArray> cut;
    for (const QByteArray &p : packets)
        reader.feed(reinterpret_cast<const uchar *>(p.constData()), p.size(), cut);
    QCOMPARE(cut, expected);
    QCOMPARE(reader.crcErrors(), crcErrors);
}

void tst_psi::tablesByVersionAndSection()
{
    tsparser parser;
    // PAT version 0 in two sections; program 2 is in the second.
    const QByteArray pat0 = numbered(tsbuild::patSection(7, { { 1, 0x100 } }), 0, 0, 1);
    const QByteArray pat1 = numbered(tsbuild::patSection(7, { { 2, 0x200 } }), 0, 1, 1);
    feed(parser, packetize(0, pat0));
    QCOMPARE(describe(parser.programs()), QString());
    feed(parser, packetize(0, pat1));
    QCOMPARE(describe(parser.programs()), QStringLiteral("1 pmt 100 pcr 1fff ca 0 / | 2 pmt 200 pcr 1fff ca 0 /"));
    QCOMPARE(parser.transport_stream_id(), quint16(7)); // the PAT's, while no SDT is there

    // SDT version 3 in three sections, one service each, arriving 2, 0, 2, 1.
    QList<QByteArray> sdt3;
    for (int s = 0; s < 3; ++s)
        sdt3.append(numbered(sdt(0x55, quint16(s + 1), "S" + QByteArray::number(s + 1)), 3, s, 2));
    for (const int s : { 2, 0, 2 })
        feed(parser, packetize(0x11, sdt3.at(s)));
    QCOMPARE(parser.transport_stream_id(), quint16(7));
    feed(parser, packetize(0x11, sdt3.at(1)));
    QCOMPARE(parser.transport_stream_id(), quint16(0x55));
    const auto names = [&parser] {
        QStringList out;
        for (const program_info &p : parser.programs())
            out.append(p.service_name);
        return out.join(' ');
    };
    QCOMPARE(names(), QStringLiteral("S1 S2"));

    // Version 4 in two sections: until both are in, version 3 stands. A copy of version 4 that differs is no
    // update, nor is a version 5 that is not yet applicable (current_next_indicator 0).
    const QByteArray v4a = numbered(sdt(0x55, 1, "New1"), 4, 0, 1);
    const QByteArray v4b = numbered(sdt(0x55, 2, "New2"), 4, 1, 1);
    feed(parser, packetize(0x11, v4a));
    QCOMPARE(names(), QStringLiteral("S1 S2"));
    feed(parser, packetize(0x11, v4b));
    QCOMPARE(names(), QStringLiteral("New1 New2"));
    feed(parser, packetize(0x11, numbered(sdt(0x55, 1, "Copy"), 4, 0, 0)));
    QByteArray next = numbered(sdt(0x55, 1, "Next"), 5, 0, 0);
    next[5] = char(next.at(5) & 0xFE);
    feed(parser, packetize(0x11, tsbuild::recrc(next)));
    QCOMPARE(names(), QStringLiteral("New1 New2"));

    // NIT of the actual network in two sections, the name in the second; an NIT of another network between.
    feed(parser, packetize(0x10, numbered(tsbuild::nitSection(0x40, 1, descriptor(0x4A, "xx")), 0, 0, 1)));
    feed(parser, packetize(0x10, tsbuild::nitSection(0x41, 2, descriptor(0x40, "Elsewhere"))));
    QCOMPARE(parser.network_name(), QString());
    feed(parser, packetize(0x10, numbered(tsbuild::nitSection(0x40, 1, descriptor(0x40, "Here")), 0, 1, 1)));
    QCOMPARE(parser.network_name(), QStringLiteral("Here"));

    // PAT version 1 moves program 2 to PID 0x300 and drops program 1; the PMT on the old PID is not taken.
    feed(parser, packetize(0, numbered(tsbuild::patSection(7, { { 2, 0x300 } }), 1, 0, 0)));
    feed(parser, packetize(0x200, tsbuild::pmtSection(2, 0x201, { { 0x02, 0x201, {} } })));
    QVERIFY(!parser.complete());
    feed(parser, packetize(0x300, tsbuild::pmtSection(2, 0x301, { { 0x24, 0x301, {} } })));
    QVERIFY(parser.complete());
    QCOMPARE(describe(parser.programs()), QStringLiteral("2 pmt 300 pcr 301 ca 0 P/New2 24:301:ff"));
    QCOMPARE(parser.crc_errors(), 0);
}

void tst_psi::programsAndNames()
{
    tsparser parser;
    // The first PAT is damaged on the way (the PMT PID of program 1 reads 0x1000); good copies follow. Program 1's
    // PMT arrives before the PAT, so it is not collected then; programs 1 and 5 share a PMT PID, program 0
    // points at the NIT.
    const QByteArray pat = tsbuild::patSection(9, { { 0, 0x10 }, { 1, 0x100 }, { 5, 0x100 } });
    QByteArray damaged = pat;
    damaged[14] = char(0xF0);
    const QByteArray pmt1 = tsbuild::pmtSection(1, 0x101,
        { { 0x02, 0x101, QByteArray() }, { 0x06, 0x103, descriptor(0x59, QByteArray(8, 0)) + descriptor(0x0A, "fra") },
            { 0x03, 0x102, descriptor(0x0A, "eng\x01") } });
    const QByteArray pmt5 = tsbuild::pmtSection(5, 0x1FFF, { { 0x1B, 0x300, QByteArray() } });
    feed(parser, packetize(0x100, pmt1));
    feed(parser, packetize(0, damaged));
    QCOMPARE(describe(parser.programs()), QString());
    feed(parser, packetize(0, pat));
    QCOMPARE(describe(parser.programs()), QStringLiteral("1 pmt 100 pcr 1fff ca 0 / | 5 pmt 100 pcr 1fff ca 0 /"));
    // Both PMTs back to back in one packet.
    feed(parser, packetize(0x100, pmt1 + pmt5));
    // The SDT of this stream packed behind a bouquet table and an SDT of another stream; likewise the NIT of
    // this network behind one of another network.
    feed(parser,
        packetize(0x11,
            tsbuild::sdtSection(0x4A, 0x0999, { { 1, false, "Bouquet", "Bouquet" } })
                + tsbuild::sdtSection(0x46, 0x0999, { { 1, false, "Wrong", "Wrong" } })
                + tsbuild::sdtSection(0x42, 0x1234, { { 1, true, "Prov", "Chan" }, { 2, false, "X", "Y" } })));
    QVERIFY(!parser.complete());
    // Leading selector 0x05 (ISO 8859-9, ASCII alike) and an embedded 0x00 both vanish from the name.
    const QByteArray name("\x05Net\x00work 1", 11);
    feed(parser,
        packetize(0x10,
            tsbuild::nitSection(0x41, 2, descriptor(0x40, "Elsewhere"))
                + tsbuild::nitSection(0x40, 1, descriptor(0x41, "xx") + descriptor(0x40, name))));
    QVERIFY(parser.complete());
    QCOMPARE(describe(parser.programs()),
        QStringLiteral(
            "1 pmt 100 pcr 101 ca 1 Prov/Chan 2:101:ff 6:103:59 3:102:a | 5 pmt 100 pcr 1fff ca 0 / 1b:300:ff"));
    QCOMPARE(parser.programs().at(0).es_list.at(1).descriptor_tags, (QVector<quint8> { 0x59, 0x0A }));
    QCOMPARE(parser.transport_stream_id(), quint16(0x1234));
    QCOMPARE(parser.network_name(), QStringLiteral("Network 1"));
    QCOMPARE(parser.crc_errors(), 1);
}

void tst_psi::lyingLengthsEndTheWalk_data()
{
    QTest::addColumn<quint16>("pid");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<int>("streams");
    using tsbuild::patched; // the CRC_32 is made right again: only the length lies

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
    QCOMPARE(parser.crc_errors(), 0);
}

QTEST_APPLESS_MAIN(tst_psi)
#include "tst_psi.moc"
