// The nerio-emulator program over a real pseudo-terminal and loopback TCP: what its adapters add to the
// in-process core. A serial line that fills up, is closed and reopened; the fault options, wire log and
// state file seen from outside. Login, readings, flash and reboot over both links are driven by the
// connection and configuration tests, the IP input by the end-to-end test, discovery by its own test.

#include "emulatorprocess.h"

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
    void serialFullTerminalCloseAndReopen();
    void refuseMuteChunked();
    void delayDropLogThenStateOnAPacedLine();
};

void TstEmulatorLinks::serialFullTerminalCloseAndReopen()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--serial")));
    // 100 readings of 249 bytes while the client reads nothing: far more than the terminal holds, so the
    // emulator's writes come up short and must resume when the client drains them.
    QVERIFY(c.send(QByteArray("getCoreParameters\n\r").repeated(100)));
    QTest::qWait(500);
    for (int i = 0; i < 100; ++i)
        QVERIFY2(c.message() == defaultCore, qPrintable(QStringLiteral("message %1").arg(i)));
    QCOMPARE(c.drain(200), QByteArray());

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
    QVERIFY(c.logIn());
    QVERIFY(c.ask("getCoreParameters").contains("\r\nCode Rate : 5/6\r\n")); // the device kept its settings
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

void TstEmulatorLinks::delayDropLogThenStateOnAPacedLine()
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

    // A restart with the same state file, on a serial line paced at 115200 baud that drops after two lines.
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--serial --baud-pace --drop-after 2 --state") << state));
    c.reads = 0;
    QElapsedTimer t;
    t.start();
    // 249 bytes at 11.52 bytes per millisecond take at least 21.6 ms on the line.
    QCOMPARE(c.ask("getCoreParameters"), QByteArray(defaultCore).replace("2/3", "5/6").replace("666.000", "500.250"));
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

QTEST_GUILESS_MAIN(TstEmulatorLinks)
#include "tst_emulatorlinks.moc"
