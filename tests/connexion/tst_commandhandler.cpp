// The command engine against a scripted console on a pseudo-terminal (lines on the wire, verdicts, queue
// order, re-entrancy, a vanishing link, destruction mid-wait) and, without a link, the answer recogniser
// and the status parser fed directly. The Configuration page tests run the same engine against
// nerio-emulator: the apply order with its device words, readings, firmware downloads, a silent device.

#include "commandhandler.h"
#include "connection.h"
#include "fakemodulator.h"
#include "handlerrecorder.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace
{

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
    void settingsRefused_data();
    void settingsRefused();
    void directCalls();

    void recognition_data();
    void recognition();
    void messageDuringVerdictIsNoSecondVerdict();
    void readingDropsCarriageReturns();

    void requestsFromInsideAWaitQueueInArrivalOrder();
    void interruptedWait_data();
    void interruptedWait();

    void statusParsing_data();
    void statusParsing();
};

// Settings that must not reach the wire. A request that ends at once must leave the queue running: the
// next one goes out right after.
void tst_CommandHandler::settingsRefused_data()
{
    QTest::addColumn<QString>("call"); // int, bool, text, ask
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("events"); // split at '|'
    const auto row = [](const char *name, const char *call, int type, const QVariant &value, const char *events) {
        QTest::newRow(name) << call << type << value << events;
    };

    row("bandwidth index 3 has no word", "int", 3, 3, "info 4|int 4 3");
    row("negative index", "int", 8, -1, "info 4|int 4 8");
    row("integer for a boolean setting", "int", 6, 1, "info 4|bool 4 6");
    row("flag for an integer setting", "bool", 8, true, "info 4|int 4 8");
    row("unicast address is never sent", "text", 13, "10.0.0.9", "info 3");
    row("line break in a value", "text", 5, "474000\nsetOutputState OFF", "info 4|text 4 5");
    row("setting queued without value", "ask", 8, QVariant(), "info 4|int 4 8");
    row("negative type", "ask", -1, QVariant(), "info 3");
}

void tst_CommandHandler::settingsRefused()
{
    QFETCH(QString, call);
    QFETCH(int, type);
    QFETCH(QVariant, value);
    QFETCH(QString, events);

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
    QCOMPARE(rig.handler->lastInfoCode(), CommandHandler::infoMsg(events.mid(5, 1).toInt()));
    rig.handler->askModulator(RT::getID);
    QCOMPARE(rig.device.lines, QList<QByteArray> { "getID" });
    QCOMPARE(rig.log,
        events.split(QLatin1Char('|')) << "info 0"
                                       << "id 0 " + TWO_LINES);
}

void tst_CommandHandler::directCalls()
{
    Rig rig;
    QVERIFY(rig.ready());
    CommandHandler *h = rig.handler;
    h->setTimeoutInterval(CommandHandler::COMMAND_TIMEOUT_MS); // the test answers by hand

    h->askModulator(RT::ProcessQueue); // empty queue, idle engine: nothing happens
    QVERIFY(h->sendCommandToModulator(QStringLiteral("./modulator"), QString()));
    QVERIFY(!h->sendCommandToModulator(QStringLiteral("setFoo"), QStringLiteral("1")));
    QCOMPARE(rig.log, (QStringList { "info 2", "info 3" }));

    // One line out: everything else is refused silently; an emission would end the outstanding wait.
    QVERIFY(h->sendCommandToModulator(QStringLiteral("setAttenuation"), QStringLiteral("2")));
    QCOMPARE(h->engineState(), CommandHandler::WaitSetReply);
    QVERIFY(!h->sendCommandToModulator(QStringLiteral("getID"), QString()));
    QVERIFY(!h->sendCommandToModulator(QStringLiteral("./modulator"), QString()));
    QVERIFY(!h->setIntValue(RT::setBandwidth, 7)); // a value without a word included
    QVERIFY(!h->setBoolValue(RT::setOutputState, true));
    QCOMPARE(h->getID(), QString());
    QCOMPARE(h->getStatus(), QVector<CommandHandler::inputStatus>(3, CommandHandler::NoStatus).toList());
    QCOMPARE(rig.log.size(), 2);
    QTRY_COMPARE(rig.device.lines, QList<QByteArray> { "setAttenuation 2" });
    rig.device.send("OK");
    QTRY_COMPARE(h->engineState(), CommandHandler::Idle);
    QCOMPARE(rig.log.mid(2), QStringList { "info 0" });

    // A reading queued while a direct call waits runs after the call has returned its own answer.
    rig.device.setResponder([&rig](const QByteArray &line) {
        if (line == "getID")
            rig.handler->askModulator(RT::getTuningValues);
        return politeAnswer(line);
    });
    QCOMPARE(h->getID(), QStringLiteral("first line\nsecond line\n"));
    QCOMPARE(h->pendingRequests(), 1);
    QTRY_COMPARE(rig.device.lines, (QList<QByteArray> { "setAttenuation 2", "getID", "getTuningValues" }));
    QTRY_COMPARE(rig.log.last(), "tuning 0 " + TWO_LINES);
}

void tst_CommandHandler::recognition_data()
{
    QTest::addColumn<QString>("outstanding"); // none, setting, reading
    QTest::addColumn<QString>("messages"); // separate device messages split at '|'
    QTest::addColumn<QList<int>>("infos");
    QTest::addColumn<int>("stateAfter");
    const auto row = [](const char *name, const char *outstanding, const char *messages, QList<int> infos, int state) {
        QTest::newRow(name) << outstanding << messages << infos << state;
    };

    const int idle = CommandHandler::Idle;
    row("KO and OK: OK wins", "setting", "KO ... OK", { 0 }, idle);
    row("lower-case ok or other text: no verdict", "setting", "ok|Erasing...", {}, CommandHandler::WaitSetReply);
    row("BANK in capitals ends setting", "setting", "Erasing BANK 2", { 0, 6 }, idle);
    row("written ends setting", "setting", "Flash written with success", { 0, 7 }, idle);
    row("idle: the three flash phrases", "none", "Bank erased|Download complete|Flash written with success",
        { 6, 8, 7 }, idle);
    row("idle: BANK needs the phrase, OK is nothing", "none", "Erasing BANK 2|OK", {}, idle);
    // A reading ends on two line feeds in one message; lines spread over messages never add up.
    row("reading: one line per message, OK", "reading", "Product type : DVB-T\n|serial : 000123\n|OK", {},
        CommandHandler::WaitGetReply);
    row("reading two line feeds mid-text", "reading", "a\n\nc", { 0 }, idle);
}

void tst_CommandHandler::recognition()
{
    QFETCH(QString, outstanding);
    QFETCH(QString, messages);
    QFETCH(QList<int>, infos);
    QFETCH(int, stateAfter);

    Rig rig(nullptr, false);
    if (outstanding != QLatin1String("none")) {
        const bool setting = outstanding == QLatin1String("setting");
        QVERIFY(
            rig.handler->sendCommandToModulator(setting ? QStringLiteral("setOutputState") : QStringLiteral("getID"),
                setting ? QStringLiteral("ON") : QString()));
    }
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
    QVERIFY(rig.handler->sendCommandToModulator(QStringLiteral("setOutputState"), QStringLiteral("OFF")));
    connect(rig.handler.data(), &CommandHandler::info, [&] { rig.feed(QStringLiteral("OK")); });
    rig.feed(QStringLiteral("KO"));
    QCOMPARE(rig.log, QStringList { "info 1" });
    QCOMPARE(rig.handler->lastInfoCode(), CommandHandler::CommandRefused);
}

void tst_CommandHandler::readingDropsCarriageReturns()
{
    Rig rig(nullptr, false);
    QTimer::singleShot(0, &rig.connection, [&rig] { rig.feed(QStringLiteral("Product : DVB-T\r\nSN : 000123\r\n")); });
    QCOMPARE(rig.handler->getID(), QStringLiteral("Product : DVB-T\nSN : 000123\n"));
}

void tst_CommandHandler::requestsFromInsideAWaitQueueInArrivalOrder()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.device.setAnswerDelay(15);
    CommandHandler *h = rig.handler;
    QList<int> queuedDuringWait;
    rig.device.setResponder([&](const QByteArray &line) {
        if (rig.device.lines.size() == 1) {
            // The device has the first line; the program is inside its wait. Everything here only queues.
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
    connect(h, &CommandHandler::setBoolFinished, [&] { h->queueInt(RT::setConstellation, 2); });

    h->queueInt(RT::setCodeRate, 3);

    QCOMPARE(queuedDuringWait, (QList<int> { 1, 2, 6 }));
    QCOMPARE(rig.device.lines,
        (QList<QByteArray> { "setCodeRate 5/6", "getStatus", "setOutputState OFF", "getStatus",
            "setOutputFrequency 474000", "getID", "setConstellation 64QAM" }));
    QCOMPARE(rig.device.overlaps, 0);
    QCOMPARE(rig.log.join(QLatin1Char('|')),
        "info 0|int 0 8|info 0|status 0 0,0,0 [] [] []|info 0|bool 0 6|info 0|status 0 0,0,0 [] [] []|info 0|text 0 5|"
        "info 3|info 0|id 0 "
            + TWO_LINES + "|info 0|int 0 7");
    QCOMPARE(h->pendingRequests(), 0);
    QCOMPARE(h->engineState(), CommandHandler::Idle);
}

void tst_CommandHandler::interruptedWait_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("link dropped while the device is silent") << "drop";
    QTest::newRow("panel deleted while the device is silent") << "panel";
    QTest::newRow("engine deleted by a slot of its verdict") << "verdict";
}

void tst_CommandHandler::interruptedWait()
{
    QFETCH(QString, how);
    QPointer<QObject> panel(new QObject);
    Rig rig(panel);
    QVERIFY(rig.ready());
    QSignalSpy dropped(&rig.connection, &Connection::disconnected);
    rig.device.setResponder([&](const QByteArray &line) {
        rig.handler->askModulator(RT::getStatus); // waits in the queue
        if (how == QLatin1String("verdict"))
            return politeAnswer(line);
        QTimer::singleShot(10, &rig.connection, [&] {
            if (how == QLatin1String("drop"))
                rig.device.vanish();
            else
                delete panel.data();
        });
        return QByteArray();
    });
    connect(rig.handler.data(), &CommandHandler::info, [&] {
        if (how == QLatin1String("verdict"))
            delete panel.data();
    });
    rig.handler->queueInt(RT::setCodeRate, 3);
    QCOMPARE(rig.device.lines, QList<QByteArray> { "setCodeRate 5/6" });
    if (how == QLatin1String("drop")) {
        // The link is reported lost once; the outstanding and the queued request each time out.
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(rig.log, (QStringList { "info 5", "int 5 8", "info 5", "status 5 0,0,0 [] [] []" }));
        QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);
        delete panel.data();
        return;
    }
    QVERIFY(rig.handler.isNull() && panel.isNull());
    // Nothing the engine left behind (timer, deferred queue run) may fire now.
    QTest::qWait(2 * SHORT_TIMEOUT_MS);
    QCOMPARE(rig.device.lines.size(), 1);
}

void tst_CommandHandler::statusParsing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("fields"); // IP, ASI, PLL codes, raw, net, global

    // Each row is parsed after FULL_STATUS, which gives 3,1,6 [24.128 ] [22.000 ] [Overload]. IP and ASI
    // take their last line, the others their first line starting with the label.
    const auto row
        = [](const char *name, const char *answer, const char *fields) { QTest::newRow(name) << answer << fields; };
    row("nothing recognised, output OFF: all kept", "Temperature : 41 C\nOutput status : OFF\n",
        "3,1,6 [24.128 ] [22.000 ] [Overload]");
    row("IP 204, PLL external, output Fault, CR LF",
        "IP input status : Locked on 204 bytes packets\r\nInput raw bitrate : 31.668 Mbps\r\n"
        "PLL status : Locked on external\r\nOutput status : Fault\r\n",
        "4,1,5 [31.668 ] [22.000 ] [Fault]");
    row("IP other text, later ASI line, PLL other text, output ON",
        "IP input status : Searching\nASI input status : Not locked\nASI input status : Locked on 188 bytes "
        "packets\nPLL status : Holdover\nOutput status : ON\n",
        "0,3,0 [24.128 ] [22.000 ] [Overload]");
    row("indented raw bitrate, first net bitrate, PLL not locked",
        " Input raw bitrate : 30.000 Mbps\nInput net bitrate : 1.5 Mbps\nInput net bitrate : 2 Mbps\n"
        "PLL status : Not locked\n",
        "3,1,2 [24.128 ] [1.5 ] [Overload]");
}

void tst_CommandHandler::statusParsing()
{
    QFETCH(QString, answer);
    QFETCH(QString, fields);

    Rig rig(nullptr, false);
    CommandHandler *h = rig.handler;
    for (const QString &message : { QString(FULL_STATUS), answer }) {
        rig.feed(message);
        h->parseStatus();
    }
    QCOMPARE(QStringLiteral("%1,%2,%3 [%4] [%5] [%6]")
                 .arg(h->ipStatusCode())
                 .arg(h->asiStatusCode())
                 .arg(h->pllStatusCode())
                 .arg(h->rawBitrateText(), h->netBitrateText(), h->globalStatusText()),
        fields);
}

QTEST_GUILESS_MAIN(tst_CommandHandler)
#include "tst_commandhandler.moc"
