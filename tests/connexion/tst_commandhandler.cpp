// The command engine against a scripted console on a pseudo-terminal (lines on the wire, verdicts, queue
// order, re-entrancy, a vanishing link, destruction mid-wait) and, without a link, the answer recogniser
// and the status parser fed directly. Readings, the apply order and time-outs in queue order are covered
// against the emulator in tst_commandhandler_emulator.

#include "commandhandler.h"
#include "connection.h"
#include "fakemodulator.h"
#include "handlerrecorder.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {

using RT = CommandHandler::RequestType;

constexpr int SHORT_TIMEOUT_MS = 150;

// Answers a reading with two lines and a setting with OK, as the console does.
QByteArray politeAnswer(const QByteArray &line)
{
    return line.startsWith("get") ? QByteArray("first line\nsecond line\n") : QByteArray("OK\n");
}
const QString TWO_LINES = QStringLiteral("[first line\nsecond line\n]");

const QByteArray FULL_STATUS = "IP input status : Locked on 188 bytes packets\n"
                               "ASI input status : No data\n"
                               "Input raw bitrate : 24.128 Mbps\n"
                               "Input net bitrate : 22.000 Mbps\n"
                               "PLL status : Locked on internal\n"
                               "Output status : Overload\n";

} // namespace

// A logged-in serial link to a FakeModulator with a fast engine on it, or with no link at all (the
// device's messages are then emitted by the test).
struct Rig {
    FakeModulator device;
    Connection connection { nullptr, false };
    QPointer<CommandHandler> handler;
    QStringList log;

    explicit Rig(QObject *parent = nullptr, bool linked = true)
    {
        if (linked) {
            connection.connectCOMToHost(device.portName());
            device.start();
        }
        handler = new CommandHandler(&connection, parent);
        record(handler, &log);
    }
    ~Rig()
    {
        if (!handler.isNull() && !handler->parent())
            delete handler.data();
    }
    bool ready()
    {
        handler->setTimeoutInterval(SHORT_TIMEOUT_MS);
        return device.isValid() && connection.isConnected(0);
    }
    void feed(const QString &message) { emit connection.message(message); }
};

class tst_CommandHandler : public QObject
{
    Q_OBJECT

private slots:
    void settingsOnTheWire_data();
    void settingsOnTheWire();
    void sendCommandDirectly();

    void recognition_data();
    void recognition();
    void messageDuringVerdictIsNoSecondVerdict();
    void readingDropsCarriageReturns();

    void requestsFromInsideAWaitQueueInArrivalOrder();
    void requestQueuedDuringDirectCallStillRuns();
    void linkDroppingMidWait();
    void destructionMidWait_data();
    void destructionMidWait();

    void statusParsing_data();
    void statusParsing();
    void statusReadingOnTheWire();
};

void tst_CommandHandler::settingsOnTheWire_data()
{
    QTest::addColumn<QString>("call"); // int, bool, text, ask
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("line"); // empty: nothing may be sent
    QTest::addColumn<QStringList>("events");

    QTest::newRow("code rate 5/6") << "int" << 8 << QVariant(3) << QByteArray("setCodeRate 5/6") << QStringList { "info 0", "int 0 8" };
    QTest::newRow("bandwidth index 3 has no word") << "int" << 3 << QVariant(3) << QByteArray() << QStringList { "info 4", "int 4 3" };
    QTest::newRow("negative index") << "int" << 8 << QVariant(-1) << QByteArray() << QStringList { "info 4", "int 4 8" };
    QTest::newRow("integer for a boolean setting") << "int" << 6 << QVariant(1) << QByteArray() << QStringList { "info 4", "bool 4 6" };
    QTest::newRow("flag for an integer setting") << "bool" << 8 << QVariant(true) << QByteArray() << QStringList { "info 4", "int 4 8" };
    QTest::newRow("unicast address is never sent") << "text" << 13 << QVariant("10.0.0.9") << QByteArray() << QStringList { "info 3" };
    QTest::newRow("line break in a value") << "text" << 5 << QVariant("474000\nsetOutputState OFF") << QByteArray() << QStringList { "info 4", "text 4 5" };
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
    rig.handler->askModulator(RT::getID);
    QCOMPARE(rig.device.lines, (line.isEmpty() ? QList<QByteArray> {} : QList<QByteArray> { line }) << "getID");
    QCOMPARE(rig.log.mid(events.size()), (QStringList { "info 0", "id 0 " + TWO_LINES }));
    QCOMPARE(rig.device.overlaps, 0);
}

void tst_CommandHandler::sendCommandDirectly()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.handler->setTimeoutInterval(CommandHandler::COMMAND_TIMEOUT_MS); // the test answers by hand

    rig.handler->askModulator(RT::ProcessQueue); // empty queue, idle engine: nothing happens
    QVERIFY(rig.handler->sendCommandToModulator(QStringLiteral("./modulator"), QString()));
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("setFoo"), QStringLiteral("1")));
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("setIPUnicastAddress"), QStringLiteral("10.0.0.1")));
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("setcoderate"), QStringLiteral("5/6")));
    QCOMPARE(rig.log, (QStringList { "info 2", "info 3", "info 3", "info 3" }));

    // One line out: everything else is refused silently; an emission would end the outstanding wait.
    QVERIFY(rig.handler->sendCommandToModulator(QStringLiteral("setAttenuation"), QStringLiteral("2")));
    QCOMPARE(rig.handler->engineState(), CommandHandler::WaitSetReply);
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("getID"), QString()));
    QVERIFY(!rig.handler->sendCommandToModulator(QStringLiteral("./modulator"), QString()));
    QVERIFY(!rig.handler->setIntValue(RT::setBandwidth, 7)); // a value without a word included
    QVERIFY(!rig.handler->setBoolValue(RT::setOutputState, true));
    QCOMPARE(rig.handler->getID(), QString());
    QCOMPARE(rig.handler->getStatus(), (QList<CommandHandler::inputStatus> { CommandHandler::NoStatus, CommandHandler::NoStatus, CommandHandler::NoStatus }));
    QCOMPARE(rig.log.size(), 4);
    QTRY_COMPARE(rig.device.lines, QList<QByteArray> { "setAttenuation 2" });
    rig.device.send("OK");
    QTRY_COMPARE(rig.handler->engineState(), CommandHandler::Idle);
    QCOMPARE(rig.log.mid(4), QStringList { "info 0" });
}

void tst_CommandHandler::recognition_data()
{
    QTest::addColumn<QString>("outstanding"); // none, setting, reading
    QTest::addColumn<QString>("messages"); // separate device messages split at '|'
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
    QTest::newRow("reading: one line per message never adds up") << "reading" << "Product type : DVB-T\n|Product serial number : 000123\n" << QList<int> {} << waitGet;
    QTest::newRow("reading two lines") << "reading" << "a\nb\n" << QList<int> { 0 } << idle;
    QTest::newRow("reading two line feeds mid-text") << "reading" << "a\n\nc" << QList<int> { 0 } << idle;
    QTest::newRow("reading ignores OK") << "reading" << "OK" << QList<int> {} << waitGet;
}

void tst_CommandHandler::recognition()
{
    QFETCH(QString, outstanding);
    QFETCH(QString, messages);
    QFETCH(QList<int>, infos);
    QFETCH(int, stateAfter);

    Rig rig(nullptr, false);
    if (outstanding != QLatin1String("none"))
        QVERIFY(rig.handler->sendCommandToModulator(outstanding == QLatin1String("setting") ? QStringLiteral("setOutputState") : QStringLiteral("getID"),
            outstanding == QLatin1String("setting") ? QStringLiteral("ON") : QString()));
    QList<int> seen;
    QList<int> lastInfoAtEmission;
    connect(rig.handler.data(), &CommandHandler::info, [&](CommandHandler::infoMsg m) {
        seen << m;
        lastInfoAtEmission << rig.handler->lastInfoCode();
    });
    for (const QString &message : messages.split(QLatin1Char('|')))
        rig.feed(message);
    QCOMPARE(seen, infos);
    QCOMPARE(lastInfoAtEmission, infos); // stored before each emission
    QCOMPARE(int(rig.handler->engineState()), stateAfter);
    QCOMPARE(rig.handler->lastReplyText(), messages.section(QLatin1Char('|'), -1));
}

void tst_CommandHandler::messageDuringVerdictIsNoSecondVerdict()
{
    // A slot of the verdict may run an event loop (a message box) in which more device output arrives.
    Rig rig(nullptr, false);
    QCOMPARE(rig.handler->timeoutInterval(), 5000); // the program's default
    QVERIFY(rig.handler->sendCommandToModulator(QStringLiteral("setOutputState"), QStringLiteral("OFF")));
    connect(rig.handler.data(), &CommandHandler::info, [&] { rig.feed(QStringLiteral("OK")); });
    rig.feed(QStringLiteral("KO"));
    QCOMPARE(rig.log, QStringList { "info 1" });
    QCOMPARE(rig.handler->lastInfoCode(), CommandHandler::CommandRefused);
}

void tst_CommandHandler::readingDropsCarriageReturns()
{
    Rig rig(nullptr, false);
    QTimer::singleShot(0, &rig.connection, [&rig] { rig.feed(QStringLiteral("Product type : DVB-T\r\nProduct serial number : 000123\r\n")); });
    QCOMPARE(rig.handler->getID(), QStringLiteral("Product type : DVB-T\nProduct serial number : 000123\n"));
}

void tst_CommandHandler::requestsFromInsideAWaitQueueInArrivalOrder()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setAnswerDelay(15);
    QList<int> queuedDuringWait;
    rig.device.setResponder([&](const QByteArray &line) {
        if (rig.device.lines.size() == 1) {
            // The device has the first line; the program is inside its wait. Everything here only queues.
            CommandHandler *h = rig.handler;
            h->askModulator(RT::getStatus);
            queuedDuringWait << h->pendingRequests();
            h->queueBool(RT::setOutputState, false);
            queuedDuringWait << h->pendingRequests();
            h->askModulator(RT::getStatus);
            h->queueString(RT::setOutputFrequency, QStringLiteral("474000"));
            h->askModulator(RT(99));
            h->askModulator(RT::getID);
            h->askModulator(RT::ProcessQueue);
            queuedDuringWait << h->pendingRequests();
        }
        return politeAnswer(line);
    });
    // A request made from a slot of a finished signal joins the end of the queue as well.
    connect(rig.handler.data(), &CommandHandler::setBoolFinished, [&] {
        if (rig.device.lines.size() < 7)
            rig.handler->queueInt(RT::setConstellation, 2);
    });

    rig.handler->queueInt(RT::setCodeRate, 3);

    QCOMPARE(queuedDuringWait, (QList<int> { 1, 2, 6 }));
    QCOMPARE(rig.device.lines,
        (QList<QByteArray> { "setCodeRate 5/6", "getStatus", "setOutputState OFF", "getStatus",
            "setOutputFrequency 474000", "getID", "setConstellation 64QAM" }));
    QCOMPARE(rig.device.overlaps, 0);
    QCOMPARE(rig.log,
        (QStringList { "info 0", "int 0 8", "info 0", "status 0 0,0,0 [] [] []", "info 0", "bool 0 6", "info 0",
            "status 0 0,0,0 [] [] []", "info 0", "text 0 5", "info 3", "info 0", "id 0 " + TWO_LINES, "info 0", "int 0 7" }));
    QCOMPARE(rig.handler->pendingRequests(), 0);
    QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);
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
    QTRY_COMPARE(rig.log.last(), "tuning 0 " + TWO_LINES);
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
    QCOMPARE(rig.device.lines, QList<QByteArray> { "getID" });
    QCOMPARE(rig.log, (QStringList { "info 5", "id 5 []", "info 5", "status 5 0,0,0 [] [] []" }));
    QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);
}

void tst_CommandHandler::destructionMidWait_data()
{
    QTest::addColumn<bool>("silent");
    QTest::newRow("panel deleted while the device is silent") << true;
    QTest::newRow("engine deleted by a slot of its verdict") << false;
}

void tst_CommandHandler::destructionMidWait()
{
    QFETCH(bool, silent);
    QPointer<QObject> panel(new QObject);
    Rig rig(panel);
    QVERIFY(rig.ready());
    rig.device.setResponder([&](const QByteArray &line) {
        rig.handler->askModulator(RT::getStatus); // left in the queue when the engine goes
        if (silent)
            QTimer::singleShot(20, &rig.connection, [&] { delete panel.data(); });
        return silent ? QByteArray() : politeAnswer(line);
    });
    connect(rig.handler.data(), &CommandHandler::info, [&] {
        if (!silent)
            delete panel.data();
    });
    rig.handler->queueInt(RT::setCodeRate, 3);
    QVERIFY(rig.handler.isNull() && panel.isNull());
    QCOMPARE(rig.device.lines, QList<QByteArray> { "setCodeRate 5/6" });
    // Nothing the engine left behind (timer, deferred queue run) may fire now.
    QTest::qWait(2 * SHORT_TIMEOUT_MS);
    QCOMPARE(rig.device.lines.size(), 1);
}

void tst_CommandHandler::statusParsing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QList<int>>("codes"); // IP, ASI, PLL
    QTest::addColumn<QStringList>("texts"); // raw, net, global

    // Each row is parsed after FULL_STATUS, which gives IP 3, ASI 1, PLL 6, "24.128 ", "22.000 ", "Overload".
    const QList<int> base { 3, 1, 6 };
    const QStringList texts { "24.128 ", "22.000 ", "Overload" };
    QTest::newRow("nothing recognised keeps all") << "Temperature : 41 C\n" << base << texts;
    QTest::newRow("output ON keeps global") << "Output status : ON\n" << base << texts;
    QTest::newRow("output OFF keeps global") << "Output status : OFF\n" << base << texts;
    QTest::newRow("output Fault becomes global") << "Output status : Fault\n" << base << QStringList { "24.128 ", "22.000 ", "Fault" };
    QTest::newRow("IP locked on 204") << "IP input status : Locked on 204 bytes packets\n" << QList<int> { 4, 1, 6 } << texts;
    QTest::newRow("IP other text is no status") << "IP input status : Searching\n" << QList<int> { 0, 1, 6 } << texts;
    QTest::newRow("later ASI line wins") << "ASI input status : Not locked\nASI input status : Locked on 188 bytes packets\n" << QList<int> { 3, 3, 6 } << texts;
    QTest::newRow("indented raw bitrate ignored") << " Input raw bitrate : 30.000 Mbps\n" << base << texts;
    QTest::newRow("raw bitrate with CR LF") << "Input raw bitrate : 31.668 Mbps\r\n" << base << QStringList { "31.668 ", "22.000 ", "Overload" };
    QTest::newRow("first net bitrate line wins") << "Input net bitrate : 1.5 Mbps\nInput net bitrate : 2 Mbps\n" << base << QStringList { "24.128 ", "1.5 ", "Overload" };
    QTest::newRow("PLL external") << "PLL status : Locked on external\n" << QList<int> { 3, 1, 5 } << texts;
    QTest::newRow("PLL not locked") << "PLL status : Not locked\n" << QList<int> { 3, 1, 2 } << texts;
    QTest::newRow("PLL other text") << "PLL status : Holdover\n" << QList<int> { 3, 1, 0 } << texts;
}

void tst_CommandHandler::statusParsing()
{
    QFETCH(QString, answer);
    QFETCH(QList<int>, codes);
    QFETCH(QStringList, texts);

    Rig rig(nullptr, false);
    CommandHandler *h = rig.handler;
    for (const QString &message : { QString(FULL_STATUS), answer }) {
        rig.feed(message);
        h->parseStatus();
    }
    QCOMPARE((QList<int> { h->ipStatusCode(), h->asiStatusCode(), h->pllStatusCode() }), codes);
    QCOMPARE((QStringList { h->rawBitrateText(), h->netBitrateText(), h->globalStatusText() }), texts);
}

void tst_CommandHandler::statusReadingOnTheWire()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setResponder([](const QByteArray &) { return FULL_STATUS; });
    rig.handler->askModulator(RT::getStatus);
    QCOMPARE(rig.handler->getStatus(),
        (QList<CommandHandler::inputStatus> { CommandHandler::Locked188, CommandHandler::NoData, CommandHandler::LockedInternal }));
    // A time-out leaves the fields as they were and reports no status.
    rig.device.setResponder([](const QByteArray &) { return QByteArray(); });
    rig.handler->askModulator(RT::getStatus);
    QCOMPARE(rig.log, (QStringList { "info 0", "status 0 3,1,6 [24.128 ] [22.000 ] [Overload]", "info 0", "info 5",
        "status 5 0,0,0 [24.128 ] [22.000 ] [Overload]" }));
    QCOMPARE(rig.handler->ipStatusCode(), CommandHandler::Locked188);
}

QTEST_GUILESS_MAIN(tst_CommandHandler)
#include "tst_commandhandler.moc"
