// Firmware images and the flash exchange of the emulated device, in-process: header encryption
// checked against the openssl command-line tool, CRC against a bitwise reference, the device's
// verdicts on headers and packets, and the reboot that installs the new firmware.

#include "consolesession.h"
#include "firmwareimage.h"
#include "modulatordevice.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
QByteArray msg(const QByteArray &text)
{
    return text + QByteArray(1, '\0');
}

// CRC-16/X.25 bit by bit (reflected 0x1021 = 0x8408, init 0xFFFF, final complement).
quint16 referenceCrc(const QByteArray &data)
{
    quint16 crc = 0xffff;
    for (char c : data) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0x8408) : quint16(crc >> 1);
    }
    return quint16(~crc);
}

FirmwareHeader header(const QByteArray &name, int bank, quint32 size, const QByteArray &serial = QByteArray())
{
    FirmwareHeader h;
    h.name = name;
    h.bank = bank;
    h.size = size;
    h.serial = serial;
    return h;
}

struct Console {
    explicit Console(ConsoleSession::Kind kind = ConsoleSession::Kind::Serial, int rebootMs = 2000)
        : device(DeviceIdentity(), faults(rebootMs))
        , session(kind, &device, QStringLiteral("test"))
    {
        if (kind == ConsoleSession::Kind::Telnet)
            session.open(0);
        else
            session.receive("\x1b", 0);
        session.receive("admin\r\nkorva\r\n", 0);
        session.takeOutput();
    }
    static DeviceFaults faults(int rebootMs)
    {
        DeviceFaults f;
        f.rebootMs = rebootMs;
        return f;
    }
    QList<QByteArray> line(const QByteArray &text, qint64 t = 0)
    {
        session.receive(text + "\n\r", t);
        return session.takeOutput();
    }
    QByteArray answer(const QByteArray &text, qint64 t = 0)
    {
        const QList<QByteArray> out = line(text, t);
        return out.size() == 1 ? out.first() : QByteArray("<" + QByteArray::number(out.size()) + " messages>");
    }

    ModulatorDevice device;
    ConsoleSession session;
};
}

class TstEmulatorFlash : public QObject
{
    Q_OBJECT

private slots:
    void crcReference();
    void headerMatchesOpensslAndCrc();
    void headerRoundTrip();
    void flashExchange();
    void headerRefusals_data();
    void headerRefusals();
    void packetRefusals();
    void serialRebootAndNewVersion();
    void telnetRebootClosesTheLink();
};

void TstEmulatorFlash::crcReference()
{
    // The catalogue's check value for CRC-16/X.25, so the reference itself is right.
    QCOMPARE(referenceCrc("123456789"), quint16(0x906e));
    QCOMPARE(FirmwareImage::crc("123456789"), quint16(0x906e));
}

void TstEmulatorFlash::headerMatchesOpensslAndCrc()
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QSKIP("the openssl command-line tool is not installed");
    const QByteArray stored = FirmwareImage::storedHeader(header("NERIO-FW-2.1", 3, 0x00010000, "ABC123"));
    QCOMPARE(stored.size(), 34);

    // The plain header, laid out by hand: name, NUL padding to 21, serial, bank, size big-endian.
    QByteArray plain = QByteArray("NERIO-FW-2.1").leftJustified(21, '\0');
    plain += QByteArray("ABC123");
    plain += char(3);
    plain += QByteArray::fromHex("00010000");
    QCOMPARE(plain.size(), 32);

    QProcess p;
    p.start(openssl,
        { QStringLiteral("enc"), QStringLiteral("-aes-128-cbc"), QStringLiteral("-nopad"), QStringLiteral("-K"),
            QStringLiteral("5c1f0a93d4e8b27061fa3c9e8d20b4a7"), QStringLiteral("-iv"),
            QStringLiteral("f3e1c07a9b5d2846e0c7a1b93d5f6028") });
    QVERIFY(p.waitForStarted(5000));
    p.write(plain);
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(10000));
    const QByteArray cipher = p.readAllStandardOutput();
    QCOMPARE(cipher.size(), 32);
    QCOMPARE(stored.left(32), cipher);
    const quint16 crc = referenceCrc(cipher);
    QCOMPARE(quint8(stored.at(32)), quint8(crc >> 8)); // high byte first
    QCOMPARE(quint8(stored.at(33)), quint8(crc & 0xff));
}

void TstEmulatorFlash::headerRoundTrip()
{
    FirmwareHeader back;
    const QByteArray longest("ABCDEFGHIJKLMNOPQRST"); // 20 characters: the NUL at 20 still fits
    QCOMPARE(FirmwareImage::parseStoredHeader(FirmwareImage::storedHeader(header(longest, -1, 0xfffffffe)), &back),
        FirmwareImage::Check::Ok);
    QCOMPARE(back.name, longest);
    QCOMPARE(back.serial, QByteArray());
    QCOMPARE(back.bank, -1);
    QCOMPARE(back.size, quint32(0xfffffffe));
    QCOMPARE(FirmwareImage::storedHeader(header(longest + "U", 0, 1)), QByteArray());
    QCOMPARE(FirmwareImage::storedHeader(header("x", 0, 1, "1234567")), QByteArray());
    QCOMPARE(FirmwareImage::parseStoredHeader(QByteArray(33, 'x'), &back), FirmwareImage::Check::BadLength);
}

void TstEmulatorFlash::flashExchange()
{
    Console c;
    const QByteArray payload(300, 'p');
    const QByteArray stored = FirmwareImage::storedHeader(header("NEW-FW", 0, 300));
    QCOMPARE(c.answer("setFlashRequest " + stored.toHex()), msg("Bank erased\r\n"));
    QCOMPARE(c.answer("setFlashPacket " + payload.left(262).toHex()), msg("OK\r\n"));
    QCOMPARE(c.answer("setFlashPacket " + payload.mid(262).toHex()), msg("Download complete\r\n"));
    QCOMPARE(c.answer("setFlashPacket 00"), msg("KO\r\n")); // beyond the announced size
    // Upper-case hex is hex too.
    QCOMPARE(c.answer("setFlashRequest " + stored.toHex().toUpper()), msg("Bank erased\r\n"));
    QCOMPARE(c.answer("setFlashPacket " + payload.left(299).toHex()), msg("OK\r\n"));
    QCOMPARE(c.answer("setFlashPacket " + payload.left(2).toHex()), msg("KO\r\n")); // 301 > 300
    QCOMPARE(c.answer("setFlashPacket " + payload.left(1).toHex()), msg("Download complete\r\n"));
    // A header announcing no payload is complete at once.
    QCOMPARE(c.answer("setFlashRequest " + FirmwareImage::storedHeader(header("EMPTY", 5, 0)).toHex()),
        msg("Bank erased\r\n"));
    QCOMPARE(c.answer("setFlashPacket 00"), msg("KO\r\n"));
}

void TstEmulatorFlash::headerRefusals_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray good = FirmwareImage::storedHeader(header("FW", 2, 10));
    for (int bit : { 0, 77, 255, 263, 271 }) {
        QByteArray flipped = good;
        flipped[bit / 8] = char(flipped.at(bit / 8) ^ (1 << (bit % 8)));
        QTest::addRow("bit %d flipped", bit) << flipped.toHex() << QByteArray("KO");
    }
    QTest::newRow("good") << good.toHex() << QByteArray("Bank erased");
    QTest::newRow("bank 6") << FirmwareImage::storedHeader(header("FW", 6, 10)).toHex() << QByteArray("KO");
    QTest::newRow("bank -1") << FirmwareImage::storedHeader(header("FW", -1, 10)).toHex() << QByteArray("KO");
    QTest::newRow("bank 5") << FirmwareImage::storedHeader(header("FW", 5, 10)).toHex() << QByteArray("Bank erased");
    QTest::newRow("own serial") << FirmwareImage::storedHeader(header("FW", 1, 10, "NR0042")).toHex()
                                << QByteArray("Bank erased");
    QTest::newRow("other serial") << FirmwareImage::storedHeader(header("FW", 1, 10, "NR0043")).toHex()
                                  << QByteArray("KO");
    QTest::newRow("66 digits") << good.toHex().left(66) << QByteArray("KO");
    QTest::newRow("70 digits") << good.toHex() + "00" << QByteArray("KO");
    QTest::newRow("not hex") << QByteArray(good.toHex()).replace(0, 1, "g") << QByteArray("KO");
    QTest::newRow("empty") << QByteArray() << QByteArray("KO");
}

void TstEmulatorFlash::headerRefusals()
{
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, answer);
    Console c;
    QCOMPARE(c.answer("setFlashRequest " + hex), msg(answer + "\r\n"));
    // Packets count only after an accepted header.
    QCOMPARE(c.answer("setFlashPacket 0001"), msg(answer == "KO" ? "KO\r\n" : "OK\r\n"));
}

void TstEmulatorFlash::packetRefusals()
{
    Console c;
    QCOMPARE(c.answer("setFlashPacket 00"), msg("KO\r\n")); // no header yet
    QCOMPARE(
        c.answer("setFlashRequest " + FirmwareImage::storedHeader(header("FW", 0, 4)).toHex()), msg("Bank erased\r\n"));
    QCOMPARE(c.answer("setFlashPacket 0"), msg("KO\r\n")); // odd digit count
    QCOMPARE(c.answer("setFlashPacket zz"), msg("KO\r\n"));
    QCOMPARE(c.answer("setFlashPacket"), msg("KO\r\n"));
    QCOMPARE(c.answer("setFlashPacket 0a0b0c0d"), msg("Download complete\r\n"));
    // A refused header cancels the download it replaces.
    QCOMPARE(c.answer("setFlashRequest 00"), msg("KO\r\n"));
    QCOMPARE(c.answer("setSoftReset ON"), msg("OK\r\n"));
    c.session.tick(5000);
    c.session.takeOutput();
    c.session.receive("admin\r\nkorva\r\n", 5000);
    c.session.takeOutput();
    QVERIFY(c.answer("getID", 5000).contains("\r\nProduct version : 1.0.0\r\n"));
}

void TstEmulatorFlash::serialRebootAndNewVersion()
{
    Console c(ConsoleSession::Kind::Serial, 1500);
    QCOMPARE(c.answer("setFlashRequest " + FirmwareImage::storedHeader(header("NERIO-2.0", 0, 3)).toHex(), 100),
        msg("Bank erased\r\n"));
    QCOMPARE(c.answer("setFlashPacket 010203", 100), msg("Download complete\r\n"));
    QCOMPARE(c.answer("setSoftReset ON", 1000), msg("OK\r\n"));
    QVERIFY(c.device.isRebooting(1000));
    // Silent while rebooting, whatever arrives.
    QCOMPARE(c.line("getID", 1200), QList<QByteArray>());
    c.session.receive("\x1b", 2000);
    QCOMPARE(c.session.takeOutput(), QList<QByteArray>());
    c.session.tick(2499);
    QCOMPARE(c.session.takeOutput(), QList<QByteArray>());
    // Then the prompt returns on its own, and the login is needed again.
    c.session.tick(2500);
    QCOMPARE(c.session.takeOutput(), QList<QByteArray> { msg("Login:") });
    QCOMPARE(c.session.state(), ConsoleSession::State::AwaitLogin);
    c.session.receive("admin\r\nkorva\r\n", 2600);
    c.session.takeOutput();
    QVERIFY(c.answer("getID", 2600).contains("\r\nProduct version : NERIO-2.0\r\n"));
    QCOMPARE(c.device.parameters().version, QStringLiteral("NERIO-2.0"));
}

void TstEmulatorFlash::telnetRebootClosesTheLink()
{
    Console c(ConsoleSession::Kind::Telnet, 1000);
    // A serial line of the same device, logged in too: it notices a reboot it did not ask for.
    ConsoleSession serial(ConsoleSession::Kind::Serial, &c.device, QStringLiteral("serial"));
    serial.receive("\x1b"
                   "admin\r\nkorva\r\n",
        0);
    QCOMPARE(serial.takeOutput().size(), 3);
    QCOMPARE(serial.state(), ConsoleSession::State::LoggedIn);

    QCOMPARE(c.answer("setSoftReset ON", 0), msg("OK\r\n"));
    QVERIFY(c.session.closeRequested());
    // No completed download: the version stays.
    QCOMPARE(c.device.parameters().version, QStringLiteral("1.0.0"));

    serial.tick(500);
    QCOMPARE(serial.takeOutput(), QList<QByteArray>());
    QCOMPARE(serial.state(), ConsoleSession::State::LoggedOut);
    serial.tick(1000);
    QCOMPARE(serial.takeOutput(), QList<QByteArray> { msg("Login:") });
}

QTEST_GUILESS_MAIN(TstEmulatorFlash)
#include "tst_emulatorflash.moc"
