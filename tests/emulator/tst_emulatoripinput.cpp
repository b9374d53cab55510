// The emulator's IP input and discovery over real sockets. Unicast runs on loopback; multicast and
// discovery run only inside a network namespace this test creates (root and unshare needed): the
// test program re-runs itself there.

#include "emulatorprocess.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QUdpSocket>

namespace
{
const char namespaceMarker[] = "NERIO_EMULATOR_IN_NETNS";
const QByteArray locked188("IP input status : Locked on 188 bytes packets\r\n");

// 7 packets, the fourth a null packet, optionally behind an RTP header.
QByteArray datagram(bool withRtp, int packetSize = 188)
{
    QByteArray out = withRtp ? QByteArray::fromHex("802100000000000000000000") : QByteArray();
    for (int i = 0; i < 7; ++i)
        out += QByteArray::fromHex(i == 3 ? "471fff10" : "47010010") + QByteArray(packetSize - 4, char(0xff));
    return out;
}

// Sends one datagram every 10 ms for durationMs (100 datagrams a second).
void stream(QUdpSocket &socket, const QHostAddress &to, quint16 port, const QByteArray &payload, int durationMs)
{
    QElapsedTimer t;
    t.start();
    for (int sent = 0; sent < durationMs / 10 && t.elapsed() < durationMs + 2000; ++sent) {
        socket.writeDatagram(payload, to, port);
        QTest::qWait(int(qMax<qint64>(0, (sent + 1) * 10 - t.elapsed())));
    }
}

// 100 datagrams a second of 7 packets: 1.0528 Mbit/s raw, 0.9024 net (one null in seven). Timer
// jitter moves a datagram or two across the window's edge.
bool ratesNear(const QByteArray &status, double raw, double net)
{
    const QRegularExpression re(QStringLiteral("\\r\\nInput raw bitrate : (\\d+\\.\\d{3}) Mbps\\r\\n"
                                               "Input net bitrate : (\\d+\\.\\d{3}) Mbps\\r\\n"));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(status));
    return m.hasMatch() && qAbs(m.captured(1).toDouble() / raw - 1) < 0.05
        && qAbs(m.captured(2).toDouble() / net - 1) < 0.05;
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
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--telnet 0")));
    QCOMPARE(c.ask("setIPAddressingMethod unicast"), nul("OK\r\n"));
    QCOMPARE(c.ask("setIPPort " + QByteArray::number(port)), nul("OK\r\n"));

    QUdpSocket sender;
    stream(sender, QHostAddress::LocalHost, port, datagram(true), 1300);
    QByteArray status = c.ask("getStatus");
    QVERIFY2(status.startsWith(locked188) && ratesNear(status, 1.0528, 0.9024), status.constData());
    stream(sender, QHostAddress::LocalHost, port, datagram(false, 204), 200);
    QVERIFY(c.ask("getStatus").startsWith("IP input status : Locked on 204 bytes packets\r\n"));
    stream(sender, QHostAddress::LocalHost, port, QByteArray("not a transport stream"), 50);
    QVERIFY(c.ask("getStatus").startsWith("IP input status : Not locked\r\n"));
    QTest::qWait(1100);
    status = c.ask("getStatus");
    QVERIFY2(status.startsWith("IP input status : No data\r\n") && status.contains(" 0.000 Mbps"), status.constData());
    // ASI selected: the IP input is not listened to.
    QCOMPARE(c.ask("setInputMux ASI"), nul("OK\r\n"));
    stream(sender, QHostAddress::LocalHost, port, datagram(false), 200);
    QVERIFY(c.ask("getStatus").startsWith("IP input status : No data\r\n"));
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
        QVERIFY2(inner.exitStatus() == QProcess::NormalExit && inner.exitCode() == 0
                && output.contains("PASS   : TstEmulatorIpInput::multicastAndDiscoveryInNamespace()"),
            output.constData());
        return;
    }

    const quint16 port = freeUdpPort();
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, args("--telnet 0 --discovery --mac 00:0a:1b:2c:3d:4e --product-name Lab")));
    QCOMPARE(c.ask("setIPMulticastAddress 239.1.2.3"), nul("OK\r\n"));
    QCOMPARE(c.ask("setIPPort " + QByteArray::number(port)), nul("OK\r\n"));
    QUdpSocket sender;
    QVERIFY(sender.bind(QHostAddress(QHostAddress::LocalHost), 0));
    sender.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
    stream(sender, QHostAddress(QStringLiteral("239.1.2.3")), port, datagram(false), 1200);
    QByteArray status = c.ask("getStatus");
    QVERIFY2(status.startsWith(locked188) && ratesNear(status, 1.0528, 0.9024), status.constData());
    // Another group on the same port is not the device's input.
    QTest::qWait(1100);
    stream(sender, QHostAddress(QStringLiteral("239.1.2.4")), port, datagram(false), 300);
    status = c.ask("getStatus");
    QVERIFY2(status.startsWith("IP input status : No data\r\n"), status.constData());

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

QTEST_GUILESS_MAIN(TstEmulatorIpInput)
#include "tst_emulatoripinput.moc"
