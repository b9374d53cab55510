// The emulator's protocol core, driven in-process: console sessions, the device's command table and
// readings, the flash exchange, output pacing and the IP input meter. No sockets, no clock.

#include "consolesession.h"
#include "deviceparameters.h"
#include "firmwareimage.h"
#include "modulatordevice.h"

#include <QJsonObject>
#include <QtTest>

namespace
{
const QByteArray esc("\x1b");

struct Rig {
    explicit Rig(ConsoleSession::Kind kind = ConsoleSession::Kind::Serial, const DeviceFaults &faults = DeviceFaults(),
        const DeviceIdentity &identity = DeviceIdentity())
        : device(identity, faults)
        , session(kind, &device, QStringLiteral("test"))
    {
    }

    QList<QByteArray> feed(const QByteArray &bytes, qint64 t = 0)
    {
        session.receive(bytes, t);
        return session.takeOutput();
    }
    bool login()
    {
        feed(esc);
        feed("admin\r\n");
        return feed("korva\r\n") == QList<QByteArray> { "Logged in successfully\r\n" + QByteArray(1, '\0') };
    }
    // One command line as the application sends it; the single answer message.
    QByteArray command(const QByteArray &line, qint64 t = 0)
    {
        const QList<QByteArray> out = feed(line + "\n\r", t);
        return out.size() == 1 ? out.first() : QByteArray("<" + QByteArray::number(out.size()) + " messages>");
    }

    ModulatorDevice device;
    ConsoleSession session;
};

QByteArray msg(const QByteArray &text)
{
    return text + QByteArray(1, '\0');
}

// The panel's reading of a getTuningValues reply, written out independently of the emulator.
QList<int> panelTuningRule(QByteArray reply)
{
    reply.replace('\r', "");
    reply.chop(1); // the message's NUL
    QString text = QString::fromLatin1(reply);
    text.remove(10, 1);
    text.remove(0, 1);
    QList<int> values;
    for (const QString &part : text.split(QLatin1Char(' ')))
        values << part.toInt();
    return values;
}
}

class TstEmulatorCore : public QObject
{
    Q_OBJECT

private slots:
    void serialLoginDialogue();
    void telnetOpeningAndOptionBytes();
    void lineEndings_data();
    void lineEndings();
    void escapeReturnsToLoginOnSerial();
    void settings_data();
    void settings();
    void readingsShowStoredValues();
    void identityReading();
    void tuningReplyFollowsPanelRule_data();
    void tuningReplyFollowsPanelRule();
    void overlongLineIsRefused();
    void faultsMuteRefuseDrop();
    void stateJsonRoundTripAndValidation();
};

void TstEmulatorCore::serialLoginDialogue()
{
    Rig rig;
    // Nothing but ESC or CR wakes a logged-out line.
    QCOMPARE(rig.feed("hello\n"), QList<QByteArray>());
    QCOMPARE(rig.feed("\r"), QList<QByteArray> { msg("Login:") });
    QCOMPARE(rig.feed("admin\r\n"), QList<QByteArray> { msg("Password:") });
    QCOMPARE(rig.feed("wrong\r\n"), (QList<QByteArray> { msg("Access denied\r\n"), msg("Login:") }));
    QCOMPARE(rig.session.state(), ConsoleSession::State::AwaitLogin);
    // Name and password may arrive byte by byte.
    QList<QByteArray> out;
    for (char c : QByteArray("admin\r\nkorva\r\n"))
        out += rig.feed(QByteArray(1, c));
    QCOMPARE(out, (QList<QByteArray> { msg("Password:"), msg("Logged in successfully\r\n") }));
    QCOMPARE(rig.session.state(), ConsoleSession::State::LoggedIn);
    // exit logs out; the line is then quiet until ESC or CR.
    QCOMPARE(rig.feed("exit\r\n"), QList<QByteArray> { msg("Logged out\r\n") });
    QCOMPARE(rig.session.state(), ConsoleSession::State::LoggedOut);
    QVERIFY(!rig.session.closeRequested());

    DeviceIdentity other;
    other.login = QStringLiteral("op");
    other.password = QStringLiteral("secret");
    Rig custom(ConsoleSession::Kind::Serial, DeviceFaults(), other);
    custom.feed(esc);
    custom.feed("admin\r\n");
    QCOMPARE(custom.feed("korva\r\n").first(), msg("Access denied\r\n"));
    custom.feed("op\r\n");
    QCOMPARE(custom.feed("secret\r\n"), QList<QByteArray> { msg("Logged in successfully\r\n") });
}

void TstEmulatorCore::telnetOpeningAndOptionBytes()
{
    Rig rig(ConsoleSession::Kind::Telnet);
    rig.session.open(0);
    QCOMPARE(rig.session.takeOutput(), (QList<QByteArray> { QByteArray("\xff\xfd\x25", 3), msg("Login:") }));
    // The client's refusal of authentication, an option negotiation, a sub-negotiation and an
    // escaped 255 inside the name: only the name's own bytes remain.
    const QByteArray answer("\xff\xfc\x25", 3);
    const QByteArray will("\xff\xfb\x18", 3);
    const QByteArray sub("\xff\xfa\x18\x01\xff\xf0", 6);
    QCOMPARE(rig.feed(answer + will + "ad" + sub + "min\r\n"), QList<QByteArray> { msg("Password:") });
    // The telnet client's ESC at connect time does not repeat the prompt.
    rig.feed(esc);
    QCOMPARE(rig.feed("korva\r\n"), QList<QByteArray> { msg("Logged in successfully\r\n") });
    QCOMPARE(rig.command("setIPPort 2000"), msg("OK\r\n"));
    // IAC IAC is a data byte 255, so this value is not a port number.
    QCOMPARE(rig.feed("setIPPort 20\xff\xff"
                      "0\n\r"),
        QList<QByteArray> { msg("KO\r\n") });
    QCOMPARE(rig.feed("exit\r\n"), QList<QByteArray> { msg("Logged out\r\n") });
    QVERIFY(rig.session.closeRequested());
}

void TstEmulatorCore::lineEndings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("answers");
    QTest::newRow("LF CR") << QByteArray("setCodeRate 3/4\n\r") << 1;
    QTest::newRow("CR LF") << QByteArray("setCodeRate 3/4\r\n") << 1;
    QTest::newRow("LF") << QByteArray("setCodeRate 3/4\n") << 1;
    QTest::newRow("two lines LF CR") << QByteArray("setCodeRate 3/4\n\rsetCodeRate 3/4\n\r") << 2;
    QTest::newRow("no terminator") << QByteArray("setCodeRate 3/4") << 0;
}

void TstEmulatorCore::lineEndings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, answers);
    Rig rig;
    QVERIFY(rig.login());
    const QList<QByteArray> out = rig.feed(bytes);
    QCOMPARE(out.size(), answers);
    for (const QByteArray &m : out)
        QCOMPARE(m, msg("OK\r\n"));
}

void TstEmulatorCore::escapeReturnsToLoginOnSerial()
{
    // An application that reconnects without "exit" sends ESC on a line still logged in.
    Rig rig;
    QVERIFY(rig.login());
    QCOMPARE(rig.feed(esc), QList<QByteArray> { msg("Login:") });
    QCOMPARE(rig.command("getID"), msg("Password:"));
    rig.session.hangUp();
    QCOMPARE(rig.session.state(), ConsoleSession::State::LoggedOut);
    QCOMPARE(rig.feed("getID\n\r"), QList<QByteArray> { msg("Login:") }); // the CR wakes the line
}

void TstEmulatorCore::settings_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("reading");
    QTest::addColumn<QByteArray>("shownLine");

    const QByteArray core("getCoreParameters");
    const QByteArray ip("getIPParameters");
    QTest::newRow("input ASI") << QByteArray("setInputMux ASI") << QByteArray("OK") << core
                               << QByteArray("Input mux : ASI");
    QTest::newRow("input AUTO") << QByteArray("setInputMux AUTO") << QByteArray("OK") << core
                                << QByteArray("Input mux : AUTO");
    QTest::newRow("input lower case") << QByteArray("setInputMux asi") << QByteArray("KO") << core
                                      << QByteArray("Input mux : IP");
    QTest::newRow("clock external") << QByteArray("setRefClockMux external") << QByteArray("OK") << core
                                    << QByteArray("Ref clock mux : external");
    QTest::newRow("mip on") << QByteArray("setMipControl ON") << QByteArray("OK") << core
                            << QByteArray("MIP control : ON");
    QTest::newRow("bandwidth 6") << QByteArray("setBandwidth 6") << QByteArray("OK") << core
                                 << QByteArray("Bandwidth : 6MHz");
    QTest::newRow("bandwidth 5") << QByteArray("setBandwidth 5") << QByteArray("KO") << core
                                 << QByteArray("Bandwidth : 8MHz");
    QTest::newRow("guard 1/4") << QByteArray("setGuardInterval 1/4") << QByteArray("OK") << core
                               << QByteArray("Guard Interval : 1/4");
    QTest::newRow("frequency") << QByteArray("setOutputFrequency 474.5") << QByteArray("OK") << core
                               << QByteArray("Output Frequency : 474.500MHz");
    QTest::newRow("frequency top") << QByteArray("setOutputFrequency 858.000") << QByteArray("OK") << core
                                   << QByteArray("Output Frequency : 858.000MHz");
    QTest::newRow("frequency above") << QByteArray("setOutputFrequency 858.001") << QByteArray("KO") << core
                                     << QByteArray("Output Frequency : 666.000MHz");
    QTest::newRow("frequency below") << QByteArray("setOutputFrequency 473.999") << QByteArray("KO") << core
                                     << QByteArray("Output Frequency : 666.000MHz");
    QTest::newRow("frequency text") << QByteArray("setOutputFrequency 6e2") << QByteArray("KO") << core
                                    << QByteArray("Output Frequency : 666.000MHz");
    QTest::newRow("output on") << QByteArray("setOutputState ON") << QByteArray("OK") << core
                               << QByteArray("Output State : ON");
    QTest::newRow("qpsk") << QByteArray("setConstellation QPSK") << QByteArray("OK") << core
                          << QByteArray("Constellation : QPSK");
    QTest::newRow("16qam lower") << QByteArray("setConstellation 16qam") << QByteArray("KO") << core
                                 << QByteArray("Constellation : 64QAM");
    QTest::newRow("code rate 7/8") << QByteArray("setCodeRate 7/8") << QByteArray("OK") << core
                                   << QByteArray("Code Rate : 7/8");
    QTest::newRow("mode 2K") << QByteArray("setTransmissionMode 2K") << QByteArray("OK") << core
                             << QByteArray("Transmission Mode : OFDM mode : 2K");
    QTest::newRow("attenuation 30") << QByteArray("setAttenuation 30") << QByteArray("OK") << core
                                    << QByteArray("Attenuation : 30dB");
    QTest::newRow("attenuation 31") << QByteArray("setAttenuation 31") << QByteArray("KO") << core
                                    << QByteArray("Attenuation : 0dB");
    QTest::newRow("attenuation negative")
        << QByteArray("setAttenuation -1") << QByteArray("KO") << core << QByteArray("Attenuation : 0dB");
    QTest::newRow("unicast") << QByteArray("setIPAddressingMethod unicast") << QByteArray("OK") << ip
                             << QByteArray("IP addressing method : unicast");
    QTest::newRow("group") << QByteArray("setIPMulticastAddress 239.10.20.30") << QByteArray("OK") << ip
                           << QByteArray("IP multicast address : 239.10.20.30");
    QTest::newRow("group low edge") << QByteArray("setIPMulticastAddress 224.0.0.0") << QByteArray("OK") << ip
                                    << QByteArray("IP multicast address : 224.0.0.0");
    QTest::newRow("not a group") << QByteArray("setIPMulticastAddress 240.0.0.1") << QByteArray("KO") << ip
                                 << QByteArray("IP multicast address : 239.0.0.1");
    QTest::newRow("octet 256") << QByteArray("setIPMulticastAddress 239.0.0.256") << QByteArray("KO") << ip
                               << QByteArray("IP multicast address : 239.0.0.1");
    QTest::newRow("port") << QByteArray("setIPPort 65535") << QByteArray("OK") << ip << QByteArray("IP port : 65535");
    QTest::newRow("port low") << QByteArray("setIPPort 1023") << QByteArray("KO") << ip << QByteArray("IP port : 1234");
    QTest::newRow("port high") << QByteArray("setIPPort 65536") << QByteArray("KO") << ip
                               << QByteArray("IP port : 1234");
    QTest::newRow("unicast address is not settable") << QByteArray("setIPUnicastAddress 10.0.0.1") << QByteArray("KO")
                                                     << ip << QByteArray("IP unicast address : 127.0.0.1");
    QTest::newRow("tuning") << QByteArray("setTuningValues 12 -3 100 0") << QByteArray("OK")
                            << QByteArray("getTuningValues") << QByteArray(" +100 +000 ");
    QTest::newRow("tuning bias out of range") << QByteArray("setTuningValues 128 0 0 0") << QByteArray("KO")
                                              << QByteArray("getTuningValues") << QByteArray("+000 +000");
    QTest::newRow("tuning three values") << QByteArray("setTuningValues 1 2 3") << QByteArray("KO")
                                         << QByteArray("getTuningValues") << QByteArray("+000 +000");
    QTest::newRow("unknown command") << QByteArray("setPower 10") << QByteArray("KO") << core
                                     << QByteArray("Output State : OFF");
    QTest::newRow("soft reset off") << QByteArray("setSoftReset OFF") << QByteArray("OK") << core
                                    << QByteArray("Output State : OFF");
    QTest::newRow("soft reset other") << QByteArray("setSoftReset maybe") << QByteArray("KO") << core
                                      << QByteArray("Output State : OFF");
}

void TstEmulatorCore::settings()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, reading);
    QFETCH(QByteArray, shownLine);
    int changes = 0;
    Rig rig;
    rig.device.setChangeHandler([&changes] { ++changes; });
    QVERIFY(rig.login());
    QCOMPARE(rig.command(line), msg(answer + "\r\n"));
    QCOMPARE(changes, answer == "OK" && !line.startsWith("setSoftReset") ? 1 : 0);
    const QList<QByteArray> lines = rig.command(reading).split('\n');
    QVERIFY2(lines.contains(shownLine + '\r'), rig.command(reading).constData());
}

void TstEmulatorCore::readingsShowStoredValues()
{
    Rig rig;
    QVERIFY(rig.login());
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
    QCOMPARE(rig.command("getIPParameters"),
        msg("IP addressing method : multicast\r\nIP multicast address : 239.0.0.1\r\n"
            "IP unicast address : 127.0.0.1\r\nIP port : 1234\r\n"));
}

void TstEmulatorCore::identityReading()
{
    DeviceIdentity id;
    id.serialNumber = QStringLiteral("ABC123");
    id.mac = QStringLiteral("00-0A-1B-2C-3D-4E");
    id.productName = QStringLiteral("Test modulator");
    Rig rig(ConsoleSession::Kind::Serial, DeviceFaults(), id);
    QVERIFY(rig.login());
    QCOMPARE(rig.command("getID"),
        msg("Product type : Test modulator\r\nProduct serial number : ABC123\r\n"
            "Product MAC address : 00-0A-1B-2C-3D-4E\r\nProduct version : 1.0.0\r\n"
            "Product manufacturing date : 2025-11-04\r\nProduct options : IP ASI\r\n"));
}

void TstEmulatorCore::tuningReplyFollowsPanelRule_data()
{
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("zeros") << QByteArray("0 0 0 0") << QList<int> { 0, 0, 0, 0, 0 };
    QTest::newRow("mixed") << QByteArray("12 -3 100 0") << QList<int> { 12, -3, 100, 0, 0 };
    QTest::newRow("extremes") << QByteArray("-128 127 -512 511") << QList<int> { -128, 127, -512, 511, 0 };
    QTest::newRow("single digits") << QByteArray("-1 1 -9 9") << QList<int> { -1, 1, -9, 9, 0 };
}

void TstEmulatorCore::tuningReplyFollowsPanelRule()
{
    QFETCH(QByteArray, values);
    QFETCH(QList<int>, expected);
    Rig rig;
    QVERIFY(rig.login());
    QCOMPARE(rig.command("setTuningValues " + values), msg("OK\r\n"));
    const QByteArray reply = rig.command("getTuningValues");
    QVERIFY(reply.count('\n') >= 2); // a complete reading for the command engine
    // The fifth part is the closing line feed, read as 0 into an entry the panel does not use.
    QCOMPARE(panelTuningRule(reply), expected);
}

void TstEmulatorCore::overlongLineIsRefused()
{
    Rig rig;
    QVERIFY(rig.login());
    const QByteArray huge(ConsoleSession::MaxLineLength + 100, 'a');
    QCOMPARE(rig.feed("setFlashPacket " + huge + "\n\r"), QList<QByteArray> { msg("KO\r\n") });
    QCOMPARE(rig.command("setCodeRate 1/2"), msg("OK\r\n"));
}

void TstEmulatorCore::faultsMuteRefuseDrop()
{
    DeviceFaults faults;
    faults.muteAfter = 2;
    faults.refused = QStringList { QStringLiteral("getStatus") };
    Rig rig(ConsoleSession::Kind::Serial, faults);
    QVERIFY(rig.login());
    QCOMPARE(rig.command("getStatus"), msg("KO\r\n"));
    QCOMPARE(rig.command("setCodeRate 1/2"), msg("OK\r\n"));
    QCOMPARE(rig.feed("setCodeRate 1/2\n\r"), QList<QByteArray>());
    QCOMPARE(rig.feed(esc), QList<QByteArray>()); // silent on every line now
    QVERIFY(rig.device.isMuted());

    Rig dropping(ConsoleSession::Kind::Telnet);
    dropping.session.setDropAfter(2);
    dropping.session.open(0);
    dropping.session.takeOutput();
    dropping.feed("admin\r\n");
    dropping.feed("korva\r\n");
    QCOMPARE(dropping.command("getID").left(6), QByteArray("Produc"));
    QVERIFY(!dropping.session.closeRequested());
    QCOMPARE(dropping.command("setCodeRate 1/2"), msg("OK\r\n")); // answered, then the link goes
    QVERIFY(dropping.session.closeRequested());
    QCOMPARE(dropping.feed("getID\n\r"), QList<QByteArray>());
}

void TstEmulatorCore::stateJsonRoundTripAndValidation()
{
    DeviceParameters p;
    p.codeRate = QStringLiteral("5/6");
    p.outputFrequency = QStringLiteral("474.250");
    p.attenuation = 17;
    p.ipPort = 5000;
    p.tuning = { { -128, 5, 511, -512 } };
    p.version = QStringLiteral("FW-2.0");
    DeviceParameters back;
    back.fromJson(p.toJson());
    QCOMPARE(back.toJson(), p.toJson());

    QJsonObject broken = p.toJson();
    broken[QStringLiteral("codeRate")] = QStringLiteral("9/10");
    broken[QStringLiteral("attenuation")] = 31;
    broken[QStringLiteral("ipPort")] = 80;
    broken[QStringLiteral("outputFrequency")] = QStringLiteral("900");
    broken[QStringLiteral("tuning")] = QJsonArray { 1, 2, 3 };
    DeviceParameters defaults;
    defaults.fromJson(broken);
    QCOMPARE(defaults.codeRate, QStringLiteral("2/3"));
    QCOMPARE(defaults.attenuation, 0);
    QCOMPARE(defaults.ipPort, 1234);
    QCOMPARE(defaults.outputFrequency, QStringLiteral("666.000"));
    QCOMPARE(defaults.tuning, (std::array<int, 4> { { 0, 0, 0, 0 } }));
    QCOMPARE(defaults.version, QStringLiteral("FW-2.0"));
}

QTEST_GUILESS_MAIN(TstEmulatorCore)
#include "tst_emulatorcore.moc"
