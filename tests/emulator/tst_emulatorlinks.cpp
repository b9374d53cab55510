// The nerio-emulator program over a real pseudo-terminal and loopback TCP: the login dialogue,
// readings, the flash exchange with an image from make-firmware, reboot, and the link-level
// behaviour of a serial line that the application closes and reopens.

#include "emulatorprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
const QByteArray esc("\x1b");

// CPU time (user + system, in clock ticks) the process has used so far.
qint64 cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}
}

class TstEmulatorLinks : public QObject
{
    Q_OBJECT

private slots:
    void serialLoginAndIdentity();
    void serialReopenAfterTheApplicationCloses();
    void serialPortOpensTheSlave();
    void serialBacklogSurvivesAFullTerminal();
    void telnetLoginAndOneSessionAtATime();
    void flashMadeImageAndReboot();
    void makeFirmwareRejectsBadArguments();
    void commandLineErrors();
};

void TstEmulatorLinks::serialLoginAndIdentity()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyNerio"));
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial-link"), link }));
    QVERIFY(emu.lines.first().startsWith(QLatin1String("serial: /dev/")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), emu.serialPath);

    SerialClient client(link);
    QVERIFY(client.isOpen());
    QVERIFY(serialLogIn(client));
    client.send("getID\n\r");
    const QByteArray id = client.message();
    QVERIFY2(id.endsWith('\0') && id.count('\0') == 1, id.constData());
    QVERIFY(id.startsWith("Product type : Nerio DVB-T modulator\r\nProduct serial number : NR0042\r\n"));

    // Wrong password: "Access denied", then a fresh prompt.
    client.send(esc);
    QCOMPARE(client.message(), nul("Login:"));
    client.send("admin\r\n");
    QCOMPARE(client.message(), nul("Password:"));
    client.send("korvA\r\n");
    QCOMPARE(client.message(), nul("Access denied\r\n"));
    QCOMPARE(client.message(), nul("Login:"));
    client.close();
    emu.stop();
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink()); // removed on exit
}

void TstEmulatorLinks::serialReopenAfterTheApplicationCloses()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial") }));
    {
        SerialClient first(emu.serialPath);
        QVERIFY(serialLogIn(first));
        first.send("setCodeRate 5/6\n\r");
        QCOMPARE(first.message(), nul("OK\r\n"));
    }
    // With the slave closed the master reads EIO; the emulator must wait without spinning.
    const qint64 before = cpuTicks(emu.pid());
    QTest::qWait(1000);
    const qint64 used = cpuTicks(emu.pid()) - before;
    QVERIFY(before >= 0);
    QVERIFY2(used < 20, QByteArray::number(used).constData()); // under 0.2 s of CPU in 1 s

    // A new session starts logged out; the device kept its settings.
    SerialClient second(emu.serialPath);
    QVERIFY(second.isOpen());
    second.send("getCoreParameters\n\r"); // not logged in: the CR only wakes the prompt
    QCOMPARE(second.message(), nul("Login:"));
    second.send("admin\r\nkorva\r\n");
    QCOMPARE(second.message(), nul("Password:"));
    QCOMPARE(second.message(), nul("Logged in successfully\r\n"));
    second.send("getCoreParameters\n\r");
    QVERIFY(second.message().contains("\r\nCode Rate : 5/6\r\n"));
}

void TstEmulatorLinks::serialPortOpensTheSlave()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial") }));
    QSerialPort port;
    port.setPortName(emu.serialPath);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(port.setBaudRate(QSerialPort::Baud115200));
    port.write(esc);
    QVERIFY(port.waitForBytesWritten(1000));
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (!got.contains('\0') && t.elapsed() < 3000) {
        port.waitForReadyRead(100);
        got += port.readAll();
    }
    QCOMPARE(got, nul("Login:"));
    port.close();
}

void TstEmulatorLinks::serialBacklogSurvivesAFullTerminal()
{
    // 100 readings of 249 bytes while the client reads nothing: far more than the terminal holds,
    // so the emulator's writes come up short and must resume when the client drains them.
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial") }));
    SerialClient client(emu.serialPath);
    QVERIFY(serialLogIn(client));
    QByteArray requests;
    for (int i = 0; i < 100; ++i)
        requests += i % 2 ? "getCoreParameters\n\r" : "getIPParameters\n\r";
    QVERIFY(client.send(requests));
    QTest::qWait(500);
    QByteArray core;
    QByteArray ip;
    for (int i = 0; i < 100; ++i) {
        const QByteArray m = client.message();
        if (i == 0)
            ip = m;
        if (i == 1)
            core = m;
        QVERIFY2(m == (i % 2 ? core : ip), qPrintable(QStringLiteral("message %1").arg(i)));
    }
    QVERIFY(core.startsWith("Input mux : IP\r\n") && core.endsWith("MIP control : OFF\r\n" + QByteArray(1, '\0')));
    QVERIFY(ip.startsWith("IP addressing method : ") && ip.endsWith("IP port : 1234\r\n" + QByteArray(1, '\0')));
    QCOMPARE(client.drain(200), QByteArray());
}

void TstEmulatorLinks::telnetLoginAndOneSessionAtATime()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--telnet"), QStringLiteral("0") }));
    QVERIFY(emu.telnetPort > 0);
    QCOMPARE(emu.lines.first(), QStringLiteral("telnet: %1").arg(emu.telnetPort));

    TelnetClient client;
    QVERIFY(client.connectTo(emu.telnetPort));
    // The session opens with IAC DO AUTHENTICATION; the prompt follows.
    QCOMPARE(client.message(), QByteArray("\xff\xfd\x25", 3) + nul("Login:"));
    client.send(QByteArray("\xff\xfc\x25", 3)); // IAC WONT AUTHENTICATION
    client.send("admin\r\n");
    QCOMPARE(client.message(), nul("Password:"));
    client.send("wrong\r\n");
    QCOMPARE(client.message(), nul("Access denied\r\n"));
    QCOMPARE(client.message(), nul("Login:"));
    client.send("admin\r\n");
    client.send("korva\r\n");
    client.send("getID\n\r");
    QByteArray answers;
    for (int i = 0; i < 3; ++i)
        answers += client.message();
    QVERIFY2(answers.startsWith(nul("Password:") + nul("Logged in successfully\r\n") + "Product type : "),
        answers.constData());
    QVERIFY(answers.endsWith("Product options : IP ASI\r\n" + QByteArray(1, '\0')));

    // One session per link: a second client is closed at once.
    TelnetClient intruder;
    QVERIFY(intruder.connectTo(emu.telnetPort));
    QVERIFY(intruder.closedByPeer(3000));

    client.send("exit\r\n");
    QCOMPARE(client.message(), nul("Logged out\r\n"));
    QVERIFY(client.closedByPeer(3000));

    // The link is free again.
    TelnetClient next;
    QVERIFY(next.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(next));
}

void TstEmulatorLinks::flashMadeImageAndReboot()
{
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("fw.bin"));
    QCOMPARE(QProcess::execute(emulatorProgram(),
                 { QStringLiteral("make-firmware"), image, QStringLiteral("--name"), QStringLiteral("NERIO-3.1"),
                     QStringLiteral("--bank"), QStringLiteral("3"), QStringLiteral("--payload-size"),
                     QStringLiteral("300") }),
        0);
    QFile file(image);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QCOMPARE(content.size(), 334);

    EmulatorProcess emu;
    QVERIFY(emu.start(
        { QStringLiteral("--telnet"), QStringLiteral("0"), QStringLiteral("--reboot-ms"), QStringLiteral("700") }));
    TelnetClient client;
    QVERIFY(client.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(client));

    // A header with one flipped bit is refused.
    QByteArray flipped = content.left(34);
    flipped[5] = char(flipped.at(5) ^ 0x10);
    client.send("setFlashRequest " + flipped.toHex() + "\n\r");
    QCOMPARE(client.message(), nul("KO\r\n"));

    client.send("setFlashRequest " + content.left(34).toHex() + "\n\r");
    QCOMPARE(client.message(), nul("Bank erased\r\n"));
    client.send("setFlashPacket " + content.mid(34, 262).toHex() + "\n\r");
    QCOMPARE(client.message(), nul("OK\r\n"));
    client.send("setFlashPacket " + content.mid(34 + 262).toHex() + "\n\r");
    QCOMPARE(client.message(), nul("Download complete\r\n"));

    QElapsedTimer rebootTime;
    client.send("setSoftReset ON\n\r");
    QCOMPARE(client.message(), nul("OK\r\n"));
    rebootTime.start();
    QVERIFY(client.closedByPeer(3000));
    // Rebooting: connections are refused until the reboot time has passed.
    TelnetClient early;
    QVERIFY(early.connectTo(emu.telnetPort));
    QVERIFY(early.closedByPeer(3000));
    QVERIFY(rebootTime.elapsed() < 700);

    QTest::qWait(int(qMax<qint64>(0, 750 - rebootTime.elapsed())));
    TelnetClient after;
    QVERIFY(after.connectTo(emu.telnetPort));
    QCOMPARE(after.message(), QByteArray("\xff\xfd\x25", 3) + nul("Login:"));
    after.send("admin\r\nkorva\r\ngetID\n\r");
    after.message();
    after.message();
    QVERIFY(after.message().contains("\r\nProduct version : NERIO-3.1\r\n"));
}

void TstEmulatorLinks::makeFirmwareRejectsBadArguments()
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.bin"));
    const QString name = QStringLiteral("--name");
    const QString bank = QStringLiteral("--bank");
    const QString size = QStringLiteral("--payload-size");
    const QString mf = QStringLiteral("make-firmware");
    QCOMPARE(
        QProcess::execute(emulatorProgram(),
            { mf, out, name, QStringLiteral("A").repeated(21), bank, QStringLiteral("0"), size, QStringLiteral("1") }),
        2);
    QCOMPARE(QProcess::execute(emulatorProgram(),
                 { mf, out, name, QStringLiteral("A"), bank, QStringLiteral("0"), size, QStringLiteral("1"),
                     QStringLiteral("--serial"), QStringLiteral("1234567") }),
        2);
    QCOMPARE(
        QProcess::execute(emulatorProgram(), { mf, out, name, QStringLiteral("A"), bank, QStringLiteral("0") }), 2);
    QCOMPARE(
        QProcess::execute(emulatorProgram(), { mf, out, bank, QStringLiteral("0"), size, QStringLiteral("1") }), 2);
    QVERIFY(!QFile::exists(out));
    // A payload file is taken as it is.
    const QString payload = dir.filePath(QStringLiteral("p.dat"));
    QFile p(payload);
    QVERIFY(p.open(QIODevice::WriteOnly));
    p.write("payload bytes");
    p.close();
    QCOMPARE(
        QProcess::execute(emulatorProgram(),
            { mf, out, name, QStringLiteral("X"), bank, QStringLiteral("5"), QStringLiteral("--payload"), payload }),
        0);
    QFile image(out);
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll().mid(34), QByteArray("payload bytes"));
}

void TstEmulatorLinks::commandLineErrors()
{
    for (const QStringList &args : { QStringList {}, QStringList { QStringLiteral("--telnet"), QStringLiteral("x") },
             QStringList { QStringLiteral("--serial"), QStringLiteral("--mac"), QStringLiteral("00-11") },
             QStringList { QStringLiteral("--serial"), QStringLiteral("--serial-number"), QStringLiteral("TOOLONG") },
             QStringList { QStringLiteral("--serial"), QStringLiteral("--delay-ms"), QStringLiteral("-5") } }) {
        QProcess p;
        p.start(emulatorProgram(), args);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(!p.readAllStandardError().isEmpty());
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
    }
}

QTEST_GUILESS_MAIN(TstEmulatorLinks)
#include "tst_emulatorlinks.moc"
