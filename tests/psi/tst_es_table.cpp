// Stream type and descriptor names, as the operator reads them.

#include "es_table.h"

#include <QtTest>

class tst_es_table : public QObject
{
    Q_OBJECT
private slots:
    void lookup_data();
    void lookup();
};

void tst_es_table::lookup_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("descriptor");

    const QString reserved = QStringLiteral("ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Reserved");
    QTest::newRow("0x00") << 0x00 << "ITU-T | ISO/IEC Reserved"
                          << "ITU-T | ISO/IEC Reserved"
                          << "Reserved";
    QTest::newRow("0x02")
        << 0x02 << "MPEG-2 Video"
        << "MPEG-2 Video ITU-T Rec. H.262 | ISO/IEC 13818-2 Video or ISO/IEC 11172-2 constrained parameter video stream"
        << "Video Stream";
    QTest::newRow("0x0F") << 0x0F << "ISO/IEC 13818-7 Audio with ADTS transport sytax"
                          << "ISO/IEC 13818-7 Audio with ADTS transport sytax"
                          << "Private Data Indicator";
    QTest::newRow("0x1B") << 0x1B << "AVC/H.264 Video"
                          << "AVC/H.264 Video AVC video stream as defined in ITU-T Rec. H.264 | ISO/IEC 14496-10 Video"
                          << "MPEG4 Video";
    QTest::newRow("0x24") << 0x24 << reserved << reserved << "Content Labeling";
    QTest::newRow("0x29") << 0x29 << reserved << reserved << "IPMP (0xMPEG-2 IPMP, ISO 13818-11)";
    QTest::newRow("0x3F") << 0x3F << reserved << reserved << "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved";
    QTest::newRow("0x49") << 0x49 << reserved << reserved << "Country Availibility";
    QTest::newRow("0x56") << 0x56 << reserved << reserved << "Teletext";
    QTest::newRow("0x59") << 0x59 << reserved << reserved << "Subtitling";
    QTest::newRow("0x6A") << 0x6A << reserved << reserved << "AC3";
    QTest::newRow("0x7C") << 0x7C << reserved << reserved << "AAC";
    QTest::newRow("0x7E") << 0x7E << reserved << reserved << "Extension";
    QTest::newRow("0x7F") << 0x7F << "IPMP stream"
                          << "IPMP stream"
                          << "User defined/ATSC Reserved";
    QTest::newRow("0x80") << 0x80 << "User private"
                          << "User private"
                          << "";
    QTest::newRow("0x86") << 0x86 << "User private"
                          << "User private"
                          << "";
    QTest::newRow("0x90") << 0x90 << "MPE-FEC data"
                          << "MPE-FEC data"
                          << "";
    QTest::newRow("255") << 255 << "User private"
                         << "User private"
                         << "";
}

void tst_es_table::lookup()
{
    QFETCH(int, value);
    QFETCH(QString, shortName);
    QFETCH(QString, description);
    QFETCH(QString, descriptor);
    const es_table names;
    const es_names found = names.lookup(quint8(value));
    QCOMPARE(found.short_name, shortName);
    QCOMPARE(found.description, description);
    QCOMPARE(found.descriptor_name, descriptor);
}

QTEST_APPLESS_MAIN(tst_es_table)
#include "tst_es_table.moc"
