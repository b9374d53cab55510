// The command engine against a scripted console on a pseudo-terminal (lines on the wire, verdicts, queue
// order, re-entrancy, time-outs, a vanishing link, destruction mid-wait) and, without a link, the answer
// recogniser and the status parser fed directly.

#include "commandhandler.h"
#include "connection.h"
#include "fakemodulator.h"
#include "handlerrecorder.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {

using RT = CommandHandler::RequestType;

constexpr int SHORT_TIMEOUT_MS = 150;

// Answers a reading with two lines and a setting with OK, as the console does.
QByteArray politeAnswer(const QByteArray &line)
{
    if (line.startsWith("get"))
        return "first line\nsecond line\n";
    return "OK\n";
}

const QByteArray FULL_STATUS = "IP input status : Locked on 188 bytes packets\n"
                               "ASI input status : No data\n"
                               "Input raw bitrate : 24.128 Mbps\n"
                               "Input net bitrate : 22.000 Mbps\n"
                               "PLL status : Locked on internal\n"
                               "Output status : Overload\n";

} // namespace

// A logged-in serial link to a FakeModulator with a fast engine on it.
struct Rig {
    FakeModulator device;
    Connection connection { nullptr, false };
    QPointer<CommandHandler> handler;
    QStringList log;

    explicit Rig(QObject *parent = nullptr)
    {
        connection.connectCOMToHost(device.portName());
        device.start();
        handler = new CommandHandler(&connection, parent);
        handler->setTimeoutInterval(SHORT_TIMEOUT_MS);
        record(handler, &log);
    }
    ~Rig()
    {
        if (!handler.isNull() && !handler->parent())
            delete handler.data();
    }
    bool ready() const { return device.isValid() && connection.isConnected(0); }
};

class tst_CommandHandler : public QObject
{
    Q_OBJECT

private slots:
    void defaultTimeoutIsFiveSeconds();

    void settingsOnTheWire_data();
    void settingsOnTheWire();
    void readingsReturnAnswerText();
    void sendCommandDirectly();

    void recognition_data();
    void recognition();
    void messageDuringVerdictIsNoSecondVerdict();
    void readingNeedsWholeAnswerInOneMessage();
    void readingDropsCarriageReturns();

    void requestsFromInsideAWaitQueueInArrivalOrder();
    void directCallWhileOutstandingSendsNothing();
    void requestQueuedDuringDirectCallStillRuns();
    void silentDeviceTimesOutInQueueOrder();
    void linkDroppingMidWait();
    void destructionMidWait_data();
    void destructionMidWait();

    void statusParsing_data();
    void statusParsing();
    void statusReadingOnTheWire();
};

void tst_CommandHandler::defaultTimeoutIsFiveSeconds()
{
    Connection connection(nullptr, false);
    CommandHandler handler(&connection, nullptr);
    QCOMPARE(handler.timeoutInterval(), 5000);
    QCOMPARE(handler.engineState(), CommandHandler::Idle);
}

void tst_CommandHandler::settingsOnTheWire_data()
{
    QTest::addColumn<QString>("call"); // int, bool, text, ask
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("line"); // empty: nothing may be sent
    QTest::addColumn<QStringList>("events");

    // Integer settings: index to device word.
    QTest::newRow("code rate 5/6") << "int" << 8 << QVariant(3) << QByteArray("setCodeRate 5/6") << QStringList { "info 0", "int 0 8" };
    QTest::newRow("bandwidth index 3 has no word") << "int" << 3 << QVariant(3) << QByteArray() << QStringList { "info 4", "int 4 3" };
    QTest::newRow("negative index") << "int" << 8 << QVariant(-1) << QByteArray() << QStringList { "info 4", "int 4 8" };
    QTest::newRow("integer for a boolean setting") << "int" << 6 << QVariant(1) << QByteArray() << QStringList { "info 4", "bool 4 6" };
    // Boolean settings.
    QTest::newRow("output ON") << "bool" << 6 << QVariant(true) << QByteArray("setOutputState ON") << QStringList { "info 0", "bool 0 6" };
    QTest::newRow("multicast") << "bool" << 11 << QVariant(false) << QByteArray("setIPAddressingMethod multicast") << QStringList { "info 0", "bool 0 11" };
    QTest::newRow("flag for an integer setting") << "bool" << 8 << QVariant(true) << QByteArray() << QStringList { "info 4", "int 4 8" };
    // Text settings go out unchanged.
    QTest::newRow("frequency") << "text" << 5 << QVariant("474000") << QByteArray("setOutputFrequency 474000") << QStringList { "info 0", "text 0 5" };
    QTest::newRow("unicast address is never sent") << "text" << 13 << QVariant("10.0.0.9") << QByteArray() << QStringList { "info 3" };
    QTest::newRow("line break in a value") << "text" << 5 << QVariant("474000\nsetOutputState OFF") << QByteArray() << QStringList { "info 4", "text 4 5" };
    // Requests without a value.
    QTest::newRow("setting queued without value") << "ask" << 8 << QVariant() << QByteArray() << QStringList { "info 4", "int 4 8" };
    QTest::newRow("type above the table") << "ask" << 25 << QVariant() << QByteArray() << QStringList { "info 3" };
    QTest::newRow("negative type") << "ask" << -1 << QVariant() << QByteArray() << QStringList { "info 3" };
}

void tst_CommandHandler::settingsOnTheWire()
{
    QFETCH(QString, call);
    QFETCH(int, type);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, line);
    QFETCH(QStringList, events);

    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setResponder(politeAnswer);
    const auto t = RT(type);
    if (call == QLatin1String("int"))
        rig.handler->queueInt(t, value.toInt());
    else if (call == QLatin1String("bool"))
        rig.handler->queueBool(t, value.toBool());
    else if (call == QLatin1String("text"))
        rig.handler->queueString(t, value.toString());
    else
        rig.handler->askModulator(t);
    QCOMPARE(rig.log, events);
    QCOMPARE(rig.handler->lastInfoCode(), CommandHandler::infoMsg(events.first().mid(5).toInt()));

    // A request that ends at once must leave the queue running: the next one goes out right after.
    rig.log.clear();
    rig.handler->askModulator(RT::getID);
    QList<QByteArray> expected;
    if (!line.isEmpty())
        expected << line;
    expected << "getID";
    QCOMPARE(rig.device.lines, expected);
    QCOMPARE(rig.log, (QStringList { "info 0", "id 0 [first line\nsecond line\n]" }));
    QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);
    QCOMPARE(rig.device.overlaps, 0);
}

void tst_CommandHandler::readingsReturnAnswerText()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setResponder([](const QByteArray &line) { return "Answer to " + line + "\nend\n"; });
    rig.handler->askModulator(RT::getCoreParameters);
    rig.handler->askModulator(RT::getIPParameters);
    rig.handler->askModulator(RT::getTuningValues);
    QCOMPARE(rig.handler->getID(), QStringLiteral("Answer to getID\nend\n"));
    QCOMPARE(rig.log,
        (QStringList { "info 0", "core 0 [Answer to getCoreParameters\nend\n]", "info 0",
            "ip 0 [Answer to getIPParameters\nend\n]", "info 0", "tuning 0 [Answer to getTuningValues\nend\n]",
            "info 0" }));
    QCOMPARE(rig.device.lines,
        (QList<QByteArray> { "getCoreParameters", "getIPParameters", "getTuningValues", "getID" }));
}

void tst_CommandHandler::sendCommandDirectly()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.handler->setTimeoutInterval(CommandHandler::COMMAND_TIMEOUT_MS); // the test answers by hand

    rig.handler->askModulator(RT::ProcessQueue); // empty queue, idle engine: nothing happens
    QCOMPARE(rig.log, QStringList {});

    QVERIFY(rig.handler->sendCommandToModulator(QStringLiteral("./modulator"), QString()));
    QCOMPARE(rig.log, QStringList { "info 2" });
    QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);

    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("setFoo"), QStringLiteral("1")));
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("setIPUnicastAddress"), QStringLiteral("10.0.0.1")));
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("setcoderate"), QStringLiteral("5/6")));
    QCOMPARE(rig.log, (QStringList { "info 2", "info 3", "info 3", "info 3" }));

    // One line out: a second one is refused silently.
    QVERIFY(rig.handler->sendCommandToModulator(QStringLiteral("setAttenuation"), QStringLiteral("2")));
    QCOMPARE(rig.handler->engineState(), CommandHandler::WaitSetReply);
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("getID"), QString()));
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("./modulator"), QString()));
    QCOMPARE(rig.log.size(), 4);
    QTRY_COMPARE(rig.device.lines, QList<QByteArray> { "setAttenuation 2" });
    rig.device.send("OK");
    QTRY_COMPARE(rig.handler->engineState(), CommandHandler::Idle);
    QCOMPARE(rig.log.last(), QStringLiteral("info 0"));
}

void tst_CommandHandler::recognition_data()
{
    QTest::addColumn<QString>("outstanding"); // none, setting, reading
    QTest::addColumn<QString>("message");
    QTest::addColumn<QList<int>>("infos");
    QTest::addColumn<int>("stateAfter");

    const int idle = CommandHandler::Idle;
    const int waitSet = CommandHandler::WaitSetReply;
    const int waitGet = CommandHandler::WaitGetReply;
    QTest::newRow("setting OK") << "setting" << "OK\n" << QList<int> { 0 } << idle;
    QTest::newRow("setting KO") << "setting" << "KO\n" << QList<int> { 1 } << idle;
    QTest::newRow("KO and OK: OK wins") << "setting" << "KO ... OK" << QList<int> { 0 } << idle;
    QTest::newRow("lower-case ok is no verdict") << "setting" << "ok" << QList<int> {} << waitSet;
    QTest::newRow("BANK in capitals") << "setting" << "Erasing BANK 2" << QList<int> { 0, 6 } << idle;
    QTest::newRow("bank lower case") << "setting" << "bank 1 ready" << QList<int> { 0, 6 } << idle;
    QTest::newRow("download complete ends setting") << "setting" << "Download complete" << QList<int> { 0, 8 } << idle;
    QTest::newRow("written ends setting") << "setting" << "Flash written with success" << QList<int> { 0, 7 } << idle;
    QTest::newRow("unrelated keeps waiting") << "setting" << "Erasing..." << QList<int> {} << waitSet;
    QTest::newRow("idle Bank erased") << "none" << "Bank erased" << QList<int> { 6 } << idle;
    QTest::newRow("idle BANK needs the phrase") << "none" << "Erasing BANK 2" << QList<int> {} << idle;
    QTest::newRow("idle download complete") << "none" << "Download complete" << QList<int> { 8 } << idle;
    QTest::newRow("idle written") << "none" << "Flash written with success" << QList<int> { 7 } << idle;
    QTest::newRow("idle OK") << "none" << "OK" << QList<int> {} << idle;
    QTest::newRow("reading one line") << "reading" << "Product type : DVB-T\n" << QList<int> {} << waitGet;
    QTest::newRow("reading two lines") << "reading" << "a\nb\n" << QList<int> { 0 } << idle;
    QTest::newRow("reading two line feeds mid-text") << "reading" << "a\n\nc" << QList<int> { 0 } << idle;
    QTest::newRow("reading ignores OK") << "reading" << "OK" << QList<int> {} << waitGet;
}

void tst_CommandHandler::recognition()
{
    QFETCH(QString, outstanding);
    QFETCH(QString, message);
    QFETCH(QList<int>, infos);
    QFETCH(int, stateAfter);

    Connection connection(nullptr, false); // no link: the answers are fed in directly
    CommandHandler handler(&connection, nullptr);
    if (outstanding == QLatin1String("setting"))
        QVERIFY(handler.sendCommandToModulator(QStringLiteral("setOutputState"), QStringLiteral("ON")));
    else if (outstanding == QLatin1String("reading"))
        QVERIFY(handler.sendCommandToModulator(QStringLiteral("getID"), QString()));
    QList<int> seen;
    QList<int> lastInfoAtEmission;
    connect(&handler, &CommandHandler::info, [&](CommandHandler::infoMsg m) {
        seen << m;
        lastInfoAtEmission << handler.lastInfoCode();
    });
    emit connection.message(message);
    QCOMPARE(seen, infos);
    QCOMPARE(lastInfoAtEmission, infos); // stored before each emission
    QCOMPARE(int(handler.engineState()), stateAfter);
    QCOMPARE(handler.lastReplyText(), message);
}

void tst_CommandHandler::messageDuringVerdictIsNoSecondVerdict()
{
    // A slot of the verdict may run an event loop (a message box) in which more device output arrives.
    Connection connection(nullptr, false);
    CommandHandler handler(&connection, nullptr);
    QList<int> seen;
    connect(&handler, &CommandHandler::info, [&](CommandHandler::infoMsg m) {
        seen << m;
        if (seen.size() == 1)
            emit connection.message(QStringLiteral("OK"));
    });
    QVERIFY(handler.sendCommandToModulator(QStringLiteral("setOutputState"), QStringLiteral("OFF")));
    emit connection.message(QStringLiteral("KO"));
    QCOMPARE(seen, QList<int> { CommandHandler::CommandRefused });
    QCOMPARE(handler.lastInfoCode(), CommandHandler::CommandRefused);
}

void tst_CommandHandler::readingNeedsWholeAnswerInOneMessage()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setResponder([&rig](const QByteArray &) {
        rig.device.send("Product type : DVB-T\n");
        return QByteArray("Product serial number : 000123\n");
    });
    rig.device.setAnswerDelay(20);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(rig.handler->getID(), QString());
    QVERIFY(clock.elapsed() >= SHORT_TIMEOUT_MS - 10);
    QCOMPARE(rig.log, QStringList { "info 5" });
    QCOMPARE(rig.handler->lastReplyText(), QStringLiteral("Product serial number : 000123\n"));
}

void tst_CommandHandler::readingDropsCarriageReturns()
{
    Connection connection(nullptr, false);
    CommandHandler handler(&connection, nullptr);
    QTimer::singleShot(0, &connection, [&connection] {
        emit connection.message(QStringLiteral("Product type : DVB-T\r\nProduct serial number : 000123\r\n"));
    });
    QCOMPARE(handler.getID(), QStringLiteral("Product type : DVB-T\nProduct serial number : 000123\n"));
}

void tst_CommandHandler::requestsFromInsideAWaitQueueInArrivalOrder()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setAnswerDelay(15);
    QList<int> queuedDuringWait;
    bool first = true;
    rig.device.setResponder([&](const QByteArray &line) {
        if (first) {
            // The device has the first line; the program is inside its wait. Everything here only queues.
            first = false;
            CommandHandler *h = rig.handler;
            h->askModulator(RT::getStatus);
            queuedDuringWait << h->pendingRequests();
            h->queueBool(RT::setOutputState, false);
            queuedDuringWait << h->pendingRequests();
            h->askModulator(RT::getStatus);
            h->queueString(RT::setOutputFrequency, QStringLiteral("474000"));
            h->askModulator(RT(99));
            h->askModulator(RT::getID);
            queuedDuringWait << h->pendingRequests();
            h->askModulator(RT::ProcessQueue);
            queuedDuringWait << h->pendingRequests();
        }
        return politeAnswer(line);
    });
    // A request made from a slot of a finished signal joins the end of the queue as well.
    bool chained = false;
    connect(rig.handler.data(), &CommandHandler::setBoolFinished, [&](CommandHandler::infoMsg &, RT &) {
        if (!chained) {
            chained = true;
            rig.handler->queueInt(RT::setConstellation, 2);
        }
    });

    rig.handler->queueInt(RT::setCodeRate, 3);

    QCOMPARE(queuedDuringWait, (QList<int> { 1, 2, 6, 6 }));
    QCOMPARE(rig.device.lines,
        (QList<QByteArray> { "setCodeRate 5/6", "getStatus", "setOutputState OFF", "getStatus",
            "setOutputFrequency 474000", "getID", "setConstellation 64QAM" }));
    QCOMPARE(rig.device.overlaps, 0);
    const QString twoLines = QStringLiteral("[first line\nsecond line\n]");
    QCOMPARE(rig.log,
        (QStringList { "info 0", "int 0 8", "info 0", "status 0 0,0,0 [] [] []", "info 0", "bool 0 6", "info 0",
            "status 0 0,0,0 [] [] []", "info 0", "text 0 5", "info 3", "info 0", "id 0 " + twoLines, "info 0",
            "int 0 7" }));
    QCOMPARE(rig.handler->pendingRequests(), 0);
    QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);
}

void tst_CommandHandler::directCallWhileOutstandingSendsNothing()
{
    Connection connection(nullptr, false);
    CommandHandler handler(&connection, nullptr);
    QStringList log;
    record(&handler, &log);
    QVERIFY(handler.sendCommandToModulator(QStringLiteral("getStatus"), QString()));
    // Even a value without a word must not emit: an emission would end the outstanding wait.
    QVERIFY(!handler.setIntValue(RT::setBandwidth, 7));
    QVERIFY(!handler.setBoolValue(RT::setOutputState, true));
    QCOMPARE(handler.getID(), QString());
    QCOMPARE(handler.getStatus(), (QList<CommandHandler::inputStatus> { CommandHandler::NoStatus, CommandHandler::NoStatus, CommandHandler::NoStatus }));
    QCOMPARE(log, QStringList {});
    QCOMPARE(handler.engineState(), CommandHandler::WaitGetReply);
}

void tst_CommandHandler::requestQueuedDuringDirectCallStillRuns()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setResponder([&rig](const QByteArray &line) {
        if (line == "getID")
            rig.handler->askModulator(RT::getTuningValues);
        return politeAnswer(line);
    });
    QCOMPARE(rig.handler->getID(), QStringLiteral("first line\nsecond line\n"));
    // Returned before the queued reading ran; it must not be stranded.
    QCOMPARE(rig.handler->pendingRequests(), 1);
    QTRY_COMPARE(rig.device.lines, (QList<QByteArray> { "getID", "getTuningValues" }));
    QTRY_COMPARE(rig.log.last(), QStringLiteral("tuning 0 [first line\nsecond line\n]"));
}

void tst_CommandHandler::silentDeviceTimesOutInQueueOrder()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setResponder([&rig](const QByteArray &line) {
        if (line == "getID") {
            rig.handler->queueInt(RT::setCodeRate, 3);
            rig.handler->askModulator(RT::getStatus);
        }
        return QByteArray();
    });
    QElapsedTimer clock;
    clock.start();
    rig.handler->askModulator(RT::getID);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(rig.device.lines, (QList<QByteArray> { "getID", "setCodeRate 5/6", "getStatus" }));
    QCOMPARE(rig.log,
        (QStringList { "info 5", "id 5 []", "info 5", "int 5 8", "info 5", "status 5 0,0,0 [] [] []" }));
    // Three full time-outs one after the other (coarse timers may fire up to 5 % early).
    QVERIFY2(elapsed >= 3 * SHORT_TIMEOUT_MS * 95 / 100, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 3 * SHORT_TIMEOUT_MS + 2000, qPrintable(QString::number(elapsed)));
}

void tst_CommandHandler::linkDroppingMidWait()
{
    Rig rig;
    QVERIFY(rig.ready());
    QSignalSpy dropped(&rig.connection, &Connection::disconnected);
    rig.device.setResponder([&rig](const QByteArray &) {
        rig.handler->askModulator(RT::getStatus);
        QTimer::singleShot(10, &rig.connection, [&rig] { rig.device.vanish(); });
        return QByteArray();
    });
    rig.handler->askModulator(RT::getID);
    QCOMPARE(dropped.count(), 1);
    QVERIFY(!rig.connection.isConnected(0));
    QCOMPARE(rig.device.lines, QList<QByteArray> { "getID" });
    QCOMPARE(rig.log, (QStringList { "info 5", "id 5 []", "info 5", "status 5 0,0,0 [] [] []" }));
    QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);
}

void tst_CommandHandler::destructionMidWait_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("panel deleted while the device is silent") << "wait";
    QTest::newRow("engine deleted by a slot of its verdict") << "verdict";
}

void tst_CommandHandler::destructionMidWait()
{
    QFETCH(QString, when);
    auto *panel = new QObject;
    QPointer<QObject> panelGuard(panel);
    Rig rig(panel);
    QVERIFY(rig.ready());
    rig.device.setResponder([&](const QByteArray &line) {
        rig.handler->askModulator(RT::getStatus); // left in the queue when the engine goes
        if (when == QLatin1String("wait")) {
            QTimer::singleShot(20, &rig.connection, [&] { delete panelGuard.data(); });
            return QByteArray();
        }
        return politeAnswer(line);
    });
    connect(rig.handler.data(), &CommandHandler::info, [&](CommandHandler::infoMsg) {
        if (when == QLatin1String("verdict"))
            delete panelGuard.data();
    });
    rig.handler->queueInt(RT::setCodeRate, 3);
    QVERIFY(rig.handler.isNull());
    QVERIFY(panelGuard.isNull());
    QCOMPARE(rig.device.lines, QList<QByteArray> { "setCodeRate 5/6" });
    // Nothing the engine left behind (timer, deferred queue run) may fire now.
    QTest::qWait(2 * SHORT_TIMEOUT_MS);
    QCOMPARE(rig.device.lines.size(), 1);
}

void tst_CommandHandler::statusParsing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QList<int>>("codes"); // IP, ASI, PLL
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("net");
    QTest::addColumn<QString>("global");

    // Each row is parsed after FULL_STATUS, which gives IP 3, ASI 1, PLL 6, "24.128 ", "22.000 ", "Overload".
    const QList<int> base { 3, 1, 6 };
    QTest::newRow("full answer again") << QString(FULL_STATUS) << base << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("nothing recognised keeps all") << "Temperature : 41 C\n" << base << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("output ON keeps global") << "Output status : ON\n" << base << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("output OFF keeps global") << "Output status : OFF\n" << base << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("output Fault becomes global") << "Output status : Fault\n" << base << "24.128 " << "22.000 " << "Fault";
    QTest::newRow("IP locked on 204") << "IP input status : Locked on 204 bytes packets\n" << QList<int> { 4, 1, 6 } << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("IP other text is no status") << "IP input status : Searching\n" << QList<int> { 0, 1, 6 } << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("later ASI line wins") << "ASI input status : Not locked\nASI input status : Locked on 188 bytes packets\n" << QList<int> { 3, 3, 6 } << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("indented raw bitrate ignored") << " Input raw bitrate : 30.000 Mbps\n" << base << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("raw bitrate with CR LF") << "Input raw bitrate : 31.668 Mbps\r\n" << base << "31.668 " << "22.000 " << "Overload";
    QTest::newRow("first net bitrate line wins") << "Input net bitrate : 1.5 Mbps\nInput net bitrate : 2 Mbps\n" << base << "24.128 " << "1.5 " << "Overload";
    QTest::newRow("PLL external") << "PLL status : Locked on external\n" << QList<int> { 3, 1, 5 } << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("PLL not locked") << "PLL status : Not locked\n" << QList<int> { 3, 1, 2 } << "24.128 " << "22.000 " << "Overload";
    QTest::newRow("PLL other text") << "PLL status : Holdover\n" << QList<int> { 3, 1, 0 } << "24.128 " << "22.000 " << "Overload";
}

void tst_CommandHandler::statusParsing()
{
    QFETCH(QString, answer);
    QFETCH(QList<int>, codes);
    QFETCH(QString, raw);
    QFETCH(QString, net);
    QFETCH(QString, global);

    Connection connection(nullptr, false);
    CommandHandler handler(&connection, nullptr);
    QCOMPARE(handler.ipStatusCode(), CommandHandler::NoStatus);
    QCOMPARE(handler.rawBitrateText(), QString());
    emit connection.message(QString(FULL_STATUS));
    handler.parseStatus();
    emit connection.message(answer);
    handler.parseStatus();
    QCOMPARE((QList<int> { handler.ipStatusCode(), handler.asiStatusCode(), handler.pllStatusCode() }), codes);
    QCOMPARE(handler.rawBitrateText(), raw);
    QCOMPARE(handler.netBitrateText(), net);
    QCOMPARE(handler.globalStatusText(), global);
}

void tst_CommandHandler::statusReadingOnTheWire()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setResponder([](const QByteArray &) { return FULL_STATUS; });
    rig.handler->askModulator(RT::getStatus);
    QCOMPARE(rig.log, (QStringList { "info 0", "status 0 3,1,6 [24.128 ] [22.000 ] [Overload]" }));
    QCOMPARE(rig.handler->getStatus(),
        (QList<CommandHandler::inputStatus> { CommandHandler::Locked188, CommandHandler::NoData, CommandHandler::LockedInternal }));

    // A time-out leaves the fields as they were and reports no status.
    rig.device.setResponder([](const QByteArray &) { return QByteArray(); });
    rig.log.clear();
    rig.handler->askModulator(RT::getStatus);
    QCOMPARE(rig.log, (QStringList { "info 5", "status 5 0,0,0 [24.128 ] [22.000 ] [Overload]" }));
    QCOMPARE(rig.handler->ipStatusCode(), CommandHandler::Locked188);
}

QTEST_GUILESS_MAIN(tst_CommandHandler)
#include "tst_commandhandler.moc"
