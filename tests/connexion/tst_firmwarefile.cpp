// Firmware image check, then the split of an image into console lines and the edges of the progress
// figure. Images are built here with their own AES-128-CBC encryption and CRC, so the expected fields
// come from the test's bytes, not from the code under test. Images from the emulator's maker (itself
// checked against the openssl tool) and whole downloads go through the Configuration page tests.

#include "firmwarefile.h"
#include "flashexchange.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <openssl/evp.h>

namespace
{

// CRC-16/X.25 written out bit by bit (reflected 0x1021 = 0x8408, init 0xFFFF, final complement).
quint16 crcX25(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0x8408) : quint16(crc >> 1);
    }
    return quint16(~crc);
}

// The stored header: name (0..20), serial (21..26), bank (27), size big-endian (28..31), AES-128-CBC
// encrypted without padding, then the CRC of the ciphertext high byte first. Fields are written as given,
// without added NULs, so a caller can fill a field to its end.
QByteArray storedHeader(const QByteArray &name, const QByteArray &serial, quint8 bank, quint32 size)
{
    QByteArray plain(32, '\0');
    plain.replace(0, name.size(), name);
    plain.replace(21, serial.size(), serial);
    plain[27] = char(bank);
    for (int i = 0; i < 4; ++i)
        plain[28 + i] = char(size >> (24 - 8 * i));
    const QByteArray key = QByteArray::fromHex("5c1f0a93d4e8b27061fa3c9e8d20b4a7");
    const QByteArray iv = QByteArray::fromHex("f3e1c07a9b5d2846e0c7a1b93d5f6028");
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray enc(32, '\0');
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, reinterpret_cast<const uchar *>(key.constData()),
        reinterpret_cast<const uchar *>(iv.constData()));
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(
        ctx, reinterpret_cast<uchar *>(enc.data()), &n, reinterpret_cast<const uchar *>(plain.constData()), 32);
    EVP_CIPHER_CTX_free(ctx);
    const quint16 crc = crcX25(enc);
    return enc + char(crc >> 8) + char(crc & 0xff);
}

QByteArray payload(int size)
{
    QByteArray p(size, '\0');
    for (int i = 0; i < size; ++i)
        p[i] = char((i * 7 + 3) & 0xff);
    return p;
}

} // namespace

Q_DECLARE_METATYPE(FirmwareFile::Status)

class tst_FirmwareFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void check_data();
    void check();
    void splitting();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() ? f.fileName()
                                                                                                    : QString();
    }

    QTemporaryDir dir;
};

void tst_FirmwareFile::initTestCase()
{
    QVERIFY(dir.isValid());
    QCOMPARE(crcX25("123456789"), quint16(0x906E)); // the catalogued check value of CRC-16/X.25
}

void tst_FirmwareFile::check_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<FirmwareFile::Status>("status");
    QTest::addColumn<QString>("details"); // the information box of an accepted file

    // The fields fill their bytes entirely: the name stops before the serial, the serial before the bank.
    QTest::newRow("name and serial without NUL")
        << storedHeader("ABCDEFGHIJKLMNOPQRSTU", "XYZ789", 2, 1) + payload(1) << FirmwareFile::Status::Ok
        << "Firmware details :\n- Size : 1\n- Name : ABCDEFGHIJKLMNOPQRSTU\n- Product SN : Valid only for SN = "
           "XYZ789\n- Bank : FPGA third bank";
    // The size field read big-endian and unsigned; bank 6 is the first code without a name.
    QTest::newRow("size field beyond the payload, bank 6")
        << storedHeader("big", "", 6, 0xFF020304) + payload(10) << FirmwareFile::Status::Ok
        << "Firmware details :\n- Size : 4278321924\n- Name : big\n- Product SN : Valid for all products\n"
           "- Bank : Unknown bank (code 6)\n- Warning : the file holds 10 bytes of payload";
    const QByteArray small = storedHeader("fw", "", 0, 4) + "\x01\x02\x03\x04";
    QTest::newRow("33 bytes") << small.left(33) << FirmwareFile::Status::NotFirmware << QString();
    // Larger than any image the modulator takes: refused before it is read (sparse file, nothing written).
    QTest::newRow("over the size limit") << small << FirmwareFile::Status::TooLarge << QString();
}

void tst_FirmwareFile::check()
{
    QFETCH(QByteArray, image);
    QFETCH(FirmwareFile::Status, status);
    QFETCH(QString, details);

    const QString path = write(QStringLiteral("image.bin"), image);
    if (status == FirmwareFile::Status::TooLarge)
        QVERIFY(QFile(path).resize(FirmwareFile::MAX_IMAGE_SIZE + 1));
    FirmwareFile fw;
    QCOMPARE(fw.check(path), status);
    const bool accepted = status == FirmwareFile::Status::Ok;
    if (accepted)
        QCOMPARE(fw.informationText(), details);
    QByteArray read("x");
    QCOMPARE(fw.readForDownload(&read), accepted ? FirmwareFile::Status::Ok : FirmwareFile::Status::OpenFailed);
    QCOMPARE(read, accepted ? image : QByteArray());
}

// The packets of an image whose payload is not a whole number of packets: the tail goes out in a short
// last packet. Images of whole packets and the progress shown while they are sent are checked on the wire
// by the Configuration page's downloads.
void tst_FirmwareFile::splitting()
{
    const QByteArray data = payload(34 + 300); // every byte value, so upper-case hex digits would show
    // Lower-case hex written byte by byte with printf, independent of the code under test.
    const auto hexOf = [](const QByteArray &bytes) {
        QString out;
        for (char c : bytes)
            out += QString::asprintf("%02x", unsigned(quint8(c)));
        return out;
    };
    QString header;
    QStringList packets { QStringLiteral("stale") };
    QVERIFY(FlashExchange::split(data, &header, &packets));
    QCOMPARE(header, hexOf(data.left(34)));
    QCOMPARE(packets, (QStringList { hexOf(data.mid(34, 262)), hexOf(data.mid(296, 38)) }));
    // Images up to the size limit: 64-bit products; a header-only image has no figure to show.
    QCOMPARE(FlashExchange::percent(3000000000LL, 4000000000LL), 75);
    QCOMPARE(FlashExchange::percent(0, 0), -1);
    QCOMPARE(FlashExchange::progressSteps(34), QList<int> {});
}

QTEST_GUILESS_MAIN(tst_FirmwareFile)
#include "tst_firmwarefile.moc"
