// The device connection: login recogniser, serial framing over a real pseudo-terminal, telnet against a
// loopback server, the loss of a serial device, and the recent-address file.

#include "connection.h"
#include "ptypair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void recogniserFollowsLoginState_data();
    void recogniserFollowsLoginState();
    void loggedPassesMessageBeforeLogged();
    void everyMessagePassesOnceLoggedIn();

    void serialLoginDialogue();
    void serialMessageSplitAcrossReads();
    void serialMissingPortIsReported();
    void serialDeviceVanishing();
    void serialExitWaitsAboutOneSecondOnSilentDevice();
    void serialBufferIsCapped();

    void telnetLoginDialogueAndRecentAddress();
    void telnetErrorsAreMapped();

    void recentAddressesOrderAndDuplicates();
    void recentAddressesTruncateLongLine();
    void isConnectedModes();

private:
    QTemporaryDir workDir;
    QString previousDir;
};

void tst_Connection::initTestCase()
{
    qRegisterMetaType<Connection::LogRequest>();
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
    QTest::addColumn<int>("expected"); // -1: nothing

    QTest::newRow("login prompt while waiting login") << int(Connection::WaitLogin) << "\nLogin:" << int(Connection::LoginRequest);
    QTest::newRow("password prompt while waiting login") << int(Connection::WaitLogin) << "Password:" << -1;
    QTest::newRow("login prompt while waiting password") << int(Connection::WaitPassword) << "Login:" << -1;
    QTest::newRow("password prompt while waiting password") << int(Connection::WaitPassword) << "Password:" << int(Connection::PasswordRequest);
    QTest::newRow("denied and login while waiting password") << int(Connection::WaitPassword) << "Access denied\nLogin:" << int(Connection::LoginError);
    QTest::newRow("denied while waiting result") << int(Connection::WaitResult) << "Access denied" << int(Connection::LoginError);
    QTest::newRow("prompts are case-sensitive") << int(Connection::WaitLogin) << "login:" << -1;
    QTest::newRow("other text dropped") << int(Connection::WaitResult) << "Welcome" << -1;
}

void tst_Connection::recogniserFollowsLoginState()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(int, expected);

    Connection link(nullptr, true);
    link.setLogState(state);
    QSignalSpy logSpy(&link, &Connection::logProcess);
    QSignalSpy messageSpy(&link, &Connection::message);
    link.incomingData(text);
    QCOMPARE(messageSpy.count(), 0);
    if (expected < 0) {
        QCOMPARE(logSpy.count(), 0);
    } else {
        QCOMPARE(logSpy.count(), 1);
        QCOMPARE(int(logSpy.at(0).at(0).value<Connection::LogRequest>()), expected);
    }
}

void tst_Connection::loggedPassesMessageBeforeLogged()
{
    Connection link(nullptr, true);
    link.setLogState(Connection::WaitResult);
    QStringList order;
    connect(&link, &Connection::message, this, [&](const QString &m) { order << QStringLiteral("message:") + m; });
    connect(&link, &Connection::logProcess, this,
        [&](Connection::LogRequest r) { order << QStringLiteral("log:%1").arg(int(r)); });
    link.incomingData(QStringLiteral("Logged in successfully\n"));
    QCOMPARE(order, (QStringList { QStringLiteral("message:Logged in successfully\n"), QStringLiteral("log:2") }));
    QCOMPARE(link.logState(), int(Connection::LoggedIn));
}

void tst_Connection::everyMessagePassesOnceLoggedIn()
{
    Connection link(nullptr, false);
    QSignalSpy logSpy(&link, &Connection::logProcess);
    QSignalSpy messageSpy(&link, &Connection::message);
    link.incomingData(QStringLiteral("Login:"));
    link.incomingData(QStringLiteral("Access denied"));
    QCOMPARE(logSpy.count(), 0);
    QCOMPARE(messageSpy.count(), 2);
    QCOMPARE(messageSpy.at(0).at(0).toString(), QStringLiteral("Login:"));
}

void tst_Connection::serialLoginDialogue()
{
    PtyPair device;
    QVERIFY(device.isValid());
    Connection link(nullptr, true);
    QSignalSpy connectedSpy(&link, &Connection::connected);
    QSignalSpy logSpy(&link, &Connection::logProcess);
    QSignalSpy messageSpy(&link, &Connection::message);

    // Answer the prompts the way the control panel does.
    connect(&link, &Connection::logProcess, this, [&](Connection::LogRequest r) {
        if (r == Connection::LoginRequest) {
            link.sendData(QStringLiteral("admin\r\n"));
            link.setLogState(Connection::WaitPassword);
        } else if (r == Connection::PasswordRequest) {
            link.sendData(QStringLiteral("korva\r\n"));
            link.setLogState(Connection::WaitResult);
        }
    });

    link.connectCOMToHost(device.slavePath());
    QCOMPARE(connectedSpy.count(), 1);
    QVERIFY(link.isConnected(0));

    QVERIFY(device.write(QByteArray("\r\nLogin:\0", 9)));
    QTRY_COMPARE_WITH_TIMEOUT(logSpy.count(), 1, 3000);
    QByteArray written;
    QTRY_COMPARE_WITH_TIMEOUT(written += device.readAvailable(), QByteArray("admin\r\n"), 3000);

    QVERIFY(device.write(QByteArray("Password:\0", 10)));
    QTRY_COMPARE_WITH_TIMEOUT(logSpy.count(), 2, 3000);
    written.clear();
    QTRY_COMPARE_WITH_TIMEOUT(written += device.readAvailable(), QByteArray("korva\r\n"), 3000);

    QVERIFY(device.write(QByteArray("Logged in successfully\r\n\0", 25)));
    QTRY_COMPARE_WITH_TIMEOUT(logSpy.count(), 3, 3000);
    QCOMPARE(logSpy.at(2).at(0).value<Connection::LogRequest>(), Connection::Logged);
    QCOMPARE(messageSpy.count(), 1);
    // Carriage returns and the framing NUL are not part of the text.
    QCOMPARE(messageSpy.at(0).at(0).toString(), QStringLiteral("Logged in successfully\n"));
}

void tst_Connection::serialMessageSplitAcrossReads()
{
    PtyPair device;
    QVERIFY(device.isValid());
    Connection link(nullptr, false);
    QSignalSpy messageSpy(&link, &Connection::message);
    link.connectCOMToHost(device.slavePath());
    QVERIFY(link.isConnected(0));

    const QByteArray reply("Product type : DVB-T\r\nProduct version : 2.1\r\n\r\n");
    // Delivered in pieces with pauses, so the port sees several reads; only the NUL ends the message.
    for (int i = 0; i < reply.size(); i += 7) {
        QVERIFY(device.write(reply.mid(i, 7)));
        QTest::qWait(15);
        QCOMPARE(messageSpy.count(), 0);
    }
    QVERIFY(device.write(QByteArray(1, '\0')));
    QTRY_COMPARE_WITH_TIMEOUT(messageSpy.count(), 1, 3000);
    QCOMPARE(messageSpy.at(0).at(0).toString(),
        QStringLiteral("Product type : DVB-T\nProduct version : 2.1\n\n"));

    // A character whose bytes arrive in two reads is decoded whole.
    QVERIFY(device.write(QByteArray("B\xc3")));
    QTest::qWait(30);
    QVERIFY(device.write(QByteArray("\xaata\0", 5)));
    QTRY_COMPARE_WITH_TIMEOUT(messageSpy.count(), 2, 3000);
    QCOMPARE(messageSpy.at(1).at(0).toString(), QString::fromUtf8("B\xc3\xaata"));
}

void tst_Connection::serialMissingPortIsReported()
{
    Connection link(nullptr, true);
    QSignalSpy errorSpy(&link, &Connection::error);
    QSignalSpy connectedSpy(&link, &Connection::connected);
    link.connectCOMToHost(QStringLiteral("/dev/does-not-exist-nerio"));
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0).at(0).value<Connection::ConnectionError>(), Connection::ComPortUnavailable);
    QCOMPARE(connectedSpy.count(), 0);
    QVERIFY(!link.isConnected(0));
}

void tst_Connection::serialDeviceVanishing()
{
    auto device = std::make_unique<PtyPair>();
    QVERIFY(device->isValid());
    const QString path = device->slavePath();
    Connection link(nullptr, true);
    QSignalSpy disconnectedSpy(&link, &Connection::disconnected);
    link.connectCOMToHost(path);
    QVERIFY(link.isConnected(0));

    device.reset();
    QTRY_COMPARE_WITH_TIMEOUT(disconnectedSpy.count(), 1, 3000);
    QVERIFY(!link.isConnected(0));
    QCOMPARE(link.logState(), int(Connection::WaitLogin));
    // The error flood must not produce further reports.
    QTest::qWait(200);
    QCOMPARE(disconnectedSpy.count(), 1);

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
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 950 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(device.readAvailable(), QByteArray("exit\r\n"));
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!link.isConnected(0));
    QCOMPARE(link.logState(), int(Connection::WaitLogin));
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
    QVERIFY2(messageSpy.at(0).at(0).toString().size() < Connection::MAX_COM_BUFFER,
        "the message still carries the discarded input");
    QVERIFY(messageSpy.at(0).at(0).toString().endsWith(QStringLiteral("OK\n")));
}

void tst_Connection::telnetLoginDialogueAndRecentAddress()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    Connection link(nullptr, true);
    QSignalSpy connectedSpy(&link, &Connection::connected);
    QSignalSpy logSpy(&link, &Connection::logProcess);
    QSignalSpy disconnectedSpy(&link, &Connection::disconnected);

    link.connectIPToHost(QStringLiteral("127.0.0.1"), server.serverPort());
    QCOMPARE(connectedSpy.count(), 1);
    QVERIFY(link.isConnected(1));
    QVERIFY(link.isConnected(2));
    QVERIFY(server.waitForNewConnection(2000));
    QTcpSocket *device = server.nextPendingConnection();

    device->write(QByteArray("\xff\xfd\x25Login:\0", 10));
    QTRY_COMPARE_WITH_TIMEOUT(logSpy.count(), 1, 3000);
    QCOMPARE(logSpy.at(0).at(0).value<Connection::LogRequest>(), Connection::LoginRequest);
    link.sendData(QStringLiteral("admin\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(device->bytesAvailable() >= 10, 3000);
    QCOMPARE(device->readAll(), QByteArray("\xff\xfc\x25" "admin\r\n"));

    QList<QString> recent;
    link.getIPList(recent);
    QCOMPARE(recent, QList<QString> { QStringLiteral("127.0.0.1") });

    link.disconnectFromHost(false);
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!link.isConnected(1));
    QVERIFY(!link.isConnected(2));
}

void tst_Connection::telnetErrorsAreMapped()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    Connection link(nullptr, true);
    QSignalSpy errorSpy(&link, &Connection::error);
    link.connectIPToHost(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0).at(0).value<Connection::ConnectionError>(), Connection::UnknownError);

    link.handleTelnetError(QAbstractSocket::HostNotFoundError);
    link.handleTelnetError(QAbstractSocket::SocketTimeoutError);
    QCOMPARE(errorSpy.at(1).at(0).value<Connection::ConnectionError>(), Connection::HostUnreachable);
    QCOMPARE(errorSpy.at(2).at(0).value<Connection::ConnectionError>(), Connection::ConnectionTimeout);
    QVERIFY(QFile::exists(Connection::recentIPFileName()) == false);
}

void tst_Connection::recentAddressesOrderAndDuplicates()
{
    Connection link(nullptr, true);
    QList<QString> list { QStringLiteral("kept") };
    link.getIPList(list); // no file yet: unchanged
    QCOMPARE(list, QList<QString> { QStringLiteral("kept") });

    link.updateIPList(QStringLiteral("10.0.0.1"));
    link.updateIPList(QStringLiteral("10.0.0.1"));
    link.updateIPList(QStringLiteral("10.0.0.2"));
    QFile file(Connection::recentIPFileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("10.0.0.1\n10.0.0.2\n"));

    QList<QString> recent;
    link.getIPList(recent);
    QCOMPARE(recent, (QList<QString> { QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1") }));
}

void tst_Connection::recentAddressesTruncateLongLine()
{
    QFile file(Connection::recentIPFileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("10.0.0.1\n192.168.100.200.5\n10.0.0.9\n");
    file.close();

    Connection link(nullptr, true);
    QList<QString> recent;
    link.getIPList(recent);
    // The long line gives its first 15 characters and ends the reading.
    QCOMPARE(recent, (QList<QString> { QStringLiteral("192.168.100.200"), QStringLiteral("10.0.0.1") }));

    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("10.0.0.1\n\n10.0.0.9\n");
    file.close();
    recent.clear();
    link.getIPList(recent);
    QCOMPARE(recent, QList<QString> { QStringLiteral("10.0.0.1") });
}

void tst_Connection::isConnectedModes()
{
    PtyPair device;
    QVERIFY(device.isValid());
    Connection link(nullptr, true);
    QVERIFY(!link.isConnected(0));
    QVERIFY(!link.isConnected(1));
    QVERIFY(!link.isConnected(2));
    link.connectCOMToHost(device.slavePath());
    QVERIFY(link.isConnected(0));
    QVERIFY(!link.isConnected(1));
    QVERIFY(link.isConnected(2));
    QVERIFY(!link.isConnected(7));
}

QTEST_GUILESS_MAIN(tst_Connection)
#include "tst_connection.moc"
