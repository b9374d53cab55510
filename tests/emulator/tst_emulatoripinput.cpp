// The emulator's IP input and discovery over real sockets. Unicast runs on loopback; multicast and
// discovery run only inside a network namespace this test creates (root and unshare needed): the
// test program re-runs itself there.

#include "emulatorprocess.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

#include <unistd.h>

namespace
{
const char namespaceMarker[] = "NERIO_EMULATOR_IN_NETNS";

QByteArray command(TelnetClient &client, const QByteArray &line)
{
    client.send(line + "\n\r");
    return client.message();
}

// 7 packets of 188 bytes, the fourth a null packet, optionally behind an RTP header.
QByteArray datagram(bool withRtp, int packetSize = 188)
{
    QByteArray out;
    if (withRtp) {
        out = QByteArray(12, '\0');
        out[0] = char(0x80);
        out[1] = char(33);
    }
    for (int i = 0; i < 7; ++i) {
        QByteArray p(packetSize, char(0xff));
        p[0] = 0x47;
        p[1] = i == 3 ? char(0x1f) : char(0x01);
        p[2] = i == 3 ? char(0xff) : char(0x00);
        p[3] = 0x10;
        out += p;
    }
    return out;
}

// Sends one datagram every 10 ms for durationMs (100 datagrams a second).
void stream(QUdpSocket &socket, const QHostAddress &to, quint16 port, const QByteArray &payload, int durationMs)
{
    QElapsedTimer t;
    t.start();
    for (int sent = 0; sent < durationMs / 10 && t.elapsed() < durationMs + 2000; ++sent) {
        socket.writeDatagram(payload, to, port);
        const qint64 wait = (sent + 1) * 10 - t.elapsed();
        if (wait > 0)
            QTest::qWait(int(wait));
    }
}

double bitrate(const QByteArray &status, const char *label)
{
    const QRegularExpression re(QStringLiteral("\\r\\n%1 : (\\d+\\.\\d{3}) Mbps\\r\\n").arg(QLatin1String(label)));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(status));
    return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}
}

class TstEmulatorIpInput : public QObject
{
    Q_OBJECT

private slots:
    void unicastOnLoopback();
    void multicastAndDiscoveryInNamespace();
};

void TstEmulatorIpInput::unicastOnLoopback()
{
    if (qEnvironmentVariableIsSet(namespaceMarker))
        QSKIP("runs outside the namespace");
    const quint16 port = freeUdpPort();
    EmulatorProcess emu;
    QVERIFY(emu.start({ QStringLiteral("--telnet"), QStringLiteral("0") }));
    TelnetClient client;
    QVERIFY(client.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(client));
    QCOMPARE(command(client, "setIPAddressingMethod unicast"), nul("OK\r\n"));
    QCOMPARE(command(client, "setIPPort " + QByteArray::number(port)), nul("OK\r\n"));
    QVERIFY(command(client, "getStatus").startsWith("IP input status : No data\r\n"));

    QUdpSocket sender;
    stream(sender, QHostAddress::LocalHost, port, datagram(true), 1300);
    const QByteArray status = command(client, "getStatus");
    QVERIFY2(status.startsWith("IP input status : Locked on 188 bytes packets\r\n"), status.constData());
    // 100 datagrams a second of 7 packets: 1.0528 Mbit/s raw, 0.9024 net (one null in seven).
    // Timer jitter moves a datagram or two across the window's edge.
    const double raw = bitrate(status, "Input raw bitrate");
    const double net = bitrate(status, "Input net bitrate");
    QVERIFY2(raw > 1.0528 * 0.95 && raw < 1.0528 * 1.05, status.constData());
    QVERIFY2(net > 0.9024 * 0.95 && net < 0.9024 * 1.05, status.constData());
    QVERIFY(qAbs(net / raw - 6.0 / 7.0) < 0.01);

    stream(sender, QHostAddress::LocalHost, port, datagram(false, 204), 200);
    QVERIFY(command(client, "getStatus").startsWith("IP input status : Locked on 204 bytes packets\r\n"));
    stream(sender, QHostAddress::LocalHost, port, QByteArray("not a transport stream"), 50);
    QVERIFY(command(client, "getStatus").startsWith("IP input status : Not locked\r\n"));
    QTest::qWait(1100);
    const QByteArray idle = command(client, "getStatus");
    QVERIFY(idle.startsWith("IP input status : No data\r\n"));
    QCOMPARE(bitrate(idle, "Input raw bitrate"), 0.0);

    // ASI selected: the IP input is not listened to.
    QCOMPARE(command(client, "setInputMux ASI"), nul("OK\r\n"));
    stream(sender, QHostAddress::LocalHost, port, datagram(false), 200);
    QVERIFY(command(client, "getStatus").startsWith("IP input status : No data\r\n"));
}

void TstEmulatorIpInput::multicastAndDiscoveryInNamespace()
{
    if (!qEnvironmentVariableIsSet(namespaceMarker)) {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            QSKIP("needs root, unshare and ip to make a network namespace");
        QProcess inner;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(namespaceMarker), QStringLiteral("1"));
        inner.setProcessEnvironment(env);
        inner.setProcessChannelMode(QProcess::MergedChannels);
        const QString script = QStringLiteral("ip link set lo up && ip link set lo multicast on && "
                                              "ip route add 224.0.0.0/4 dev lo src 127.0.0.1 && "
                                              "ip route add 255.255.255.255/32 dev lo src 127.0.0.1 && "
                                              "exec \"$0\" multicastAndDiscoveryInNamespace");
        inner.start(QStringLiteral("unshare"),
            { QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                QCoreApplication::applicationFilePath() });
        QVERIFY(inner.waitForFinished(60000));
        const QByteArray output = inner.readAll();
        QVERIFY2(inner.exitStatus() == QProcess::NormalExit && inner.exitCode() == 0, output.constData());
        QVERIFY2(
            output.contains("PASS   : TstEmulatorIpInput::multicastAndDiscoveryInNamespace()"), output.constData());
        return;
    }

    // Inside the namespace: loopback is the only interface, with multicast and broadcast routes.
    const quint16 port = freeUdpPort();
    EmulatorProcess emu;
    QVERIFY(emu.start(
        { QStringLiteral("--telnet"), QStringLiteral("0"), QStringLiteral("--discovery"), QStringLiteral("--mac"),
            QStringLiteral("00:0a:1b:2c:3d:4e"), QStringLiteral("--product-name"), QStringLiteral("Lab modulator") }));
    TelnetClient client;
    QVERIFY(client.connectTo(emu.telnetPort));
    QVERIFY(telnetLogIn(client));
    QCOMPARE(command(client, "setIPMulticastAddress 239.1.2.3"), nul("OK\r\n"));
    QCOMPARE(command(client, "setIPPort " + QByteArray::number(port)), nul("OK\r\n"));

    QUdpSocket sender;
    QVERIFY(sender.bind(QHostAddress(QHostAddress::LocalHost), 0));
    sender.setSocketOption(QAbstractSocket::MulticastTtlOption, 1);
    sender.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
    stream(sender, QHostAddress(QStringLiteral("239.1.2.3")), port, datagram(false), 1200);
    QByteArray status = command(client, "getStatus");
    QVERIFY2(status.startsWith("IP input status : Locked on 188 bytes packets\r\n"), status.constData());
    const double raw = bitrate(status, "Input raw bitrate");
    QVERIFY2(raw > 1.0528 * 0.95 && raw < 1.0528 * 1.05, status.constData());
    // Another group on the same port is not the device's input.
    QTest::qWait(1100);
    stream(sender, QHostAddress(QStringLiteral("239.1.2.4")), port, datagram(false), 300);
    status = command(client, "getStatus");
    QVERIFY2(status.startsWith("IP input status : No data\r\n"), status.constData());

    // Discovery: the exact query is answered from port 30303 to the sender; anything else is not.
    QUdpSocket asker;
    QVERIFY(asker.bind(QHostAddress::AnyIPv4, 0));
    asker.writeDatagram("Discovery: who is out there ?", QHostAddress::Broadcast, 30303);
    asker.writeDatagram("Discovery: who is out there ?\r", QHostAddress::Broadcast, 30303);
    QNetworkDatagram answer;
    QElapsedTimer t;
    t.start();
    while (!answer.isValid() && t.elapsed() < 3000) {
        if (asker.hasPendingDatagrams() || asker.waitForReadyRead(100))
            answer = asker.receiveDatagram();
    }
    QVERIFY(answer.isValid());
    QCOMPARE(answer.data(), QByteArray("Lab modulator\r\n00-0A-1B-2C-3D-4E\r\n"));
    QCOMPARE(answer.senderPort(), 30303);
    QVERIFY(!asker.waitForReadyRead(300)); // the query without its CR got nothing
}

QTEST_GUILESS_MAIN(TstEmulatorIpInput)
#include "tst_emulatoripinput.moc"
