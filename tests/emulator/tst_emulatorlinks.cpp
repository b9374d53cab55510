// The nerio-emulator program over a real pseudo-terminal, loopback TCP and UDP: login and identity, the
// flash exchange with an image from make-firmware, reboot, a serial line closed and reopened, a full
// terminal, the fault options seen from outside, the wire log and state file, command-line refusals, and
// the IP input. Multicast and discovery run only inside a network namespace this test creates (root and
// unshare needed): the test program re-runs itself there.

#include "emulatorprocess.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>

namespace
{
const QByteArray defaultCore
    = nul("Input mux : IP\r\nRef clock mux : internal\r\nCode Rate : 2/3\r\nGuard Interval : 1/32\r\n"
          "Constellation : 64QAM\r\nBandwidth : 8MHz\r\nTransmission Mode : OFDM mode : 8K\r\n"
          "Output Frequency : 666.000MHz\r\nAttenuation : 0dB\r\nOutput State : OFF\r\nMIP control : OFF\r\n");
const QByteArray locked188("IP input status : Locked on 188 bytes packets\r\n");
const QByteArray noData("IP input status : No data\r\n");

// CPU time (user + system, in clock ticks) the process has used so far.
qint64 cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray stat = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

// 100 datagrams a second for durationMs, each of 7 packets (the fourth a null packet) behind an RTP
// header: 1.0528 Mbit/s raw, 0.9024 net.
void stream(const QHostAddress &to, quint16 port, int durationMs)
{
    QByteArray payload = QByteArray::fromHex("802100000000000000000000");
    for (int i = 0; i < 7; ++i)
        payload += QByteArray::fromHex(i == 3 ? "471fff10" : "47010010") + QByteArray(184, char(0xff));
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    socket.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
    QElapsedTimer t;
    t.start();
    for (int sent = 0; sent < durationMs / 10 && t.elapsed() < durationMs + 2000; ++sent) {
        socket.writeDatagram(payload, to, port);
        QTest::qWait(int(qMax<qint64>(0, (sent + 1) * 10 - t.elapsed())));
    }
}

// Locked, with both rates within 5 % (timer jitter moves a datagram or two across the window's edge).
bool lockedAtStreamRate(const QByteArray &status)
{
    const QRegularExpression re(QStringLiteral("\\r\\nInput raw bitrate : (\\d+\\.\\d{3}) Mbps\\r\\n"
                                               "Input net bitrate : (\\d+\\.\\d{3}) Mbps\\r\\n"));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(status));
    return status.startsWith(locked188) && m.hasMatch() && qAbs(m.captured(1).toDouble() / 1.0528 - 1) < 0.05
        && qAbs(m.captured(2).toDouble() / 0.9024 - 1) < 0.05;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}
}

class TstEmulatorLinks : public QObject
{
    Q_OBJECT

private slots:
    void loginAndIdentity_data();
    void loginAndIdentity();
    void telnetOneSessionAtATime();
    void serialReopenAfterTheApplicationCloses();
    void serialBacklogSurvivesAFullTerminal();
    void flashMadeImageAndReboot();
    void refuseMuteChunked();
    void delayDropLogState();
    void baudPaceDropSerial();
    void commandLine_data();
    void commandLine();
    void unicastInput();
    void multicastAndDiscoveryInNamespace();
};

void TstEmulatorLinks::loginAndIdentity_data()
{
    QTest::addColumn<bool>("telnet");
    QTest::newRow("serial") << false;
    QTest::newRow("telnet") << true;
}

void TstEmulatorLinks::loginAndIdentity()
{
    QFETCH(bool, telnet);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyNerio"));
    EmulatorProcess emu;
    QVERIFY(emu.start(telnet ? args("--telnet 0") : QStringList { QStringLiteral("--serial-link"), link }));
    QCOMPARE(emu.lines.first(),
        telnet ? QStringLiteral("telnet: %1").arg(emu.telnetPort) : QStringLiteral("serial: ") + emu.serialPath);
    Client c;
    QVERIFY(telnet ? c.connectTelnet(emu.telnetPort) : c.openSerial(link));
    c.send(telnet ? QByteArray("\xff\xfc\x25", 3) : QByteArray("\x1b")); // IAC WONT AUTHENTICATION, or ESC
    QCOMPARE(c.message(), telnet ? telnetOpening : nul("Login:"));
    c.send("admin\r\nkorvA\r\n");
    QCOMPARE(c.message(), nul("Password:"));
    QCOMPARE(c.message(), nul("Access denied\r\n"));
    QCOMPARE(c.message(), nul("Login:"));
    c.send("admin\r\nkorva\r\ngetID\n\r");
    QCOMPARE(c.message(), nul("Password:"));
    QCOMPARE(c.message(), nul("Logged in successfully\r\n"));
    const QByteArray id = c.message();
    QVERIFY2(id.startsWith("Product type : Nerio DVB-T modulator\r\nProduct serial number : NR0042\r\n")
            && id.endsWith(nul("Product options : IP ASI\r\n")) && id.count('\0') == 1,
        id.constData());
    emu.stop();
    QVERIFY(!QFileInfo(link).isSymLink()); // removed on exit
}

void TstEmulatorLinks::telnetOneSessionAtATime()
{
    EmulatorProcess emu;
    Client c;
    Client intruder;
    QVERIFY(startLoggedIn(emu, c, args("--telnet 0")));
    QVERIFY(intruder.connectTo(emu));
    intruder.drain(3000);
    QVERIFY(intruder.hungUp);
    c.send("exit\r\n");
    QCOMPARE(c.message(), nul("Logged out\r\n"));
    c.drain(3000);
    QVERIFY(c.hungUp);
    QVERIFY(c.connectTo(emu) && c.logIn()); // the link is free again
}

void TstEmulatorLinks::serialReopenAfterTheApplicationCloses()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--serial")));
    QCOMPARE(c.ask("setCodeRate 5/6"), nul("OK\r\n"));
    c.close();
    // With the slave closed the master reads EIO; the emulator must wait without spinning.
    const qint64 before = cpuTicks(emu.process.processId());
    QTest::qWait(1000);
    const qint64 used = cpuTicks(emu.process.processId()) - before;
    QVERIFY2(before >= 0 && used < 20, QByteArray::number(used).constData()); // under 0.2 s of CPU in 1 s
    // A new session starts logged out, so the CR of a command only wakes the prompt.
    QVERIFY(c.openSerial(emu.serialPath));
    QCOMPARE(c.ask("getCoreParameters"), nul("Login:"));
    c.send("admin\r\nkorva\r\n");
    QCOMPARE(c.message(), nul("Password:"));
    QCOMPARE(c.message(), nul("Logged in successfully\r\n"));
    QVERIFY(c.ask("getCoreParameters").contains("\r\nCode Rate : 5/6\r\n")); // the device kept its settings
}

void TstEmulatorLinks::serialBacklogSurvivesAFullTerminal()
{
    // 100 readings of about 250 bytes while the client reads nothing: far more than the terminal holds,
    // so the emulator's writes come up short and must resume when the client drains them.
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--serial")));
    QVERIFY(c.send(QByteArray("getIPParameters\n\rgetCoreParameters\n\r").repeated(50)));
    QTest::qWait(500);
    const QByteArray ip = nul("IP addressing method : multicast\r\nIP multicast address : 239.0.0.1\r\n"
                              "IP unicast address : 127.0.0.1\r\nIP port : 1234\r\n");
    for (int i = 0; i < 100; ++i)
        QVERIFY2(c.message() == (i % 2 ? defaultCore : ip), qPrintable(QStringLiteral("message %1").arg(i)));
    QCOMPARE(c.drain(200), QByteArray());
}

void TstEmulatorLinks::flashMadeImageAndReboot()
{
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("fw.bin"));
    QFile payload(dir.filePath(QStringLiteral("payload")));
    QVERIFY(payload.open(QIODevice::WriteOnly) && payload.write(QByteArray(300, 'p')) == 300);
    payload.close();
    QCOMPARE(QProcess::execute(emulatorProgram(),
                 QStringList { QStringLiteral("make-firmware"), image, QStringLiteral("--payload"), payload.fileName() }
                     + args("--name NERIO-3.1 --bank 3")),
        0);
    QFile file(image);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QCOMPARE(content.size(), 334);
    QCOMPARE(content.mid(34), QByteArray(300, 'p'));

    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--telnet 0 --reboot-ms 700")));
    QByteArray flipped = content.left(34);
    flipped[5] = char(flipped.at(5) ^ 0x10);
    QCOMPARE(c.ask("setFlashRequest " + flipped.toHex()), nul("KO\r\n"));
    QCOMPARE(c.ask("setFlashRequest " + content.left(34).toHex()), nul("Bank erased\r\n"));
    QCOMPARE(c.ask("setFlashPacket " + content.mid(34, 262).toHex()), nul("OK\r\n"));
    QCOMPARE(c.ask("setFlashPacket " + content.mid(34 + 262).toHex()), nul("Download complete\r\n"));
    QCOMPARE(c.ask("setSoftReset ON"), nul("OK\r\n"));
    QElapsedTimer rebootTime;
    rebootTime.start();
    c.drain(3000);
    QVERIFY(c.hungUp);
    // Rebooting: connections are closed until the reboot time has passed.
    QVERIFY(c.connectTo(emu));
    c.drain(3000);
    QVERIFY(c.hungUp && rebootTime.elapsed() < 700);
    QTest::qWait(int(qMax<qint64>(0, 750 - rebootTime.elapsed())));
    QVERIFY(c.connectTo(emu) && c.logIn());
    QVERIFY(c.ask("getID").contains("\r\nProduct version : NERIO-3.1\r\n"));
}

void TstEmulatorLinks::refuseMuteChunked()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--serial --chunked --refuse getStatus --refuse setCodeRate --mute-after 4")));
    QCOMPARE(c.ask("getStatus"), nul("KO\r\n"));
    QCOMPARE(c.ask("setCodeRate 1/2"), nul("KO\r\n"));
    QCOMPARE(c.ask("setGuardInterval 1/32"), nul("OK\r\n"));
    // Chunked: the same message in several writes, NUL only at the very end.
    c.reads = 0;
    QCOMPARE(c.ask("getCoreParameters"), defaultCore);
    QVERIFY2(c.reads >= 2, QByteArray::number(c.reads).constData());
    // Muted after four command lines: no answer, not even a prompt.
    c.send("getID\n\r");
    QCOMPARE(c.drain(600), QByteArray());
    c.send("\x1b");
    QCOMPARE(c.drain(300), QByteArray());
}

void TstEmulatorLinks::delayDropLogState()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("wire.log"));
    const QString state = dir.filePath(QStringLiteral("state.json"));
    {
        EmulatorProcess emu;
        Client c;
        QVERIFY(startLoggedIn(emu, c,
            args("--telnet 0 --delay-ms 400 --drop-after 2 --log") << log << QStringLiteral("--state") << state));
        c.reads = 0;
        QElapsedTimer t;
        t.start();
        QCOMPARE(c.ask("setCodeRate 5/6"), nul("OK\r\n"));
        QVERIFY2(t.elapsed() >= 390 && c.reads == 1,
            qPrintable(QStringLiteral("%1 ms, %2 reads").arg(t.elapsed()).arg(c.reads)));
        QCOMPARE(c.drain(200), QByteArray());
        QVERIFY(!c.hungUp);
        QCOMPARE(c.ask("setOutputFrequency 500.25"), nul("OK\r\n")); // the second answer still arrives
        c.drain(3000);
        QVERIFY(c.hungUp);
    }
    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const QByteArray text = logFile.readAll();
    for (const char *entry :
        { " telnet > \\xff\\xfd%\n", " telnet < korva\n", " telnet < setCodeRate 5/6\n", " telnet > OK\\r\\n\\0\n" })
        QVERIFY2(text.contains(entry), text.constData());
    QFile stateFile(state);
    QVERIFY(stateFile.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(stateFile.readAll()).object();
    QCOMPARE(saved.value(QStringLiteral("codeRate")).toString(), QStringLiteral("5/6"));
    QCOMPARE(saved.value(QStringLiteral("outputFrequency")).toString(), QStringLiteral("500.250"));
    // A restart with the same state file shows the same parameters.
    EmulatorProcess again;
    Client c;
    QVERIFY(startLoggedIn(again, c, args("--telnet 0 --state") << state));
    const QByteArray core = c.ask("getCoreParameters");
    QVERIFY(core.contains("\r\nCode Rate : 5/6\r\n") && core.contains("\r\nOutput Frequency : 500.250MHz\r\n"));
}

void TstEmulatorLinks::baudPaceDropSerial()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--serial --baud-pace --drop-after 2")));
    c.reads = 0;
    QElapsedTimer t;
    t.start();
    // 249 bytes at 11.52 bytes per millisecond take at least 21.6 ms on the line.
    QCOMPARE(c.ask("getCoreParameters"), defaultCore);
    QVERIFY2(c.reads >= 2 && t.elapsed() >= 21,
        qPrintable(QStringLiteral("%1 reads in %2 ms").arg(c.reads).arg(t.elapsed())));
    QCOMPARE(c.ask("setCodeRate 3/4"), nul("OK\r\n"));
    c.drain(3000);
    QVERIFY(c.hungUp);
    // A new terminal is offered and announced; a new session has its own count; the device kept its settings.
    const QString line = emu.nextLine(3000);
    QVERIFY2(line.startsWith(QLatin1String("serial: /dev/")), qPrintable(line));
    QVERIFY(c.openSerial(line.mid(8)) && c.logIn());
    QVERIFY(c.ask("getCoreParameters").contains("\r\nCode Rate : 3/4\r\n"));
    QVERIFY(c.ask("getID").startsWith("Product type : "));
}

void TstEmulatorLinks::commandLine_data()
{
    QTest::addColumn<QString>("options"); // OUT stands for the output file
    QTest::addColumn<int>("exitCode");
    QTest::newRow("name of 20") << QStringLiteral(
        "make-firmware OUT --name ABCDEFGHIJKLMNOPQRST --bank 0 --payload-size 1")
                                << 0;
    QTest::newRow("name of 21") << QStringLiteral(
        "make-firmware OUT --name ABCDEFGHIJKLMNOPQRSTU --bank 0 --payload-size 1")
                                << 2;
    QTest::newRow("serial of 7") << QStringLiteral(
        "make-firmware OUT --name A --bank 0 --payload-size 1 --serial 1234567")
                                 << 2;
    QTest::newRow("no payload") << QStringLiteral("make-firmware OUT --name A --bank 0") << 2;
    QTest::newRow("no name") << QStringLiteral("make-firmware OUT --bank 0 --payload-size 1") << 2;
    QTest::newRow("no link") << QString() << 2;
    QTest::newRow("port not a number") << QStringLiteral("--telnet x") << 2;
    QTest::newRow("short MAC") << QStringLiteral("--serial --mac 00-11") << 2;
    QTest::newRow("serial number of 7") << QStringLiteral("--serial --serial-number TOOLONG") << 2;
    QTest::newRow("negative delay") << QStringLiteral("--serial --delay-ms -5") << 2;
}

void TstEmulatorLinks::commandLine()
{
    QFETCH(QString, options);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.bin"));
    QProcess p;
    p.start(emulatorProgram(), args(qPrintable(options)).replaceInStrings(QStringLiteral("OUT"), out));
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), exitCode);
    QCOMPARE(p.readAllStandardError().isEmpty(), exitCode == 0);
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    QCOMPARE(QFileInfo(out).exists() ? QFileInfo(out).size() : -1, exitCode == 0 ? 35 : -1); // header + 1 byte
}

void TstEmulatorLinks::unicastInput()
{
    const quint16 port = freeUdpPort();
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--telnet 0")));
    QCOMPARE(c.ask("setIPAddressingMethod unicast"), nul("OK\r\n"));
    QCOMPARE(c.ask("setIPPort " + QByteArray::number(port)), nul("OK\r\n"));
    stream(QHostAddress::LocalHost, port, 1300);
    QByteArray status = c.ask("getStatus");
    QVERIFY2(lockedAtStreamRate(status), status.constData());
    QTest::qWait(1100);
    status = c.ask("getStatus");
    QVERIFY2(status.startsWith(noData) && status.contains(" 0.000 Mbps"), status.constData());
    // ASI selected: the IP input is not listened to.
    QCOMPARE(c.ask("setInputMux ASI"), nul("OK\r\n"));
    stream(QHostAddress::LocalHost, port, 200);
    QVERIFY(c.ask("getStatus").startsWith(noData));
}

void TstEmulatorLinks::multicastAndDiscoveryInNamespace()
{
    if (!qEnvironmentVariableIsSet("NERIO_EMULATOR_IN_NETNS")) {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
            QSKIP("needs root, unshare and ip to make a network namespace");
        QProcess inner;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NERIO_EMULATOR_IN_NETNS"), QStringLiteral("1"));
        inner.setProcessEnvironment(env);
        inner.setProcessChannelMode(QProcess::MergedChannels);
        // Loopback is the only interface in there, with multicast and broadcast routes.
        inner.start(QStringLiteral("unshare"),
            { QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("ip link set lo up && ip link set lo multicast on && "
                               "ip route add 224.0.0.0/4 dev lo src 127.0.0.1 && "
                               "ip route add 255.255.255.255/32 dev lo src 127.0.0.1 && "
                               "exec \"$0\" multicastAndDiscoveryInNamespace"),
                QCoreApplication::applicationFilePath() });
        QVERIFY(inner.waitForFinished(60000));
        const QByteArray output = inner.readAll();
        QVERIFY2(
            inner.exitCode() == 0 && output.contains("PASS   : TstEmulatorLinks::multicastAndDiscoveryInNamespace()"),
            output.constData());
        return;
    }
    const quint16 port = freeUdpPort();
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--telnet 0 --discovery --mac 00:0a:1b:2c:3d:4e --product-name Lab")));
    QCOMPARE(c.ask("setIPMulticastAddress 239.1.2.3"), nul("OK\r\n"));
    QCOMPARE(c.ask("setIPPort " + QByteArray::number(port)), nul("OK\r\n"));
    stream(QHostAddress(QStringLiteral("239.1.2.3")), port, 1200);
    QByteArray status = c.ask("getStatus");
    QVERIFY2(lockedAtStreamRate(status), status.constData());
    // Another group on the same port is not the device's input.
    QTest::qWait(1100);
    stream(QHostAddress(QStringLiteral("239.1.2.4")), port, 300);
    status = c.ask("getStatus");
    QVERIFY2(status.startsWith(noData), status.constData());

    // Discovery: the exact query is answered from port 30303 to the sender; without its CR it is not.
    QUdpSocket asker;
    QVERIFY(asker.bind(QHostAddress::AnyIPv4, 0));
    asker.writeDatagram("Discovery: who is out there ?", QHostAddress::Broadcast, 30303);
    asker.writeDatagram("Discovery: who is out there ?\r", QHostAddress::Broadcast, 30303);
    QVERIFY(asker.waitForReadyRead(3000));
    const QNetworkDatagram answer = asker.receiveDatagram();
    QCOMPARE(answer.data(), QByteArray("Lab\r\n00-0A-1B-2C-3D-4E\r\n"));
    QCOMPARE(answer.senderPort(), 30303);
    QVERIFY(!asker.hasPendingDatagrams() && !asker.waitForReadyRead(300));
}

QTEST_GUILESS_MAIN(TstEmulatorLinks)
#include "tst_emulatorlinks.moc"
