// The nerio-emulator program over a real pseudo-terminal and loopback TCP: login, identity, the flash
// exchange with an image from make-firmware, reboot, a serial line closed and reopened, a full terminal,
// every fault option seen from outside, the wire log and state file, and command-line refusals.

#include "emulatorprocess.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QTemporaryDir>

namespace
{
const QByteArray defaultCore
    = nul("Input mux : IP\r\nRef clock mux : internal\r\nCode Rate : 2/3\r\nGuard Interval : 1/32\r\n"
          "Constellation : 64QAM\r\nBandwidth : 8MHz\r\nTransmission Mode : OFDM mode : 8K\r\n"
          "Output Frequency : 666.000MHz\r\nAttenuation : 0dB\r\nOutput State : OFF\r\nMIP control : OFF\r\n");

// CPU time (user + system, in clock ticks) the process has used so far.
qint64 cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray stat = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
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
    void muteAfter();
    void refuse();
    void pacedOutput_data();
    void pacedOutput();
    void dropAfter_data();
    void dropAfter();
    void logAndState();
    void makeFirmware_data();
    void makeFirmware();
    void commandLineErrors_data();
    void commandLineErrors();
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
    if (telnet) {
        QVERIFY(c.connectTelnet(emu.telnetPort));
        QCOMPARE(c.message(), telnetOpening);
        c.send(QByteArray("\xff\xfc\x25", 3)); // IAC WONT AUTHENTICATION
    } else {
        QVERIFY(emu.serialPath.startsWith(QLatin1String("/dev/")));
        QCOMPARE(QFileInfo(link).symLinkTarget(), emu.serialPath);
        QVERIFY(c.openSerial(link));
        c.send("\x1b");
        QCOMPARE(c.message(), nul("Login:"));
    }
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
    // The link is free again.
    QVERIFY(c.connectTo(emu));
    QVERIFY(c.logIn());
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
    QVERIFY(before >= 0);
    QVERIFY2(used < 20, QByteArray::number(used).constData()); // under 0.2 s of CPU in 1 s

    // The application's own port class opens the slave; the new session starts logged out, so the CR
    // of a command only wakes the prompt.
    QSerialPort port;
    port.setPortName(emu.serialPath);
    QVERIFY(port.open(QIODevice::ReadWrite) && port.setBaudRate(QSerialPort::Baud115200));
    port.write("getCoreParameters\n\r");
    QByteArray got;
    QElapsedTimer t;
    for (t.start(); !got.contains('\0') && t.elapsed() < 3000; got += port.readAll())
        port.waitForReadyRead(100);
    QCOMPARE(got, nul("Login:"));
    port.close();
    // The device kept its settings.
    QVERIFY(c.openSerial(emu.serialPath) && c.logIn());
    QVERIFY(c.ask("getCoreParameters").contains("\r\nCode Rate : 5/6\r\n"));
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

void TstEmulatorLinks::muteAfter()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--serial --mute-after 2")));
    QVERIFY(c.ask("getID").startsWith("Product type : "));
    QCOMPARE(c.ask("setCodeRate 1/2"), nul("OK\r\n"));
    c.send("getStatus\n\r");
    QCOMPARE(c.drain(600), QByteArray());
    c.send("\x1b"); // not even a prompt
    QCOMPARE(c.drain(300), QByteArray());
}

void TstEmulatorLinks::refuse()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--telnet 0 --refuse getStatus --refuse setCodeRate")));
    QCOMPARE(c.ask("getStatus"), nul("KO\r\n"));
    QCOMPARE(c.ask("setCodeRate 1/2"), nul("KO\r\n"));
    QCOMPARE(c.ask("setGuardInterval 1/4"), nul("OK\r\n"));
}

void TstEmulatorLinks::pacedOutput_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("minReads");
    QTest::addColumn<int>("minMs");
    QTest::newRow("delay") << QStringLiteral("--telnet 0 --delay-ms 400") << 1 << 390;
    QTest::newRow("chunked") << QStringLiteral("--serial --chunked") << 3 << 0;
    // 249 bytes at 11.52 bytes per millisecond take at least 21.6 ms on the line.
    QTest::newRow("baud pace") << QStringLiteral("--serial --baud-pace") << 3 << 21;
}

void TstEmulatorLinks::pacedOutput()
{
    QFETCH(QString, options);
    QFETCH(int, minReads);
    QFETCH(int, minMs);
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args(qPrintable(options))));
    c.reads = 0;
    QElapsedTimer t;
    t.start();
    // The same message, NUL only at the very end, however it is cut.
    QCOMPARE(c.ask("getCoreParameters"), defaultCore);
    QVERIFY2(c.reads >= minReads && t.elapsed() >= minMs,
        qPrintable(QStringLiteral("%1 reads in %2 ms").arg(c.reads).arg(t.elapsed())));
}

void TstEmulatorLinks::dropAfter_data()
{
    QTest::addColumn<bool>("telnet");
    QTest::newRow("serial") << false;
    QTest::newRow("telnet") << true;
}

void TstEmulatorLinks::dropAfter()
{
    QFETCH(bool, telnet);
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args(telnet ? "--telnet 0 --drop-after 2" : "--serial --drop-after 2")));
    QCOMPARE(c.ask("setCodeRate 1/2"), nul("OK\r\n"));
    QCOMPARE(c.drain(200), QByteArray());
    QVERIFY(!c.hungUp);
    QCOMPARE(c.ask("setCodeRate 3/4"), nul("OK\r\n")); // the second answer still arrives
    c.drain(3000);
    QVERIFY(c.hungUp);
    if (!telnet) { // a new terminal is offered and announced
        const QString line = emu.nextLine(3000);
        QVERIFY2(line.startsWith(QLatin1String("serial: /dev/")), qPrintable(line));
        emu.serialPath = line.mid(8);
    }
    // A new link gets a new session with its own count; the device kept its settings.
    QVERIFY(c.connectTo(emu) && c.logIn());
    QVERIFY(c.ask("getCoreParameters").contains("\r\nCode Rate : 3/4\r\n"));
    QVERIFY(c.ask("getID").startsWith("Product type : "));
}

void TstEmulatorLinks::logAndState()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("wire.log"));
    const QString state = dir.filePath(QStringLiteral("state.json"));
    {
        EmulatorProcess emu;
        Client c;
        QVERIFY(startLoggedIn(emu, c, args("--telnet 0 --log") << log << QStringLiteral("--state") << state));
        QCOMPARE(c.ask("setCodeRate 5/6"), nul("OK\r\n"));
        QCOMPARE(c.ask("setOutputFrequency 500.25"), nul("OK\r\n"));
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

void TstEmulatorLinks::makeFirmware_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("name of 20") << QStringLiteral("--name ABCDEFGHIJKLMNOPQRST --bank 0 --payload-size 1") << 0;
    QTest::newRow("name of 21") << QStringLiteral("--name ABCDEFGHIJKLMNOPQRSTU --bank 0 --payload-size 1") << 2;
    QTest::newRow("serial of 7") << QStringLiteral("--name A --bank 0 --payload-size 1 --serial 1234567") << 2;
    QTest::newRow("no payload") << QStringLiteral("--name A --bank 0") << 2;
    QTest::newRow("no name") << QStringLiteral("--bank 0 --payload-size 1") << 2;
}

void TstEmulatorLinks::makeFirmware()
{
    QFETCH(QString, options);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.bin"));
    QCOMPARE(QProcess::execute(
                 emulatorProgram(), QStringList { QStringLiteral("make-firmware"), out } + args(qPrintable(options))),
        exitCode);
    QCOMPARE(QFileInfo(out).exists() ? QFileInfo(out).size() : -1, exitCode == 0 ? 35 : -1);
}

void TstEmulatorLinks::commandLineErrors_data()
{
    QTest::addColumn<QString>("options");
    QTest::newRow("no link") << QString();
    QTest::newRow("port not a number") << QStringLiteral("--telnet x");
    QTest::newRow("short MAC") << QStringLiteral("--serial --mac 00-11");
    QTest::newRow("serial number of 7") << QStringLiteral("--serial --serial-number TOOLONG");
    QTest::newRow("negative delay") << QStringLiteral("--serial --delay-ms -5");
}

void TstEmulatorLinks::commandLineErrors()
{
    QFETCH(QString, options);
    QProcess p;
    p.start(emulatorProgram(), args(qPrintable(options)));
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(!p.readAllStandardError().isEmpty());
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
}

QTEST_GUILESS_MAIN(TstEmulatorLinks)
#include "tst_emulatorlinks.moc"
