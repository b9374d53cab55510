// Discovery: the answer rules as a pure function, then the whole exchange inside network namespaces that
// the test creates (a bridge in "app" 10.77.0.1 joins "dev1" 10.77.0.2 and "dev2" 10.77.0.3), so no
// broadcast ever leaves them. Clients and senders run as this same program started with "--child".

#include "udpmanager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace
{
void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// client <collection ms> [own-answer] [hold-port]: one discovery, results on stdout.
int runClient(const QStringList &args)
{
    const int collection = args.value(0).toInt();
    QUdpSocket holder;
    if (args.contains(QStringLiteral("hold-port")))
        holder.bind(QHostAddress::AnyIPv4, udpManager::DISCOVERY_PORT, QAbstractSocket::DontShareAddress);
    udpManager manager(nullptr, collection);
    QElapsedTimer clock;
    QObject::connect(
        &manager, &udpManager::discoveryError, [](int failure) { say(QStringLiteral("error %1").arg(failure)); });
    QObject::connect(&manager, &udpManager::info, [&] {
        QStringList results = manager.results();
        results.sort();
        say(QStringLiteral("info %1").arg(clock.elapsed()));
        say(QStringLiteral("entries:") + results.join(QLatin1Char('|')));
        say(QStringLiteral("done"));
        QCoreApplication::exit(0);
    });
    say(QStringLiteral("bound %1").arg(manager.isBound() ? 1 : 0));
    clock.start();
    manager.startDiscovery();
    say(QStringLiteral("ready"));
    QUdpSocket own; // an answer from our own address, as our own query comes back to us
    if (args.contains(QStringLiteral("own-answer")))
        own.writeDatagram(
            "self\r\n0A-0B-0C-0D-0E-0F\r\n", QHostAddress(QStringLiteral("10.77.0.1")), udpManager::DISCOVERY_PORT);
    QTimer::singleShot(collection + 10000, [] { QCoreApplication::exit(3); });
    return QCoreApplication::exec();
}

// send <repeat> <hex>...: each datagram `repeat` times to app:30303, pausing 10 ms after every hundred
// and after each datagram, so that they arrive in order.
int runSender(const QStringList &args)
{
    QUdpSocket s;
    const int repeat = args.value(0).toInt();
    for (const QString &hex : args.mid(1)) {
        for (int i = 1; i <= repeat; ++i) {
            s.writeDatagram(QByteArray::fromHex(hex.toLatin1()), QHostAddress(QStringLiteral("10.77.0.1")), 30303);
            if (i % 100 == 0 || i == repeat)
                QThread::msleep(10);
        }
    }
    return 0;
}

// This program as a child: "client 1000 hold-port".
QStringList self(const QString &args)
{
    return QStringList { QCoreApplication::applicationFilePath(), QStringLiteral("--child") }
    + args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Lines of a child's output up to and including `last`, within ms.
QStringList readUntil(QProcess *p, const QString &last, int ms)
{
    QStringList lines;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && !lines.contains(last) && (p->canReadLine() || p->state() == QProcess::Running)) {
        if (!p->canReadLine())
            p->waitForReadyRead(100);
        while (p->canReadLine() && !lines.contains(last))
            lines << QString::fromLatin1(p->readLine()).trimmed();
    }
    return lines;
}
} // namespace

class tst_udpManager : public QObject
{
    Q_OBJECT

private slots:
    void answerEntry_data();
    void answerEntry();
    void initTestCase();
    void discovery_data();
    void discovery();
    void cleanup();
    void cleanupTestCase();

private:
    QString ns(const QString &role) const { return QStringLiteral("nerio-disc-%1-%2").arg(getpid()).arg(role); }
    // A command inside a namespace, killed at the end of the test.
    QProcess *start(const QString &role, const QStringList &command)
    {
        children.push_back(std::make_unique<QProcess>());
        children.back()->start(
            QStringLiteral("ip"), QStringList { QStringLiteral("netns"), QStringLiteral("exec"), ns(role) } + command);
        children.back()->waitForStarted(5000);
        return children.back().get();
    }

    QString skipReason;
    std::vector<std::unique_ptr<QProcess>> children;
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
    QTest::newRow("CR only inside lines") << QByteArray("NE\rRIO\n00-0A-1B-2C-\r3D-4E\n") << ok;
    QTest::newRow("text after a NUL ignored") << QByteArray("NERIO\r\n00-0A-1B-2C-3D-4E\r\n\0\nmore\n", 33) << ok;
    QTest::newRow("lower-case MAC") << QByteArray("NERIO\r\n00-0a-1b-2c-3d-4e\r\n") << QString();
    QTest::newRow("one line feed (two parts)") << QByteArray("NERIO\r\n00-0A-1B-2C-3D-4E") << QString();
    QTest::newRow("three line feeds (four parts)") << QByteArray("NERIO\n00-0A-1B-2C-3D-4E\nrev\n") << QString();
    QTest::newRow("MAC on the first line") << QByteArray("00-0A-1B-2C-3D-4E\r\nNERIO\r\n") << QString();
    QTest::newRow("five pairs") << QByteArray("NERIO\r\n00-0A-1B-2C-3D\r\n") << QString();
    QTest::newRow("colons") << QByteArray("NERIO\r\n00:0A:1B:2C:3D:4E\r\n") << QString();
    QTest::newRow("NUL first") << QByteArray("\0NERIO\r\n00-0A-1B-2C-3D-4E\r\n", 27) << QString();
    QTest::newRow("64 KiB of line feeds") << QByteArray(65507, '\n') << QString();
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
        "for n in $(ip netns list | grep -o '^nerio-disc-[0-9]*-[a-z0-9]*'); do p=${n#nerio-disc-}; "
        "kill -0 ${p%%-*} 2>/dev/null || ip netns del $n; done; set -e; A=%1; D1=%2; D2=%3; "
        "ip netns add $A; ip netns add $D1; ip netns add $D2; ip -n $A link add br0 type bridge; "
        "ip -n $A link add va1 type veth peer name vd1 netns $D1; ip -n $A link set va1 master br0; "
        "ip -n $A link add va2 type veth peer name vd2 netns $D2; ip -n $A link set va2 master br0; "
        "ip -n $A addr add 10.77.0.1/24 dev br0; ip -n $D1 addr add 10.77.0.2/24 brd + dev vd1; "
        "ip -n $D2 addr add 10.77.0.3/24 brd + dev vd2; for n in $A $D1 $D2; do ip -n $n link set lo up; done; "
        "for l in br0 va1 va2; do ip -n $A link set $l up; done; ip -n $D1 link set vd1 up; "
        "ip -n $D2 link set vd2 up; ip -n $A route add 255.255.255.255/32 dev br0")
                               .arg(ns(QStringLiteral("app")), ns(QStringLiteral("dev1")), ns(QStringLiteral("dev2")));
    QProcess sh;
    sh.start(QStringLiteral("sh"), { QStringLiteral("-c"), script });
    if (!sh.waitForFinished(20000) || sh.exitCode() != 0)
        skipReason = QStringLiteral("cannot set up the network namespaces: ")
            + QString::fromLocal8Bit(sh.readAllStandardError());
}

void tst_udpManager::discovery_data()
{
    QTest::addColumn<QString>("client"); // namespace and client options
    QTest::addColumn<QStringList>("emulators"); // namespaces with an emulator
    QTest::addColumn<QStringList>("sent"); // from dev1: repeat count and datagrams
    QTest::addColumn<QStringList>("report");
    QTest::addColumn<QStringList>("listed");
    const QStringList none;
    const QStringList bound { QStringLiteral("bound 1") };
    QTest::newRow("nobody answers") << QStringLiteral("app 1000") << none << none << bound << none;
    // dev1 has no route for 255.255.255.255: the query cannot leave, and the owner is told so.
    QTest::newRow("no broadcast route") << QStringLiteral("dev1 300") << none << none
                                        << QStringList { QStringLiteral("bound 1"), QStringLiteral("error 1") } << none;
    // Another program holds the port exclusively.
    QTest::newRow("port held") << QStringLiteral("app 300 hold-port") << none << none
                               << QStringList { QStringLiteral("bound 0"), QStringLiteral("error 0") } << none;
    // The client also answers itself from its own address; dev1 sends an empty datagram, answers with a
    // lower-case MAC, with two and with four parts, and last one good answer.
    QStringList bad { QStringLiteral("1") };
    for (const QByteArray &d :
        { QByteArray(), QByteArray("lc\r\n0a-0b-0c-0d-0e-0f\r\n"), QByteArray("two\r\n21-22-23-24-25-26"),
            QByteArray("a\nB1-B2-B3-B4-B5-B6\nc\n"), QByteArray("ok\n31-32-33-34-35-36\n") })
        bad << QString::fromLatin1(d.toHex());
    QTest::newRow("two emulators") << QStringLiteral("app 3000 own-answer")
                                   << QStringList { QStringLiteral("dev1"), QStringLiteral("dev2") } << bad << bound
                                   << QStringList { QStringLiteral("10.77.0.2 (02-4E-52-00-00-01)"),
                                          QStringLiteral("10.77.0.2 (31-32-33-34-35-36)"),
                                          QStringLiteral("10.77.0.3 (02-4E-52-00-00-02)") };
    // 10 000 answers in about one second, in bursts of 100 every 10 ms: the list stops at its bound.
    QTest::newRow("flood")
        << QStringLiteral("app 2500") << none
        << QStringList { QStringLiteral("10000"),
               QString::fromLatin1(QByteArray("flood\r\n02-00-00-00-00-99\r\n").toHex()) }
        << bound
        << QStringList(
               QVector<QString>(udpManager::MAX_RESULTS, QStringLiteral("10.77.0.2 (02-00-00-00-00-99)")).toList());
}

void tst_udpManager::discovery()
{
    QFETCH(QString, client);
    QFETCH(QStringList, emulators);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, report);
    QFETCH(QStringList, listed);
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    for (const QString &role : emulators) {
        const QStringList lines
            = readUntil(start(role,
                            { qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator"),
                                QStringLiteral("--discovery"), QStringLiteral("--mac"),
                                QStringLiteral("02-4E-52-00-00-0") + role.right(1) }),
                QStringLiteral("ready"), 10000);
        QVERIFY2(lines.contains(QStringLiteral("ready")),
            qPrintable(role + QLatin1Char(' ') + lines.join(QLatin1Char('|'))));
    }
    QProcess *p = start(
        client.section(QLatin1Char(' '), 0, 0), self(QStringLiteral("client ") + client.section(QLatin1Char(' '), 1)));
    QStringList lines = readUntil(p, QStringLiteral("ready"), 10000);
    if (!sent.isEmpty()) {
        QProcess *sender = start(QStringLiteral("dev1"), self(QStringLiteral("send")) + sent);
        QVERIFY(sender->waitForFinished(20000) && sender->exitCode() == 0);
    }
    lines += readUntil(p, QStringLiteral("done"), 20000);
    QVERIFY2(lines.contains(QStringLiteral("done")), qPrintable(lines.join(QLatin1Char('|'))));
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^(bound|error) "))), report);
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^entries:"))),
        QStringList { QStringLiteral("entries:") + listed.join(QLatin1Char('|')) });
    // info() ends the wait after the collection time, whatever came or failed (timers may fire 5 % early;
    // the upper bound only guards against a hang, loose for a loaded machine).
    const int collection = client.section(QLatin1Char(' '), 1, 1).toInt();
    const int elapsed = lines.filter(QRegularExpression(QStringLiteral("^info "))).value(0).mid(5).toInt();
    QVERIFY2(elapsed >= collection * 95 / 100 && elapsed < collection + 4000, qPrintable(lines.join(QLatin1Char('|'))));
}

void tst_udpManager::cleanup()
{
    for (auto &p : children) {
        p->kill();
        p->waitForFinished(2000);
    }
    children.clear();
}

void tst_udpManager::cleanupTestCase()
{
    for (const QString &role : { QStringLiteral("app"), QStringLiteral("dev1"), QStringLiteral("dev2") })
        QProcess::execute(QStringLiteral("ip"), { QStringLiteral("netns"), QStringLiteral("del"), ns(role) });
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(2);
    if (argc > 2 && std::strcmp(argv[1], "--child") == 0)
        return args.first() == QLatin1String("client") ? runClient(args.mid(1)) : runSender(args.mid(1));
    tst_udpManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_udpmanager.moc"
