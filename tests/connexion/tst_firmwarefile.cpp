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

QByteArray encrypt(const QByteArray &plain)
{
    const QByteArray key = QByteArray::fromHex("5c1f0a93d4e8b27061fa3c9e8d20b4a7");
    const QByteArray iv = QByteArray::fromHex("f3e1c07a9b5d2846e0c7a1b93d5f6028");
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(plain.size() + 16, '\0');
    int n = 0;
    int tail = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, reinterpret_cast<const uchar *>(key.constData()),
        reinterpret_cast<const uchar *>(iv.constData()));
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, reinterpret_cast<uchar *>(out.data()), &n,
        reinterpret_cast<const uchar *>(plain.constData()), plain.size());
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<uchar *>(out.data()) + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.truncate(n + tail);
    return out;
}

// Decrypted layout: name (0..20), serial (21..26), bank (27), size big-endian (28..31). Fields are written
// as given, without added NULs, so a caller can fill a field to its end.
QByteArray plainHeader(const QByteArray &name, const QByteArray &serial, quint8 bank, quint32 size)
{
    QByteArray h(32, '\0');
    h.replace(0, name.size(), name);
    h.replace(21, serial.size(), serial);
    h[27] = char(bank);
    h[28] = char(size >> 24);
    h[29] = char(size >> 16);
    h[30] = char(size >> 8);
    h[31] = char(size);
    return h;
}

QByteArray storedHeader(const QByteArray &plain)
{
    const QByteArray enc = encrypt(plain);
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
    void crcIsX25();
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void everyFlippedHeaderBitIsRefused();
    void refusedFileKeepsEarlierAcceptance();
    void downloadRechecksTheFile();
    void oversizedFileIsRefusedUnread();
    void emulatorMadeImage();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return QString();
        return path;
    }

    QTemporaryDir dir;
};

void tst_FirmwareFile::crcIsX25()
{
    QCOMPARE(crcX25("123456789"), quint16(0x906E));
    QCOMPARE(FirmwareFile::crc16("123456789"), quint16(0x906E));
}

void tst_FirmwareFile::accepted_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("information");

    const QString details = QStringLiteral("Firmware details :\n- Size : ");
    QTest::newRow("all products, first bank")
        << plainHeader("NRO-FPGA-2.4", "", 0, 300) << 300 << "NRO-FPGA-2.4"
        << details + "300\n- Name : NRO-FPGA-2.4\n- Product SN : Valid for all products\n- Bank : FPGA First bank";
    QTest::newRow("serial ABC123, size 00 01 00 00")
        << plainHeader("micro-1.7", "ABC123", 3, 0x00010000) << 65536 << "micro-1.7"
        << details + "65536\n- Name : micro-1.7\n- Product SN : Valid only for SN = ABC123\n- Bank : Micro bank";
    QTest::newRow("header only (34 bytes)") << plainHeader("lcd", "", 5, 0) << 0 << "lcd"
                                            << details
            + "0\n- Name : lcd\n- Product SN : Valid for all products"
              "\n- Bank : LCD bank";
    QTest::newRow("bank 4, short serial")
        << plainHeader("fact", "S1", 4, 10) << 10 << "fact"
        << details + "10\n- Name : fact\n- Product SN : Valid only for SN = S1\n- Bank : Micro factory bank";
    // The fields fill their bytes entirely: the name stops before the serial, the serial before the bank.
    QTest::newRow("name and serial without NUL")
        << plainHeader("ABCDEFGHIJKLMNOPQRSTU", "XYZ789", 2, 1) << 1 << "ABCDEFGHIJKLMNOPQRSTU"
        << details
            + "1\n- Name : ABCDEFGHIJKLMNOPQRSTU\n- Product SN : Valid only for SN = XYZ789\n- Bank : FPGA third bank";
    QTest::newRow("bank 6") << plainHeader("x", "", 6, 2) << 2 << "x"
                            << details
            + "2\n- Name : x\n- Product SN : Valid for all products"
              "\n- Bank : Unknown bank (code 6)";
    QTest::newRow("bank 0xff") << plainHeader("x", "", 0xff, 2) << 2 << "x"
                               << details
            + "2\n- Name : x\n- Product SN : Valid for all products"
              "\n- Bank : Unknown bank (code -1)";
    QTest::newRow("bank 0x80") << plainHeader("x", "", 0x80, 2) << 2 << "x"
                               << details
            + "2\n- Name : x\n- Product SN : Valid for all products"
              "\n- Bank : Unknown bank (code -128)";
    QTest::newRow("size field larger than the payload") << plainHeader("big", "", 1, 0xFFFFFFFF) << 10 << "big"
                                                        << details
            + "4294967295\n- Name : big\n- Product SN : Valid for all products\n- Bank : FPGA second bank"
              "\n- Warning : the file holds 10 bytes of payload";
    QTest::newRow("size field 0 with a payload") << plainHeader("zero", "", 1, 0) << 262 << "zero"
                                                 << details
            + "0\n- Name : zero\n- Product SN : Valid for all products\n- Bank : FPGA second bank"
              "\n- Warning : the file holds 262 bytes of payload";
}

void tst_FirmwareFile::accepted()
{
    QFETCH(QByteArray, plain);
    QFETCH(int, payloadSize);
    QFETCH(QString, name);
    QFETCH(QString, information);

    const QByteArray image = storedHeader(plain) + payload(payloadSize);
    const QString path = write(QStringLiteral("image.bin"), image);
    QVERIFY(!path.isEmpty());

    FirmwareFile fw;
    QCOMPARE(fw.check(path), FirmwareFile::Status::Ok);
    QVERIFY(fw.isValid());
    QCOMPARE(fw.path(), path);
    QCOMPARE(fw.header().name, name);
    QCOMPARE(fw.fileSize(), qint64(34 + payloadSize));
    QCOMPARE(fw.informationText(), information);
    QCOMPARE(fw.readyToolTip(), QStringLiteral("Firmware ") + name + QStringLiteral(" is ready for download"));

    QByteArray read;
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Ok);
    QCOMPARE(read, image);
}

void tst_FirmwareFile::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<FirmwareFile::Status>("status");

    const QByteArray good = storedHeader(plainHeader("fw", "", 0, 4)) + "\x01\x02\x03\x04";
    QTest::newRow("empty") << QByteArray() << FirmwareFile::Status::NotFirmware;
    QTest::newRow("33 bytes") << good.left(33) << FirmwareFile::Status::NotFirmware;
    QTest::newRow("text renamed .bin") << QByteArray(
        "Release notes\nThis archive holds the firmware of the modulator, version 2.4.\n")
                                       << FirmwareFile::Status::NotFirmware;
    QByteArray swapped = good;
    swapped[32] = good[33]; // check value low byte first
    swapped[33] = good[32];
    QTest::newRow("check value byte order") << swapped << FirmwareFile::Status::NotFirmware;
}

void tst_FirmwareFile::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(FirmwareFile::Status, status);

    const QString path = write(QStringLiteral("refused.bin"), bytes);
    QVERIFY(!path.isEmpty());
    FirmwareFile fw;
    QCOMPARE(fw.check(path), status);
    QVERIFY(!fw.isValid());
    QCOMPARE(
        FirmwareFile::statusText(status), QStringLiteral("This is not a firmware file, please check and try again"));
    QByteArray read("x");
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::OpenFailed);
    QCOMPARE(read, QByteArray());
}

void tst_FirmwareFile::everyFlippedHeaderBitIsRefused()
{
    const QByteArray good = storedHeader(plainHeader("fw", "SN0001", 3, 262)) + payload(262);
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

void tst_FirmwareFile::refusedFileKeepsEarlierAcceptance()
{
    const QString good = write(QStringLiteral("good.bin"), storedHeader(plainHeader("kept", "", 0, 3)) + "abc");
    const QString text = write(QStringLiteral("notes.bin"), "not a firmware file at all, only some text\n");
    FirmwareFile fw;
    QCOMPARE(fw.check(good), FirmwareFile::Status::Ok);
    QCOMPARE(fw.check(text), FirmwareFile::Status::NotFirmware);
    QCOMPARE(fw.check(dir.filePath(QStringLiteral("missing.bin"))), FirmwareFile::Status::OpenFailed);
    QCOMPARE(
        FirmwareFile::statusText(FirmwareFile::Status::OpenFailed), QStringLiteral("Unable to open the binary file"));
    QCOMPARE(fw.path(), good);
    QCOMPARE(fw.header().name, QStringLiteral("kept"));
    QByteArray read;
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Ok);
    QCOMPARE(read.mid(34), QByteArray("abc"));
}

void tst_FirmwareFile::downloadRechecksTheFile()
{
    const QByteArray header = storedHeader(plainHeader("dl", "", 0, 300));
    const QByteArray image = header + payload(300);
    const QString path = write(QStringLiteral("dl.bin"), image);
    FirmwareFile fw;
    QCOMPARE(fw.check(path), FirmwareFile::Status::Ok);

    QByteArray read;
    QByteArray changed = image;
    changed[200] = char(changed[200] ^ 0x10); // payload byte, same length
    QVERIFY(!write(QStringLiteral("dl.bin"), changed).isEmpty());
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Changed);
    QCOMPARE(read, QByteArray());

    QVERIFY(!write(QStringLiteral("dl.bin"), image.left(100)).isEmpty());
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Changed);

    // Another valid image under the same name is not the one the operator was shown.
    QVERIFY(!write(QStringLiteral("dl.bin"), storedHeader(plainHeader("other", "", 0, 300)) + payload(300)).isEmpty());
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Changed);

    QVERIFY(!write(QStringLiteral("dl.bin"), image).isEmpty());
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::Ok);
    QCOMPARE(read, image);

    QVERIFY(QFile::remove(path));
    QCOMPARE(fw.readForDownload(&read), FirmwareFile::Status::OpenFailed);
}

void tst_FirmwareFile::oversizedFileIsRefusedUnread()
{
    const QString path = write(QStringLiteral("huge.bin"), storedHeader(plainHeader("huge", "", 0, 0xFFFFFFDE)));
    QFile f(path);
    // Sparse on the test's file system: 2 GiB that would not fit in one byte array.
    QVERIFY(f.resize(qint64(2) * 1024 * 1024 * 1024));
    f.close();
    FirmwareFile fw;
    QCOMPARE(fw.check(path), FirmwareFile::Status::TooLarge);
    QVERIFY(!fw.isValid());

    const QString limit = write(QStringLiteral("limit.bin"), storedHeader(plainHeader("limit", "", 0, 0)));
    QFile g(limit);
    QVERIFY(g.resize(FirmwareFile::MAX_IMAGE_SIZE + 1));
    g.close();
    QCOMPARE(fw.check(limit), FirmwareFile::Status::TooLarge);
    QVERIFY(g.resize(FirmwareFile::MAX_IMAGE_SIZE));
    QCOMPARE(fw.check(limit), FirmwareFile::Status::Ok);
    QCOMPARE(fw.payloadSize(), FirmwareFile::MAX_IMAGE_SIZE - 34);
}

// The emulator's image maker is a second, separate writer of the format.
void tst_FirmwareFile::emulatorMadeImage()
{
    const QString emulator = qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
    if (!QFileInfo(emulator).isExecutable())
        QSKIP(qPrintable(QStringLiteral("nerio-emulator is not built (%1)").arg(emulator)));
    const QString path = dir.filePath(QStringLiteral("made.bin"));
    QProcess maker;
    maker.start(emulator,
        { QStringLiteral("make-firmware"), path, QStringLiteral("--name"), QStringLiteral("NERIO-3.1"),
            QStringLiteral("--bank"), QStringLiteral("3"), QStringLiteral("--serial"), QStringLiteral("ABC123"),
            QStringLiteral("--payload-size"), QStringLiteral("5240") });
    QVERIFY(maker.waitForFinished(10000));
    QCOMPARE(maker.exitCode(), 0);

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
