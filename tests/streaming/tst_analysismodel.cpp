// The analysis trees: number formats, bitrate settling, texts, icons and order of the file,
// program and PID trees.

#include "analysistree.h"
#include "es_table.h"

#include <QFile>
#include <QHash>
#include <QtTest>

namespace
{

// Each node as "text [icon]" (no brackets without an icon).
QStringList texts(const QList<analysisnode> &nodes)
{
    QStringList out;
    for (const analysisnode &n : nodes)
        out.append(n.icon.isEmpty() ? n.text : n.text + QStringLiteral(" [") + n.icon + ']');
    return out;
}

// The nodes and all their descendants, depth first.
QStringList flat(const QList<analysisnode> &nodes)
{
    QStringList out;
    for (const analysisnode &n : nodes)
        out += texts({ n }) + flat(n.children);
    return out;
}

QString settled(qint64 measured)
{
    qint64 bitrate = 0;
    const int outcome = int(analysistree::settleBitrate(measured, bitrate));
    return QString::number(outcome) + ' ' + QString::number(bitrate);
}

} // namespace

class tst_analysismodel : public QObject
{
    Q_OBJECT
private slots:
    void formats_data();
    void formats();
    void programTree();
    void programIcons();
    void pidTree();
    void iconsAreResources();

private:
    // 10 000 000 bit/s shared out: video 50 %, audio 12 % each, PMT 1 %, teletext 0.004 %.
    QHash<quint16, double> shares { { 0x100, 0.01 }, { 0x101, 0.5 }, { 0x102, 0.12 }, { 0x103, 0.12 },
        { 0x104, 0.00004 }, { 0, 0.01 }, { 0x1FFF, 0.2 }, { 0x555, 0.01 } };
    analysistree::shareFunction share = [this](quint16 pid) { return shares.value(pid, 0.0); };
    const es_table names;
};

void tst_analysismodel::formats_data()
{
    // Boundaries and rounding; the trees below show each unit in place.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("999") << analysistree::groupedInteger(999) << "999";
    QTest::newRow("1000") << analysistree::groupedInteger(1000) << "1 000";
    QTest::newRow("19 digits: five spaces at most")
        << analysistree::groupedInteger(1234567890123456789) << "1234 567 890 123 456 789";
    QTest::newRow("exactly 1 M stays in K") << analysistree::bitrateText(1000000.0) << "1000.000 K";
    QTest::newRow("exactly 1000 stays plain") << analysistree::bitrateText(1000.0) << "1000 ";
    QTest::newRow("rounding") << analysistree::bitrateText(1234567.0) << "1.235 M";
    // Outcome 0 Measured, 1 NoPcr, 2 CalculError; then the bitrate to use.
    QTest::newRow("settle: no PCR") << settled(-1) << "1 10000000";
    QTest::newRow("settle: zero") << settled(0) << "2 10000000";
    QTest::newRow("settle: 65 000 000") << settled(65000000) << "0 65000000";
    QTest::newRow("settle: 65 000 001") << settled(65000001) << "2 10000000";
    const auto file = [](qint64 measured, analysistree::settlement settlement) {
        return flat(analysistree::fileInformation(1880000, measured, settlement)).join(" | ");
    };
    const QString head = QStringLiteral("File informations [:/data.png] | 1 880 000 bytes | 10 000 packets | "
                                        "Computed bitrate [:/bitrate.png] | ");
    QTest::newRow("file, measured") << file(3000000, analysistree::settlement::Measured)
                                    << head + "Raw bitrate = 3 000 000 bps";
    QTest::newRow("file, no PCR") << file(-1, analysistree::settlement::NoPcr) << head + "No PCR detected";
    QTest::newRow("file, calcul error") << file(70000000, analysistree::settlement::CalculError)
                                        << head + "Raw bitrate = 10 000 000 bps";
}

void tst_analysismodel::formats()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void tst_analysismodel::programTree()
{
    // PMT PID, PCR PID, program number, free_CA_mode, provider, service, then type, PID and first
    // descriptor tag of each stream.
    const QList<program_info> programs = {
        { 0x100, 0x101, 1, 1, "Prov", "Chan", { { 0x02, 0x101 }, { 0x03, 0x102, 0x0A }, { 0x06, 0x104, 0x56 } } },
        { 0x555, 0x1FFF, 3, 0, "", "", {} },
    };
    const analysisnode top = analysistree::programTree(programs, 4660, QStringLiteral("Home"), 10000000, share, names);
    QCOMPARE(texts({ top }), QStringList { "Network Name : Home ID 4660 [:/ts.png]" });
    // PMT 1 % + video 50 % + audio 12 % + teletext 0.004 % of 10 Mbit/s = 6 300 400 bit/s.
    QCOMPARE(texts(top.children),
        (QStringList { "Chan - Program Number : 1 (6.300 Mbps) [:/tv.png]",
            "Program Stream (No name found) - Program Number : 3 (100.000 Kbps) [:/data.png]" }));
    const analysisnode &chan = top.children.at(0);
    QCOMPARE(texts(chan.children),
        (QStringList { "MPEG-2 Video (5.000 Mbps) [:/video.png]", "MPEG-1 Audio (1.200 Mbps) [:/audio.png]",
            "Private data (400 bps) [:/text.png]", "Program PID : 256 (100.000 Kbps)", "Program PCR PID : 257",
            "Access Control : Scrambled", "Program Provider : Prov" }));
    QCOMPARE(chan.children.at(0).toolTip, names.lookup(0x02).description);
    QCOMPARE(texts(chan.children.at(0).children),
        (QStringList { "PID : 257", "Description :  (Stream ID : 255)", "Bitrate : 5.000 Mbps" }));
    QCOMPARE(
        chan.children.at(1).children.at(1).text, QStringLiteral("Description : ISO-639 Language (Stream ID : 10)"));
    QCOMPARE(chan.children.at(2).children.at(1).text, QStringLiteral("Description : Teletext (Stream ID : 86)"));
    QCOMPARE(texts(top.children.at(1).children),
        (QStringList { "Program PID : 1365 (100.000 Kbps)", "Program PCR PID : No PCR", "Access Control : Unscrambled",
            "Program Provider : Not found" }));
    QCOMPARE(analysistree::programTree({}, 0, QString(), 10000000, share, names).text,
        QStringLiteral("Transport Stream ID 0"));
}

void tst_analysismodel::programIcons()
{
    // Radio, subtitles only, AC3 (data), AVC video with subtitles.
    const QList<program_info> programs = { { 0x100, 0x101, 1, 0, "", "", { { 0x04, 0x102 }, { 0x0F, 0x103 } } },
        { 0x100, 0x101, 2, 0, "", "", { { 0x06, 0x102, 0x59 } } },
        { 0x100, 0x101, 3, 0, "", "", { { 0x06, 0x102, 0x6A } } },
        { 0x100, 0x101, 4, 0, "", "", { { 0x1B, 0x101 }, { 0x06, 0x102, 0x59 } } } };
    QStringList icons; // the program's, then its streams'
    for (const analysisnode &p : analysistree::programTree(programs, 1, QString(), 10000000, share, names).children) {
        icons.append(p.icon);
        for (const analysisnode &child : p.children)
            icons.last() += child.icon.isEmpty() ? QString() : ' ' + child.icon;
    }
    QCOMPARE(icons,
        (QStringList { ":/audio.png :/audio.png :/audio.png", ":/text.png :/text.png", ":/data.png :/data.png",
            ":/tv.png :/video.png :/text.png" }));
}

void tst_analysismodel::pidTree()
{
    const QList<program_info> programs = {
        { 0x100, 0x101, 1, 0, "", "", { { 0x02, 0x101 }, { 0x03, 0x102 } } },
        { 0x555, 0x101, 2, 0, "", "", { { 0x1B, 0x101 }, { 0x06, 0x104 } } },
    };
    // Met in scan order; shown ascending. PID 257 belongs to both programs and is named after the first.
    const QList<analysisnode> rows = analysistree::pidTree(
        { 0x1FFF, 0x101, 0x104, 0, 0x555, 0x100, 0x102, 0x777 }, programs, 10000000, share, names);
    QCOMPARE(flat(rows),
        (QStringList { "0 - (100.000 Kbps)", "PAT [:/data.png]", "256 - (100.000 Kbps)",
            "PMT - Program Number : 1 [:/data.png]", "257 - (5.000 Mbps)", "MPEG-2 Video [:/video.png]",
            "258 - (1.200 Mbps)", "MPEG-1 Audio [:/audio.png]", "260 - (400 bps)", "Private data [:/data.png]",
            "1365 - (100.000 Kbps)", "PMT - Program Number : 2 [:/data.png]", "1911 - (0 bps)", "8191 - (2.000 Mbps)",
            "Null packets [:/data.png]" }));
}

void tst_analysismodel::iconsAreResources()
{
    for (int category = 0; category <= 4; ++category)
        QVERIFY2(QFile::exists(analysistree::programIcon(category)), qPrintable(analysistree::programIcon(category)));
    for (const char *name : { ":/ts.png", ":/bitrate.png", ":/data.png", ":/text.png" })
        QVERIFY2(QFile::exists(QString::fromLatin1(name)), name);
}

QTEST_GUILESS_MAIN(tst_analysismodel)
#include "tst_analysismodel.moc"
