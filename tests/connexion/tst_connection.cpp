// The device connection: login recogniser, serial framing over a real pseudo-terminal, telnet against a
// loopback server, the loss of a serial device, and the recent-address file. Whole logins, a wrong
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

// A link with every message and login request recorded in emission order as "message:<text>" and
// "log:<request>", and a pseudo-terminal to open it on.
struct Link {
    PtyPair device;
    Connection link;
    QStringList events;

    explicit Link(bool loginRequired)
        : link(nullptr, loginRequired)
    {
        QObject::connect(&link, &Connection::message, [this](const QString &m) { events << "message:" + m; });
        QObject::connect(&link, &Connection::logProcess,
            [this](Connection::LogRequest r) { events << QStringLiteral("log:%1").arg(int(r)); });
    }
    bool openSerial()
    {
        link.connectCOMToHost(device.slavePath());
        return device.isValid() && link.isConnected(0) && link.isConnected(2) && !link.isConnected(1);
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

    void serialFraming();
    void serialDeviceVanishing();

    void telnetLoginDialogueAndRecentAddress();
    void recentAddressesOrderDuplicatesAndLongLines();

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
    row("login prompt while waiting password", password, "Login:", "", password);
    row("denied and login while waiting password", password, "Access denied\nLogin:", "log:3", password);
    row("other text dropped", result, "Welcome", "", result);
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

void tst_Connection::serialFraming()
{
    Link l(false);
    QSignalSpy connectedSpy(&l.link, &Connection::connected);
    QVERIFY(!l.link.isConnected(0) && !l.link.isConnected(2));
    QVERIFY(l.openSerial());
    QCOMPARE(connectedSpy.count(), 1);
    // Delivered in pieces with pauses, so the port sees several reads; only the NUL ends the message.
    const QByteArray reply("Product type : DVB-T\r\nProduct version : 2.1\r\n\r\n");
    for (int i = 0; i < reply.size(); i += 7) {
        QVERIFY(l.device.write(reply.mid(i, 7)));
        QTest::qWait(15);
    }
    QCOMPARE(l.events, QStringList {});
    QVERIFY(l.device.write(QByteArray(1, '\0')));
    QTRY_COMPARE_WITH_TIMEOUT(l.events.size(), 1, 3000);
    // A character whose bytes arrive in two reads is decoded whole.
    QVERIFY(l.device.write(QByteArray("B\xc3")));
    QTest::qWait(30);
    QVERIFY(l.device.write(QByteArray("\xaata\0", 5)));
    QTRY_COMPARE_WITH_TIMEOUT(l.events.size(), 2, 3000);

    // More than the buffer cap without a NUL: dropped, and the next message arrives alone.
    const QByteArray noise(64 * 1024, 'n');
    for (int i = 0; i < (Connection::MAX_COM_BUFFER / noise.size()) + 2; ++i) {
        QVERIFY(l.device.write(noise));
        QTest::qWait(1);
    }
    QTest::qWait(100);
    QVERIFY(l.device.write(QByteArray("OK\r\n\0", 5)));
    QTRY_COMPARE_WITH_TIMEOUT(l.events.size(), 3, 5000);
    QCOMPARE(l.events.mid(0, 2),
        (QStringList { "message:Product type : DVB-T\nProduct version : 2.1\n\n", "message:B\u00eata" }));
    QVERIFY2(l.events.at(2).size() < Connection::MAX_COM_BUFFER && l.events.at(2).endsWith(QLatin1String("OK\n")),
        "the message still carries the discarded input");

    // Leaving sends "exit" and waits about a second for a device that stays silent.
    QSignalSpy disconnectedSpy(&l.link, &Connection::disconnected);
    QElapsedTimer timer;
    timer.start();
    l.link.disconnectFromHost(true);
    QVERIFY2(timer.elapsed() >= 950 && timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(l.device.readAvailable(), QByteArray("exit\r\n"));
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!l.link.isConnected(0));
}

void tst_Connection::serialDeviceVanishing()
{
    Link l(true);
    QSignalSpy errorSpy(&l.link, &Connection::error);
    QSignalSpy disconnectedSpy(&l.link, &Connection::disconnected);
    auto device = std::make_unique<PtyPair>();
    l.link.connectCOMToHost(device->slavePath());
    QVERIFY(l.link.isConnected(0));
    l.link.setLogState(Connection::WaitResult);
    device.reset();
    QTRY_COMPARE_WITH_TIMEOUT(disconnectedSpy.count(), 1, 3000);
    QVERIFY(!l.link.isConnected(0));
    QCOMPARE(l.link.logState(), int(Connection::WaitLogin));
    // The error flood must not produce further reports.
    QTest::qWait(200);
    QCOMPARE(disconnectedSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 0);
    // A new device can be opened afterwards.
    QVERIFY(l.openSerial());
}

void tst_Connection::telnetLoginDialogueAndRecentAddress()
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
    l.link.sendData(QStringLiteral("admin\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(device->bytesAvailable() >= 7, 3000);
    QCOMPARE(device->readAll(), QByteArray("admin\r\n"));

    QList<QString> recent;
    l.link.getIPList(recent);
    QCOMPARE(recent, QList<QString> { QStringLiteral("127.0.0.1") });
    l.link.disconnectFromHost(false);
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!l.link.isConnected(1) && !l.link.isConnected(2));

    // A refused connection is an error and is not remembered.
    QVERIFY(QFile::remove(Connection::recentIPFileName()));
    server.close();
    l.link.connectIPToHost(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0).at(0).value<Connection::ConnectionError>(), Connection::UnknownError);
    QVERIFY(!QFile::exists(Connection::recentIPFileName()));
}

void tst_Connection::recentAddressesOrderDuplicatesAndLongLines()
{
    Connection link(nullptr, true);
    QList<QString> recent { QStringLiteral("kept") };
    link.getIPList(recent); // no file yet: unchanged
    QCOMPARE(recent, QList<QString> { QStringLiteral("kept") });

    link.updateIPList(QStringLiteral("10.0.0.1"));
    link.updateIPList(QStringLiteral("10.0.0.1"));
    link.updateIPList(QStringLiteral("10.0.0.2"));
    QFile file(Connection::recentIPFileName());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.readAll(), QByteArray("10.0.0.1\n10.0.0.2\n"));
    recent.clear();
    link.getIPList(recent);
    QCOMPARE(recent, (QList<QString> { QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1") }));

    // A line longer than an address gives its first 15 characters and ends the reading.
    QVERIFY(file.resize(0) && file.write("10.0.0.1\n192.168.100.200.5\n10.0.0.9\n") > 0);
    file.close();
    recent.clear();
    link.getIPList(recent);
    QCOMPARE(recent, (QList<QString> { QStringLiteral("192.168.100.200"), QStringLiteral("10.0.0.1") }));
}

QTEST_GUILESS_MAIN(tst_Connection)
#include "tst_connection.moc"
