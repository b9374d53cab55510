// Discovery: the answer rules as a pure function, then the whole exchange inside network namespaces that
// the test creates ("app" 10.77.0.1 and "dev" 10.77.0.2 joined by a veth pair), so no broadcast ever
// leaves them. The test thread moves between them with setns(); a socket stays in the namespace it was
// made in, so device answers go out from "dev" while the discovery runs in "app". The emulator's answer
// to a real query is checked by the IP login test of the Configuration page and by the end-to-end run.

#include "udpmanager.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class tst_udpManager : public QObject
{
    Q_OBJECT

private slots:
    void answerEntry_data();
    void answerEntry();
    void initTestCase();
    void discovery_data();
    void discovery();
    void cleanupTestCase();

private:
    QString ns(const char *role) const { return QStringLiteral("nerio-disc-%1-%2").arg(getpid()).arg(role); }
    static bool enter(int nsFd) { return nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0; }

    QString skipReason;
    int home = -1; // namespace descriptors, closed with the process
    int app = -1;
    int dev = -1;
};

void tst_udpManager::answerEntry_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("entry");
    const QString ok = QStringLiteral("10.0.0.7 (00-0A-1B-2C-3D-4E)");
    QTest::newRow("two CR LF lines") << QByteArray("NERIO DVB-T\r\n00-0A-1B-2C-3D-4E\r\n") << ok;
    QTest::newRow("third part not empty") << QByteArray("NERIO\r\n00-0A-1B-2C-3D-4E\r\nrev 3") << ok;
    QTest::newRow("MAC inside the second line")
        << QByteArray("NERIO\r\nMAC=00-0A-1B-2C-3D-4E;\r\n") << QStringLiteral("10.0.0.7 (MAC=00-0A-1B-2C-3D-4E;)");
    QTest::newRow("text after a NUL ignored") << QByteArray("NERIO\r\n00-0A-1B-2C-3D-4E\r\n\0\nmore\n", 33) << ok;
    QTest::newRow("lower-case MAC") << QByteArray("NERIO\r\n00-0a-1b-2c-3d-4e\r\n") << QString();
    QTest::newRow("one line feed (two parts)") << QByteArray("NERIO\r\n00-0A-1B-2C-3D-4E") << QString();
    QTest::newRow("three line feeds (four parts)") << QByteArray("NERIO\n00-0A-1B-2C-3D-4E\nrev\n") << QString();
    QTest::newRow("five pairs") << QByteArray("NERIO\r\n00-0A-1B-2C-3D\r\n") << QString();
    QTest::newRow("colons") << QByteArray("NERIO\r\n00:0A:1B:2C:3D:4E\r\n") << QString();
}

void tst_udpManager::answerEntry()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, entry);
    QCOMPARE(udpManager::answerEntry(datagram, QHostAddress(QStringLiteral("10.0.0.7"))), entry);
}

void tst_udpManager::initTestCase()
{
    if (geteuid() != 0) {
        skipReason = QStringLiteral("network namespaces need root (ip netns add), running as uid %1").arg(geteuid());
        return;
    }
    // Namespaces left by a killed run go first (their owner process is gone). The app side gets its
    // address without a broadcast address, as some hosts are configured; only it has a broadcast route.
    const QString script = QStringLiteral(
        "for n in $(ip netns list | grep -o '^nerio-disc-[0-9]*-[a-z]*'); do p=${n#nerio-disc-}; "
        "kill -0 ${p%%-*} 2>/dev/null || ip netns del $n; done; set -e; A=%1; D=%2; "
        "ip netns add $A; ip netns add $D; ip -n $A link add va type veth peer name vd netns $D; "
        "ip -n $A addr add 10.77.0.1/24 dev va; ip -n $D addr add 10.77.0.2/24 brd + dev vd; "
        "for n in $A $D; do ip -n $n link set lo up; done; ip -n $A link set va up; ip -n $D link set vd up; "
        "ip -n $A route add 255.255.255.255/32 dev va")
                               .arg(ns("app"), ns("dev"));
    QProcess sh;
    sh.start(QStringLiteral("sh"), { QStringLiteral("-c"), script });
    if (!sh.waitForFinished(20000) || sh.exitCode() != 0) {
        skipReason = QStringLiteral("cannot set up the network namespaces: ")
            + QString::fromLocal8Bit(sh.readAllStandardError());
        return;
    }
    home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    app = open(qPrintable(QStringLiteral("/var/run/netns/") + ns("app")), O_RDONLY | O_CLOEXEC);
    dev = open(qPrintable(QStringLiteral("/var/run/netns/") + ns("dev")), O_RDONLY | O_CLOEXEC);
    if (home < 0 || app < 0 || dev < 0)
        skipReason = QStringLiteral("cannot open the namespace files");
}

void tst_udpManager::discovery_data()
{
    QTest::addColumn<QString>("where"); // "dev" has no broadcast route; "held": another socket holds the port
    QTest::addColumn<int>("collection");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<QList<QByteArray>>("answers"); // from dev, each sent `repeat` times
    QTest::addColumn<int>("failure"); // -1: none
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("no broadcast route") << "dev" << 300 << 0 << QList<QByteArray>() << 1 << QStringList();
    QTest::newRow("port held") << "held" << 300 << 0 << QList<QByteArray>() << 0 << QStringList();
    // Besides our own answer from our own address: an empty datagram, a lower-case MAC and two answers.
    QTest::newRow("answers") << "app" << 3000 << 1
                             << QList<QByteArray> { QByteArray(), "lc\r\n0a-0b-0c-0d-0e-0f\r\n",
                                    "ok\n41-42-43-44-45-46\n", "ok\n31-32-33-34-35-36\n" }
                             << -1
                             << QStringList { QStringLiteral("10.77.0.2 (31-32-33-34-35-36)"),
                                    QStringLiteral("10.77.0.2 (41-42-43-44-45-46)") };
    // 10 000 answers in about one second, in bursts of 100 every 10 ms: the list stops at its bound.
    QTest::newRow("flood")
        << "app" << 2500 << 10000 << QList<QByteArray> { "flood\r\n02-00-00-00-00-99\r\n" } << -1
        << QStringList(
               QVector<QString>(udpManager::MAX_RESULTS, QStringLiteral("10.77.0.2 (02-00-00-00-00-99)")).toList());
}

void tst_udpManager::discovery()
{
    QFETCH(QString, where);
    QFETCH(int, collection);
    QFETCH(int, repeat);
    QFETCH(QList<QByteArray>, answers);
    QFETCH(int, failure);
    QFETCH(QStringList, listed);
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));

    QVERIFY(enter(dev));
    QUdpSocket device;
    QVERIFY(device.bind(QHostAddress(QStringLiteral("10.77.0.2")), 0)); // made now, so it lives in dev
    const bool inApp = where != QLatin1String("dev");
    QVERIFY(enter(inApp ? app : dev));
    QUdpSocket holder;
    if (where == QLatin1String("held"))
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, udpManager::DISCOVERY_PORT, QAbstractSocket::DontShareAddress));
    udpManager manager(nullptr, collection);
    QSignalSpy failed(&manager, &udpManager::discoveryError);
    QSignalSpy done(&manager, &udpManager::info);
    QElapsedTimer clock;
    clock.start();
    manager.startDiscovery();
    QCOMPARE(manager.isBound(), failure != 0);
    // Our own query comes back to us; an answer from our own address is no device.
    QUdpSocket own;
    own.writeDatagram(
        "self\r\n0A-0B-0C-0D-0E-0F\r\n", QHostAddress(inApp ? "10.77.0.1" : "10.77.0.2"), udpManager::DISCOVERY_PORT);
    for (const QByteArray &answer : answers) {
        for (int i = 1; i <= repeat; ++i) {
            device.writeDatagram(answer, QHostAddress(QStringLiteral("10.77.0.1")), udpManager::DISCOVERY_PORT);
            if (i % 100 == 0)
                QTest::qWait(10);
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, collection + 4000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(enter(home));
    QCOMPARE(failed.count(), failure < 0 ? 0 : 1);
    QCOMPARE(failed.value(0).value(0).toInt(), failure < 0 ? 0 : failure);
    QStringList results = manager.results();
    results.sort();
    QCOMPARE(results, listed);
    // info() ends the wait after the collection time, whatever came or failed (timers may fire 5 % early).
    QVERIFY2(elapsed >= collection * 95 / 100, qPrintable(QString::number(elapsed)));
}

void tst_udpManager::cleanupTestCase()
{
    enter(home);
    for (const char *role : { "app", "dev" })
        QProcess::execute(QStringLiteral("ip"), { QStringLiteral("netns"), QStringLiteral("del"), ns(role) });
}

QTEST_GUILESS_MAIN(tst_udpManager)
#include "tst_udpmanager.moc"
