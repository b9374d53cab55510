// The emulator's protocol core in-process: login dialogue, telnet option bytes, the command table's
// verdicts and readings (tuning layout included), the state file, the flash exchange with the reboot
// that installs it, and the IP input meter (lock, RTP, bitrates over the last second). The image format
// itself is checked against OpenSSL by the firmware-file test, which reads an image the emulator made.

#include "consolesession.h"
#include "firmwareimage.h"
#include "ipinputmeter.h"
#include "modulatordevice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace
{
using Kind = ConsoleSession::Kind;
using Messages = QList<QByteArray>;
using Lock = IpInputMeter::Lock;

QByteArray msg(const QByteArray &text)
{
    return text + QByteArray(1, '\0');
}

const Messages loggedIn { msg("Logged in successfully\r\n") };

struct Rig {
    explicit Rig(Kind kind = Kind::Serial, const DeviceIdentity &identity = DeviceIdentity(), int rebootMs = 2000)
        : device(identity, DeviceFaults { -1, {}, rebootMs })
        , session(kind, &device, QStringLiteral("test"))
        , kind(kind)
    {
    }
    Messages feed(const QByteArray &bytes, qint64 t = 0)
    {
        session.receive(bytes, t);
        return session.takeOutput();
    }
    bool login(qint64 t = 0)
    {
        if (kind == Kind::Telnet)
            session.open(t);
        feed(kind == Kind::Serial ? "\x1b" : "", t);
        return feed("admin\r\nkorva\r\n", t) == Messages { msg("Password:"), loggedIn.first() };
    }
    // One command line as the application sends it; the single answer message.
    QByteArray command(const QByteArray &line, qint64 t = 0)
    {
        const Messages out = feed(line + "\n\r", t);
        return out.size() == 1 ? out.first() : "<" + QByteArray::number(out.size()) + " messages>";
    }

    ModulatorDevice device;
    ConsoleSession session;
    Kind kind;
};

// The stored header's hex digits, as setFlashRequest carries them.
QByteArray headerHex(const QByteArray &name, int bank, quint32 size, const QByteArray &serial = QByteArray())
{
    return FirmwareImage::storedHeader(FirmwareHeader { name, serial, bank, size }).toHex();
}
}

class TstEmulatorCore : public QObject
{
    Q_OBJECT

private slots:
    void loginDialogues();
    void settingsAndReadings();
    void stateFile();
    void flashExchange();
    void rebootInstallsTheFirmware();
    void ipInputMeter();
};

void TstEmulatorCore::loginDialogues()
{
    DeviceIdentity id;
    id.login = QStringLiteral("op");
    id.password = QStringLiteral("secret");
    Rig rig(Kind::Serial, id);
    // Nothing but ESC or CR wakes a logged-out line; the default credentials are replaced.
    QCOMPARE(rig.feed("hello\n"), Messages());
    QCOMPARE(rig.feed("\r"), Messages { msg("Login:") });
    QCOMPARE(rig.feed("admin\r\n"), Messages { msg("Password:") });
    QCOMPARE(rig.feed("korva\r\n"), (Messages { msg("Access denied\r\n"), msg("Login:") }));
    Messages out; // name and password may arrive byte by byte
    for (char c : QByteArray("op\r\nsecret\r\n"))
        out += rig.feed(QByteArray(1, c));
    QCOMPARE(out, Messages { msg("Password:") } + loggedIn);
    QCOMPARE(rig.feed("exit\r\n"), Messages { msg("Logged out\r\n") });
    QVERIFY(!rig.session.closeRequested());
    QCOMPARE(rig.feed("\x1bop\r\nsecret\r\n").mid(2), loggedIn);
    // An application that reconnects without "exit" sends ESC on a line still logged in.
    QCOMPARE(rig.feed("\x1b"), Messages { msg("Login:") });
    QCOMPARE(rig.command("getID"), msg("Password:"));
    rig.session.hangUp();
    QCOMPARE(rig.session.state(), ConsoleSession::State::LoggedOut);
    QCOMPARE(rig.feed("getID\n\r"), Messages { msg("Login:") }); // only the CR counts

    // Telnet opens with IAC DO AUTHENTICATION and the prompt.
    Rig net(Kind::Telnet);
    net.session.open(0);
    QCOMPARE(net.session.takeOutput(), (Messages { QByteArray("\xff\xfd\x25", 3), msg("Login:") }));
    // The refusal of authentication, a negotiation and a sub-negotiation inside the name: only the
    // name's own bytes remain. The telnet client's ESC does not repeat the prompt.
    const QByteArray options("\xff\xfc\x25\xff\xfb\x18", 6);
    QCOMPARE(net.feed(options + "ad" + QByteArray("\xff\xfa\x18\x01\xff\xf0", 6) + "min\r\n"),
        Messages { msg("Password:") });
    QCOMPARE(net.feed("\x1bkorva\r\n"), loggedIn);
    // IAC IAC is a data byte 255, kept: this value is not the port 2000.
    QCOMPARE(net.command(QByteArray("setIPPort 20\xff\xff") + "00"), msg("KO\r\n"));
    QCOMPARE(net.feed("exit\r\n"), Messages { msg("Logged out\r\n") });
    QVERIFY(net.session.closeRequested());
}

void TstEmulatorCore::settingsAndReadings()
{
    DeviceIdentity id;
    id.serialNumber = QStringLiteral("ABC123");
    id.mac = QStringLiteral("00-0A-1B-2C-3D-4E");
    id.productName = QStringLiteral("Test modulator");
    Rig rig(Kind::Serial, id);
    QVERIFY(rig.login());
    QCOMPARE(rig.command("getID"),
        msg("Product type : Test modulator\r\nProduct serial number : ABC123\r\n"
            "Product MAC address : 00-0A-1B-2C-3D-4E\r\nProduct version : 1.0.0\r\n"
            "Product manufacturing date : 2025-11-04\r\nProduct options : IP ASI\r\n"));
    // Accepted values, range ends among them.
    for (const char *line :
        { "setInputMux ASI", "setRefClockMux AUTO", "setCodeRate 5/6", "setGuardInterval 1/8", "setConstellation 16QAM",
            "setBandwidth 7", "setTransmissionMode 2K", "setOutputFrequency 858", "setAttenuation 30",
            "setOutputState ON", "setMipControl ON", "setSoftReset OFF", "setTuningValues -128 7 -9 511",
            "setIPAddressingMethod unicast", "setIPMulticastAddress 224.0.0.0", "setIPPort 65535" })
        QCOMPARE(rig.command(line), msg("OK\r\n"));
    // Refused values (exact case, just beyond a range, not a command) change nothing the readings show.
    for (const QByteArray &line : { QByteArray("setInputMux asi"), QByteArray("setOutputFrequency 858.001"),
             QByteArray("setOutputFrequency 473.999"), QByteArray("setAttenuation 31"),
             QByteArray("setIPMulticastAddress 240.0.0.1"), QByteArray("setIPPort 1023"), QByteArray("setIPPort 65536"),
             QByteArray("setIPUnicastAddress 10.0.0.1"), QByteArray("setTuningValues 128 0 0 0"),
             "setFlashPacket " + QByteArray(ConsoleSession::MaxLineLength, 'a') })
        QVERIFY2(rig.command(line) == msg("KO\r\n"), line.left(40).constData());
    QCOMPARE(rig.command("getCoreParameters"),
        msg("Input mux : ASI\r\nRef clock mux : AUTO\r\nCode Rate : 5/6\r\nGuard Interval : 1/8\r\n"
            "Constellation : 16QAM\r\nBandwidth : 7MHz\r\nTransmission Mode : OFDM mode : 2K\r\n"
            "Output Frequency : 858.000MHz\r\nAttenuation : 30dB\r\nOutput State : ON\r\nMIP control : ON\r\n"));
    QCOMPARE(rig.command("getIPParameters"),
        msg("IP addressing method : unicast\r\nIP multicast address : 224.0.0.0\r\n"
            "IP unicast address : 127.0.0.1\r\nIP port : 65535\r\n"));
    // Sign and three digits each: the panel cuts the reply at fixed character positions.
    QCOMPARE(rig.command("getTuningValues"), msg("\r\n-128 +007\r\n -009 +511 \r\n"));
    // ASI selected: the IP input is not measured. The PLL runs on the internal reference.
    QCOMPARE(rig.command("getStatus"),
        msg("IP input status : No data\r\nASI input status : No data\r\nInput raw bitrate : 0.000 Mbps\r\n"
            "Input net bitrate : 0.000 Mbps\r\nPLL status : Locked on internal\r\nOutput status : ON\r\n"));
    QCOMPARE(rig.command("setRefClockMux external"), msg("OK\r\n"));
    QVERIFY(rig.command("getStatus").contains("\r\nPLL status : Not locked\r\n"));
}

void TstEmulatorCore::stateFile()
{
    // Entries the console would refuse (code rate, attenuation, port, frequency) keep their defaults.
    DeviceParameters p;
    p.fromJson(QJsonDocument::fromJson(R"({"codeRate": "9/10", "attenuation": 31, "ipPort": 80,
        "outputFrequency": "900", "guardInterval": "1/8", "tuning": [-128, 5, 511, -512], "version": "FW-2.0"})")
                   .object());
    QJsonObject expected = DeviceParameters().toJson();
    expected.insert(QStringLiteral("guardInterval"), QStringLiteral("1/8"));
    expected.insert(QStringLiteral("tuning"), QJsonArray { -128, 5, 511, -512 });
    expected.insert(QStringLiteral("version"), QStringLiteral("FW-2.0"));
    QCOMPARE(p.toJson(), expected);
}

void TstEmulatorCore::flashExchange()
{
    Rig rig;
    QVERIFY(rig.login());
    // Refused: a bank outside 0..5, another product's serial number, too few or too many digits, a
    // non-hex digit, a flipped bit in the cipher text or in either CRC byte.
    const QByteArray good = headerHex("FW", 2, 10);
    QList<QByteArray> refused { headerHex("FW", 6, 10), headerHex("FW", -1, 10), headerHex("FW", 1, 10, "NR0043"),
        good.left(66), good + "00", QByteArray(good).replace(0, 1, "g") };
    for (int bit : { 0, 263, 271 }) {
        QByteArray flipped = QByteArray::fromHex(good);
        flipped[bit / 8] = char(flipped.at(bit / 8) ^ (1 << (bit % 8)));
        refused << flipped.toHex();
    }
    for (const QByteArray &hex : qAsConst(refused))
        QVERIFY2(rig.command("setFlashRequest " + hex) == msg("KO\r\n"), hex.constData());
    QCOMPARE(rig.command("setFlashPacket 00"), msg("KO\r\n")); // no header accepted yet
    QCOMPARE(rig.command("setFlashRequest " + headerHex("FW", 5, 10, "NR0042")), msg("Bank erased\r\n"));
    // Upper-case hex is hex too; a refused packet leaves the count where it was.
    const QByteArray payload(300, 'p');
    QCOMPARE(rig.command("setFlashRequest " + headerHex("NEW-FW", 0, 300).toUpper()), msg("Bank erased\r\n"));
    for (const QByteArray &bad : { QByteArray("0"), QByteArray("zz"), QByteArray() })
        QCOMPARE(rig.command("setFlashPacket " + bad), msg("KO\r\n"));
    QCOMPARE(rig.command("setFlashPacket " + payload.left(299).toHex()), msg("OK\r\n"));
    QCOMPARE(rig.command("setFlashPacket " + payload.left(2).toHex()), msg("KO\r\n")); // 301 > 300
    QCOMPARE(rig.command("setFlashPacket " + payload.left(1).toHex()), msg("Download complete\r\n"));
    QCOMPARE(rig.command("setFlashPacket 00"), msg("KO\r\n")); // beyond the announced size
    // A header announcing no payload is complete at once.
    QCOMPARE(rig.command("setFlashRequest " + headerHex("EMPTY", 5, 0)), msg("Bank erased\r\n"));
    QCOMPARE(rig.command("setFlashPacket 00"), msg("KO\r\n"));
}

void TstEmulatorCore::rebootInstallsTheFirmware()
{
    Rig telnet(Kind::Telnet, DeviceIdentity(), 1000);
    QVERIFY(telnet.login());
    // A serial line of the same device, logged in too: it notices a reboot it did not ask for.
    ConsoleSession serial(Kind::Serial, &telnet.device, QStringLiteral("serial"));
    serial.receive(QByteArray("\x1b") + "admin\r\nkorva\r\n", 0);
    QCOMPARE(serial.takeOutput().mid(2), loggedIn);
    QCOMPARE(telnet.command("setFlashRequest " + headerHex("NERIO-2.0", 0, 3)), msg("Bank erased\r\n"));
    QCOMPARE(telnet.command("setFlashPacket 010203"), msg("Download complete\r\n"));
    QCOMPARE(telnet.command("setSoftReset ON", 100), msg("OK\r\n"));
    // Silent while rebooting, whatever arrives; then the prompt returns on its own.
    serial.receive("getID\n\r\x1b", 500);
    serial.tick(1099);
    QCOMPARE(serial.takeOutput(), Messages());
    QCOMPARE(serial.state(), ConsoleSession::State::LoggedOut);
    serial.tick(1100);
    QCOMPARE(serial.takeOutput(), Messages { msg("Login:") });
    serial.receive("admin\r\nkorva\r\ngetID\n\r", 1200);
    QVERIFY(serial.takeOutput().value(2).contains("\r\nProduct version : NERIO-2.0\r\n"));
}

void TstEmulatorCore::ipInputMeter()
{
    // Seven 204-byte transport packets, the fourth a null packet (PID 0x1FFF), behind an RTP header with
    // two CSRC entries (20 bytes); 100 such datagrams in one second.
    QByteArray datagram = QByteArray::fromHex("8221") + QByteArray(18, '\0');
    for (int i = 0; i < 7; ++i)
        datagram += QByteArray::fromHex(i == 3 ? "471fff10" : "47010010") + QByteArray(200, char(0xff));
    IpInputMeter meter;
    QCOMPARE(meter.reading(0).lock, Lock::NoData);
    for (int i = 0; i < 100; ++i)
        meter.addDatagram(datagram, 1000 + i * 10);
    // Counted as 188-byte packets: raw 100 * 7 * 188 * 8 = 1 052 800 bit/s, net 100 * 6 * 188 * 8 = 902 400.
    QCOMPARE(meter.reading(1990).lock, Lock::Locked204);
    QCOMPARE(meter.reading(1990).rawMbps, 1.0528);
    QCOMPARE(meter.reading(1990).netMbps, 0.9024);
    // 500 ms later only the last 50 datagrams are inside the window; a second after the last, no data.
    QCOMPARE(meter.reading(2490).rawMbps, 0.5264);
    QCOMPARE(meter.reading(2490).netMbps, 0.4512);
    QCOMPARE(meter.reading(2989).lock, Lock::Locked204);
    QCOMPARE(meter.reading(2990).lock, Lock::NoData);
    // One packet out of step: not locked, and unlocked data counts nothing. An RTP header alone, or
    // shorter than one, is not a lock either.
    datagram[20 + 204 * 3] = 0x00;
    meter.addDatagram(datagram, 3000);
    QCOMPARE(meter.reading(3000).lock, Lock::NotLocked);
    QCOMPARE(meter.reading(3000).rawMbps, 0.0);
    meter.addDatagram(datagram.left(20), 3100);
    QCOMPARE(meter.reading(3100).lock, Lock::NotLocked);
    meter.addDatagram(datagram.left(3), 3200);
    QCOMPARE(meter.reading(3200).lock, Lock::NotLocked);
}

QTEST_GUILESS_MAIN(TstEmulatorCore)
#include "tst_emulatorcore.moc"
