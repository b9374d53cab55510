// The device connection: login recogniser, serial framing over a real pseudo-terminal with the loss of
// the device, telnet against a loopback server, and the recent-address file. Whole logins, a wrong
// password and a missing port run through the Configuration page tests; telnet option bytes in
// tst_qtelnetperso.

#include "connection.h"
#include "ptypair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace
{
// Warnings of the code under test, collected while a test waits for one.
QStringList warnings;
void keepWarnings(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtWarningMsg)
        warnings << text;
}
} // namespace

// A link with every message and login request recorded in emission order as "message:<text>" and
// "log:<request>".
struct Link {
    Connection link;
    QStringList events;

    explicit Link(bool loginRequired)
        : link(nullptr, loginRequired)
    {
        QObject::connect(&link, &Connection::message, [this](const QString &m) { events << "message:" + m; });
        QObject::connect(&link, &Connection::logProcess,
            [this](Connection::LogRequest r) { events << QStringLiteral("log:%1").arg(int(r)); });
    }
};

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QFile::remove(Connection::recentIPFileName()); }

    void recogniserFollowsLoginState_data();
    void recogniserFollowsLoginState();

    void serialFramingLossAndExit();
    void telnetDialogueAndRecentAddresses();

private:
    QTemporaryDir workDir;
};

void tst_Connection::initTestCase()
{
    qRegisterMetaType<Connection::ConnectionError>();
    // recentIP.txt lives in the working directory.
    QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
}

void tst_Connection::recogniserFollowsLoginState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("events"); // split at '|'
    QTest::addColumn<int>("stateAfter");
    const auto row = [](const char *name, int state, const char *text, const char *events, int after) {
        QTest::newRow(name) << state << QString(text) << QString(events) << after;
    };

    const int login = Connection::WaitLogin, password = Connection::WaitPassword, result = Connection::WaitResult;
    const int in = Connection::LoggedIn;
    row("password prompt while waiting login", login, "Password:", "", login);
    row("denied and login while waiting password", password, "Access denied\nLogin:", "log:3", password);
    // The message goes before Logged, so a slot of Logged already sees the engine's first answer handled.
    row("logged in", result, "Logged in successfully\n", "message:Logged in successfully\n|log:2", in);
    row("once logged in everything passes", in, "Login:", "message:Login:", in);
}

void tst_Connection::recogniserFollowsLoginState()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(QString, events);
    QFETCH(int, stateAfter);

    Link l(true);
    l.link.setLogState(state);
    l.link.incomingData(text);
    QCOMPARE(l.events, events.split(QLatin1Char('|'), Qt::SkipEmptyParts));
    QCOMPARE(l.link.logState(), stateAfter);
}

// The serial framing itself is fuzzed (fuzz_serialframing); here its wiring into a real port.
void tst_Connection::serialFramingLossAndExit()
{
    Link l(true);
    QSignalSpy connectedSpy(&l.link, &Connection::connected);
    QSignalSpy disconnectedSpy(&l.link, &Connection::disconnected);
    QSignalSpy errorSpy(&l.link, &Connection::error);
    PtyPair device;
    l.link.connectCOMToHost(device.slavePath());
    QVERIFY(device.isValid() && l.link.isConnected(0) && l.link.isConnected(2) && !l.link.isConnected(1));
    QCOMPARE(connectedSpy.count(), 1);
    l.link.setLogState(Connection::LoggedIn);

    // Delivered in pieces with pauses, a character cut between two of them; only the NUL ends the message.
    for (const QByteArray &piece :
        { QByteArray("Product type : DVB-T\r"), QByteArray("\nName : B\xc3"), QByteArray("\xaata\r\n\r\n") }) {
        QVERIFY(device.write(piece));
        QTest::qWait(30);
    }
    QCOMPARE(l.events, QStringList {});
    QVERIFY(device.write(QByteArray(1, '\0')));
    QTRY_COMPARE_WITH_TIMEOUT(l.events, QStringList { "message:Product type : DVB-T\nName : B\u00eata\n\n" }, 3000);

    // Held input passing 1 MiB without a NUL is thrown away with a warning, however the reads were cut: the
    // byte after the first MiB is the one that passes. The next message then arrives alone.
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarnings);
    const bool written = device.write(QByteArray(1 << 20, 'n')) && device.write("x");
    const bool warned = QTest::qWaitFor([] { return !warnings.isEmpty(); }, 5000);
    qInstallMessageHandler(previous);
    QVERIFY(written && warned);
    QCOMPARE(warnings, QStringList { "Serial input of 1048577 bytes without a message end, discarded" });
    QVERIFY(device.write(QByteArray("OK\r\n\0", 5)));
    QTRY_COMPARE_WITH_TIMEOUT(l.events.size(), 2, 3000);
    QCOMPARE(l.events.last(), QStringLiteral("message:OK\n"));

    // The device vanishes: the link is reported lost once, without an error, and must log in again.
    device.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(disconnectedSpy.count(), 1, 3000);
    QVERIFY(!l.link.isConnected(0));
    QCOMPARE(l.link.logState(), int(Connection::WaitLogin));
    QTest::qWait(200); // the error flood must not produce further reports
    QCOMPARE(disconnectedSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 0);

    // Another device opens; leaving sends "exit" and waits about a second for a device that stays silent.
    PtyPair next;
    l.link.connectCOMToHost(next.slavePath());
    QVERIFY(l.link.isConnected(0));
    QElapsedTimer timer;
    timer.start();
    l.link.disconnectFromHost(true);
    QVERIFY2(timer.elapsed() >= 950 && timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(next.readAvailable(), QByteArray("exit\r\n"));
    QCOMPARE(disconnectedSpy.count(), 2);
    QVERIFY(!l.link.isConnected(0));
}

void tst_Connection::telnetDialogueAndRecentAddresses()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    Link l(true);
    QSignalSpy errorSpy(&l.link, &Connection::error);
    QSignalSpy connectedSpy(&l.link, &Connection::connected);
    QSignalSpy disconnectedSpy(&l.link, &Connection::disconnected);
    l.link.connectIPToHost(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(connectedSpy.count(), 1);
    QVERIFY(l.link.isConnected(1) && l.link.isConnected(2) && !l.link.isConnected(0));
    QVERIFY(server.waitForNewConnection(2000));
    QTcpSocket *device = server.nextPendingConnection();
    device->write(QByteArray("Login:\0", 7));
    QTRY_COMPARE_WITH_TIMEOUT(l.events, QStringList { "log:0" }, 3000);
    l.link.disconnectFromHost(false);
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!l.link.isConnected(1) && !l.link.isConnected(2));

    // The address connected to is remembered once; the list shows the newest first.
    l.link.updateIPList(QStringLiteral("10.0.0.2"));
    l.link.updateIPList(QStringLiteral("127.0.0.1"));
    QFile file(Connection::recentIPFileName());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.readAll(), QByteArray("127.0.0.1\n10.0.0.2\n"));
    QList<QString> recent;
    l.link.getIPList(recent);
    QCOMPARE(recent, (QList<QString> { QStringLiteral("10.0.0.2"), QStringLiteral("127.0.0.1") }));
    // A line longer than an address gives its first 15 characters and ends the reading.
    QVERIFY(file.resize(0) && file.write("10.0.0.1\n192.168.100.200.5\n10.0.0.9\n") > 0);
    file.close();
    recent.clear();
    l.link.getIPList(recent);
    QCOMPARE(recent, (QList<QString> { QStringLiteral("192.168.100.200"), QStringLiteral("10.0.0.1") }));

    // A last line without its line feed (edited by hand) is ended, not merged with the new address; a
    // write cut short (full disk) leaves no part of the address behind.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("10.0.0.1") == 8);
    file.close();
    l.link.updateIPList(QStringLiteral("127.0.0.1"));
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit tight { 24, limit.rlim_max };
    setrlimit(RLIMIT_FSIZE, &tight);
    l.link.updateIPList(QStringLiteral("192.168.100.200"));
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("10.0.0.1\n127.0.0.1\n"));
    file.close();

    // A refused connection is an error and is not remembered.
    QVERIFY(QFile::remove(Connection::recentIPFileName()));
    server.close();
    l.link.connectIPToHost(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0).at(0).value<Connection::ConnectionError>(), Connection::UnknownError);
    QVERIFY(!QFile::exists(Connection::recentIPFileName()));
}

QTEST_GUILESS_MAIN(tst_Connection)
#include "tst_connection.moc"
