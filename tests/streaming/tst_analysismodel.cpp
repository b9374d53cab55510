// The analysis trees: number formats, bitrate settling, texts, icons and order of the file,
// program and PID trees.

#include "analysistree.h"
#include "es_table.h"

#include <QFile>
#include <QHash>
#include <QtTest>

namespace
{

QStringList texts(const QList<analysisnode> &nodes)
{
    QStringList out;
    for (const analysisnode &n : nodes)
        out.append(n.text);
    return out;
}

es_entry stream(quint8 type, quint16 pid, quint8 tag = 255)
{
    es_entry e;
    e.stream_type = type;
    e.elementary_PID = pid;
    e.first_descriptor_tag = tag;
    return e;
}

program_info program(quint16 number, quint16 pmt, quint16 pcr, const QList<es_entry> &streams,
    const QString &service = QString(), const QString &provider = QString(), quint8 ca = 0)
{
    program_info p;
    p.program_number = number;
    p.PMT_PID = pmt;
    p.PCR_PID = pcr;
    p.es_list = streams;
    p.service_name = service;
    p.provider_name = provider;
    p.free_CA_mode = ca;
    return p;
}

} // namespace

Q_DECLARE_METATYPE(es_entry)

class tst_analysismodel : public QObject
{
    Q_OBJECT
private slots:
    void groupedInteger_data();
    void groupedInteger();
    void bitrateText_data();
    void bitrateText();
    void settleBitrate_data();
    void settleBitrate();
    void fileInformation();
    void programTree();
    void programIcons_data();
    void programIcons();
    void pidTree();
    void iconsAreResources();

private:
    // 10 000 000 bit/s shared out: video 50 %, audio 12 % each, PMT 1 %, teletext 0.004 %.
    QHash<quint16, double> shares { { 0x100, 0.01 }, { 0x101, 0.5 }, { 0x102, 0.12 }, { 0x103, 0.12 },
        { 0x104, 0.00004 }, { 0, 0.01 }, { 0x1FFF, 0.2 }, { 0x555, 0.01 } };
    analysistree::shareFunction share = [this](quint16 pid) { return shares.value(pid, 0.0); };
};

void tst_analysismodel::groupedInteger_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "0";
    QTest::newRow("999") << qint64(999) << "999";
    QTest::newRow("1000") << qint64(1000) << "1 000";
    QTest::newRow("10 Mbit/s") << qint64(10000000) << "10 000 000";
    QTest::newRow("file size") << qint64(1880000) << "1 880 000";
    QTest::newRow("18 digits") << qint64(123456789012345678) << "123 456 789 012 345 678";
    QTest::newRow("19 digits: five spaces at most") << qint64(1234567890123456789) << "1234 567 890 123 456 789";
}

void tst_analysismodel::groupedInteger()
{
    QFETCH(qint64, value);
    QFETCH(QString, text);
    QCOMPARE(analysistree::groupedInteger(value), text);
}

void tst_analysismodel::bitrateText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("half of 10 M") << 5000000.0 << "5.000 M";
    QTest::newRow("0.3 of 10 M") << 3000000.0 << "3.000 M";
    QTest::newRow("1 % of 10 M") << 100000.0 << "100.000 K";
    QTest::newRow("0.005 % of 10 M") << 500.0 << "500 ";
    QTest::newRow("exactly 1 M stays in K") << 1000000.0 << "1000.000 K";
    QTest::newRow("exactly 1000 stays plain") << 1000.0 << "1000 ";
    QTest::newRow("rounding") << 1234567.0 << "1.235 M";
    QTest::newRow("zero") << 0.0 << "0 ";
}

void tst_analysismodel::bitrateText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(analysistree::bitrateText(value), text);
}

void tst_analysismodel::settleBitrate_data()
{
    QTest::addColumn<qint64>("measured");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<qint64>("bitrate");
    QTest::newRow("no PCR") << qint64(-1) << int(analysistree::settlement::NoPcr) << qint64(10000000);
    QTest::newRow("zero") << qint64(0) << int(analysistree::settlement::CalculError) << qint64(10000000);
    QTest::newRow("one") << qint64(1) << int(analysistree::settlement::Measured) << qint64(1);
    QTest::newRow("65 000 000") << qint64(65000000) << int(analysistree::settlement::Measured) << qint64(65000000);
    QTest::newRow("65 000 001") << qint64(65000001) << int(analysistree::settlement::CalculError) << qint64(10000000);
}

void tst_analysismodel::settleBitrate()
{
    QFETCH(qint64, measured);
    QFETCH(int, outcome);
    QFETCH(qint64, bitrate);
    qint64 settled = 0;
    QCOMPARE(int(analysistree::settleBitrate(measured, settled)), outcome);
    QCOMPARE(settled, bitrate);
}

void tst_analysismodel::fileInformation()
{
    const QList<analysisnode> measured
        = analysistree::fileInformation(1880000, 3000000, analysistree::settlement::Measured);
    QCOMPARE(texts(measured), (QStringList { "File informations", "Computed bitrate" }));
    QCOMPARE(measured.at(0).icon, QStringLiteral(":/data.png"));
    QCOMPARE(measured.at(1).icon, QStringLiteral(":/bitrate.png"));
    QCOMPARE(texts(measured.at(0).children), (QStringList { "1 880 000 bytes", "10 000 packets" }));
    QCOMPARE(texts(measured.at(1).children), QStringList { "Raw bitrate = 3 000 000 bps" });

    QCOMPARE(texts(analysistree::fileInformation(1880000, -1, analysistree::settlement::NoPcr).at(1).children),
        QStringList { "No PCR detected" });
    QCOMPARE(
        texts(analysistree::fileInformation(1880000, 70000000, analysistree::settlement::CalculError).at(1).children),
        QStringList { "Raw bitrate = 10 000 000 bps" });
}

void tst_analysismodel::programTree()
{
    const es_table names;
    const QList<program_info> programs = {
        program(1, 0x100, 0x101, { stream(0x02, 0x101), stream(0x03, 0x102, 0x0A), stream(0x06, 0x104, 0x56) },
            QStringLiteral("Chan"), QStringLiteral("Prov"), 1),
        program(3, 0x555, 0x1FFF, {}),
    };

    const analysisnode top = analysistree::programTree(programs, 4660, QStringLiteral("Home"), 10000000, share, names);
    QCOMPARE(top.text, QStringLiteral("Network Name : Home ID 4660"));
    QCOMPARE(top.icon, QStringLiteral(":/ts.png"));
    // PMT 1 % + video 50 % + audio 12 % + teletext 0.004 % of 10 Mbit/s = 6 300 400 bit/s.
    QCOMPARE(texts(top.children),
        (QStringList { "Chan - Program Number : 1 (6.300 Mbps)",
            "Program Stream (No name found) - Program Number : 3 (100.000 Kbps)" }));
    QCOMPARE(top.children.at(0).icon, QStringLiteral(":/tv.png"));
    QCOMPARE(top.children.at(1).icon, QStringLiteral(":/data.png"));

    const analysisnode &chan = top.children.at(0);
    QCOMPARE(texts(chan.children),
        (QStringList { "MPEG-2 Video (5.000 Mbps)", "MPEG-1 Audio (1.200 Mbps)", "Private data (400 bps)",
            "Program PID : 256 (100.000 Kbps)", "Program PCR PID : 257", "Access Control : Scrambled",
            "Program Provider : Prov" }));
    const analysisnode &video = chan.children.at(0);
    QCOMPARE(video.icon, QStringLiteral(":/video.png"));
    QCOMPARE(video.toolTip, names.lookup(0x02).description);
    QCOMPARE(texts(video.children),
        (QStringList { "PID : 257", "Description :  (Stream ID : 255)", "Bitrate : 5.000 Mbps" }));
    QCOMPARE(chan.children.at(1).icon, QStringLiteral(":/audio.png"));
    QCOMPARE(
        chan.children.at(1).children.at(1).text, QStringLiteral("Description : ISO-639 Language (Stream ID : 10)"));
    QCOMPARE(chan.children.at(2).icon, QStringLiteral(":/text.png"));
    QCOMPARE(chan.children.at(2).children.at(1).text, QStringLiteral("Description : Teletext (Stream ID : 86)"));

    QCOMPARE(texts(top.children.at(1).children),
        (QStringList { "Program PID : 1365 (100.000 Kbps)", "Program PCR PID : No PCR", "Access Control : Unscrambled",
            "Program Provider : Not found" }));

    QCOMPARE(analysistree::programTree({}, 0, QString(), 10000000, share, names).text,
        QStringLiteral("Transport Stream ID 0"));
}

void tst_analysismodel::programIcons_data()
{
    QTest::addColumn<QList<es_entry>>("streams");
    QTest::addColumn<QString>("programIcon");
    QTest::addColumn<QString>("lastStreamIcon");
    QTest::newRow("television") << QList<es_entry> { stream(0x02, 0x101), stream(0x03, 0x102), stream(0x03, 0x103) }
                                << ":/tv.png"
                                << ":/audio.png";
    QTest::newRow("radio") << QList<es_entry> { stream(0x04, 0x102), stream(0x0F, 0x103) } << ":/audio.png"
                           << ":/audio.png";
    QTest::newRow("subtitles") << QList<es_entry> { stream(0x06, 0x102, 0x59) } << ":/text.png"
                               << ":/text.png";
    QTest::newRow("AC3 is data") << QList<es_entry> { stream(0x06, 0x102, 0x6A) } << ":/data.png"
                                 << ":/data.png";
    QTest::newRow("AVC video") << QList<es_entry> { stream(0x1B, 0x101), stream(0x06, 0x102, 0x59) } << ":/tv.png"
                               << ":/text.png";
}

void tst_analysismodel::programIcons()
{
    QFETCH(QList<es_entry>, streams);
    QFETCH(QString, programIcon);
    QFETCH(QString, lastStreamIcon);
    const es_table names;
    const analysisnode top
        = analysistree::programTree({ program(1, 0x100, 0x101, streams) }, 1, QString(), 10000000, share, names);
    QCOMPARE(top.children.at(0).icon, programIcon);
    QCOMPARE(top.children.at(0).children.at(streams.size() - 1).icon, lastStreamIcon);
}

void tst_analysismodel::pidTree()
{
    const es_table names;
    const QList<program_info> programs = {
        program(1, 0x100, 0x101, { stream(0x02, 0x101), stream(0x03, 0x102) }),
        program(2, 0x555, 0x101, { stream(0x1B, 0x101), stream(0x06, 0x104) }),
    };
    // Met in scan order; shown ascending.
    const QList<analysisnode> rows = analysistree::pidTree(
        { 0x1FFF, 0x101, 0x104, 0, 0x555, 0x100, 0x102, 0x777 }, programs, 10000000, share, names);
    QCOMPARE(texts(rows),
        (QStringList { "0 - (100.000 Kbps)", "256 - (100.000 Kbps)", "257 - (5.000 Mbps)", "258 - (1.200 Mbps)",
            "260 - (400 bps)", "1365 - (100.000 Kbps)", "1911 - (0 bps)", "8191 - (2.000 Mbps)" }));
    QStringList names_;
    QStringList icons;
    for (const analysisnode &row : rows) {
        names_.append(row.children.isEmpty() ? QString() : row.children.at(0).text);
        icons.append(row.children.isEmpty() ? QString() : row.children.at(0).icon);
    }
    // PID 257 belongs to both programs and is named after the first.
    QCOMPARE(names_,
        (QStringList { "PAT", "PMT - Program Number : 1", "MPEG-2 Video", "MPEG-1 Audio", "Private data",
            "PMT - Program Number : 2", QString(), "Null packets" }));
    QCOMPARE(icons,
        (QStringList { ":/data.png", ":/data.png", ":/video.png", ":/audio.png", ":/data.png", ":/data.png", QString(),
            ":/data.png" }));
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
