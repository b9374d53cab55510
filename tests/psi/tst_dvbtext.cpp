// DVB text: character-table selectors and the removal of control characters. Expected characters
// are taken from the code charts of the named character sets.

#include "dvbtext.h"

#include <QtTest>

class tst_dvbtext : public QObject
{
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
};

void tst_dvbtext::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("default table, Latin-1 upper half") << QByteArray("Caf\xE9 TV") << QString::fromUtf8("Café TV");
    QTest::newRow("0x15 UTF-8") << QByteArray("\x15"
                                              "B\xC3\xAAta HD")
                                << QString::fromUtf8("Bêta HD");
    QTest::newRow("0x01 ISO 8859-5") << QByteArray("\x01\xB0\xD0") << QString::fromUtf8("Аа");
    QTest::newRow("0x05 ISO 8859-9") << QByteArray("\x05\xDD"
                                                   "stanbul")
                                     << QString::fromUtf8("İstanbul");
    QTest::newRow("0x0B ISO 8859-15") << QByteArray("\x0B\xA4") << QString::fromUtf8("€");
    QTest::newRow("0x10 0x00 0x07 ISO 8859-7") << QByteArray("\x10\x00\x07\xC1", 4) << QString::fromUtf8("Α");
    QTest::newRow("0x10 truncated") << QByteArray("\x10\x00", 2) << QString();
    QTest::newRow("0x11 UCS-2") << QByteArray("\x11\x00"
                                              "B\x00\xEA\x4E\x2D",
        7) << QString::fromUtf8("Bê中");
    QTest::newRow("0x13 GB2312") << QByteArray("\x13\xD6\xD0") << QString::fromUtf8("中");
    QTest::newRow("0x14 Big5") << QByteArray("\x14\xA4\xA4") << QString::fromUtf8("中");
    QTest::newRow("0x1F unknown selector dropped") << QByteArray("\x1F"
                                                                 "ABC")
                                                   << QStringLiteral("ABC");
    QTest::newRow("NUL and control bytes removed")
        << QByteArray("\x05Net\x00wo\x0Ark", 10) << QStringLiteral("Network");
    QTest::newRow("default table with NUL") << QByteArray("Ab\x00"
                                                          "c",
        4) << QStringLiteral("Abc");
    QTest::newRow("UTF-8 with NUL") << QByteArray("\x15"
                                                  "a\x00"
                                                  "b",
        4) << QStringLiteral("ab");
}

void tst_dvbtext::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(dvbtext::decode(bytes), text);
}

QTEST_APPLESS_MAIN(tst_dvbtext)
#include "tst_dvbtext.moc"
