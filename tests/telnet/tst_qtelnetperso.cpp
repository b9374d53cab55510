// Telnet splitting and command handling, on fed bytes and against a real loopback server. The fuzz target
// checks that messages do not depend on how the reads were cut; the rows here keep the cuts that failed.

#include "qtelnetperso.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace
{
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
    void textWithoutNulIsHandedUpAfterSilence();
    void sessionOverTheWire();
};

void tst_QTelnetPerso::splitting_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("NUL ends a run") << QList<QByteArray> { QByteArray("Login:\0x", 8) }
                                    << QStringList { "Login:", "x" };
    QTest::newRow("leading CR dropped only") << QList<QByteArray> { "\r\nabc" } << QStringList { "\nabc" };
    QTest::newRow("CR NUL pair between runs")
        << QList<QByteArray> { QByteArray("ab\0\r\0cd", 7) } << QStringList { "ab", "cd" };
    QTest::newRow("DM skipped at run start") << QList<QByteArray> { bytes({ 242 }) + "OK" } << QStringList { "OK" };
    QTest::newRow("GA consumes one byte") << QList<QByteArray> { bytes({ 255, 249 }) + "z" } << QStringList { "z" };
    // A command ending a read must not leak its option byte into the text of the next read.
    QTest::newRow("IAC | DO opt") << QList<QByteArray> { bytes({ 255 }), bytes({ 253, 24 }) + "Login:" }
                                  << QStringList { "Login:" };
    QTest::newRow("IAC DO | opt") << QList<QByteArray> { bytes({ 255, 253 }), bytes({ 24 }) + "Login:" }
                                  << QStringList { "Login:" };
    QTest::newRow("IAC | IAC escaped") << QList<QByteArray> { bytes({ 255 }), bytes({ 255 }) + "x" }
                                       << QStringList { "x" };
    // Text cut by the end of a read waits for its NUL, so a message arrives whole.
    QTest::newRow("reading cut in two") << QList<QByteArray> { "Code Rate : 5/6\nGuard Int",
        QByteArray("erval : 1/4\n\n\0OK\0", 17) }
                                        << QStringList { "Code Rate : 5/6\nGuard Interval : 1/4\n\n", "OK" };
    QTest::newRow("character cut by read") << QList<QByteArray> { "caf\xc3", QByteArray("\xa9!\0", 3) }
                                           << QStringList { QString::fromUtf8("caf\xc3\xa9!") };
}

void tst_QTelnetPerso::splitting()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, messages);

    QTelnetPerso telnet;
    QSignalSpy spy(&telnet, &QTelnetPerso::message);
    for (const QByteArray &read : reads)
        telnet.processData(read);
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

void tst_QTelnetPerso::sessionOverTheWire()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    QTelnetPerso telnet;
    QSignalSpy connectedSpy(&telnet, &QTelnetPerso::sockConnected);
    QSignalSpy disconnectedSpy(&telnet, &QTelnetPerso::sockDisconnected);
    QSignalSpy errorSpy(&telnet, &QTelnetPerso::errorOnSocket);
    QSignalSpy messageSpy(&telnet, &QTelnetPerso::message);
    telnet.sendData(QByteArray("early")); // not connected: dropped
    telnet.connectToHost(QStringLiteral("127.0.0.1"), port);
    telnet.connectToHost(QStringLiteral("127.0.0.1"), port); // already connected: ignored
    QCOMPARE(connectedSpy.count(), 1);
    QVERIFY(telnet.isConnected());
    QVERIFY(server.waitForNewConnection(2000));
    QTcpSocket *device = server.nextPendingConnection();

    // The opening of a device session, then its prompt: the authentication option is refused.
    device->write(bytes({ 255, 253, 37 }) + QByteArray("Login:\0", 7));
    QTRY_COMPARE_WITH_TIMEOUT(messageSpy.count(), 1, 3000);
    QCOMPARE(messageSpy.at(0).at(0).toString(), QStringLiteral("Login:"));
    telnet.sendData(QByteArray());
    telnet.sendData(QByteArray("admin\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(device->bytesAvailable() >= 10, 3000);
    QCOMPARE(device->readAll(), bytes({ 255, 252, 37 }) + "admin\r\n");
    QVERIFY(!server.waitForNewConnection(100));

    telnet.disconnectFromHost();
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(!telnet.isConnected());
    server.close();
    telnet.connectToHost(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0).at(0).value<QAbstractSocket::SocketError>(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY(!telnet.isConnected());
}

QTEST_GUILESS_MAIN(tst_QTelnetPerso)
#include "tst_qtelnetperso.moc"
