// Each fault option of nerio-emulator, observed from outside over a real link: mute, refuse,
// delay, chunked writes, baud pacing, dropped links, plus the wire log and the state file.

#include "emulatorprocess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
const QByteArray defaultCore
    = nul("Input mux : IP\r\nRef clock mux : internal\r\nCode Rate : 2/3\r\nGuard Interval : 1/32\r\n"
          "Constellation : 64QAM\r\nBandwidth : 8MHz\r\nTransmission Mode : OFDM mode : 8K\r\n"
          "Output Frequency : 666.000MHz\r\nAttenuation : 0dB\r\nOutput State : OFF\r\nMIP control : OFF\r\n");
}

class TstEmulatorFaults : public QObject
{
    Q_OBJECT

private slots:
    void muteAfter();
    void refuse();
    void delayMs();
    void chunked();
    void baudPace();
    void dropAfterTelnet();
    void dropAfterSerialOffersANewLine();
    void logAndState();
};

void TstEmulatorFaults::muteAfter()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial"), QStringLiteral("--mute-after"), QStringLiteral("2") }));
    SerialClient client(emu.serialPath);
    QVERIFY(serialLogIn(client));
    client.send("getID\n\r");
    QVERIFY(client.message().startsWith("Product type : "));
    client.send("setCodeRate 1/2\n\r");
    QCOMPARE(client.message(), nul("OK\r\n"));
    client.send("getStatus\n\r");
    QCOMPARE(client.drain(600), QByteArray());
    client.send("\x1b");
    QCOMPARE(client.drain(300), QByteArray());
}

void TstEmulatorFaults::refuse()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--telnet"), QStringLiteral("0"), QStringLiteral("--refuse"),
        QStringLiteral("getStatus"), QStringLiteral("--refuse"), QStringLiteral("setCodeRate") }));
    TelnetClient client;
    QVERIFY(client.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(client));
    client.send("getStatus\n\r");
    QCOMPARE(client.message(), nul("KO\r\n"));
    client.send("setCodeRate 1/2\n\r");
    QCOMPARE(client.message(), nul("KO\r\n"));
    client.send("setGuardInterval 1/4\n\r");
    QCOMPARE(client.message(), nul("OK\r\n"));
}

void TstEmulatorFaults::delayMs()
{
    EmulatorProcess emu;
    QVERIFY(emu.start(
        { QStringLiteral("--telnet"), QStringLiteral("0"), QStringLiteral("--delay-ms"), QStringLiteral("400") }));
    TelnetClient client;
    QVERIFY(client.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(client));
    QElapsedTimer t;
    t.start();
    client.send("setCodeRate 1/2\n\r");
    QCOMPARE(client.message(3000), nul("OK\r\n"));
    QVERIFY2(t.elapsed() >= 390, QByteArray::number(t.elapsed()).constData());
}

void TstEmulatorFaults::chunked()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial"), QStringLiteral("--chunked") }));
    SerialClient client(emu.serialPath);
    QVERIFY(serialLogIn(client));
    client.reads = 0;
    client.send("getCoreParameters\n\r");
    // The same message, in pieces of at most 16 bytes, NUL only at the very end.
    QCOMPARE(client.message(), defaultCore);
    QVERIFY2(client.reads >= 3, QByteArray::number(client.reads).constData());
    client.send("setCodeRate 1/2\n\r");
    QCOMPARE(client.message(), nul("OK\r\n"));
}

void TstEmulatorFaults::baudPace()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial"), QStringLiteral("--baud-pace") }));
    SerialClient client(emu.serialPath);
    QVERIFY(serialLogIn(client));
    client.reads = 0;
    QElapsedTimer t;
    t.start();
    client.send("getCoreParameters\n\r");
    QCOMPARE(client.message(), defaultCore);
    // 249 bytes at 11.52 bytes per millisecond take at least 21.6 ms on the line.
    const double lineMs = double(defaultCore.size()) / 11.52;
    QVERIFY2(double(t.elapsed()) >= lineMs - 1.0, QByteArray::number(t.elapsed()).constData());
    QVERIFY2(client.reads >= 3, QByteArray::number(client.reads).constData());
}

void TstEmulatorFaults::dropAfterTelnet()
{
    EmulatorProcess emu;
    QVERIFY(emu.start(
        { QStringLiteral("--telnet"), QStringLiteral("0"), QStringLiteral("--drop-after"), QStringLiteral("2") }));
    TelnetClient client;
    QVERIFY(client.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(client));
    client.send("setCodeRate 1/2\n\r");
    QCOMPARE(client.message(), nul("OK\r\n"));
    QVERIFY(!client.closedByPeer(200));
    client.send("setCodeRate 3/4\n\r");
    QCOMPARE(client.message(), nul("OK\r\n")); // the second answer still arrives
    QVERIFY(client.closedByPeer(3000));
    // A new connection gets a new session with its own count.
    TelnetClient again;
    QVERIFY(again.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(again));
    again.send("getCoreParameters\n\r");
    QVERIFY(again.message().contains("\r\nCode Rate : 3/4\r\n"));
}

void TstEmulatorFaults::dropAfterSerialOffersANewLine()
{
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--serial"), QStringLiteral("--drop-after"), QStringLiteral("1") }));
    SerialClient client(emu.serialPath);
    QVERIFY(serialLogIn(client));
    client.send("setCodeRate 1/2\n\r");
    QCOMPARE(client.message(), nul("OK\r\n"));
    client.drain(300);
    QVERIFY(client.hungUp);
    const QString line = emu.nextLine(3000);
    QVERIFY2(line.startsWith(QLatin1String("serial: /dev/")), qPrintable(line));
    SerialClient next(line.mid(8));
    QVERIFY(next.isOpen());
    QVERIFY(serialLogIn(next));
}

void TstEmulatorFaults::logAndState()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("wire.log"));
    const QString state = dir.filePath(QStringLiteral("state.json"));
    {
        EmulatorProcess emu;
        QVERIFY(emu.start({ QStringLiteral("--telnet"), QStringLiteral("0"), QStringLiteral("--log"), log,
            QStringLiteral("--state"), state }));
        TelnetClient client;
        QVERIFY(client.connectTo(emu.telnetPort));
        QVERIFY(telnetLogIn(client));
        client.send("setCodeRate 5/6\n\r");
        QCOMPARE(client.message(), nul("OK\r\n"));
        client.send("setOutputFrequency 500.25\n\r");
        QCOMPARE(client.message(), nul("OK\r\n"));
    }
    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const QByteArray text = logFile.readAll();
    QVERIFY2(text.contains(" telnet < setCodeRate 5/6\n"), text.constData());
    QVERIFY(text.contains(" telnet > OK\\r\\n\\0\n"));
    QVERIFY(text.contains(" telnet > \\xff\\xfd%\n"));
    QVERIFY(text.contains(" telnet < korva\n"));
    QFile stateFile(state);
    QVERIFY(stateFile.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(stateFile.readAll()).object();
    QCOMPARE(saved.value(QStringLiteral("codeRate")).toString(), QStringLiteral("5/6"));
    QCOMPARE(saved.value(QStringLiteral("outputFrequency")).toString(), QStringLiteral("500.250"));

    // A restart with the same state file shows the same parameters.
    EmulatorProcess again;
    QVERIFY(again.start({ QStringLiteral("--telnet"), QStringLiteral("0"), QStringLiteral("--state"), state }));
    TelnetClient client;
    QVERIFY(client.connectTo(again.telnetPort));
    QVERIFY(telnetLogIn(client));
    client.send("getCoreParameters\n\r");
    const QByteArray core = client.message();
    QVERIFY(core.contains("\r\nCode Rate : 5/6\r\n"));
    QVERIFY(core.contains("\r\nOutput Frequency : 500.250MHz\r\n"));
}

QTEST_GUILESS_MAIN(TstEmulatorFaults)
#include "tst_emulatorfaults.moc"
