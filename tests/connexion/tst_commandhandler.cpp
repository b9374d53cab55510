// The command engine against a scripted console on a pseudo-terminal (lines on the wire, refused values,
// queue order, requests made during a wait, one line outstanding, a vanishing link, destruction mid-wait)
// and, without a link, the answer recogniser and the status parser fed directly. The Configuration page
// tests run the same engine against nerio-emulator (the apply order with its device words, readings,
// firmware downloads, a silent device); fuzz_commandhandler feeds the recogniser any answers.

#include "commandhandler.h"
#include "connection.h"
#include "ptypair.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QtTest>

#include <functional>
#include <memory>

namespace
{

using RT = CommandHandler::RequestType;
using Info = CommandHandler::infoMsg;

constexpr int SHORT_TIMEOUT_MS = 150;
constexpr int ANSWER_DELAY_MS = 10;

// Answers a reading with two lines and a setting with OK, as the console does.
QByteArray politeAnswer(const QByteArray &line)
{
    return line.startsWith("get") ? QByteArray("first line\nsecond line\n") : QByteArray("OK\n");
}
const QString TWO_LINES = QStringLiteral("[first line\nsecond line\n]");

// Every signal of the engine the tests use as one line of text, in emission order: "info <code>",
// "<int|bool|text> <code> <type>", "id <code> [<text>]", "status <code> <ip>,<asi>,<pll>".
void record(CommandHandler *h, QStringList *log)
{
    QObject::connect(h, &CommandHandler::info, [log](Info m) { *log << QStringLiteral("info %1").arg(m); });
    const auto setting = [log](const char *tag) {
        return [log, tag](Info &m, RT &r) { *log << QLatin1String(tag) + QStringLiteral(" %1 %2").arg(m).arg(int(r)); };
    };
    QObject::connect(h, &CommandHandler::setIntFinished, setting("int"));
    QObject::connect(h, &CommandHandler::setBoolFinished, setting("bool"));
    QObject::connect(h, &CommandHandler::setStringFinished, setting("text"));
    QObject::connect(h, &CommandHandler::IDReady,
        [log](Info &m, QString &text) { *log << QStringLiteral("id %1 [%2]").arg(m).arg(text); });
    QObject::connect(h, &CommandHandler::inputStatusReady, [log](Info &m, QList<CommandHandler::inputStatus> in) {
        *log << QStringLiteral("status %1 %2,%3,%4").arg(m).arg(in.value(0)).arg(in.value(1)).arg(in.value(2));
    });
}

const QByteArray FULL_STATUS = "IP input status : Locked on 188 bytes packets\n"
                               "ASI input status : No data\n"
                               "Input raw bitrate : 24.128 Mbps\n"
                               "Input net bitrate : 22.000 Mbps\n"
                               "PLL status : Locked on internal\n"
                               "Output status : Overload\n";

} // namespace

// A logged-in serial link to a scripted console on the master side of a pseudo-terminal, with a fast
// engine on it; or no link at all, the test then emitting the device's messages itself. The console
// collects the lines the program writes (each ended by LF CR) and answers each through the responder a
// little later, counting the lines that arrive while an answer is still due (two lines outstanding).
struct Rig {
    PtyPair pty;
    Connection connection { nullptr, false };
    QPointer<CommandHandler> handler;
    QStringList log;
    std::function<QByteArray(const QByteArray &line)> responder; // an empty answer leaves the line unanswered
    QList<QByteArray> lines;
    int overlaps = 0;

    explicit Rig(QObject *parent = nullptr, bool linked = true)
    {
        if (linked) {
            connection.connectCOMToHost(pty.slavePath());
            // Only once the program holds the slave side: before that the master reports a hang-up without end.
            notifier = std::make_unique<QSocketNotifier>(pty.fd(), QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &context, [this] { readLines(); });
        }
        handler = new CommandHandler(&connection, parent);
        handler->setTimeoutInterval(SHORT_TIMEOUT_MS);
        record(handler, &log);
    }
    ~Rig()
    {
        if (!handler.isNull() && !handler->parent())
            delete handler.data();
    }
    bool ready() const { return pty.isValid() && connection.isConnected(0); }
    void feed(const QString &message) { emit connection.message(message); }
    // The device disappears: the program's side sees its serial port fail.
    void vanish()
    {
        notifier.reset();
        pty.closeMaster();
    }

private:
    void readLines()
    {
        const QByteArray got = pty.readAvailable();
        if (got.isEmpty()) // hang-up (the program closed its port): stop listening instead of spinning
            return notifier->setEnabled(false);
        buffer += got;
        for (int end = buffer.indexOf("\n\r"); end >= 0; end = buffer.indexOf("\n\r")) {
            lines << buffer.left(end);
            buffer.remove(0, end + 2);
            overlaps += answersDue > 0 ? 1 : 0;
            const QByteArray answer = responder ? responder(lines.last()) : QByteArray();
            if (answer.isEmpty())
                continue;
            ++answersDue;
            QTimer::singleShot(ANSWER_DELAY_MS, &context, [this, answer] {
                --answersDue;
                if (pty.fd() >= 0)
                    pty.write(answer + '\0'); // the console ends each message with NUL
            });
        }
    }

    QObject context; // delayed answers die with the console
    std::unique_ptr<QSocketNotifier> notifier;
    QByteArray buffer;
    int answersDue = 0;
};

class tst_CommandHandler : public QObject
{
    Q_OBJECT

private slots:
    void refusedValuesNeverReachTheWire();
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

// Settings that must not reach the wire: a value without a device word, of another kind, with a line
// break, or none at all; a command the console lacks; a type outside the table. Each ends at once and the
// queue runs on: the reading queued last is the only line sent.
void tst_CommandHandler::refusedValuesNeverReachTheWire()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.responder = politeAnswer;
    CommandHandler *h = rig.handler;
    h->queueInt(RT::setBandwidth, 3); // one past the last word
    h->queueInt(RT::setCodeRate, -1);
    h->queueInt(RT::setOutputState, 1); // an integer for a boolean setting
    h->askModulator(RT::setCodeRate);
    h->queueString(RT::setOutputFrequency, QStringLiteral("474000\nsetOutputState OFF"));
    h->queueString(RT::setIPUnicastAddress, QStringLiteral("10.0.0.9"));
    h->askModulator(RT(-1));
    h->askModulator(RT::getID);
    QCOMPARE(rig.lines, QList<QByteArray> { "getID" });
    QCOMPARE(rig.log.join(QLatin1Char('|')),
        "info 4|int 4 3|info 4|int 4 8|info 4|bool 4 6|info 4|int 4 8|info 4|text 4 5|info 3|info 3|info 0|id 0 "
            + TWO_LINES);
}

// One line out at a time: while it waits, every other direct call is refused silently (an emission would
// end the outstanding wait); a reading queued while a direct call waits runs after the call's own answer.
void tst_CommandHandler::directCalls()
{
    Rig rig;
    QVERIFY(rig.ready());
    CommandHandler *h = rig.handler;
    rig.responder = [&rig](const QByteArray &line) {
        if (line == "getID")
            rig.handler->askModulator(RT::getStatus);
        return politeAnswer(line);
    };

    h->askModulator(RT::ProcessQueue); // empty queue, idle engine: nothing happens
    QVERIFY(h->sendCommandToModulator(QStringLiteral("setAttenuation"), QStringLiteral("2")));
    QCOMPARE(h->engineState(), CommandHandler::WaitSetReply);
    QVERIFY(!h->sendCommandToModulator(QStringLiteral("getID"), QString()));
    QVERIFY(!h->setIntValue(RT::setBandwidth, 7)); // a value without a word included
    QVERIFY(!h->setBoolValue(RT::setOutputState, true));
    QCOMPARE(h->getID(), QString());
    QCOMPARE(h->getStatus(), QVector<CommandHandler::inputStatus>(3, CommandHandler::NoStatus).toList());
    QCOMPARE(rig.log, QStringList {});
    QTRY_COMPARE(h->engineState(), CommandHandler::Idle);
    QCOMPARE(rig.log, QStringList { "info 0" });

    QCOMPARE(h->getID(), QStringLiteral("first line\nsecond line\n"));
    QCOMPARE(h->pendingRequests(), 1);
    QTRY_COMPARE(rig.lines, (QList<QByteArray> { "setAttenuation 2", "getID", "getStatus" }));
    QTRY_COMPARE(rig.log.last(), QStringLiteral("status 0 0,0,0"));
}

// Verdicts beyond what the fuzz target pins down (known codes, idle after a verdict, a reading completed
// only by two lines): which phrase gives which code, and what gives none.
void tst_CommandHandler::recognition_data()
{
    QTest::addColumn<bool>("settingOut");
    QTest::addColumn<QString>("messages"); // separate device messages split at '|'
    QTest::addColumn<QList<int>>("infos");
    QTest::addColumn<int>("stateAfter");
    const auto row = [](const char *name, bool settingOut, const char *messages, QList<int> infos, int state) {
        QTest::newRow(name) << settingOut << messages << infos << state;
    };

    const int idle = CommandHandler::Idle;
    row("KO and OK: OK wins", true, "KO ... OK", { 0 }, idle);
    row("lower-case ok or other text: no verdict", true, "ok|Erasing...", {}, CommandHandler::WaitSetReply);
    row("BANK in capitals ends setting", true, "Erasing BANK 2", { 0, 6 }, idle);
    row("written ends setting", true, "Flash written with success", { 0, 7 }, idle);
    row("idle: the three flash phrases; BANK needs the phrase, OK is nothing", false,
        "Erasing BANK 2|OK|Bank erased|Download complete|Flash written with success", { 6, 8, 7 }, idle);
}

void tst_CommandHandler::recognition()
{
    QFETCH(bool, settingOut);
    QFETCH(QString, messages);
    QFETCH(QList<int>, infos);
    QFETCH(int, stateAfter);

    Rig rig(nullptr, false);
    if (settingOut)
        QVERIFY(rig.handler->sendCommandToModulator(QStringLiteral("setOutputState"), QStringLiteral("ON")));
    QList<int> seen;
    connect(rig.handler.data(), &CommandHandler::info, [&](Info m) { seen << m; });
    for (const QString &message : messages.split(QLatin1Char('|')))
        rig.feed(message);
    QCOMPARE(seen, infos);
    QCOMPARE(int(rig.handler->engineState()), stateAfter);
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

// Over telnet the console's CR LF reaches the engine (the serial framing drops CR itself).
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
    CommandHandler *h = rig.handler;
    rig.responder = [&](const QByteArray &line) {
        if (rig.lines.size() == 1) {
            // The device has the first line; the program is inside its wait. Everything here only queues.
            h->askModulator(RT::getStatus);
            h->queueBool(RT::setOutputState, false);
            h->askModulator(RT::getStatus);
            h->queueString(RT::setOutputFrequency, QStringLiteral("474000"));
            h->askModulator(RT(99));
            h->askModulator(RT::getID);
            h->askModulator(RT::ProcessQueue);
        }
        return politeAnswer(line);
    };
    // A request made from a slot of a finished signal joins the end of the queue as well.
    connect(h, &CommandHandler::setBoolFinished, [&] { h->queueInt(RT::setConstellation, 2); });

    h->queueInt(RT::setCodeRate, 3);

    QCOMPARE(rig.lines,
        (QList<QByteArray> { "setCodeRate 5/6", "getStatus", "setOutputState OFF", "getStatus",
            "setOutputFrequency 474000", "getID", "setConstellation 64QAM" }));
    QCOMPARE(rig.overlaps, 0);
    QCOMPARE(rig.log.join(QLatin1Char('|')),
        "info 0|int 0 8|info 0|status 0 0,0,0|info 0|bool 0 6|info 0|status 0 0,0,0|info 0|text 0 5|"
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
    rig.responder = [&](const QByteArray &line) {
        rig.handler->askModulator(RT::getStatus); // waits in the queue
        if (how == QLatin1String("verdict"))
            return politeAnswer(line);
        QTimer::singleShot(10, &rig.connection, [&] {
            if (how == QLatin1String("drop"))
                rig.vanish();
            else
                delete panel.data();
        });
        return QByteArray();
    };
    connect(rig.handler.data(), &CommandHandler::info, [&] {
        if (how == QLatin1String("verdict"))
            delete panel.data();
    });
    rig.handler->queueInt(RT::setCodeRate, 3);
    QCOMPARE(rig.lines, QList<QByteArray> { "setCodeRate 5/6" });
    if (how == QLatin1String("drop")) {
        // The outstanding and the queued request each time out.
        QCOMPARE(rig.log, (QStringList { "info 5", "int 5 8", "info 5", "status 5 0,0,0" }));
        QCOMPARE(rig.handler->engineState(), CommandHandler::Idle);
        delete panel.data();
        return;
    }
    QVERIFY(rig.handler.isNull() && panel.isNull());
    // Nothing the engine left behind (timer, deferred queue run) may fire now.
    QTest::qWait(2 * SHORT_TIMEOUT_MS);
    QCOMPARE(rig.lines.size(), 1);
}

void tst_CommandHandler::statusParsing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("fields"); // IP, ASI, PLL codes, raw, net, global

    // Each row is parsed after FULL_STATUS, which gives 3,1,6 [24.128 ] [22.000 ] [Overload]. IP and ASI
    // take their last line, the others their first line starting with the label.
    const auto row
        = [](const char *name, const char *answer, const char *fields) { QTest::newRow(name) << answer << fields; };
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
