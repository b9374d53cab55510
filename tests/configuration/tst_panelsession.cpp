// The Configuration page's session driven headless against nerio-emulator over a pseudo-terminal:
// connect and log in, identity/parameters/status, the poll rhythm, apply and read back, and the
// ways a session ends (button, silent device, refused login, unusable address or port). The IP login
// dialog broadcasts a discovery, so its test runs in a network namespace of its own, which this program
// creates by running itself again under unshare; there a nerio-emulator answers the discovery and
// takes the telnet login on port 23.

#include "dialogloginip.h"
#include "mux.h"
#include "panelfixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>

#include <unistd.h>

namespace
{
const char *const CHILD_ENV = "NERIO_LOGIN_NS_CHILD";

// Clicks a selector until it shows the wanted item (at most one full cycle).
bool selectItem(Mux *mux, const QString &item)
{
    for (int i = 0; i <= mux->maxIndex && mux->items.value(mux->index) != item; ++i)
        QTest::mouseClick(mux->button, Qt::LeftButton);
    return mux->items.value(mux->index) == item;
}

QImage pixmapOf(const ConfigurationPanel &panel, const char *label)
{
    return child<QLabel>(&panel, label)->pixmap(Qt::ReturnByValue).toImage();
}
}

class TstPanelSession : public QObject
{
    Q_OBJECT
private slots:
    void connectShowsDeviceAndPolls();
    void applyFullSetReadsBack();
    void sessionEndsWithBox_data();
    void sessionEndsWithBox();
    void refusedTargetThenOneCleanLogin_data();
    void refusedTargetThenOneCleanLogin();
    void reconnectRightAfterDisconnect();
    void loginIpInNamespace();
};

void TstPanelSession::connectShowsDeviceAndPolls()
{
    Emulator emulator;
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QElapsedTimer sinceClick;
    sinceClick.start();
    QVERIFY(connectPanel(panel, emulator.path));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&panel, "PLLOK")->toolTip(), QString("Locked on internal clock"), 2000);
    QVERIFY(sinceClick.elapsed() < 2000);
    QStringList shown;
    for (const char *label : { "typeLabel", "serialLabel", "macLabel", "versionLabel", "manufacturingLabel",
             "optionsLabel", "IPLabel", "rawbitrate" })
        shown << child<QLabel>(&panel, label)->text();
    QCOMPARE(shown,
        QStringList({ "Nerio DVB-T modulator", "NR0042", "02-4E-52-00-00-2A", "1.0.0", "2025-11-04", "IP ASI",
            "239.0.0.1", "0.000 Mbps (Raw)" }));
    // The emulator's factory parameters.
    QCOMPARE(panel.collectConfig(),
        QStringList({ "IP", "2/3", "1/32", "64QAM", "8MHz", "8K", "internal", "239.0.0.1", "1234", "666.000", "0",
            "multicast", "OFF" }));
    QCOMPARE(emulator.received().mid(0, 5),
        QStringList({ "admin", "korva", "getCoreParameters", "getID", "getIPParameters" }));

    // Poll rhythm: one getStatus a second while replies arrive.
    QStringList polls;
    QTRY_VERIFY_WITH_TIMEOUT((polls = emulator.received(0, true).filter(" getStatus")).size() >= 4, 6000);
    for (int i = 1; i < polls.size(); ++i) {
        const qint64 gap = QDateTime::fromString(polls[i - 1].section(' ', 0, 0), Qt::ISODateWithMs)
                               .msecsTo(QDateTime::fromString(polls[i].section(' ', 0, 0), Qt::ISODateWithMs));
        QVERIFY2(gap >= 995 && gap <= 1500, qPrintable(QString("poll gap %1 ms").arg(gap)));
    }

    // The button ends the session without a box.
    clickLogin(panel);
    QVERIFY(!panel.isPolling());
    QVERIFY(!panel.connection()->isConnected(2));
    QTRY_COMPARE(pixmapOf(panel, "PLLOK"), QPixmap(":/configurationPanel/red.png").toImage());
    QVERIFY(emulator.received().contains("exit"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstPanelSession::applyFullSetReadsBack()
{
    Emulator emulator;
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    const QStringList applied { "IP", "5/6", "1/4", "16QAM", "8MHz", "2K", "external", "239.10.20.30", "5004",
        "682.000", "12", "multicast", "ON" };
    {
        ConfigurationPanel panel;
        QVERIFY(connectPanel(panel, emulator.path));
        const QList<Mux *> &sel = panel.selectors();
        QVERIFY(selectItem(sel[2], "5/6") && selectItem(sel[3], "1/4") && selectItem(sel[4], "16QAM"));
        QVERIFY(selectItem(sel[6], "2K") && selectItem(sel[1], "external"));
        panel.setFrequency("682.000", "Channel 47");
        panel.setIPConfig("239.10.20.30", "5004", false);
        QTest::mouseClick(child<QPushButton>(&panel, "outputSliderButton"), Qt::LeftButton);
        panel.setAttenuationLevel(12);
        QTest::mouseClick(child<QCheckBox>(&panel, "mipCheckBox"), Qt::LeftButton);
        QCOMPARE(panel.collectConfig(), applied);

        const int before = emulator.received().size();
        QPushButton *apply = child<QPushButton>(&panel, "applyConfigButton");
        QTest::mouseClick(apply, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(emulator.received(before).contains("getIPParameters") && apply->isEnabled(), 5000);
        QStringList sent = emulator.received(before);
        sent.removeAll("getStatus");
        sent.removeAll("getID");
        QCOMPARE(sent.mid(0, 16),
            QStringList({ "setInputMux AUTO", "setRefClockMux external", "setCodeRate 5/6", "setGuardInterval 1/4",
                "setConstellation 16QAM", "setBandwidth 8", "setTransmissionMode 2K", "setOutputFrequency 682.000",
                "setOutputState ON", "setMipControl ON", "setIPAddressingMethod multicast",
                "setIPMulticastAddress 239.10.20.30", "setIPPort 5004", "setAttenuation 12", "getCoreParameters",
                "getIPParameters" }));
        QCOMPARE(panel.collectConfig(), applied);
        clickLogin(panel);
    }
    // A fresh page reads the same set back from the device.
    ConfigurationPanel fresh;
    QVERIFY(connectPanel(fresh, emulator.path));
    QTRY_COMPARE_WITH_TIMEOUT(fresh.collectConfig(), applied, 3000);
    QVERIFY(fresh.isMipControlled());
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&fresh, "PLLOK")->toolTip(), QString("Loss of lock"), 3000);
    clickLogin(fresh);
    QVERIFY(prompts.boxes.isEmpty());
}

void TstPanelSession::sessionEndsWithBox_data()
{
    QTest::addColumn<QStringList>("emulatorOptions");
    QTest::addColumn<QString>("box");
    // Enough lines for the first reads and a few status polls, then silence: the time-out must still end
    // the session once the first readings are through.
    QTest::newRow("silent device") << QStringList { "--mute-after", "8" }
                                   << "critical|Command information|No response from product received, check your "
                                      "connection";
    QTest::newRow("wrong password") << QStringList { "--password", "other" }
                                    << "critical|Login error|Access denied\nCheck your login/password values !";
}

void TstPanelSession::sessionEndsWithBox()
{
    QFETCH(QStringList, emulatorOptions);
    QFETCH(QString, box);
    Emulator emulator(emulatorOptions);
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    connectPanel(panel, emulator.path);
    QTRY_COMPARE_WITH_TIMEOUT(shownBoxes(prompts), QStringList({ box }), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(!panel.isPolling() && !panel.connection()->isConnected(2), 3000);
    QCOMPARE(child<QPushButton>(&panel, "loginButton")->toolTip(), "Click to connect to " + emulator.path);
    QCOMPARE(pixmapOf(panel, "PLLOK"), QPixmap(":/configurationPanel/red.png").toImage());
    // Idle: no further lines and no second box.
    const int lines = emulator.received().size();
    QTest::qWait(1500);
    QCOMPARE(emulator.received().size(), lines);
    QCOMPARE(prompts.boxes.size(), 1);
}

void TstPanelSession::refusedTargetThenOneCleanLogin_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("no such port") << "" << "/nonexistent/tty" << "critical|Connexion fail|Unable to open the "
                                                                 "specified COM port!"
                                  << "Click to connect to /nonexistent/tty";
    QTest::newRow("invalid address") << "300.1.2.3" << "" << "warning|IP error|Invalid format for IP address"
                                     << "Click to connect to host (300.1.2.3)";
}

void TstPanelSession::refusedTargetThenOneCleanLogin()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, box);
    QFETCH(QString, toolTip);
    Emulator emulator;
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    if (address.isEmpty())
        panel.setCOMPort(port);
    else
        panel.setIPAddress(address);
    clickLogin(panel);
    QCOMPARE(shownBoxes(prompts), QStringList({ box }));
    QCOMPARE(child<QPushButton>(&panel, "loginButton")->toolTip(), toolTip);
    QVERIFY(child<QPushButton>(&panel, "loginSerialButton")->isEnabled());

    // The failed attempt must leave no handler behind: the login is answered once.
    QVERIFY(connectPanel(panel, emulator.path));
    const QStringList lines = emulator.received();
    QCOMPARE(QList<int>({ lines.count("admin"), lines.count("korva"), lines.count("getCoreParameters") }),
        QList<int>({ 1, 1, 1 }));
    QCOMPARE(prompts.boxes.size(), 1);
    clickLogin(panel);
}

void TstPanelSession::reconnectRightAfterDisconnect()
{
    // A slow console: the goodbye to "exit" takes longer than the time left before the next poll. A poll
    // sent into the closing link would stay outstanding and kill the next session with a time-out.
    Emulator emulator({ "--delay-ms", "900" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    connectPanel(panel, emulator.path, CommandHandler::COMMAND_TIMEOUT_MS);
    QLabel *pll = child<QLabel>(&panel, "PLLOK");
    QTRY_COMPARE_WITH_TIMEOUT(pll->toolTip(), QString("Locked on internal clock"), 8000);
    // Just after a status reply, so the next poll is due while the link is closing.
    QSignalSpy replies(panel.commandEngine(), &CommandHandler::inputStatusReady);
    QVERIFY(replies.wait(3000));
    QTest::qWait(200);
    clickLogin(panel);
    QVERIFY(!panel.connection()->isConnected(2));
    pll->setToolTip(QString());
    clickLogin(panel);
    QTRY_COMPARE_WITH_TIMEOUT(pll->toolTip(), QString("Locked on internal clock"), 8000);
    QTest::qWait(3000);
    QVERIFY(prompts.boxes.isEmpty());
    QVERIFY(panel.isPolling());
    clickLogin(panel);
}

void TstPanelSession::loginIpInNamespace()
{
    if (geteuid() != 0)
        QSKIP("the IP login dialog broadcasts; its test needs a network namespace, which needs root");
    QProcess probe;
    probe.start("unshare", { "-n", "true" });
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        QSKIP(qPrintable("cannot create a network namespace: " + QString::fromLocal8Bit(probe.readAllStandardError())));

    // Loopback up with a broadcast route, then this program again, running the namespace test.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(CHILD_ENV, "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("unshare",
        { "-n", "sh", "-c", "ip link set lo up && ip route add 255.255.255.255/32 dev lo src 127.0.0.1 && exec \"$0\"",
            QCoreApplication::applicationFilePath() });
    QVERIFY(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    if (child.exitCode() != 0)
        qWarning().noquote() << output;
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(output.contains("Totals: 3 passed, 0 failed, 0 skipped"));
}

// Runs only inside the namespace the test above creates.
class TstLoginIpNamespace : public QObject
{
    Q_OBJECT
private slots:
    void discoveryThenTelnetLogin();
};

void TstLoginIpNamespace::discoveryThenTelnetLogin()
{
    Emulator emulator({ "--telnet", "23", "--discovery" }, false);
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(1000);
    const auto shownDialog = [] {
        QPointer<DialogLoginIp> found;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<DialogLoginIp *>(w); d && d->isVisible())
                found = d;
        return found;
    };
    // OK before any answer stores "Auto", which the connect refuses.
    panel.configLoginIP();
    QPointer<DialogLoginIp> dialog = shownDialog();
    QVERIFY(dialog);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.ipAddressText(), QString("Auto"));
    clickLogin(panel);
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|IP error|Invalid format for IP address" }));
    prompts.boxes.clear();

    panel.configLoginIP();
    dialog = shownDialog();
    QVERIFY(dialog);
    // Only the emulator's answer is listed: the dialog's own query comes back too but is no answer.
    auto *hosts = child<QComboBox>(dialog, "interfaceComboBox");
    QTRY_COMPARE_WITH_TIMEOUT(hosts->itemText(hosts->count() - 1), QString("127.0.0.1 (02-4E-52-00-00-2A)"), 3000);
    QCOMPARE(hosts->count(), 1);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.ipAddressText() + ' ' + QString::number(panel.connectionKind()), QString("127.0.0.1 0"));

    // The TCP route: telnet on port 23, login, identity.
    clickLogin(panel);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&panel, "typeLabel")->text(), QString("Nerio DVB-T modulator"), 5000);
    QVERIFY(panel.isPolling());
    clickLogin(panel);
    QVERIFY(!panel.isPolling());
    QVERIFY(prompts.boxes.isEmpty());
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(CHILD_ENV)) {
        TstLoginIpNamespace inNamespace;
        return QTest::qExec(&inNamespace, argc, argv);
    }
    TstPanelSession tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_panelsession.moc"
