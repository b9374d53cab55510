// The Configuration page's session driven headless against nerio-emulator over a pseudo-terminal:
// connect and log in, identity/parameters/status, the poll rhythm, apply and read back, and the
// ways a session ends (button, silent device, refused login, unopenable port).

#include "configurationpanel.h"
#include "mux.h"
#include "promptrecorder.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
constexpr int TEST_COMMAND_TIMEOUT_MS = 1000;

// One emulator process; stopped when the object goes.
class Emulator
{
public:
    explicit Emulator(const QString &logPath, const QStringList &extra = {})
    {
        const QString binDir = qEnvironmentVariable("NERIO_BIN_DIR");
        process.setProgram(binDir + "/nerio-emulator");
        process.setArguments(QStringList { "--serial", "--log", logPath } + extra);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(5000))
            return;
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000 && !out.contains("ready\n")) {
            process.waitForReadyRead(200);
            out += process.readAllStandardOutput();
        }
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("serial: "))
                path = QString::fromLocal8Bit(line.mid(8).trimmed());
        }
        ready = out.contains("ready\n") && !path.isEmpty();
    }
    ~Emulator()
    {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    QProcess process;
    QString path;
    bool ready = false;
};

// Lines the emulator received, from its log ("<time> <link> < <line>").
struct Received
{
    QDateTime time;
    QString line;
};

QList<Received> receivedLines(const QString &logPath)
{
    QList<Received> out;
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString text = QString::fromLatin1(raw);
        const int marker = text.indexOf(QLatin1String(" < "));
        if (marker < 0)
            continue;
        out.append({ QDateTime::fromString(text.section(' ', 0, 0), Qt::ISODateWithMs), text.mid(marker + 3) });
    }
    return out;
}

QStringList receivedTexts(const QString &logPath)
{
    QStringList out;
    for (const Received &r : receivedLines(logPath))
        out.append(r.line);
    return out;
}

// Clicks a selector until it shows the wanted item (at most one full cycle).
bool selectItem(Mux *mux, const QString &item)
{
    for (int i = 0; i <= mux->maxIndex && mux->items.value(mux->index) != item; ++i)
        QTest::mouseClick(mux->button, Qt::LeftButton);
    return mux->items.value(mux->index) == item;
}
}

class TstPanelSession : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void connectShowsDeviceAndPolls();
    void applyFullSetReadsBack();
    void silentDeviceEndsSession();
    void wrongPassword();
    void failedPortThenOneCleanLogin();
    void invalidAddressReturnsToIdle();
    void reconnectRightAfterDisconnect();

private:
    bool connectPanel(ConfigurationPanel &panel, const QString &port);
    template<typename T> static T *child(ConfigurationPanel &panel, const char *name)
    {
        T *w = panel.findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("missing widget %s", name);
        return w;
    }

    QTemporaryDir *dir = nullptr;
    QString logPath;
};

void TstPanelSession::init()
{
    dir = new QTemporaryDir;
    logPath = dir->filePath("wire.log");
}

void TstPanelSession::cleanup()
{
    delete dir;
    dir = nullptr;
}

bool TstPanelSession::connectPanel(ConfigurationPanel &panel, const QString &port)
{
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(TEST_COMMAND_TIMEOUT_MS);
    panel.setCOMPort(port);
    QPushButton *login = child<QPushButton>(panel, "loginButton");
    if (!login->isEnabled())
        return false;
    QTest::mouseClick(login, Qt::LeftButton);
    return true;
}

void TstPanelSession::connectShowsDeviceAndPolls()
{
    Emulator emulator(logPath);
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QElapsedTimer sinceClick;
    sinceClick.start();
    QVERIFY(connectPanel(panel, emulator.path));

    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(panel, "PLLOK")->toolTip(),
        QString("Locked on internal clock"), 2000);
    QVERIFY(sinceClick.elapsed() < 2000);
    QCOMPARE(child<QLabel>(panel, "typeLabel")->text(), QString("Nerio DVB-T modulator"));
    QCOMPARE(child<QLabel>(panel, "serialLabel")->text(), QString("NR0042"));
    QCOMPARE(child<QLabel>(panel, "macLabel")->text(), QString("02-4E-52-00-00-2A"));
    QCOMPARE(child<QLabel>(panel, "versionLabel")->text(), QString("1.0.0"));
    QCOMPARE(child<QLabel>(panel, "manufacturingLabel")->text(), QString("2025-11-04"));
    QCOMPARE(child<QLabel>(panel, "optionsLabel")->text(), QString("IP ASI"));
    QCOMPARE(panel.serialNumberText(), QString("NR0042"));
    // The emulator's factory parameters.
    QCOMPARE(panel.collectConfig(),
        QStringList({ "IP", "2/3", "1/32", "64QAM", "8MHz", "8K", "internal", "239.0.0.1", "1234", "666.000", "0",
            "multicast", "OFF" }));
    QCOMPARE(child<QLabel>(panel, "IPLabel")->text(), QString("239.0.0.1"));
    QCOMPARE(child<QLabel>(panel, "IPOK")->toolTip(), QString("Loss of signal"));
    QCOMPARE(child<QLabel>(panel, "rawbitrate")->text(), QString("0.000 Mbps (Raw)"));
    QCOMPARE(child<QPushButton>(panel, "loginButton")->toolTip(),
        "Connected to " + emulator.path + "\nClick to disconnect");
    QVERIFY(!child<QPushButton>(panel, "loginSerialButton")->isEnabled());

    const QStringList first = receivedTexts(logPath);
    QVERIFY(first.size() >= 6);
    QCOMPARE(first.mid(0, 2), QStringList({ "admin", "korva" }));
    QCOMPARE(first.mid(2, 3), QStringList({ "getCoreParameters", "getID", "getIPParameters" }));

    // Poll rhythm: one getStatus a second while replies arrive.
    QList<QDateTime> polls;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            polls.clear();
            for (const Received &r : receivedLines(logPath))
                if (r.line == QLatin1String("getStatus"))
                    polls.append(r.time);
            return polls.size() >= 4;
        }(),
        6000);
    for (int i = 1; i < polls.size(); ++i) {
        const qint64 gap = polls[i - 1].msecsTo(polls[i]);
        QVERIFY2(gap >= 995 && gap <= 1500, qPrintable(QString("poll gap %1 ms").arg(gap)));
    }

    // The button ends the session without a box.
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
    QVERIFY(!panel.isPolling());
    QVERIFY(!panel.connection()->isConnected(2));
    QCOMPARE(child<QPushButton>(panel, "loginButton")->toolTip(), "Click to connect to " + emulator.path);
    QTRY_COMPARE(child<QLabel>(panel, "PLLOK")->pixmap(Qt::ReturnByValue).toImage(),
        QPixmap(":/configurationPanel/red.png").toImage());
    QVERIFY(receivedTexts(logPath).contains("exit"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstPanelSession::applyFullSetReadsBack()
{
    Emulator emulator(logPath);
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    QStringList applied;
    {
        ConfigurationPanel panel;
        QVERIFY(connectPanel(panel, emulator.path));
        QTRY_COMPARE_WITH_TIMEOUT(panel.serialNumberText(), QString("NR0042"), 3000);

        const QList<Mux *> &sel = panel.selectors();
        QVERIFY(selectItem(sel[2], "5/6"));
        QVERIFY(selectItem(sel[3], "1/4"));
        QVERIFY(selectItem(sel[4], "16QAM"));
        QVERIFY(selectItem(sel[6], "2K"));
        QVERIFY(selectItem(sel[1], "external"));
        panel.setFrequency("682.000", "Channel 47");
        panel.setIPConfig("239.10.20.30", "5004", false);
        QTest::mouseClick(child<QPushButton>(panel, "outputSliderButton"), Qt::LeftButton);
        panel.setAttenuationLevel(12);
        QTest::mouseClick(child<QCheckBox>(panel, "mipCheckBox"), Qt::LeftButton);
        applied = panel.collectConfig();
        QCOMPARE(applied,
            QStringList({ "IP", "5/6", "1/4", "16QAM", "8MHz", "2K", "external", "239.10.20.30", "5004", "682.000", "12",
                "multicast", "ON" }));

        const int before = receivedTexts(logPath).size();
        QTest::mouseClick(child<QPushButton>(panel, "applyConfigButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(receivedTexts(logPath).contains("getIPParameters") && child<QPushButton>(panel, "applyConfigButton")->isEnabled(), 5000);

        QStringList sent = receivedTexts(logPath).mid(before);
        sent.removeAll("getStatus");
        sent.removeAll("getID");
        QCOMPARE(sent.mid(0, 16),
            QStringList({ "setInputMux AUTO", "setRefClockMux external", "setCodeRate 5/6", "setGuardInterval 1/4",
                "setConstellation 16QAM", "setBandwidth 8", "setTransmissionMode 2K", "setOutputFrequency 682.000",
                "setOutputState ON", "setMipControl ON", "setIPAddressingMethod multicast",
                "setIPMulticastAddress 239.10.20.30", "setIPPort 5004", "setAttenuation 12", "getCoreParameters",
                "getIPParameters" }));
        QCOMPARE(panel.collectConfig(), applied);
        QVERIFY(panel.isMipControlled());
        QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
    }
    // A fresh page reads the same set back from the device.
    ConfigurationPanel fresh;
    QVERIFY(connectPanel(fresh, emulator.path));
    QTRY_COMPARE_WITH_TIMEOUT(fresh.collectConfig(), applied, 3000);
    QVERIFY(fresh.isMipControlled());
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(fresh, "PLLOK")->toolTip(), QString("Loss of lock"), 3000);
    QTest::mouseClick(child<QPushButton>(fresh, "loginButton"), Qt::LeftButton);
    QVERIFY(prompts.boxes.isEmpty());
}

void TstPanelSession::silentDeviceEndsSession()
{
    // Enough lines for the first reads and a few status polls, then silence.
    Emulator emulator(logPath, { "--mute-after", "8" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(panel, "PLLOK")->toolTip(), QString("Locked on internal clock"), 3000);
    QVERIFY(panel.isPolling());

    QTRY_COMPARE_WITH_TIMEOUT(prompts.boxes.size(), 1, 8000);
    QCOMPARE(prompts.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(prompts.boxes[0].title, QString("Command information"));
    QCOMPARE(prompts.boxes[0].text, QString("No response from product received, check your connection"));
    QTRY_VERIFY_WITH_TIMEOUT(!panel.isPolling(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(
        child<QPushButton>(panel, "loginButton")->toolTip(), "Click to connect to " + emulator.path, 3000);
    QVERIFY(child<QPushButton>(panel, "loginButton")->isEnabled());
    QVERIFY(child<QPushButton>(panel, "loginSerialButton")->isEnabled());
    QVERIFY(!panel.connection()->isConnected(2));
    QCOMPARE(child<QLabel>(panel, "PLLOK")->pixmap(Qt::ReturnByValue).toImage(),
        QPixmap(":/configurationPanel/red.png").toImage());
    // Idle: no further polls and no second box.
    const int lines = receivedTexts(logPath).size();
    QTest::qWait(1500);
    QCOMPARE(receivedTexts(logPath).size(), lines);
    QCOMPARE(prompts.boxes.size(), 1);
}

void TstPanelSession::wrongPassword()
{
    Emulator emulator(logPath, { "--password", "other" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QTRY_COMPARE_WITH_TIMEOUT(prompts.boxes.size(), 1, 3000);
    QCOMPARE(prompts.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(prompts.boxes[0].title, QString("Login error"));
    QCOMPARE(prompts.boxes[0].text, QString("Access denied\nCheck your login/password values !"));
    QTRY_VERIFY_WITH_TIMEOUT(!panel.connection()->isConnected(2), 3000);
    QCOMPARE(child<QPushButton>(panel, "loginButton")->toolTip(), "Click to connect to " + emulator.path);
    QVERIFY(!panel.isPolling());
    QCOMPARE(panel.serialNumberText(), QString("not found"));
    QTest::qWait(300);
    QCOMPARE(prompts.boxes.size(), 1);
}

void TstPanelSession::failedPortThenOneCleanLogin()
{
    Emulator emulator(logPath);
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, dir->filePath("no-such-port")));
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].title, QString("Connexion fail"));
    QCOMPARE(prompts.boxes[0].text, QString("Unable to open the specified COM port!"));
    QCOMPARE(child<QPushButton>(panel, "loginButton")->toolTip(), "Click to connect to " + dir->filePath("no-such-port"));

    // The failed attempt must leave no handler behind: the login is answered once.
    panel.setCOMPort(emulator.path);
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(panel.serialNumberText(), QString("NR0042"), 3000);
    const QStringList lines = receivedTexts(logPath);
    QCOMPARE(lines.count("admin"), 1);
    QCOMPARE(lines.count("korva"), 1);
    QCOMPARE(lines.count("getCoreParameters"), 1);
    QCOMPARE(prompts.boxes.size(), 1);
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
}

void TstPanelSession::invalidAddressReturnsToIdle()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    panel.setIPAddress("300.1.2.3");
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].title, QString("IP error"));
    QCOMPARE(prompts.boxes[0].text, QString("Invalid format for IP address"));
    QVERIFY(child<QPushButton>(panel, "loginButton")->isEnabled());
    QCOMPARE(child<QPushButton>(panel, "loginButton")->toolTip(), QString("Click to connect to host (300.1.2.3)"));
    QVERIFY(child<QPushButton>(panel, "loginSerialButton")->isEnabled());
}

void TstPanelSession::reconnectRightAfterDisconnect()
{
    // A slow console: the goodbye to "exit" takes longer than the time left before the next poll. A poll
    // sent into the closing link would stay outstanding and kill the next session with a time-out.
    Emulator emulator(logPath, { "--delay-ms", "900" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    panel.commandEngine()->setTimeoutInterval(CommandHandler::COMMAND_TIMEOUT_MS);
    QLabel *pll = child<QLabel>(panel, "PLLOK");
    QTRY_COMPARE_WITH_TIMEOUT(pll->toolTip(), QString("Locked on internal clock"), 8000);
    // Just after a status reply, so the next poll is due while the link is closing.
    QSignalSpy replies(panel.commandEngine(), &CommandHandler::inputStatusReady);
    QVERIFY(replies.wait(3000));
    QTest::qWait(200);
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
    QVERIFY(!panel.connection()->isConnected(2));
    pll->setToolTip(QString());
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(pll->toolTip(), QString("Locked on internal clock"), 8000);
    QTest::qWait(3000);
    QVERIFY(prompts.boxes.isEmpty());
    QVERIFY(panel.isPolling());
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
}

QTEST_MAIN(TstPanelSession)
#include "tst_panelsession.moc"
