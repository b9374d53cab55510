// Splitting a firmware image into console lines and the progress figures shown while it is sent.

#include "flashexchange.h"

#include <QtTest>

class tst_FlashExchange : public QObject
{
    Q_OBJECT

private slots:
    void splitting_data();
    void splitting();
    void progress_data();
    void progress();
};

void tst_FlashExchange::splitting_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("packetBytes");

    QTest::newRow("three full packets") << 34 + 262 * 3 << QList<int> { 262, 262, 262 };
    QTest::newRow("full packet and remainder") << 34 + 300 << QList<int> { 262, 38 };
    QTest::newRow("header only") << 34 << QList<int> {};
    QTest::newRow("shorter than a header: refused") << 33 << QList<int> { -1 };
}

void tst_FlashExchange::splitting()
{
    QFETCH(int, size);
    QFETCH(QList<int>, packetBytes);

    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + 3) % 256); // every byte value, so upper-case hex digits would show
    // Lower-case hex written byte by byte with printf, independent of the code under test.
    const auto hexOf = [](const QByteArray &bytes) {
        QString out;
        for (char c : bytes)
            out += QString::asprintf("%02x", unsigned(quint8(c)));
        return out;
    };
    QString header = QStringLiteral("stale");
    QStringList packets { QStringLiteral("stale") };
    const bool refused = packetBytes == QList<int> { -1 };
    QCOMPARE(FlashExchange::split(data, &header, &packets), !refused);
    QCOMPARE(header, refused ? QString() : hexOf(data.left(34)));
    QStringList expected;
    for (int i = 0, offset = 34; !refused && i < packetBytes.size(); offset += packetBytes.at(i++))
        expected << hexOf(data.mid(offset, packetBytes.at(i)));
    QCOMPARE(packets, expected);
}

void tst_FlashExchange::progress_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("steps"); // per packet, -1: display unchanged

    // 2654 bytes: 296, 558, ... 2654 sent give 11.15, 21.02, 30.90, 40.77, 50.64, 60.51, 70.38, 80.26, 90.13, 100 %.
    QTest::newRow("ten packets") << qint64(34 + 10 * 262) << QList<int> { 11, 21, 31, 41, 51, 61, 70, 80, 90, 100 };
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
    // Rounding to nearest (12.5 → 13), 64-bit products, and no figure for an empty image.
    QCOMPARE(FlashExchange::percent(1, 8), 13);
    QCOMPARE(FlashExchange::percent(3000000000LL, 4000000000LL), 75);
    QCOMPARE(FlashExchange::percent(0, 0), -1);
}

QTEST_GUILESS_MAIN(tst_FlashExchange)
#include "tst_flashexchange.moc"
