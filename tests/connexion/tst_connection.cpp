// The device connection: login recogniser, serial framing over a real pseudo-terminal, telnet against a
// loopback server, the loss of a serial device, and the recent-address file.

#include "connection.h"
#include "loginanswers.h"
#include "ptypair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Every message and login request of a link, in emission order: "message:<text>" and "log:<request>".
QStringList *recordLink(Connection &link, QStringList *events)
{
    QObject::connect(&link, &Connection::message, [events](const QString &m) { *events << QStringLiteral("message:") + m; });
    QObject::connect(&link, &Connection::logProcess, [events](Connection::LogRequest r) { *events << QStringLiteral("log:%1").arg(int(r)); });
    return events;
}

} // namespace

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void recogniserFollowsLoginState_data();
    void recogniserFollowsLoginState();

    void serialLoginDialogue();
    void serialMessageSplitAcrossReads();
    void serialDeviceVanishingAndMissing();
    void serialExitWaitsAboutOneSecondOnSilentDevice();
    void serialBufferIsCapped();

    void telnetLoginDialogueAndRecentAddress();
    void recentAddressesOrderDuplicatesAndLongLines();

private:
    QTemporaryDir workDir;
    QString previousDir;
};

void tst_Connection::initTestCase()
{
    qRegisterMetaType<Connection::ConnectionError>();
    QVERIFY(workDir.isValid());
}

void tst_Connection::init()
{
    // recentIP.txt lives in the working directory.
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
    QFile::remove(Connection::recentIPFileName());
}

void tst_Connection::cleanup()
{
    QDir::setCurrent(previousDir);
}

void tst_Connection::recogniserFollowsLoginState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("stateAfter");

    const int login = Connection::WaitLogin, password = Connection::WaitPassword, result = Connection::WaitResult;
    QTest::newRow("login prompt while waiting login") << login << "\nLogin:" << QStringList { "log:0" } << login;
    QTest::newRow("password prompt while waiting login") << login << "Password:" << QStringList {} << login;
    QTest::newRow("login prompt while waiting password") << password << "Login:" << QStringList {} << password;
    QTest::newRow("password prompt while waiting password") << password << "Password:" << QStringList { "log:1" } << password;
    QTest::newRow("denied and login while waiting password") << password << "Access denied\nLogin:" << QStringList { "log:3" } << password;
    QTest::newRow("denied while waiting result") << result << "Access denied" << QStringList { "log:3" } << result;
    QTest::newRow("prompts are case-sensitive") << login << "login:" << QStringList {} << login;
    QTest::newRow("other text dropped") << result << "Welcome" << QStringList {} << result;
    // The message goes before Logged, so a slot of Logged already sees the engine's first answer handled.
    QTest::newRow("logged in") << result << "Logged in successfully\n" << QStringList { "message:Logged in successfully\n", "log:2" } << int(Connection::LoggedIn);
    QTest::newRow("once logged in everything passes") << int(Connection::LoggedIn) << "Login:" << QStringList { "message:Login:" } << int(Connection::LoggedIn);
}

void tst_Connection::recogniserFollowsLoginState()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(QStringList, events);
    QFETCH(int, stateAfter);

    Connection link(nullptr, true);
    link.setLogState(state);
    QStringList seen;
    recordLink(link, &seen);
    link.incomingData(text);
    QCOMPARE(seen, events);
    QCOMPARE(link.logState(), stateAfter);
}

void tst_Connection::serialLoginDialogue()
{
    PtyPair device;
    QVERIFY(device.isValid());
    Connection link(nullptr, true);
    QVERIFY(!link.isConnected(0) && !link.isConnected(2));
    QSignalSpy connectedSpy(&link, &Connection::connected);
    QStringList events;
    recordLink(link, &events);
    answerLogin(link);

    link.connectCOMToHost(device.slavePath());
    QCOMPARE(connectedSpy.count(), 1);
    QVERIFY(link.isConnected(0) && link.isConnected(2) && !link.isConnected(1));

    QByteArray written;
    QVERIFY(device.write(QByteArray("\r\nLogin:\0", 9)));
    QTRY_COMPARE_WITH_TIMEOUT(written += device.readAvailable(), QByteArray("admin\r\n"), 3000);
    QVERIFY(device.write(QByteArray("Password:\0", 10)));
    QTRY_COMPARE_WITH_TIMEOUT(written += device.readAvailable(), QByteArray("admin\r\nkorva\r\n"), 3000);
    QVERIFY(device.write(QByteArray("Logged in successfully\r\n\0", 25)));
    // Carriage returns and the framing NUL are not part of the text.
    QTRY_COMPARE_WITH_TIMEOUT(events, (QStringList { "log:0", "log:1", "message:Logged in successfully\n", "log:2" }), 3000);
}

void tst_Connection::serialMessageSplitAcrossReads()
{
    PtyPair device;
    QVERIFY(device.isValid());
    Connection link(nullptr, false);
    QStringList events;
    link.connectCOMToHost(device.slavePath());
    recordLink(link, &events);

    // Delivered in pieces with pauses, so the port sees several reads; only the NUL ends the message.
    const QByteArray reply("Product type : DVB-T\r\nProduct version : 2.1\r\n\r\n");
    for (int i = 0; i < reply.size(); i += 7) {
        QVERIFY(device.write(reply.mid(i, 7)));
        QTest::qWait(15);
    }
    QCOMPARE(events, QStringList {});
    QVERIFY(device.write(QByteArray(1, '\0')));
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, 3000);
    // A character whose bytes arrive in two reads is decoded whole.
    QVERIFY(device.write(QByteArray("B\xc3")));
    QTest::qWait(30);
    QVERIFY(device.write(QByteArray("\xaata\0", 5)));
    QTRY_COMPARE_WITH_TIMEOUT(events, (QStringList { "message:Product type : DVB-T\nProduct version : 2.1\n\n",
        QString::fromUtf8("message:B\xc3\xaata") }), 3000);
}

void tst_Connection::serialDeviceVanishingAndMissing()
{
    Connection link(nullptr, true);
    QSignalSpy errorSpy(&link, &Connection::error);
    QSignalSpy disconnectedSpy(&link, &Connection::disconnected);
    link.connectCOMToHost(QStringLiteral("/dev/does-not-exist-nerio"));
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0).at(0).value<Connection::ConnectionError>(), Connection::ComPortUnavailable);
    QVERIFY(!link.isConnected(0));

    auto device = std::make_unique<PtyPair>();
    QVERIFY(device->isValid());
    link.connectCOMToHost(device->slavePath());
    QVERIFY(link.isConnected(0));
    link.setLogState(Connection::WaitResult);
    device.reset();
    QTRY_COMPARE_WITH_TIMEOUT(disconnectedSpy.count(), 1, 3000);
    QVERIFY(!link.isConnected(0));
    QCOMPARE(link.logState(), int(Connection::WaitLogin));
    // The error flood must not produce further reports.
    QTest::qWait(200);
    QCOMPARE(disconnectedSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 1);

    // A new device can be opened afterwards.
    PtyPair replacement;
    QVERIFY(replacement.isValid());
    link.connectCOMToHost(replacement.slavePath());
    QVERIFY(link.isConnected(0));
}

void tst_Connection::serialExitWaitsAboutOneSecondOnSilentDevice()
{
    PtyPair device;
    QVERIFY(device.isValid());
    Connection link(nullptr, false);
    QSignalSpy disconnectedSpy(&link, &Connection::disconnected);
    link.connectCOMToHost(device.slavePath());

    QElapsedTimer timer;
    timer.start();
    link.disconnectFromHost(true);
    QVERIFY2(timer.elapsed() >= 950 && timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(device.readAvailable(), QByteArray("exit\r\n"));
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!link.isConnected(0));
}

void tst_Connection::serialBufferIsCapped()
{
    PtyPair device;
    QVERIFY(device.isValid());
    Connection link(nullptr, false);
    QSignalSpy messageSpy(&link, &Connection::message);
    link.connectCOMToHost(device.slavePath());

    // More than the cap without a NUL: dropped, and the next message arrives alone.
    const QByteArray noise(64 * 1024, 'n');
    for (int i = 0; i < (Connection::MAX_COM_BUFFER / noise.size()) + 2; ++i) {
        QVERIFY(device.write(noise));
        QTest::qWait(1);
    }
    QTest::qWait(100);
    QVERIFY(device.write(QByteArray("OK\r\n\0", 5)));
    QTRY_COMPARE_WITH_TIMEOUT(messageSpy.count(), 1, 5000);
    const QString text = messageSpy.at(0).at(0).toString();
    QVERIFY2(text.size() < Connection::MAX_COM_BUFFER && text.endsWith(QLatin1String("OK\n")), "the message still carries the discarded input");
}

void tst_Connection::telnetLoginDialogueAndRecentAddress()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    Connection link(nullptr, true);
    QSignalSpy errorSpy(&link, &Connection::error);
    QSignalSpy connectedSpy(&link, &Connection::connected);
    QSignalSpy disconnectedSpy(&link, &Connection::disconnected);
    QStringList events;
    recordLink(link, &events);

    link.connectIPToHost(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(connectedSpy.count(), 1);
    QVERIFY(link.isConnected(1) && link.isConnected(2) && !link.isConnected(0));
    QVERIFY(server.waitForNewConnection(2000));
    QTcpSocket *device = server.nextPendingConnection();
    device->write(QByteArray("\xff\xfd\x25Login:\0", 10));
    QTRY_COMPARE_WITH_TIMEOUT(events, QStringList { "log:0" }, 3000);
    link.sendData(QStringLiteral("admin\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(device->bytesAvailable() >= 10, 3000);
    QCOMPARE(device->readAll(), QByteArray("\xff\xfc\x25" "admin\r\n"));

    QList<QString> recent;
    link.getIPList(recent);
    QCOMPARE(recent, QList<QString> { QStringLiteral("127.0.0.1") });
    link.disconnectFromHost(false);
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!link.isConnected(1) && !link.isConnected(2));

    // A refused connection is an error and is not remembered.
    QVERIFY(QFile::remove(Connection::recentIPFileName()));
    server.close();
    link.connectIPToHost(QStringLiteral("127.0.0.1"), port);
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
