// Telnet splitting and command handling, on fed bytes and against a real loopback server.

#include "qtelnetperso.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}
}

class tst_QTelnetPerso : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QAbstractSocket::SocketError>(); }
    void splitting_data();
    void splitting();
    void commandCutByReadIsCompletedByNextRead_data();
    void commandCutByReadIsCompletedByNextRead();
    void textWithoutNulIsHandedUpAfterSilence();
    void authenticationRequestIsRefusedOverTheWire();
    void sendIsSilentWhenNotConnectedOrEmpty();
    void secondConnectIsIgnored();
    void connectFailureReportsSocketError();
    void disconnectEmitsOnce();
};

void tst_QTelnetPerso::splitting_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("DO other option is silent") << bytes({ 255, 253, 24 }) << QStringList();
    QTest::newRow("WILL is silent") << bytes({ 255, 251, 1 }) << QStringList();
    QTest::newRow("escaped 255 dropped") << bytes({ 255, 255 }) << QStringList();
    QTest::newRow("NUL ends a run") << QByteArray("Login:\0x", 8) << QStringList { "Login:", "x" };
    QTest::newRow("leading CR dropped only") << QByteArray("\r\nabc") << QStringList { "\nabc" };
    QTest::newRow("CR NUL pair between runs") << QByteArray("ab\0\r\0cd", 7) << QStringList { "ab", "cd" };
    QTest::newRow("DM skipped at run start") << (bytes({ 242 }) + "OK") << QStringList { "OK" };
    QTest::newRow("command before text") << (bytes({ 255, 253, 1 }) + "Password:") << QStringList { "Password:" };
    QTest::newRow("GA consumes one byte") << (bytes({ 255, 249 }) + "z") << QStringList { "z" };
    QTest::newRow("empty runs emit nothing") << QByteArray("\0\0\0", 3) << QStringList();
}

void tst_QTelnetPerso::splitting()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, messages);

    QTelnetPerso telnet;
    QSignalSpy spy(&telnet, &QTelnetPerso::message);
    telnet.processData(input);
    telnet.flushHeldText();
    QStringList got;
    for (const auto &args : spy)
        got << args.at(0).toString();
    QCOMPARE(got, messages);
}

// A command ending a read must not leak its option byte into the text of the next read.
void tst_QTelnetPerso::commandCutByReadIsCompletedByNextRead_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("IAC | DO opt") << bytes({ 255 }) << (bytes({ 253, 24 }) + "Login:") << QStringList { "Login:" };
    QTest::newRow("IAC DO | opt") << bytes({ 255, 253 }) << (bytes({ 24 }) + "Login:") << QStringList { "Login:" };
    QTest::newRow("text IAC WILL | opt") << (QByteArray("a\0", 2) + bytes({ 255, 251 }))
                                         << (bytes({ 1 }) + "b") << QStringList { "a", "b" };
    QTest::newRow("IAC | IAC escaped") << bytes({ 255 }) << (bytes({ 255 }) + "x") << QStringList { "x" };
    // Text cut by the end of a read waits for its NUL, so a message arrives whole.
    QTest::newRow("reading cut in two") << QByteArray("Code Rate : 5/6\nGuard Int") << QByteArray("erval : 1/4\n\n\0OK\0", 17)
                                        << QStringList { "Code Rate : 5/6\nGuard Interval : 1/4\n\n", "OK" };
    QTest::newRow("answer cut in two") << QByteArray("O") << QByteArray("K\0", 2) << QStringList { "OK" };
    QTest::newRow("character cut by read") << QByteArray("caf\xc3") << QByteArray("\xa9!\0", 3)
                                           << QStringList { QString::fromUtf8("caf\xc3\xa9!") };
}

void tst_QTelnetPerso::commandCutByReadIsCompletedByNextRead()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QStringList, messages);

    QTelnetPerso telnet;
    QSignalSpy spy(&telnet, &QTelnetPerso::message);
    telnet.processData(first);
    telnet.processData(second);
    telnet.flushHeldText();
    QStringList got;
    for (const auto &args : spy)
        got << args.at(0).toString();
    QCOMPARE(got, messages);
}

void tst_QTelnetPerso::textWithoutNulIsHandedUpAfterSilence()
{
    QTelnetPerso telnet;
    QSignalSpy spy(&telnet, &QTelnetPerso::message);
    telnet.processData(QByteArray("Login: "));
    QCOMPARE(spy.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 2000);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Login: "));
    // Nothing is left behind to prefix the next message.
    telnet.processData(QByteArray("Password:\0", 10));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("Password:"));
}

void tst_QTelnetPerso::authenticationRequestIsRefusedOverTheWire()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTelnetPerso telnet;
    QSignalSpy connectedSpy(&telnet, &QTelnetPerso::sockConnected);
    QSignalSpy messageSpy(&telnet, &QTelnetPerso::message);
    telnet.connectToHost(QStringLiteral("127.0.0.1"), server.serverPort());
    QCOMPARE(connectedSpy.count(), 1);
    QVERIFY(telnet.isConnected());
    QVERIFY(server.waitForNewConnection(2000));
    QTcpSocket *device = server.nextPendingConnection();

    // The opening of a device session, then its prompt.
    device->write(bytes({ 255, 253, 37 }) + QByteArray("Login:\0", 7));
    device->flush();
    QTRY_COMPARE_WITH_TIMEOUT(messageSpy.count(), 1, 3000);
    QCOMPARE(messageSpy.at(0).at(0).toString(), QStringLiteral("Login:"));
    QTRY_VERIFY_WITH_TIMEOUT(device->bytesAvailable() >= 3, 3000);
    QCOMPARE(device->readAll(), bytes({ 255, 252, 37 }));

    telnet.sendData(QByteArray("admin\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(device->bytesAvailable() >= 7, 3000);
    QCOMPARE(device->readAll(), QByteArray("admin\r\n"));
}

void tst_QTelnetPerso::sendIsSilentWhenNotConnectedOrEmpty()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTelnetPerso telnet;
    telnet.sendData(QByteArray("early"));
    telnet.connectToHost(QStringLiteral("127.0.0.1"), server.serverPort());
    QVERIFY(server.waitForNewConnection(2000));
    QTcpSocket *device = server.nextPendingConnection();
    telnet.sendData(QByteArray());
    telnet.sendData(QByteArray("x"));
    QTRY_VERIFY_WITH_TIMEOUT(device->bytesAvailable() >= 1, 3000);
    QCOMPARE(device->readAll(), QByteArray("x"));
}

void tst_QTelnetPerso::secondConnectIsIgnored()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTelnetPerso telnet;
    QSignalSpy connectedSpy(&telnet, &QTelnetPerso::sockConnected);
    QSignalSpy errorSpy(&telnet, &QTelnetPerso::errorOnSocket);
    telnet.connectToHost(QStringLiteral("127.0.0.1"), server.serverPort());
    telnet.connectToHost(QStringLiteral("127.0.0.1"), server.serverPort());
    QCOMPARE(connectedSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 0);
    QVERIFY(server.waitForNewConnection(2000));
    QVERIFY(!server.waitForNewConnection(200));
}

void tst_QTelnetPerso::connectFailureReportsSocketError()
{
    // Bind then close, so the port is known to refuse.
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    QTelnetPerso telnet;
    QSignalSpy errorSpy(&telnet, &QTelnetPerso::errorOnSocket);
    telnet.connectToHost(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0).at(0).value<QAbstractSocket::SocketError>(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY(!telnet.isConnected());
}

void tst_QTelnetPerso::disconnectEmitsOnce()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTelnetPerso telnet;
    QSignalSpy disconnectedSpy(&telnet, &QTelnetPerso::sockDisconnected);
    telnet.connectToHost(QStringLiteral("127.0.0.1"), server.serverPort());
    QVERIFY(server.waitForNewConnection(2000));
    telnet.disconnectFromHost();
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!telnet.isConnected());
}

QTEST_GUILESS_MAIN(tst_QTelnetPerso)
#include "tst_qtelnetperso.moc"
