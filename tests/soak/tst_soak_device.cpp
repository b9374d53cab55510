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
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
using RT = CommandHandler::RequestType;

QString emulatorProgram()
{
    return qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLongLong();
}

// nerio-emulator on a pseudo-terminal; port() is the serial path it prints, or empty.
struct Emulator {
    QProcess process;
    ~Emulator()
    {
        process.terminate();
        process.waitForFinished(3000); // else QProcess kills it
    }
    QString start(const QStringList &arguments)
    {
        process.start(emulatorProgram(), QStringList { QStringLiteral("--serial") } + arguments);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (!process.canReadLine() && !process.waitForReadyRead(200))
                continue;
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (line.startsWith(QLatin1String("serial: ")))
                return line.mid(8);
        }
        return QString();
    }
};

// Time stamps of the lines the emulator's wire log ("<time> <link> < <line>") shows as received, of those
// that start with the pattern.
QStringList received(const QString &log, const QString &pattern)
{
    QFile f(log);
    QStringList times;
    const QRegularExpression start(QLatin1Char('^') + pattern);
    for (const QByteArray &raw : f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>()) {
        const int marker = raw.indexOf(" < ");
        if (marker >= 0 && start.match(QString::fromLatin1(raw.mid(marker + 3))).hasMatch())
            times << QString::fromLatin1(raw.left(raw.indexOf(' ')));
    }
    return times;
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
    Emulator emulator;
    Connection connection { nullptr, true };
    CommandHandler handler { &connection, nullptr };
    int loginOutcome = -1;

    ~Session() { connection.disconnectFromHost(false); }

    bool open(const QStringList &faults)
    {
        handler.setTimeoutInterval(400); // short: the silent faults wait it out
        const QString address
            = emulator.start(QStringList { QStringLiteral("--reboot-ms"), QStringLiteral("300") } + faults);
        answerLogin(connection);
        QObject::connect(&connection, &Connection::logProcess, [this](Connection::LogRequest r) { loginOutcome = r; });
        QObject::connect(
            &connection, &Connection::connected, &connection, [this] { connection.sendData(QString(QChar(27))); });
        connection.connectCOMToHost(address);
        return QTest::qWaitFor([this] { return loginOutcome >= Connection::Logged; }, 5000)
            && loginOutcome == Connection::Logged;
    }

    // Sends the image; the verdict of each line in order, stopping at the first that is not accepted.
    QList<int> flash(const QByteArray &image)
    {
        QString header;
        QStringList packets;
        if (!FlashExchange::split(image, &header, &packets))
            return {};
        handler.setStringValue(RT::setFlashRequest, header);
        QList<int> verdicts { handler.lastInfoCode() };
        const QList<int> accepted { CommandHandler::CommandOk, CommandHandler::BankErased };
        for (int k = 0; k < packets.size() && accepted.contains(verdicts.last()); ++k) {
            handler.setStringValue(RT::setFlashPacket, packets.at(k));
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
        return QTest::qWaitFor([&] { return panel.isPolling() && !received(log, "getStatus").isEmpty(); }, 10000);
    }

    QStringList boxes() const
    {
        QStringList out;
        for (const UiPrompts::Box &box : prompts.boxes)
            out << QStringLiteral("%1|%2|%3").arg(int(box.icon)).arg(box.title, box.text);
        return out;
    }
};

const QString COMMAND = QStringLiteral("(get|set)");
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
        const QString path = dir.filePath(QStringLiteral("fw.bin"));
        const QStringList options = QStringLiteral("--name SOAKFW --bank 1 --payload-size 1000").split(' ');
        QCOMPARE(
            QProcess::execute(emulatorProgram(), QStringList { QStringLiteral("make-firmware"), path } + options), 0);
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
        const QString port = emulator.start(
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
            if (applyIntoSilence && !applied && int(received(log, COMMAND).size()) > answered && run.linkOpen()) {
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

        const QStringList commands = received(log, COMMAND);
        const QDateTime silent = QDateTime::fromString(commands.value(answered), Qt::ISODateWithMs);
        const qint64 endedAfter = silent.isValid() && ended.isValid() ? silent.msecsTo(ended) : -1;
        qInfo("soak device: silence, %s, %d s watched, time-out %d ms: session ended %lld ms after the unanswered "
              "line, longest queue %d, %d time-outs, %d boxes, %d warnings, %d command lines (%d answered)",
            QTest::currentDataTag(), seconds, timeoutMs, endedAfter, run.longestQueue, run.timeouts,
            int(run.prompts.boxes.size()), programWarnings - warningsBefore, int(commands.size()), answered);
        QCOMPARE(applied, applyIntoSilence);
        QCOMPARE(run.boxes(), QStringList { NO_RESPONSE_BOX });
        QCOMPARE(run.timeouts, 1);
        QCOMPARE(int(commands.size()), answered + 1);
        QCOMPARE(programWarnings - warningsBefore, 0);
        QVERIFY2(run.longestQueue <= (applyIntoSilence ? 17 : 1), qPrintable(QString::number(run.longestQueue)));
        // The time-out, then the goodbye to a silent device (one second).
        QVERIFY2(endedAfter >= timeoutMs && endedAfter < timeoutMs + 3000, qPrintable(QString::number(endedAfter)));
        QVERIFY(!run.panel.isPolling() && !run.linkOpen());
        QCOMPARE(run.panel.commandEngine()->pendingRequests(), 0);
        QCOMPARE(int(run.panel.commandEngine()->engineState()), int(CommandHandler::Idle));
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
        QVERIFY(!run.linkOpen());
        QTest::qWait(1500);
        QCOMPARE(run.boxes().size(), 1);
    }

    // The device's pseudo-terminal vanishes under an open session (emulator killed), then a new device
    // appears at the same path: one report of the lost port, no hang, and the same page connects again
    // cleanly.
    void unplugAndReplug()
    {
        const QString link = dir.filePath(QStringLiteral("ttyNERIO"));
        const QString logs[]
            = { dir.filePath(QStringLiteral("first.log")), dir.filePath(QStringLiteral("second.log")) };
        Emulator first;
        QVERIFY(!first.start({ QStringLiteral("--serial-link"), link, QStringLiteral("--log"), logs[0] }).isEmpty());
        PanelRun run(1000);
        QVERIFY(run.connectTo(link, logs[0]));

        const int warningsBefore = programWarnings;
        QElapsedTimer clock;
        clock.start();
        first.process.kill();
        QVERIFY(first.process.waitForFinished(3000));
        QVERIFY(QTest::qWaitFor([&] { return !run.panel.isPolling() && !run.linkOpen(); }, 10000));
        const qint64 ended = clock.elapsed();
        QTest::qWait(1500);
        // Said at once as the port's loss, not as the time-out of the next request.
        QVERIFY2(ended < 1000, qPrintable(QString::number(ended)));
        QCOMPARE(run.boxes(),
            QStringList { QStringLiteral("%1|Connexion fail|Unable to open the specified COM port!")
                              .arg(int(QMessageBox::Critical)) });
        // The port's error flood (tens of thousands a second) makes one "Serial port lost" warning.
        QCOMPARE(programWarnings - warningsBefore, 1);
        QCOMPARE(run.panel.commandEngine()->pendingRequests(), 0);
        QCOMPARE(int(run.panel.commandEngine()->engineState()), int(CommandHandler::Idle));
        QVERIFY(run.loginButton()->isEnabled());

        Emulator second;
        QVERIFY(!second.start({ QStringLiteral("--serial-link"), link, QStringLiteral("--log"), logs[1] }).isEmpty());
        QVERIFY(run.connectTo(link, logs[1]));
        QVERIFY(QTest::qWaitFor([&] { return received(logs[1], QStringLiteral("getStatus")).size() >= 2; }, 5000));
        // One answer per prompt, one launch of the reads.
        QCOMPARE(received(logs[1], QStringLiteral("admin")).size(), 1);
        QCOMPARE(received(logs[1], QStringLiteral("korva")).size(), 1);
        QCOMPARE(received(logs[1], QStringLiteral("getCoreParameters")).size(), 1);
        qInfo("soak device: unplug, session ended %lld ms after the device vanished; replugged session polled", ended);
    }

private:
    void runSession(int fault)
    {
        using CH = CommandHandler;
        const QList<int> fullFlash { CH::BankErased, CH::CommandOk, CH::CommandOk, CH::CommandOk,
            CH::DownloadComplete };
        // Options, then the verdicts of setCodeRate and of the flash lines (sent up to the first not accepted).
        const QList<std::tuple<QString, int, QList<int>>> faults {
            { QString(), CH::CommandOk, fullFlash }, // then a reboot
            { QStringLiteral("--chunked"), CH::CommandOk, fullFlash },
            { QStringLiteral("--delay-ms 40"), CH::CommandOk, fullFlash },
            { QStringLiteral("--baud-pace"), CH::CommandOk, fullFlash },
            { QStringLiteral("--refuse setCodeRate"), CH::CommandRefused, fullFlash },
            // Silent from the third line on.
            { QStringLiteral("--mute-after 2"), CH::CommandTimeout, { CH::CommandTimeout } },
            // The link drops after the third answer: that answer still counts.
            { QStringLiteral("--drop-after 3"), CH::CommandOk, { CH::CommandTimeout } },
            { QStringLiteral("--refuse setFlashPacket"), CH::CommandOk, { CH::BankErased, CH::CommandRefused } },
            { QStringLiteral("--chunked --baud-pace"), CH::CommandOk, fullFlash },
            // Dropped mid-flash: the announcement and one packet, then nothing answers.
            { QStringLiteral("--drop-after 5"), CH::CommandOk, { CH::BankErased, CH::CommandOk, CH::CommandTimeout } },
        };
        const auto &[options, codeRate, flash] = faults.at(fault);
        Session s;
        QVERIFY2(s.open(options.split(QLatin1Char(' '), Qt::SkipEmptyParts)), "no login");

        const QString id = s.handler.getID();
        QVERIFY2(id.contains(QLatin1String("Product serial number : NR0042\n")), qPrintable(id));
        QCOMPARE(s.handler.getStatus(), (QList<CH::inputStatus> { CH::NoData, CH::NoData, CH::LockedInternal }));
        s.handler.setIntValue(RT::setCodeRate, 3);
        QCOMPARE(int(s.handler.lastInfoCode()), codeRate);
        QCOMPARE(s.flash(image), flash);
        if (fault == 0) {
            // Reboot: the device is silent for 300 ms, so a reading meanwhile times out.
            QVERIFY(s.handler.setBoolValue(RT::setSoftReset, true));
            QCOMPARE(int(s.handler.lastInfoCode()), int(CH::CommandOk));
        }
        if (fault == 0 || flash.last() == CH::CommandTimeout) {
            // Every later line times out too; the engine stays usable.
            QVERIFY(s.handler.getID().isEmpty());
            QCOMPARE(int(s.handler.lastInfoCode()), int(CH::CommandTimeout));
        }
        QCOMPARE(int(s.handler.engineState()), int(CH::Idle));
        QCOMPARE(s.handler.pendingRequests(), 0);
    }

    QTemporaryDir dir;
    QByteArray image;
};

QTEST_MAIN(tst_soak_device)
#include "tst_soak_device.moc"
