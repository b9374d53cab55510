// Device fault soak: full sessions (start, log in, read, apply, flash, leave) against nerio-emulator over a
// pseudo-terminal, each with one of the emulator's fault options, and a short command time-out. Every
// session must end with the verdicts the fault implies, within a bounded time, and the process memory
// must stay flat across sessions. NERIO_SOAK_SESSIONS sets the count (default 12; scripts/soak --soak
// runs 100). Then the Configuration page against a device that falls silent under the status poll
// (20 s with a 1 s command time-out; NERIO_SOAK_SILENCE_S, 600 with scripts/soak --soak, watches that long
// with the program's own time-out), a device that stalls in the login, and a device unplugged under an
// open session and plugged in again.

#include "commandhandler.h"
#include "configurationpanel.h"
#include "connection.h"
#include "flashexchange.h"
#include "loginanswers.h"
#include "promptrecorder.h"
#include "ptypair.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
using RT = CommandHandler::RequestType;
constexpr int TIMEOUT_MS = 400;

QString emulatorProgram()
{
    return qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts nerio-emulator on a pseudo-terminal; the serial path it prints, or empty.
QString startEmulator(QProcess &process, const QStringList &arguments)
{
    process.start(emulatorProgram(), QStringList { QStringLiteral("--serial") } + arguments);
    QString address;
    QElapsedTimer clock;
    clock.start();
    while (address.isEmpty() && clock.elapsed() < 5000) {
        if (!process.canReadLine() && !process.waitForReadyRead(200))
            continue;
        const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (line.startsWith(QLatin1String("serial: ")))
            address = line.mid(8);
    }
    return address;
}

void stopEmulator(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished(1000);
}

struct Emulator {
    QProcess process;
    ~Emulator() { stopEmulator(process); }
};

// The lines the emulator's wire log shows as received, each after its time stamp and a space.
QList<QByteArray> received(const QString &log)
{
    QFile f(log);
    QList<QByteArray> out;
    for (const QByteArray &raw : f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>()) {
        const int marker = raw.indexOf(" < ");
        if (marker >= 0)
            out << raw.left(raw.indexOf(' ') + 1) + raw.mid(marker + 3);
    }
    return out;
}

int linesReceived(const QString &log, const QByteArray &start)
{
    int count = 0;
    for (const QByteArray &line : received(log))
        count += line.mid(line.indexOf(' ') + 1).startsWith(start) ? 1 : 0;
    return count;
}

// Command lines received, as their time stamps.
QStringList commandTimes(const QString &log)
{
    QStringList out;
    for (const QByteArray &line : received(log)) {
        const QByteArray text = line.mid(line.indexOf(' ') + 1);
        if (text.startsWith("get") || text.startsWith("set"))
            out << QString::fromLatin1(line.left(line.indexOf(' ')));
    }
    return out;
}

// Warnings of the program's own categories, counted for the report-once checks.
int programWarnings = 0;
QtMessageHandler previousHandler = nullptr;
void countingHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && context.category && qstrncmp(context.category, "nerio.", 6) == 0)
        ++programWarnings;
    previousHandler(type, context, text);
}

struct Session {
    QProcess process;
    Connection connection { nullptr, true };
    CommandHandler handler { &connection, nullptr };
    int loginOutcome = -1;

    ~Session()
    {
        connection.disconnectFromHost(false);
        stopEmulator(process);
    }

    bool open(const QStringList &faults)
    {
        handler.setTimeoutInterval(TIMEOUT_MS);
        const QString address
            = startEmulator(process, QStringList { QStringLiteral("--reboot-ms"), QStringLiteral("300") } + faults);
        if (address.isEmpty())
            return false;
        answerLogin(connection);
        QObject::connect(&connection, &Connection::logProcess, [this](Connection::LogRequest r) { loginOutcome = r; });
        QObject::connect(
            &connection, &Connection::connected, &connection, [this] { connection.sendData(QString(QChar(27))); });
        connection.connectCOMToHost(address);
        return QTest::qWaitFor([this] { return loginOutcome >= Connection::Logged; }, 5000)
            && loginOutcome == Connection::Logged;
    }

    CommandHandler::infoMsg setCodeRate()
    {
        handler.setIntValue(RT::setCodeRate, 3);
        return handler.lastInfoCode();
    }

    // Sends the image; the verdict of each line in order, stopping at the first that is not accepted.
    QList<int> flash(const QByteArray &image)
    {
        QString header;
        QStringList packets;
        QList<int> verdicts;
        if (!FlashExchange::split(image, &header, &packets))
            return verdicts;
        handler.setStringValue(RT::setFlashRequest, header);
        verdicts << handler.lastInfoCode();
        for (const QString &p : qAsConst(packets)) {
            if (verdicts.last() != CommandHandler::CommandOk && verdicts.last() != CommandHandler::BankErased)
                break;
            handler.setStringValue(RT::setFlashPacket, p);
            verdicts << handler.lastInfoCode();
        }
        return verdicts;
    }
};
// The Configuration page driven as an operator would, with the engine's queue sampled every 20 ms (waiting
// requests plus the one running) and the command time-outs counted.
struct PanelRun {
    PromptRecorder prompts;
    ConfigurationPanel panel;
    int timeouts = 0;
    int longestQueue = 0;
    QTimer sampler;

    explicit PanelRun(int timeoutMs)
    {
        panel.createCommandHandler(panel.connection());
        CommandHandler *engine = panel.commandEngine();
        engine->setTimeoutInterval(timeoutMs);
        QObject::connect(engine, &CommandHandler::info, &panel,
            [this](CommandHandler::infoMsg m) { timeouts += m == CommandHandler::CommandTimeout ? 1 : 0; });
        QObject::connect(&sampler, &QTimer::timeout, &panel, [this, engine] {
            longestQueue = qMax(
                longestQueue, engine->pendingRequests() + (engine->engineState() == CommandHandler::Idle ? 0 : 1));
        });
        sampler.start(20);
    }

    QPushButton *loginButton() const { return panel.findChild<QPushButton *>(QStringLiteral("loginButton")); }
    bool linkOpen() const { return panel.connection()->isConnected(2); }

    // Clicks connect; true once the device (its wire log) has been asked for its status.
    bool connectTo(const QString &port, const QString &log)
    {
        panel.setCOMPort(port);
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        return QTest::qWaitFor([&] { return panel.isPolling() && linesReceived(log, "getStatus") > 0; }, 10000);
    }

    QStringList boxes() const
    {
        QStringList out;
        for (const UiPrompts::Box &box : prompts.boxes)
            out << QStringLiteral("%1|%2|%3").arg(int(box.icon)).arg(box.title, box.text);
        return out;
    }
};

const QString NO_RESPONSE_BOX = QStringLiteral("%1|Command information|No response from product received, check "
                                               "your connection")
                                    .arg(int(QMessageBox::Critical));
} // namespace

class tst_soak_device : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        previousHandler = qInstallMessageHandler(countingHandler);
        QVERIFY2(QFile::exists(emulatorProgram()), qPrintable(emulatorProgram() + QStringLiteral(" not built")));
        const QString path = dir.filePath(QStringLiteral("fw.bin"));
        QCOMPARE(QProcess::execute(emulatorProgram(),
                     { QStringLiteral("make-firmware"), path, QStringLiteral("--name"), QStringLiteral("SOAKFW"),
                         QStringLiteral("--bank"), QStringLiteral("1"), QStringLiteral("--payload-size"),
                         QStringLiteral("1000") }),
            0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        image = f.readAll();
        QCOMPARE(image.size(), 1034); // header, then 262 x 3 + 214
    }

    void sessions()
    {
        const int count = qEnvironmentVariableIsSet("NERIO_SOAK_SESSIONS")
            ? qEnvironmentVariableIntValue("NERIO_SOAK_SESSIONS")
            : 12;
        QElapsedTimer total;
        total.start();
        qint64 rssAfterWarmUp = -1;
        qint64 longest = 0;
        for (int i = 0; i < count; ++i) {
            const int fault = i % 10;
            QElapsedTimer clock;
            clock.start();
            runSession(fault);
            if (QTest::currentTestFailed()) {
                qWarning("session %d (fault %d) failed", i, fault);
                return;
            }
            longest = qMax(longest, clock.elapsed());
            // Every fault kind ran once before the reference is taken.
            if (i == qMin(count, 10) - 1)
                rssAfterWarmUp = residentKiB();
        }
        const qint64 rssEnd = residentKiB();
        qInfo("soak device: %d sessions in %lld ms, longest %lld ms, RSS %lld KiB after warm-up, %lld KiB at the end",
            count, total.elapsed(), longest, rssAfterWarmUp, rssEnd);
        if (count > 20)
            QVERIFY2(rssEnd - rssAfterWarmUp < 5 * 1024, "memory grows across sessions");
    }

    // The device falls silent for good under the one-second status poll. The session must end once: one
    // line left unanswered, one time-out, one box, a bounded queue, nothing more sent into the silence.
    void silentDeviceUnderPoll_data()
    {
        QTest::addColumn<int>("answered");
        QTest::addColumn<bool>("applyIntoSilence");
        QTest::newRow("silent during the first reads") << 2 << false;
        QTest::newRow("silent while polling") << 8 << false;
        // The operator presses "Apply changes" while the unanswered status request waits: fourteen settings
        // and two readings join the queue behind it.
        QTest::newRow("apply pressed into the silence") << 8 << true;
    }

    void silentDeviceUnderPoll()
    {
        QFETCH(int, answered);
        QFETCH(bool, applyIntoSilence);
        // The long watch (polling row) uses the program's own time-out; the reduced run shortens it.
        const bool full = qEnvironmentVariableIsSet("NERIO_SOAK_SILENCE_S");
        const int watch = full ? qEnvironmentVariableIntValue("NERIO_SOAK_SILENCE_S") : 20;
        const int seconds = answered == 8 && !applyIntoSilence ? watch : qMin(watch, 20);
        const int timeoutMs = full ? CommandHandler::COMMAND_TIMEOUT_MS : 1000;
        const QString log = dir.filePath(QStringLiteral("silent%1%2.log").arg(answered).arg(applyIntoSilence));
        Emulator emulator;
        const QString port = startEmulator(emulator.process,
            { QStringLiteral("--log"), log, QStringLiteral("--mute-after"), QString::number(answered) });
        QVERIFY(!port.isEmpty());
        PanelRun run(timeoutMs);
        QDateTime ended;
        QObject::connect(run.panel.connection(), &Connection::disconnected, &run.panel, [&] {
            if (ended.isNull())
                ended = QDateTime::currentDateTimeUtc();
        });
        // Checked from a timer, which also runs inside the engine's nested waits.
        QTimer operatorHand;
        bool applied = false;
        QObject::connect(&operatorHand, &QTimer::timeout, &run.panel, [&] {
            if (applyIntoSilence && !applied && int(commandTimes(log).size()) > answered && run.linkOpen()) {
                applied = true;
                QTest::mouseClick(
                    run.panel.findChild<QPushButton *>(QStringLiteral("applyConfigButton")), Qt::LeftButton);
            }
        });
        operatorHand.start(20);
        const int warningsBefore = programWarnings;
        run.panel.setCOMPort(port);
        QTest::mouseClick(run.loginButton(), Qt::LeftButton);
        QTest::qWait(seconds * 1000);

        const QDateTime silent = QDateTime::fromString(commandTimes(log).value(answered), Qt::ISODateWithMs);
        const qint64 endedAfter = silent.isValid() && ended.isValid() ? silent.msecsTo(ended) : -1;
        qInfo("soak device: silence, %s, %d s watched, time-out %d ms: session ended %lld ms after the unanswered "
              "line, longest queue %d, %d time-outs, %d boxes, %d warnings, %d command lines (%d answered)",
            QTest::currentDataTag(), seconds, timeoutMs, endedAfter, run.longestQueue, run.timeouts,
            int(run.prompts.boxes.size()), programWarnings - warningsBefore, int(commandTimes(log).size()), answered);
        QCOMPARE(applied, applyIntoSilence);
        QCOMPARE(run.boxes(), QStringList { NO_RESPONSE_BOX });
        QCOMPARE(run.timeouts, 1);
        QCOMPARE(int(commandTimes(log).size()), answered + 1);
        QCOMPARE(programWarnings - warningsBefore, 0);
        QVERIFY2(run.longestQueue <= (applyIntoSilence ? 17 : 1), qPrintable(QString::number(run.longestQueue)));
        // The time-out, then the goodbye to a silent device (one second).
        QVERIFY2(endedAfter >= timeoutMs && endedAfter < timeoutMs + 3000, qPrintable(QString::number(endedAfter)));
        QVERIFY(!run.panel.isPolling() && !run.linkOpen());
        QCOMPARE(run.panel.commandEngine()->pendingRequests(), 0);
        QCOMPARE(int(run.panel.commandEngine()->engineState()), int(CommandHandler::Idle));
        QCOMPARE(run.loginButton()->toolTip(), QStringLiteral("Click to connect to ") + port);
    }

    // A device that opens the link but stalls in the login: the page must not stay "in progress" (every
    // connection button disabled) for good; each login step gets the command time-out.
    void loginStalls_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("no prompt") << QByteArray();
        QTest::newRow("login taken, no password prompt") << QByteArray("Login:", 7);
    }

    void loginStalls()
    {
        QFETCH(QByteArray, answer);
        PtyPair device;
        QVERIFY(!device.slavePath().isEmpty());
        PanelRun run(1000);
        run.panel.setCOMPort(device.slavePath());
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(run.loginButton(), Qt::LeftButton);
        QVERIFY(!run.loginButton()->isEnabled());
        if (!answer.isEmpty()) {
            // Accumulated: QTRY_* evaluates its expression once more after it holds.
            QByteArray sent;
            QTRY_VERIFY((sent += device.readAvailable()).contains('\x1b'));
            QVERIFY(device.write(answer));
            QTRY_VERIFY((sent += device.readAvailable()).contains("admin\r\n"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(run.boxes(), QStringList { NO_RESPONSE_BOX }, 5000);
        QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(run.loginButton()->isEnabled());
        QCOMPARE(run.loginButton()->toolTip(), QStringLiteral("Click to connect to ") + device.slavePath());
        QVERIFY(!run.linkOpen());
        QTest::qWait(1500);
        QCOMPARE(run.boxes().size(), 1);
    }

    // The device's pseudo-terminal vanishes under an open session (emulator killed), then a new device
    // appears at the same path: one report, no hang, and the same page connects again cleanly.
    void unplugAndReplug()
    {
        const QString link = dir.filePath(QStringLiteral("ttyNERIO"));
        const QString logs[]
            = { dir.filePath(QStringLiteral("first.log")), dir.filePath(QStringLiteral("second.log")) };
        Emulator first;
        QVERIFY(
            !startEmulator(first.process, { QStringLiteral("--serial-link"), link, QStringLiteral("--log"), logs[0] })
                 .isEmpty());
        PanelRun run(1000);
        QVERIFY(run.connectTo(link, logs[0]));
        QVERIFY(run.prompts.boxes.isEmpty());

        const int warningsBefore = programWarnings;
        QElapsedTimer clock;
        clock.start();
        first.process.kill();
        QVERIFY(first.process.waitForFinished(3000));
        QVERIFY(QTest::qWaitFor([&] { return !run.panel.isPolling() && !run.linkOpen(); }, 10000));
        const qint64 ended = clock.elapsed();
        QTest::qWait(1500);
        QCOMPARE(run.boxes(), QStringList { NO_RESPONSE_BOX });
        // The port's error flood (tens of thousands a second) makes one "Serial port lost" warning.
        QCOMPARE(programWarnings - warningsBefore, 1);
        QCOMPARE(run.panel.commandEngine()->pendingRequests(), 0);
        QCOMPARE(int(run.panel.commandEngine()->engineState()), int(CommandHandler::Idle));
        QCOMPARE(run.loginButton()->toolTip(), QStringLiteral("Click to connect to ") + link);
        QVERIFY(run.loginButton()->isEnabled());

        Emulator second;
        QVERIFY(
            !startEmulator(second.process, { QStringLiteral("--serial-link"), link, QStringLiteral("--log"), logs[1] })
                 .isEmpty());
        QVERIFY(run.connectTo(link, logs[1]));
        QVERIFY(QTest::qWaitFor([&] { return linesReceived(logs[1], "getStatus") >= 2; }, 5000));
        // One answer per prompt, one launch of the reads.
        QCOMPARE(linesReceived(logs[1], "admin"), 1);
        QCOMPARE(linesReceived(logs[1], "korva"), 1);
        QCOMPARE(linesReceived(logs[1], "getCoreParameters"), 1);
        QTest::mouseClick(run.loginButton(), Qt::LeftButton);
        QVERIFY(!run.linkOpen());
        QCOMPARE(run.prompts.boxes.size(), 1);
        qInfo("soak device: unplug, session ended %lld ms after the device vanished; replugged session polled", ended);
    }

private:
    void runSession(int fault)
    {
        static const QList<QStringList> faults {
            {},
            { QStringLiteral("--chunked") },
            { QStringLiteral("--delay-ms"), QStringLiteral("40") },
            { QStringLiteral("--baud-pace") },
            { QStringLiteral("--refuse"), QStringLiteral("setCodeRate") },
            { QStringLiteral("--mute-after"), QStringLiteral("2") },
            { QStringLiteral("--drop-after"), QStringLiteral("3") },
            { QStringLiteral("--refuse"), QStringLiteral("setFlashPacket") },
            { QStringLiteral("--chunked"), QStringLiteral("--baud-pace") },
            { QStringLiteral("--drop-after"), QStringLiteral("4") },
        };
        Session s;
        QVERIFY2(s.open(faults.at(fault)), "no login");

        const QString id = s.handler.getID();
        QVERIFY2(id.contains(QLatin1String("Product serial number : NR0042\n")), qPrintable(id));
        const QList<CommandHandler::inputStatus> status = s.handler.getStatus();
        QCOMPARE(status.size(), 3);
        QCOMPARE(int(status.at(2)), int(CommandHandler::LockedInternal));

        switch (fault) {
        case 4:
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandRefused));
            QVERIFY(s.handler.getCoreParameters().contains(QLatin1String("Code Rate : 2/3\n")));
            break;
        case 5:
            // Silent from the third line on: every later line times out, the engine stays usable.
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandTimeout));
            QVERIFY(s.handler.getID().isEmpty());
            QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandTimeout));
            break;
        case 6:
            // The link drops after the third answer: the answer still counts, later lines time out.
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandOk));
            QTest::qWait(300);
            QVERIFY(s.handler.getID().isEmpty());
            QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandTimeout));
            break;
        case 7:
            QCOMPARE(s.flash(image), (QList<int> { CommandHandler::BankErased, CommandHandler::CommandRefused }));
            break;
        case 9: {
            // Dropped mid-flash: the announcement and two packets, then nothing answers.
            const QList<int> verdicts = s.flash(image);
            QCOMPARE(verdicts.mid(0, 3),
                (QList<int> { CommandHandler::BankErased, CommandHandler::CommandOk, CommandHandler::CommandTimeout }));
            break;
        }
        default: {
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandOk));
            QCOMPARE(s.flash(image),
                (QList<int> { CommandHandler::BankErased, CommandHandler::CommandOk, CommandHandler::CommandOk,
                    CommandHandler::CommandOk, CommandHandler::DownloadComplete }));
            if (fault == 0) {
                // Reboot: the device is silent for 300 ms, so a reading meanwhile times out.
                QVERIFY(s.handler.setBoolValue(RT::setSoftReset, true));
                QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandOk));
                QVERIFY(s.handler.getID().isEmpty());
                QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandTimeout));
            }
            break;
        }
        }
        QCOMPARE(int(s.handler.engineState()), int(CommandHandler::Idle));
        QCOMPARE(s.handler.pendingRequests(), 0);
    }

    QTemporaryDir dir;
    QByteArray image;
};

QTEST_MAIN(tst_soak_device)
#include "tst_soak_device.moc"
