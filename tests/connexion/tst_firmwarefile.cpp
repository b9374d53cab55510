// Firmware image check: images are built here with their own AES-128-CBC encryption and CRC, so the
// expected fields come from the test's bytes, not from the code under test.

#include "firmwarefile.h"

#include <QFile>
#include <QProcess>
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
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void everyFlippedHeaderBitIsRefused();
    void downloadRechecksTheFile();
    void emulatorMadeImage();

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

void tst_FirmwareFile::accepted_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<int>("bank");
    QTest::addColumn<uint>("size");
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<QString>("details"); // the box's last two lines
    const auto row = [](const char *tag, const char *name, const char *serial, int bank, uint size, int payloadSize,
                         const char *details) {
        QTest::newRow(tag) << QByteArray(name) << QByteArray(serial) << bank << size << payloadSize << details;
    };

    row("all products, first bank", "NRO-FPGA-2.4", "", 0, 300, 300,
        "Valid for all products\n- Bank : FPGA First bank");
    row("serial ABC123, size 00 01 00 00", "micro-1.7", "ABC123", 3, 0x10000, 65536,
        "Valid only for SN = ABC123\n- Bank : Micro bank");
    row("header only (34 bytes)", "lcd", "", 5, 0, 0, "Valid for all products\n- Bank : LCD bank");
    // The fields fill their bytes entirely: the name stops before the serial, the serial before the bank.
    row("name and serial without NUL", "ABCDEFGHIJKLMNOPQRSTU", "XYZ789", 2, 1, 1,
        "Valid only for SN = XYZ789\n- Bank : FPGA third bank");
    row("bank 6", "x", "", 6, 2, 2, "Valid for all products\n- Bank : Unknown bank (code 6)");
    row("bank 0xff is signed", "x", "", 0xff, 2, 2, "Valid for all products\n- Bank : Unknown bank (code -1)");
    row("size field larger than the payload", "big", "", 1, 0xFFFFFFFF, 10,
        "Valid for all products\n- Bank : FPGA second bank\n- Warning : the file holds 10 bytes of payload");
}

void tst_FirmwareFile::accepted()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, serial);
    QFETCH(int, bank);
    QFETCH(uint, size);
    QFETCH(int, payloadSize);
    QFETCH(QString, details);

    const QByteArray image = storedHeader(name, serial, quint8(bank), size) + payload(payloadSize);
    const QString path = write(QStringLiteral("image.bin"), image);
    FirmwareFile fw;
    QCOMPARE(fw.check(path), FirmwareFile::Status::Ok);
    QCOMPARE(fw.path(), path);
    QCOMPARE(fw.fileSize(), qint64(34 + payloadSize));
    QCOMPARE(fw.informationText(),
        QStringLiteral("Firmware details :\n- Size : %1\n- Name : %2\n- Product SN : ").arg(size).arg(QString(name))
            + details);
    QCOMPARE(fw.readyToolTip(), QStringLiteral("Firmware ") + name + QStringLiteral(" is ready for download"));
    QByteArray read;
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Ok);
    QCOMPARE(read, image);
}

void tst_FirmwareFile::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<FirmwareFile::Status>("status");

    const QByteArray good = storedHeader("fw", "", 0, 4) + "\x01\x02\x03\x04";
    QTest::newRow("33 bytes") << good.left(33) << FirmwareFile::Status::NotFirmware;
    QTest::newRow("text renamed .bin") << QByteArray(
        "Release notes\nThis archive holds the firmware of the modulator, version 2.4.\n")
                                       << FirmwareFile::Status::NotFirmware;
    // Larger than any image the modulator takes: refused before it is read (sparse file, nothing written).
    QTest::newRow("over the size limit") << good << FirmwareFile::Status::TooLarge;
}

void tst_FirmwareFile::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(FirmwareFile::Status, status);

    const QString path = write(QStringLiteral("refused.bin"), bytes);
    if (status == FirmwareFile::Status::TooLarge)
        QVERIFY(QFile(path).resize(FirmwareFile::MAX_IMAGE_SIZE + 1));
    FirmwareFile fw;
    QCOMPARE(fw.check(path), status);
    QVERIFY(!fw.isValid());
    QByteArray read("x");
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::OpenFailed);
    QCOMPARE(read, QByteArray());
}

void tst_FirmwareFile::everyFlippedHeaderBitIsRefused()
{
    const QByteArray good = storedHeader("fw", "SN0001", 3, 262) + payload(262);
    FirmwareFile::Header h;
    QCOMPARE(FirmwareFile::parseStoredHeader(good, &h), FirmwareFile::Status::Ok);
    QCOMPARE(h.serial, QStringLiteral("SN0001"));
    QCOMPARE(h.size, quint32(262));
    for (int bit = 0; bit < 34 * 8; ++bit) {
        QByteArray bad = good;
        bad[bit / 8] = char(bad[bit / 8] ^ (1 << (bit % 8)));
        if (FirmwareFile::parseStoredHeader(bad, &h) != FirmwareFile::Status::NotFirmware)
            QFAIL(qPrintable(QStringLiteral("flipped bit %1 accepted").arg(bit)));
    }
}

void tst_FirmwareFile::downloadRechecksTheFile()
{
    const QByteArray image = storedHeader("dl", "", 0, 300) + payload(300);
    QByteArray changed = image;
    changed[200] = char(changed[200] ^ 0x10); // payload byte, same length
    const QString path = write(QStringLiteral("dl.bin"), image);
    FirmwareFile fw;
    QCOMPARE(fw.check(path), FirmwareFile::Status::Ok);
    // A refused or missing file leaves the earlier acceptance in place.
    QCOMPARE(fw.check(write(QStringLiteral("notes.bin"), "not a firmware file at all, only some text\n")),
        FirmwareFile::Status::NotFirmware);
    QCOMPARE(fw.check(dir.filePath(QStringLiteral("missing.bin"))), FirmwareFile::Status::OpenFailed);
    QCOMPARE(fw.path(), path);
    QCOMPARE(fw.header().name, QStringLiteral("dl"));

    // Each replacement is not the file the operator was shown: another valid image counts as well.
    for (const QByteArray &other : { changed, image.left(100), storedHeader("other", "", 0, 300) + payload(300) }) {
        QByteArray read("x");
        QVERIFY(!write(QStringLiteral("dl.bin"), other).isEmpty());
        QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Changed);
        QCOMPARE(read, QByteArray());
    }
    QByteArray read;
    QVERIFY(!write(QStringLiteral("dl.bin"), image).isEmpty());
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Ok);
    QCOMPARE(read, image);
    QVERIFY(QFile::remove(path));
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::OpenFailed);
}

// The emulator's image maker is a second, separate writer of the format.
void tst_FirmwareFile::emulatorMadeImage()
{
    const QString emulator = qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
    if (!QFileInfo(emulator).isExecutable())
        QSKIP(qPrintable(QStringLiteral("nerio-emulator is not built (%1)").arg(emulator)));
    const QString path = dir.filePath(QStringLiteral("made.bin"));
    QCOMPARE(QProcess::execute(emulator,
                 { QStringLiteral("make-firmware"), path, QStringLiteral("--name"), QStringLiteral("NERIO-3.1"),
                     QStringLiteral("--bank"), QStringLiteral("3"), QStringLiteral("--serial"),
                     QStringLiteral("ABC123"), QStringLiteral("--payload-size"), QStringLiteral("5240") }),
        0);
    FirmwareFile fw;
    QCOMPARE(fw.check(path), FirmwareFile::Status::Ok);
    QCOMPARE(fw.informationText(),
        QStringLiteral("Firmware details :\n- Size : 5240\n- Name : NERIO-3.1\n"
                       "- Product SN : Valid only for SN = ABC123\n- Bank : Micro bank"));
    QByteArray image;
    QCOMPARE(fw.readForDownload(&image), FirmwareFile::Status::Ok);
    QCOMPARE(image.size(), 34 + 20 * 262);
}

QTEST_GUILESS_MAIN(tst_FirmwareFile)
#include "tst_firmwarefile.moc"
