// Splitting a firmware image into console lines and the progress figures shown while it is sent.

#include "flashexchange.h"

#include <QtTest>

namespace {

// Lower-case hex written byte by byte with printf, independent of the code under test.
QString hexOf(const QByteArray &bytes)
{
    QString out;
    for (char c : bytes)
        out += QString::asprintf("%02x", unsigned(quint8(c)));
    return out;
}

QByteArray image(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + 3) % 256);
    return data;
}

} // namespace

class tst_FlashExchange : public QObject
{
    Q_OBJECT

private slots:
    void splitting_data();
    void splitting();
    void headerDigitsAreLowerCase();
    void progress_data();
    void progress();
    void rounding_data();
    void rounding();
};

void tst_FlashExchange::splitting_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QList<int>>("packetBytes");

    QTest::newRow("three full packets") << 34 + 262 * 3 << true << QList<int> { 262, 262, 262 };
    QTest::newRow("full packet and remainder") << 34 + 300 << true << QList<int> { 262, 38 };
    QTest::newRow("one byte of payload") << 35 << true << QList<int> { 1 };
    QTest::newRow("header only") << 34 << true << QList<int> {};
    QTest::newRow("shorter than a header") << 33 << false << QList<int> {};
    QTest::newRow("empty") << 0 << false << QList<int> {};
}

void tst_FlashExchange::splitting()
{
    QFETCH(int, size);
    QFETCH(bool, valid);
    QFETCH(QList<int>, packetBytes);

    const QByteArray data = image(size);
    QString header = QStringLiteral("stale");
    QStringList packets { QStringLiteral("stale") };
    QCOMPARE(FlashExchange::split(data, &header, &packets), valid);
    if (!valid) {
        QCOMPARE(header, QString());
        QCOMPARE(packets, QStringList());
        return;
    }
    QCOMPARE(header.size(), 68);
    QCOMPARE(header, hexOf(data.left(34)));
    QCOMPARE(packets.size(), packetBytes.size());
    int offset = 34;
    for (int i = 0; i < packets.size(); ++i) {
        QCOMPARE(packets.at(i).size(), packetBytes.at(i) * 2);
        QCOMPARE(packets.at(i), hexOf(data.mid(offset, packetBytes.at(i))));
        offset += packetBytes.at(i);
    }
    QCOMPARE(offset, size);
}

void tst_FlashExchange::headerDigitsAreLowerCase()
{
    QByteArray data = QByteArray::fromHex("000aff") + QByteArray(31, '\xAB');
    QString header;
    QStringList packets;
    QVERIFY(FlashExchange::split(data, &header, &packets));
    QCOMPARE(header, QStringLiteral("000aff") + QStringLiteral("ab").repeated(31));
}

void tst_FlashExchange::progress_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("steps"); // per packet, -1: display unchanged

    // 2654 bytes: 296, 558, ... 2654 sent give 11.15, 21.02, 30.90, 40.77, 50.64, 60.51, 70.38, 80.26, 90.13, 100 %.
    QTest::newRow("ten packets") << qint64(34 + 10 * 262) << QList<int> { 11, 21, 31, 41, 51, 61, 70, 80, 90, 100 };
    // One packet carries the whole payload.
    QTest::newRow("one packet") << qint64(34 + 262) << QList<int> { 100 };
    // 297 bytes: 296 sent is 99.66 % (shown as 100), the last byte is 100 % again; the threshold moved only once.
    QTest::newRow("figure repeats") << qint64(34 + 263) << QList<int> { 100, 100 };
    QTest::newRow("header only") << qint64(34) << QList<int> {};

    // 26234 bytes: after packet n, (34 + 262 n) / 262.34 % crosses each multiple of 5 exactly at n = 5, 10, ...
    QList<int> hundred;
    for (int n = 1; n <= 100; ++n)
        hundred << (n % 5 == 0 ? n : -1);
    QTest::newRow("hundred packets") << qint64(34 + 100 * 262) << hundred;
}

void tst_FlashExchange::progress()
{
    QFETCH(qint64, size);
    QFETCH(QList<int>, steps);
    QCOMPARE(FlashExchange::progressSteps(size), steps);
}

void tst_FlashExchange::rounding_data()
{
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent");

    QTest::newRow("exact half rounds up") << qint64(1) << qint64(8) << 13; // 12.5
    QTest::newRow("one third") << qint64(1) << qint64(3) << 33;
    QTest::newRow("two thirds") << qint64(2) << qint64(3) << 67;
    QTest::newRow("all") << qint64(5) << qint64(5) << 100;
    QTest::newRow("large image") << qint64(3000000000LL) << qint64(4000000000LL) << 75;
    QTest::newRow("empty image") << qint64(0) << qint64(0) << -1;
}

void tst_FlashExchange::rounding()
{
    QFETCH(qint64, sent);
    QFETCH(qint64, total);
    QFETCH(int, percent);
    QCOMPARE(FlashExchange::percent(sent, total), percent);
}

QTEST_GUILESS_MAIN(tst_FlashExchange)
#include "tst_flashexchange.moc"
