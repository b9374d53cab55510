// The emulator's protocol core in-process: login dialogue, telnet option bytes, line endings, the
// command table's verdicts and readings, the tuning layout, the state file, and the flash exchange
// (header checked against the openssl tool and a bitwise CRC) with the reboot that installs it; output
// pacing at 115200 baud and the IP input meter (lock, RTP, bitrates over the last second).

#include "consolesession.h"
#include "firmwareimage.h"
#include "ipinputmeter.h"
#include "modulatordevice.h"
#include "outputpacer.h"

#include <QJsonDocument>
#include <QtTest>

Q_DECLARE_METATYPE(IpInputMeter::Lock)

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

// n transport packets of `size` bytes; the indexes listed in nullAt are null packets (PID 0x1FFF).
QByteArray packets(int n, int size = 188, const QList<int> &nullAt = {})
{
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        QByteArray p(size, char(0xff));
        p[0] = 0x47;
        p[1] = char(nullAt.contains(i) ? 0x5f : 0x41);
        p[2] = char(nullAt.contains(i) ? 0xff : 0x00);
        p[3] = 0x10;
        out += p;
    }
    return out;
}

QByteArray rtp(const QByteArray &payload, int csrc = 0)
{
    QByteArray h(12 + 4 * csrc, '\0');
    h[0] = char(0x80 | csrc);
    h[1] = char(33); // MP2T
    return h + payload;
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
}

class TstEmulatorCore : public QObject
{
    Q_OBJECT

private slots:
    void loginDialogue();
    void telnetOptionBytes();
    void lineEndings_data();
    void lineEndings();
    void settings_data();
    void settings();
    void readings();
    void tuningReply_data();
    void tuningReply();
    void stateFile();
    void headerMatchesOpenssl();
    void flashExchange();
    void headerRefusals_data();
    void headerRefusals();
    void rebootInstallsTheFirmware();
    void pacerBaudRate();
    void lockDetection_data();
    void lockDetection();
    void bitrateOverTheLastSecond();
};

void TstEmulatorCore::loginDialogue()
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
}

void TstEmulatorCore::telnetOptionBytes()
{
    Rig rig(Kind::Telnet);
    rig.session.open(0);
    QCOMPARE(rig.session.takeOutput(), (Messages { QByteArray("\xff\xfd\x25", 3), msg("Login:") }));
    // The refusal of authentication, a negotiation and a sub-negotiation inside the name: only the
    // name's own bytes remain. The telnet client's ESC does not repeat the prompt.
    const QByteArray options("\xff\xfc\x25\xff\xfb\x18", 6);
    QCOMPARE(rig.feed(options + "ad" + QByteArray("\xff\xfa\x18\x01\xff\xf0", 6) + "min\r\n"),
        Messages { msg("Password:") });
    QCOMPARE(rig.feed("\x1bkorva\r\n"), loggedIn);
    // IAC IAC is a data byte 255, kept: this value is not the port 2000.
    QCOMPARE(rig.command("setIPPort 20\xff\xff"
                         "00"),
        msg("KO\r\n"));
    QCOMPARE(rig.feed("exit\r\n"), Messages { msg("Logged out\r\n") });
    QVERIFY(rig.session.closeRequested());
}

void TstEmulatorCore::lineEndings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("answers");
    const QByteArray ok = msg("OK\r\n");
    QTest::newRow("LF CR") << QByteArray("setCodeRate 3/4\n\r") << ok;
    QTest::newRow("CR LF") << QByteArray("setCodeRate 3/4\r\n") << ok;
    QTest::newRow("LF") << QByteArray("setCodeRate 3/4\n") << ok;
    QTest::newRow("two lines") << QByteArray("setCodeRate 3/4\n\rsetCodeRate 3/4\n\r") << ok + ok;
    QTest::newRow("no terminator") << QByteArray("setCodeRate 3/4") << QByteArray();
    QTest::newRow("overlong") << "setFlashPacket " + QByteArray(ConsoleSession::MaxLineLength, 'a') + "\n\r"
                              << msg("KO\r\n");
}

void TstEmulatorCore::lineEndings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, answers);
    Rig rig;
    QVERIFY(rig.login());
    const Messages out = rig.feed(bytes);
    QCOMPARE(out.join(), answers);
    QCOMPARE(out.size(), answers.count('\0'));
    if (!answers.isEmpty()) // the next line starts afresh
        QCOMPARE(rig.command("setCodeRate 1/2"), msg("OK\r\n"));
}

void TstEmulatorCore::settings_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("shown"); // the reading's line afterwards
    const auto row = [](const char *name, const char *line, const char *answer, const char *shown) {
        QTest::newRow(name) << QByteArray(line) << QByteArray(answer) << QByteArray(shown);
    };
    row("input lower case", "setInputMux asi", "KO", "Input mux : IP");
    row("bandwidth 5", "setBandwidth 5", "KO", "Bandwidth : 8MHz");
    row("frequency top", "setOutputFrequency 858.000", "OK", "Output Frequency : 858.000MHz");
    row("frequency above", "setOutputFrequency 858.001", "KO", "Output Frequency : 666.000MHz");
    row("frequency below", "setOutputFrequency 473.999", "KO", "Output Frequency : 666.000MHz");
    row("frequency text", "setOutputFrequency 6e2", "KO", "Output Frequency : 666.000MHz");
    row("attenuation 30", "setAttenuation 30", "OK", "Attenuation : 30dB");
    row("attenuation 31", "setAttenuation 31", "KO", "Attenuation : 0dB");
    row("attenuation -1", "setAttenuation -1", "KO", "Attenuation : 0dB");
    row("group low edge", "setIPMulticastAddress 224.0.0.0", "OK", "IP multicast address : 224.0.0.0");
    row("not a group", "setIPMulticastAddress 240.0.0.1", "KO", "IP multicast address : 239.0.0.1");
    row("octet 256", "setIPMulticastAddress 239.0.0.256", "KO", "IP multicast address : 239.0.0.1");
    row("port 65535", "setIPPort 65535", "OK", "IP port : 65535");
    row("port 1023", "setIPPort 1023", "KO", "IP port : 1234");
    row("port 65536", "setIPPort 65536", "KO", "IP port : 1234");
    row("unicast address", "setIPUnicastAddress 10.0.0.1", "KO", "IP unicast address : 127.0.0.1");
    row("tuning bias 128", "setTuningValues 128 0 0 0", "KO", " +000 +000 ");
    row("tuning three values", "setTuningValues 1 2 3", "KO", " +000 +000 ");
    row("unknown command", "setPower 10", "KO", "Output State : OFF");
    row("soft reset off", "setSoftReset OFF", "OK", "Output State : OFF");
    row("soft reset other", "setSoftReset maybe", "KO", "Output State : OFF");
}

void TstEmulatorCore::settings()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, shown);
    int changes = 0;
    Rig rig;
    rig.device.setChangeHandler([&changes] { ++changes; });
    QVERIFY(rig.login());
    QCOMPARE(rig.command(line), msg(answer + "\r\n"));
    QCOMPARE(changes, answer == "OK" && !line.startsWith("setSoftReset") ? 1 : 0);
    const QByteArray reading = rig.command(shown.startsWith("IP ") ? "getIPParameters"
            : shown.startsWith(' ')                                ? "getTuningValues"
                                                                   : "getCoreParameters");
    QVERIFY2(reading.contains(shown + "\r\n"), reading.constData());
}

void TstEmulatorCore::readings()
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
    for (const char *line : { "setInputMux ASI", "setRefClockMux AUTO", "setCodeRate 5/6", "setGuardInterval 1/8",
             "setConstellation 16QAM", "setBandwidth 7", "setTransmissionMode 2K", "setOutputFrequency 474",
             "setAttenuation 12", "setOutputState ON", "setMipControl ON" })
        QCOMPARE(rig.command(line), msg("OK\r\n"));
    QCOMPARE(rig.command("getCoreParameters"),
        msg("Input mux : ASI\r\nRef clock mux : AUTO\r\nCode Rate : 5/6\r\nGuard Interval : 1/8\r\n"
            "Constellation : 16QAM\r\nBandwidth : 7MHz\r\nTransmission Mode : OFDM mode : 2K\r\n"
            "Output Frequency : 474.000MHz\r\nAttenuation : 12dB\r\nOutput State : ON\r\nMIP control : ON\r\n"));
    // ASI selected: the IP input is not measured. The PLL runs on the internal reference.
    QCOMPARE(rig.command("getStatus"),
        msg("IP input status : No data\r\nASI input status : No data\r\nInput raw bitrate : 0.000 Mbps\r\n"
            "Input net bitrate : 0.000 Mbps\r\nPLL status : Locked on internal\r\nOutput status : ON\r\n"));
    QCOMPARE(rig.command("setRefClockMux external"), msg("OK\r\n"));
    QVERIFY(rig.command("getStatus").contains("\r\nPLL status : Not locked\r\n"));
}

void TstEmulatorCore::tuningReply_data()
{
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QList<int>>("expected");
    // The fifth part is the closing line feed, read as 0 into an entry the panel does not use.
    QTest::newRow("mixed") << QByteArray("12 -3 100 0") << QList<int> { 12, -3, 100, 0, 0 };
    QTest::newRow("extremes") << QByteArray("-128 127 -512 511") << QList<int> { -128, 127, -512, 511, 0 };
    QTest::newRow("single digits") << QByteArray("-1 1 -9 9") << QList<int> { -1, 1, -9, 9, 0 };
}

void TstEmulatorCore::tuningReply()
{
    QFETCH(QByteArray, values);
    QFETCH(QList<int>, expected);
    Rig rig;
    QVERIFY(rig.login());
    QCOMPARE(rig.command("setTuningValues " + values), msg("OK\r\n"));
    QByteArray reply = rig.command("getTuningValues");
    QVERIFY(reply.count('\n') >= 2); // a complete reading for the command engine
    // The panel's rule, written out independently: remove index 10, then index 0, split at spaces.
    reply.replace('\r', "").chop(1);
    QList<int> got;
    for (const QByteArray &part : reply.remove(10, 1).remove(0, 1).split(' '))
        got << part.toInt();
    QCOMPARE(got, expected);
}

void TstEmulatorCore::stateFile()
{
    const QJsonObject saved = QJsonDocument::fromJson(R"({"codeRate": "5/6", "outputFrequency": "474.250",
        "attenuation": 17, "ipPort": 5000, "tuning": [-128, 5, 511, -512], "version": "FW-2.0"})")
                                  .object();
    DeviceParameters p;
    p.fromJson(saved);
    for (const QString &key : saved.keys())
        QCOMPARE(p.toJson().value(key), saved.value(key));
    // A hand-edited file cannot set what the console would refuse: those entries keep the defaults.
    p = DeviceParameters();
    p.fromJson(QJsonDocument::fromJson(R"({"codeRate": "9/10", "attenuation": 31, "ipPort": 80,
        "outputFrequency": "900", "tuning": [1, 2, 3]})")
                   .object());
    QCOMPARE(p.toJson(), DeviceParameters().toJson());
}

void TstEmulatorCore::headerMatchesOpenssl()
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QSKIP("the openssl command-line tool is not installed");
    QCOMPARE(referenceCrc("123456789"), quint16(0x906e)); // the catalogue's check value
    const QByteArray stored = QByteArray::fromHex(headerHex("NERIO-FW-2.1", 3, 0x00010000, "ABC123"));
    // The plain header, laid out by hand: name, NUL padding to 21, serial, bank, size big-endian.
    const QByteArray plain
        = QByteArray("NERIO-FW-2.1").leftJustified(21, '\0') + "ABC123\x03" + QByteArray::fromHex("00010000");
    QProcess p;
    p.start(openssl,
        QString::fromLatin1("enc -aes-128-cbc -nopad -K 5c1f0a93d4e8b27061fa3c9e8d20b4a7 "
                            "-iv f3e1c07a9b5d2846e0c7a1b93d5f6028")
            .split(QLatin1Char(' ')));
    p.write(plain);
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(10000));
    const QByteArray cipher = p.readAllStandardOutput();
    QCOMPARE(cipher.size(), 32);
    const quint16 crc = referenceCrc(cipher);
    QCOMPARE(stored, cipher + char(crc >> 8) + char(crc & 0xff)); // CRC high byte first
}

void TstEmulatorCore::flashExchange()
{
    Rig rig;
    QVERIFY(rig.login());
    const QByteArray payload(300, 'p');
    QCOMPARE(rig.command("setFlashPacket 00"), msg("KO\r\n")); // no header yet
    // Upper-case hex is hex too; a refused packet leaves the count where it was.
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

void TstEmulatorCore::headerRefusals_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray good = QByteArray::fromHex(headerHex("FW", 2, 10));
    for (int bit : { 0, 255, 263, 271 }) { // cipher text, last cipher bit, CRC high and low byte
        QByteArray flipped = good;
        flipped[bit / 8] = char(flipped.at(bit / 8) ^ (1 << (bit % 8)));
        QTest::addRow("bit %d flipped", bit) << flipped.toHex() << QByteArray("KO");
    }
    QTest::newRow("bank 6") << headerHex("FW", 6, 10) << QByteArray("KO");
    QTest::newRow("bank -1") << headerHex("FW", -1, 10) << QByteArray("KO");
    QTest::newRow("bank 5") << headerHex("FW", 5, 10) << QByteArray("Bank erased");
    QTest::newRow("own serial") << headerHex("FW", 1, 10, "NR0042") << QByteArray("Bank erased");
    QTest::newRow("other serial") << headerHex("FW", 1, 10, "NR0043") << QByteArray("KO");
    QTest::newRow("66 digits") << good.toHex().left(66) << QByteArray("KO");
    QTest::newRow("70 digits") << good.toHex() + "00" << QByteArray("KO");
    QTest::newRow("not hex") << QByteArray(good.toHex()).replace(0, 1, "g") << QByteArray("KO");
}

void TstEmulatorCore::headerRefusals()
{
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, answer);
    Rig rig;
    QVERIFY(rig.login());
    QCOMPARE(rig.command("setFlashRequest " + hex), msg(answer + "\r\n"));
    // Packets count only after an accepted header.
    QCOMPARE(rig.command("setFlashPacket 0001"), msg(answer == "KO" ? "KO\r\n" : "OK\r\n"));
}

void TstEmulatorCore::rebootInstallsTheFirmware()
{
    Rig telnet(Kind::Telnet, DeviceIdentity(), 1000);
    QVERIFY(telnet.login());
    // A serial line of the same device, logged in too: it notices a reboot it did not ask for.
    ConsoleSession serial(Kind::Serial, &telnet.device, QStringLiteral("serial"));
    serial.receive("\x1b"
                   "admin\r\nkorva\r\n",
        0);
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
    // A refused header cancels even a completed download: the next reboot keeps the version.
    serial.receive("setFlashRequest " + headerHex("NERIO-3.0", 0, 0) + "\n\r", 1300);
    serial.receive("setFlashRequest 00\n\rsetSoftReset ON\n\r", 1300);
    QCOMPARE(serial.takeOutput(), (Messages { msg("Bank erased\r\n"), msg("KO\r\n"), msg("OK\r\n") }));
    QCOMPARE(telnet.device.parameters().version, QStringLiteral("NERIO-2.0"));
}

void TstEmulatorCore::pacerBaudRate()
{
    OutputPacer::Options o;
    o.baudPace = true;
    OutputPacer line(o);
    line.enqueue(QByteArray(576, 'x'), 0); // 576 bytes at 11.52 bytes/ms: 50 ms on the line
    QCOMPARE(line.takeDue(0).join().size(), 0);
    QCOMPARE(line.takeDue(1).join().size(), 11); // 11.52 bytes are due after 1 ms
    QCOMPARE(line.takeDue(49).join().size(), 564 - 11);
    QCOMPARE(line.nextDueMs(), qint64(50));
    QCOMPARE(line.takeDue(50).join().size(), 576 - 564);
    QVERIFY(line.isEmpty());
    // A message queued while the line is busy follows the previous one's last byte.
    line.enqueue(QByteArray(115, 'a'), 60);
    line.enqueue(QByteArray(115, 'b'), 61);
    QCOMPARE(line.takeDue(70).join(), QByteArray(115, 'a'));
    QCOMPARE(line.takeDue(79).join(), QByteArray(103, 'b')); // 9 ms of the second: 103.68 bytes
}

void TstEmulatorCore::lockDetection_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<Lock>("lock");
    QTest::newRow("7 x 188") << packets(7) << Lock::Locked188;
    QTest::newRow("7 x 204") << packets(7, 204) << Lock::Locked204;
    QTest::newRow("RTP 7 x 188") << rtp(packets(7)) << Lock::Locked188;
    QTest::newRow("RTP with CSRC, 204") << rtp(packets(3, 204), 2) << Lock::Locked204;
    QByteArray broken = packets(7);
    broken[188 * 3] = 0x00;
    QTest::newRow("lost sync") << broken << Lock::NotLocked;
    QTest::newRow("partial packet") << packets(7).left(1000) << Lock::NotLocked;
    QTest::newRow("text") << QByteArray("hello world") << Lock::NotLocked;
    QTest::newRow("RTP header only") << rtp(QByteArray()) << Lock::NotLocked;
    QTest::newRow("short RTP") << QByteArray("\x80\x21\x00", 3) << Lock::NotLocked;
}

void TstEmulatorCore::lockDetection()
{
    QFETCH(QByteArray, datagram);
    QFETCH(Lock, lock);
    IpInputMeter meter;
    QCOMPARE(meter.reading(0).lock, Lock::NoData);
    meter.addDatagram(datagram, 100);
    QCOMPARE(meter.reading(100).lock, lock);
    // A second without datagrams is "No data" again.
    QCOMPARE(meter.reading(1099).lock, lock);
    QCOMPARE(meter.reading(1100).lock, Lock::NoData);
}

void TstEmulatorCore::bitrateOverTheLastSecond()
{
    IpInputMeter meter;
    // 100 datagrams in one second, 7 packets each, one of them null:
    // raw 100 * 7 * 188 * 8 = 1 052 800 bit/s, net 100 * 6 * 188 * 8 = 902 400 bit/s.
    for (int i = 0; i < 100; ++i)
        meter.addDatagram(rtp(packets(7, 188, { 3 })), 1000 + i * 10);
    QCOMPARE(meter.reading(1990).rawMbps, 1.0528);
    QCOMPARE(meter.reading(1990).netMbps, 0.9024);
    // 500 ms later only the last 50 datagrams are inside the window.
    QCOMPARE(meter.reading(2490).rawMbps, 0.5264);
    QCOMPARE(meter.reading(2490).netMbps, 0.4512);
    // 204-byte packets count as transport packets of 188 bytes; an all-null datagram adds no net.
    meter.reset();
    meter.addDatagram(packets(7, 204, { 0, 1, 2, 3, 4, 5, 6 }), 5000);
    QCOMPARE(meter.reading(5000).rawMbps, 7 * 188 * 8 / 1e6);
    QCOMPARE(meter.reading(5000).netMbps, 0.0);
}

QTEST_GUILESS_MAIN(TstEmulatorCore)
#include "tst_emulatorcore.moc"
