// Section assembly from transport packets: spanning, pointer fields, adaptation fields, and packets
// that must be ignored.

#include "table.h"
#include "tsbuilder.h"

#include <QtTest>

namespace
{
constexpr quint16 PID = 0x0100;

// A PMT long enough to need three packets: 3 streams with 150-byte descriptor loops.
QByteArray longSection()
{
    QList<tsbuild::stream> streams;
    for (int i = 0; i < 3; ++i)
        streams.append({ 0x02, quint16(0x200 + i), tsbuild::descriptor(0x05, QByteArray(148, char('a' + i))) });
    return tsbuild::pmtSection(1, 0x200, streams);
}
} // namespace

class tst_table : public QObject
{
    Q_OBJECT
private slots:
    void sectionSpanningThreePackets();
    void pointerFieldSkipsBytes();
    void pointerFieldOutsidePacket();
    void ignoredPackets();
    void adaptationFieldBeforePayload();
    void tailBeforeNextSectionCompletesIt();
    void newStartRestartsCollection();
    void completeTableTakesNothingMore();
};

void tst_table::sectionSpanningThreePackets()
{
    const QByteArray section = longSection();
    QCOMPARE(section.size(), 12 + 3 * (5 + 150) + 4); // header 12, three entries, CRC
    const QList<QByteArray> packets = tsbuild::packetize(PID, section);
    QCOMPARE(packets.size(), 3);

    table t(nullptr, PID);
    // A continuation before any start is dropped.
    QCOMPARE(t.get_section(packets.at(1)), table::section_waiting);
    QCOMPARE(t.get_section(packets.at(0)), table::section_incomplete);
    QCOMPARE(t.getTableId(), quint8(0x02));
    QCOMPARE(t.getSectionLength(), quint16(section.size() - 3));
    QCOMPARE(t.get_section(packets.at(1)), table::section_incomplete);
    QCOMPARE(t.get_section(packets.at(2)), table::section_complete);
    QCOMPARE(t.getSection().left(section.size()), section);
    // The rest of the last packet (stuffing) is kept too.
    QCOMPARE(t.getSection().size(), 3 * 184 - 1);
}

void tst_table::pointerFieldSkipsBytes()
{
    const QByteArray section = tsbuild::patSection(1, { { 1, 0x100 } });
    QByteArray payload(1, char(10));
    payload.append(QByteArray(10, char(0x55))); // tail of an earlier section nobody collected
    payload.append(section);
    table t(nullptr, 0);
    QCOMPARE(t.get_section(tsbuild::packet(0, true, 0, payload)), table::section_complete);
    QCOMPARE(t.getSection().left(section.size()), section);
}

void tst_table::pointerFieldOutsidePacket()
{
    table t(nullptr, PID);
    // Section start 4 + 1 + 180 = 185: no room for table_id and section_length.
    QByteArray payload(1, char(180));
    QCOMPARE(t.get_section(tsbuild::packet(PID, true, 0, payload)), table::section_error);
    QCOMPARE(t.getStatus(), table::section_waiting);

    // Adaptation field filling the packet: the pointer field itself would be byte 188.
    QByteArray p = tsbuild::packet(PID, true, 0, QByteArray());
    p[3] = char(0x30);
    p[4] = char(183);
    QCOMPARE(t.get_section(p), table::section_error);
    QCOMPARE(t.getStatus(), table::section_waiting);
}

void tst_table::ignoredPackets()
{
    const QByteArray section = tsbuild::patSection(1, { { 1, 0x100 } });
    table t(nullptr, PID);

    QCOMPARE(t.get_section(tsbuild::packet(PID + 1, true, 0, QByteArray(1, 0) + section)), table::section_waiting);

    // A PES start on the table's PID.
    QCOMPARE(t.get_section(tsbuild::packet(PID, true, 0, QByteArray::fromHex("000001e00000"))), table::section_waiting);

    QByteArray reserved = tsbuild::packet(PID, true, 0, QByteArray(1, 0) + section);
    reserved[3] = char(0x00); // adaptation_field_control 0
    QCOMPARE(t.get_section(reserved), table::section_waiting);
    QByteArray adaptationOnly = reserved;
    adaptationOnly[3] = char(0x20);
    QCOMPARE(t.get_section(adaptationOnly), table::section_waiting);

    // Truncated buffers are refused rather than read past.
    QCOMPARE(t.get_section(QByteArray::fromHex("4741")), table::section_waiting);
    QCOMPARE(t.get_section(tsbuild::packet(PID, true, 0, QByteArray(1, 0) + section).left(6)), table::section_error);
    QCOMPARE(t.getStatus(), table::section_waiting);
}

void tst_table::adaptationFieldBeforePayload()
{
    const QByteArray section = tsbuild::patSection(7, { { 1, 0x100 }, { 2, 0x101 } });
    QByteArray p;
    p.append(QByteArray::fromHex("47410030")); // PUSI, PID 0x100, adaptation + payload
    p.append(char(20));
    p.append(QByteArray(20, char(0xFF)));
    p.append(char(0));
    p.append(section);
    p.append(QByteArray(188 - p.size(), char(0xFF)));
    table t(nullptr, PID);
    QCOMPARE(t.get_section(p), table::section_complete);
    QCOMPARE(t.getSection().left(section.size()), section);
}

void tst_table::tailBeforeNextSectionCompletesIt()
{
    // First section needs 190 bytes: 183 in the first packet, its last 7 bytes sit before the start of
    // the next section in the second packet.
    const QByteArray first = tsbuild::pmtSection(1, 0x200, { { 0x02, 0x200, QByteArray(169, char(0x11)) } });
    QCOMPARE(first.size(), 190);
    const QByteArray second = tsbuild::patSection(1, { { 1, 0x100 } });
    table t(nullptr, PID);
    QCOMPARE(
        t.get_section(tsbuild::packet(PID, true, 0, QByteArray(1, 0) + first.left(183))), table::section_incomplete);
    QByteArray payload(1, char(7));
    payload.append(first.mid(183));
    payload.append(second);
    QCOMPARE(t.get_section(tsbuild::packet(PID, true, 1, payload)), table::section_complete);
    QCOMPARE(t.getTableId(), quint8(0x02));
    QCOMPARE(t.getSection(), first);
}

void tst_table::newStartRestartsCollection()
{
    const QByteArray first = longSection();
    const QByteArray second = tsbuild::patSection(1, { { 1, 0x100 } });
    table t(nullptr, PID);
    QCOMPARE(t.get_section(tsbuild::packetize(PID, first).at(0)), table::section_incomplete);
    QCOMPARE(t.get_section(tsbuild::packetize(PID, second).at(0)), table::section_complete);
    QCOMPARE(t.getTableId(), quint8(0x00));
    QCOMPARE(t.getSection().left(second.size()), second);
}

void tst_table::completeTableTakesNothingMore()
{
    const QByteArray first = tsbuild::patSection(1, { { 1, 0x100 } });
    table t(nullptr, PID);
    QCOMPARE(t.get_section(tsbuild::packetize(PID, first).at(0)), table::section_complete);
    QCOMPARE(t.get_section(tsbuild::packetize(PID, longSection()).at(0)), table::section_complete);
    QCOMPARE(t.getSection().left(first.size()), first);
    t.reset();
    QCOMPARE(t.getStatus(), table::section_waiting);
    QCOMPARE(t.get_section(tsbuild::packetize(PID, longSection()).at(0)), table::section_incomplete);
}

QTEST_APPLESS_MAIN(tst_table)
#include "tst_table.moc"
