// Discovery: the answer rules as a pure function, then the whole exchange inside network namespaces that
// the test creates (a bridge in "app" joins "dev1" 10.77.0.2 and "dev2" 10.77.0.3 to "app" 10.77.0.1), so
// no broadcast ever leaves them. The client side runs as this same program started with "--child".

#include "udpmanager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace
{

const QHostAddress DEV1(QStringLiteral("10.77.0.2"));

// A literal with embedded NULs, all of it.
template <size_t N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, int(N - 1));
}

// ---- child side (inside a namespace) ----

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
        say(QStringLiteral("info %1").arg(clock.elapsed()));
        const QStringList results = manager.results();
        for (const QString &entry : results)
            say(QStringLiteral("entry ") + entry);
        say(QStringLiteral("done"));
        QCoreApplication::exit(0);
    });
    say(QStringLiteral("bound %1").arg(manager.isBound() ? 1 : 0));
    clock.start();
    manager.startDiscovery();
    say(QStringLiteral("ready"));
    QUdpSocket own;
    if (args.contains(QStringLiteral("own-answer")))
        own.writeDatagram(
            "self\r\n0A-0B-0C-0D-0E-0F\r\n", QHostAddress(QStringLiteral("10.77.0.1")), udpManager::DISCOVERY_PORT);
    QTimer::singleShot(collection + 10000, [] { QCoreApplication::exit(3); });
    return QCoreApplication::exec();
}

// send <hex>...: each datagram to app:30303, 20 ms apart so they arrive in order.
// flood <count> <per 10 ms>: the same valid answer, count times, at the given pace.
int runSender(const QString &mode, const QStringList &args)
{
    QUdpSocket s;
    const QHostAddress app(QStringLiteral("10.77.0.1"));
    if (mode == QLatin1String("send")) {
        for (const QString &hex : args) {
            if (s.writeDatagram(QByteArray::fromHex(hex.toLatin1()), app, udpManager::DISCOVERY_PORT) < 0)
                return 2;
            QThread::msleep(20);
        }
        return 0;
    }
    const int count = args.value(0).toInt();
    const int burst = qMax(1, args.value(1).toInt());
    for (int i = 0; i < count; ++i) {
        s.writeDatagram("flood\r\n02-00-00-00-00-99\r\n", app, udpManager::DISCOVERY_PORT);
        if (i % burst == burst - 1)
            QThread::msleep(10);
    }
    return 0;
}

int runChild(const QStringList &args)
{
    const QString mode = args.value(0);
    if (mode == QLatin1String("client"))
        return runClient(args.mid(1));
    if (mode == QLatin1String("send") || mode == QLatin1String("flood"))
        return runSender(mode, args.mid(1));
    return 2;
}

// ---- parent side ----

struct ChildOutput {
    QStringList lines;
    bool finished = false;

    QStringList entries() const
    {
        QStringList e;
        for (const QString &l : lines)
            if (l.startsWith(QLatin1String("entry ")))
                e << l.mid(6);
        return e;
    }
    QString first(const QString &prefix) const
    {
        for (const QString &l : lines)
            if (l.startsWith(prefix))
                return l;
        return QString();
    }
};

bool run(const QString &program, const QStringList &args, QString *err = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool ok = p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && err)
        *err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed() + p.errorString();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(2000);
    }
    return ok;
}

bool waitForLine(QProcess *p, const QString &line, QStringList *lines, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        while (p->canReadLine()) {
            const QString l = QString::fromLatin1(p->readLine()).trimmed();
            lines->append(l);
            if (l == line)
                return true;
        }
        if (p->state() == QProcess::NotRunning && !p->canReadLine())
            return false;
        p->waitForReadyRead(100);
    }
    return false;
}

} // namespace

class tst_udpManager : public QObject
{
    Q_OBJECT

private slots:
    void answerEntry_data();
    void answerEntry();
    void queryBytes();

    void noAnswerAndFailures();
    void twoEmulators();
    void badDatagrams();
    void flood();

    void cleanupTestCase();

private:
    bool setUpNamespaces(QString *reason);
    QString ns(const QString &role) const { return QStringLiteral("nerio-disc-%1-%2").arg(getpid()).arg(role); }
    QStringList childArgs(const QString &role, const QStringList &args) const
    {
        return QStringList { QStringLiteral("netns"), QStringLiteral("exec"), ns(role),
            QCoreApplication::applicationFilePath(), QStringLiteral("--child") }
        + args;
    }
    ChildOutput runClient(const QString &role, const QStringList &args);
    std::unique_ptr<QProcess> startClient(const QStringList &args, QStringList *lines);
    void finishClient(QProcess *p, ChildOutput *out);
    void startEmulator(const QString &role, const QString &mac);

    bool namespacesReady = false;
    QString namespaceFailure;
    QStringList created;
    std::vector<std::unique_ptr<QProcess>> emulators;
};

void tst_udpManager::answerEntry_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("entry");

    const QString ok = QStringLiteral("10.0.0.7 (00-0A-1B-2C-3D-4E)");
    QTest::newRow("two CR LF lines") << QByteArray("NERIO DVB-T\r\n00-0A-1B-2C-3D-4E\r\n") << ok;
    QTest::newRow("two LF lines, last part empty") << QByteArray("NERIO\n00-0A-1B-2C-3D-4E\n") << ok;
    QTest::newRow("third part not empty") << QByteArray("NERIO\r\n00-0A-1B-2C-3D-4E\r\nrev 3") << ok;
    QTest::newRow("MAC inside the second line")
        << QByteArray("NERIO\r\nMAC=00-0A-1B-2C-3D-4E;\r\n") << QStringLiteral("10.0.0.7 (MAC=00-0A-1B-2C-3D-4E;)");
    QTest::newRow("CR only inside lines") << QByteArray("NE\rRIO\n00-0A-1B-2C-\r3D-4E\n") << ok;
    QTest::newRow("text after a NUL ignored") << bytes("NERIO\r\n00-0A-1B-2C-3D-4E\r\n\0\nmore\n") << ok;
    QTest::newRow("lower-case MAC") << QByteArray("NERIO\r\n00-0a-1b-2c-3d-4e\r\n") << QString();
    QTest::newRow("one line feed (two parts)") << QByteArray("NERIO\r\n00-0A-1B-2C-3D-4E") << QString();
    QTest::newRow("three line feeds (four parts)") << QByteArray("NERIO\n00-0A-1B-2C-3D-4E\nrev\n") << QString();
    QTest::newRow("MAC on the first line") << QByteArray("00-0A-1B-2C-3D-4E\r\nNERIO\r\n") << QString();
    QTest::newRow("five pairs") << QByteArray("NERIO\r\n00-0A-1B-2C-3D\r\n") << QString();
    QTest::newRow("colons") << QByteArray("NERIO\r\n00:0A:1B:2C:3D:4E\r\n") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("NUL first") << bytes("\0NERIO\r\n00-0A-1B-2C-3D-4E\r\n") << QString();
    QTest::newRow("our own query") << udpManager::query() << QString();
    QTest::newRow("64 KiB of line feeds") << QByteArray(65507, '\n') << QString();
}

void tst_udpManager::answerEntry()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, entry);
    QCOMPARE(udpManager::answerEntry(datagram, QHostAddress(QStringLiteral("10.0.0.7"))), entry);
}

void tst_udpManager::queryBytes()
{
    const QByteArray expected("\x44\x69\x73\x63\x6f\x76\x65\x72\x79\x3a\x20\x77\x68\x6f\x20\x69\x73\x20\x6f\x75\x74\x20"
                              "\x74\x68\x65\x72\x65\x20\x3f\x0d");
    QCOMPARE(udpManager::query().size(), 30);
    QCOMPARE(udpManager::query(), expected);
}

bool tst_udpManager::setUpNamespaces(QString *reason)
{
    if (namespacesReady)
        return true;
    if (!namespaceFailure.isEmpty()) {
        *reason = namespaceFailure;
        return false;
    }
    if (geteuid() != 0) {
        namespaceFailure
            = QStringLiteral("network namespaces need root (ip netns add), running as uid %1").arg(geteuid());
        *reason = namespaceFailure;
        return false;
    }
    // Namespaces left by a run that was killed: their owner process is gone.
    QProcess list;
    list.start(QStringLiteral("ip"), { QStringLiteral("netns"), QStringLiteral("list") });
    list.waitForFinished(5000);
    const QRegularExpression stale(QStringLiteral("^(nerio-disc-(\\d+)-\\w+)"));
    const QStringList listed = QString::fromLocal8Bit(list.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : listed) {
        const QRegularExpressionMatch m = stale.match(line);
        if (m.hasMatch() && ::kill(m.captured(2).toInt(), 0) != 0 && errno == ESRCH)
            run(QStringLiteral("ip"), { QStringLiteral("netns"), QStringLiteral("del"), m.captured(1) });
    }

    QString err;
    const QString app = ns(QStringLiteral("app"));
    const QString d1 = ns(QStringLiteral("dev1"));
    const QString d2 = ns(QStringLiteral("dev2"));
    for (const QString &n : { app, d1, d2 }) {
        if (!run(QStringLiteral("ip"), { QStringLiteral("netns"), QStringLiteral("add"), n }, &err)) {
            namespaceFailure = QStringLiteral("cannot create network namespace %1: %2").arg(n, err);
            *reason = namespaceFailure;
            return false;
        }
        created << n;
    }
    const QStringList steps {
        "-n " + app + " link add br0 type bridge",
        "-n " + app + " link add va1 type veth peer name vd1 netns " + d1,
        "-n " + app + " link add va2 type veth peer name vd2 netns " + d2,
        "-n " + app + " link set va1 master br0",
        "-n " + app + " link set va2 master br0",
        // Set without a broadcast address, as some hosts are configured.
        "-n " + app + " addr add 10.77.0.1/24 dev br0",
        "-n " + d1 + " addr add 10.77.0.2/24 brd + dev vd1",
        "-n " + d2 + " addr add 10.77.0.3/24 brd + dev vd2",
        "-n " + app + " link set lo up",
        "-n " + d1 + " link set lo up",
        "-n " + d2 + " link set lo up",
        "-n " + app + " link set br0 up",
        "-n " + app + " link set va1 up",
        "-n " + app + " link set va2 up",
        "-n " + d1 + " link set vd1 up",
        "-n " + d2 + " link set vd2 up",
        "-n " + app + " route add 255.255.255.255/32 dev br0",
    };
    for (const QString &step : steps) {
        if (!run(QStringLiteral("ip"), step.split(QLatin1Char(' ')), &err)) {
            namespaceFailure = QStringLiteral("ip %1 failed: %2").arg(step, err);
            *reason = namespaceFailure;
            return false;
        }
    }
    namespacesReady = true;
    return true;
}

ChildOutput tst_udpManager::runClient(const QString &role, const QStringList &args)
{
    ChildOutput out;
    QProcess p;
    p.start(QStringLiteral("ip"), childArgs(role, QStringList { QStringLiteral("client") } + args));
    out.finished = p.waitForFinished(20000) && p.exitCode() == 0;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(2000);
    }
    out.lines = QString::fromLatin1(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return out;
}

std::unique_ptr<QProcess> tst_udpManager::startClient(const QStringList &args, QStringList *lines)
{
    auto p = std::make_unique<QProcess>();
    p->start(QStringLiteral("ip"), childArgs(QStringLiteral("app"), QStringList { QStringLiteral("client") } + args));
    if (!waitForLine(p.get(), QStringLiteral("ready"), lines, 10000))
        return nullptr;
    return p;
}

void tst_udpManager::finishClient(QProcess *p, ChildOutput *out)
{
    out->finished = waitForLine(p, QStringLiteral("done"), &out->lines, 20000);
    if (!p->waitForFinished(5000)) {
        p->kill();
        p->waitForFinished(2000);
    }
}

void tst_udpManager::startEmulator(const QString &role, const QString &mac)
{
    const QString emulator = qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
    auto p = std::make_unique<QProcess>();
    p->start(QStringLiteral("ip"),
        { QStringLiteral("netns"), QStringLiteral("exec"), ns(role), emulator, QStringLiteral("--discovery"),
            QStringLiteral("--mac"), mac, QStringLiteral("--product-name"), QStringLiteral("NERIO DVB-T") });
    QStringList lines;
    const bool ready = waitForLine(p.get(), QStringLiteral("ready"), &lines, 10000);
    emulators.push_back(std::move(p));
    QVERIFY2(ready, qPrintable(QStringLiteral("emulator in %1 not ready: %2").arg(role, lines.join(QLatin1Char('|')))));
}

void tst_udpManager::noAnswerAndFailures()
{
    QString reason;
    if (!setUpNamespaces(&reason))
        QSKIP(qPrintable(reason));

    // Nobody answers: info() still comes after the collection time, with nothing listed.
    ChildOutput quiet = runClient(QStringLiteral("app"), { QStringLiteral("1000") });
    QVERIFY2(quiet.finished, qPrintable(quiet.lines.join(QLatin1Char('|'))));
    QCOMPARE(quiet.first(QStringLiteral("bound")), QStringLiteral("bound 1"));
    QCOMPARE(quiet.first(QStringLiteral("error")), QString());
    QCOMPARE(quiet.entries(), QStringList());
    const int elapsed = quiet.first(QStringLiteral("info ")).mid(5).toInt();
    QVERIFY2(elapsed >= 950 && elapsed < 3000, qPrintable(quiet.first(QStringLiteral("info "))));

    // dev1 has no route for 255.255.255.255: the query cannot leave, and the owner is told so.
    ChildOutput unrouted = runClient(QStringLiteral("dev1"), { QStringLiteral("300") });
    QVERIFY(unrouted.finished);
    QCOMPARE(unrouted.first(QStringLiteral("error")), QStringLiteral("error 1"));
    QCOMPARE(unrouted.entries(), QStringList());

    // Another program holds the port exclusively: reported, and info() still ends the wait.
    ChildOutput held = runClient(QStringLiteral("app"), { QStringLiteral("300"), QStringLiteral("hold-port") });
    QVERIFY(held.finished);
    QCOMPARE(held.first(QStringLiteral("bound")), QStringLiteral("bound 0"));
    QCOMPARE(held.first(QStringLiteral("error")), QStringLiteral("error 0"));
    QCOMPARE(held.entries(), QStringList());
}

void tst_udpManager::twoEmulators()
{
    QString reason;
    if (!setUpNamespaces(&reason))
        QSKIP(qPrintable(reason));
    const QString emulator = qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
    if (!QFileInfo(emulator).isExecutable())
        QSKIP(qPrintable(QStringLiteral("nerio-emulator is not built (%1)").arg(emulator)));

    startEmulator(QStringLiteral("dev1"), QStringLiteral("02-4E-52-00-00-02"));
    if (QTest::currentTestFailed())
        return;
    startEmulator(QStringLiteral("dev2"), QStringLiteral("02-4E-52-00-00-03"));
    if (QTest::currentTestFailed())
        return;

    // The client also answers itself from its own address: that entry must not appear.
    ChildOutput out = runClient(QStringLiteral("app"), { QStringLiteral("1000"), QStringLiteral("own-answer") });
    QVERIFY2(out.finished, qPrintable(out.lines.join(QLatin1Char('|'))));
    QCOMPARE(out.first(QStringLiteral("error")), QString());
    QStringList entries = out.entries();
    entries.sort();
    QCOMPARE(entries,
        QStringList(
            { QStringLiteral("10.77.0.2 (02-4E-52-00-00-02)"), QStringLiteral("10.77.0.3 (02-4E-52-00-00-03)") }));

    for (auto &p : emulators) {
        p->kill();
        p->waitForFinished(2000);
    }
    emulators.clear();
}

void tst_udpManager::badDatagrams()
{
    QString reason;
    if (!setUpNamespaces(&reason))
        QSKIP(qPrintable(reason));

    QStringList lines;
    std::unique_ptr<QProcess> client = startClient({ QStringLiteral("3000") }, &lines);
    QVERIFY2(client, qPrintable(lines.join(QLatin1Char('|'))));

    QByteArray big("big\r\n01-02-03-04-05-06\r\n");
    big.append(QByteArray(65507 - big.size(), 'x'));
    const QList<QByteArray> datagrams {
        QByteArray(),
        big,
        QByteArray(65507, '\n'),
        bytes("nul\r\n11-12-13-14-15-16\r\n\0\nextra\n"),
        QByteArray("lc\r\n0a-0b-0c-0d-0e-0f\r\n"),
        QByteArray("two\r\n21-22-23-24-25-26"),
        QByteArray("a\nB1-B2-B3-B4-B5-B6\nc\n"),
        QByteArray("ok\n31-32-33-34-35-36\n"),
        QByteArray("x\r\nMAC: 41-42-43-44-45-46 rev B\r\n"),
    };
    QStringList hex { QStringLiteral("send") };
    for (const QByteArray &d : datagrams)
        hex << QString::fromLatin1(d.toHex());
    QString err;
    QVERIFY2(run(QStringLiteral("ip"), childArgs(QStringLiteral("dev1"), hex), &err), qPrintable(err));

    ChildOutput out;
    out.lines = lines;
    finishClient(client.get(), &out);
    QVERIFY2(out.finished, qPrintable(out.lines.join(QLatin1Char('|'))));
    const QString from = DEV1.toString();
    QCOMPARE(out.entries(),
        QStringList({ from + " (01-02-03-04-05-06)", from + " (11-12-13-14-15-16)", from + " (31-32-33-34-35-36)",
            from + " (MAC: 41-42-43-44-45-46 rev B)" }));
}

void tst_udpManager::flood()
{
    QString reason;
    if (!setUpNamespaces(&reason))
        QSKIP(qPrintable(reason));

    QStringList lines;
    std::unique_ptr<QProcess> client = startClient({ QStringLiteral("2500") }, &lines);
    QVERIFY2(client, qPrintable(lines.join(QLatin1Char('|'))));
    // 10 000 answers in about one second, in bursts of 100 every 10 ms.
    QString err;
    QVERIFY2(run(QStringLiteral("ip"),
                 childArgs(QStringLiteral("dev1"),
                     { QStringLiteral("flood"), QStringLiteral("10000"), QStringLiteral("100") }),
                 &err),
        qPrintable(err));
    ChildOutput out;
    out.lines = lines;
    finishClient(client.get(), &out);
    QVERIFY(out.finished);
    const QStringList entries = out.entries();
    QCOMPARE(entries.size(), udpManager::MAX_RESULTS);
    QCOMPARE(entries.first(), DEV1.toString() + QStringLiteral(" (02-00-00-00-00-99)"));
    const int elapsed = out.first(QStringLiteral("info ")).mid(5).toInt();
    QVERIFY2(elapsed >= 2375 && elapsed < 4500, qPrintable(out.first(QStringLiteral("info "))));
}

void tst_udpManager::cleanupTestCase()
{
    for (auto &p : emulators) {
        p->kill();
        p->waitForFinished(2000);
    }
    emulators.clear();
    for (const QString &n : qAsConst(created))
        run(QStringLiteral("ip"), { QStringLiteral("netns"), QStringLiteral("del"), n });
    created.clear();
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return runChild(QCoreApplication::arguments().mid(2));
    tst_udpManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_udpmanager.moc"
