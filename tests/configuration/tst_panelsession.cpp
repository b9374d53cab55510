// The Configuration page's session driven headless against nerio-emulator over a pseudo-terminal:
// unusable port or address, then connect and log in, identity/parameters/status, the poll rhythm, apply
// on the wire, and the ways a session ends (button, silent device, refused login, quick reconnect).
// Discovery and the telnet dialogue are tested in tests/discovery and tests/connexion.

#include "mux.h"
#include "panelfixture.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>

namespace
{
// Clicks a selector until it shows the wanted item (at most one full cycle).
bool selectItem(Mux *mux, const QString &item)
{
    for (int i = 0; i <= mux->maxIndex && mux->items.value(mux->index) != item; ++i)
        QTest::mouseClick(mux->button, Qt::LeftButton);
    return mux->items.value(mux->index) == item;
}

bool pllRed(const ConfigurationPanel &panel)
{
    return child<QLabel>(&panel, "PLLOK")->pixmap(Qt::ReturnByValue).toImage()
        == QPixmap(":/configurationPanel/red.png").toImage();
}
}

class TstPanelSession : public QObject
{
    Q_OBJECT
private slots:
    void connectPollApplyDisconnect();
    void sessionEndsWithBox_data();
    void sessionEndsWithBox();
    void reconnectRightAfterDisconnect();
};

void TstPanelSession::connectPollApplyDisconnect()
{
    Emulator emulator;
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    // Unusable targets first: each gets its box and must leave no handler behind (checked below: the
    // login and the first reads are sent once).
    panel.createCommandHandler(panel.connection());
    panel.setCOMPort("/nonexistent/tty");
    clickLogin(panel);
    panel.setIPAddress("300.1.2.3");
    clickLogin(panel);
    QCOMPARE(shownBoxes(prompts),
        QStringList({ "critical|Connexion fail|Unable to open the specified COM port!",
            "warning|IP error|Invalid format for IP address" }));
    prompts.boxes.clear();
    QVERIFY(connectPanel(panel, emulator.path));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&panel, "PLLOK")->toolTip(), QString("Locked on internal clock"), 2000);
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

    // Poll rhythm: one getStatus a second while replies arrive, and nothing else.
    QStringList polls;
    QTRY_VERIFY_WITH_TIMEOUT((polls = emulator.received(0, true).filter(" getStatus")).size() >= 4, 6000);
    for (int i = 1; i < polls.size(); ++i) {
        const qint64 gap = QDateTime::fromString(polls[i - 1].section(' ', 0, 0), Qt::ISODateWithMs)
                               .msecsTo(QDateTime::fromString(polls[i].section(' ', 0, 0), Qt::ISODateWithMs));
        QVERIFY2(gap >= 995 && gap <= 1500, qPrintable(QString("poll gap %1 ms").arg(gap)));
    }
    // The identity is read again now and then, so it is left out here (the labels above show it was read).
    QStringList firstReads = emulator.received();
    firstReads.removeAll("getStatus");
    firstReads.removeAll("getID");
    QCOMPARE(firstReads, QStringList({ "admin", "korva", "getCoreParameters", "getIPParameters" }));

    // A full set applied, in order, then read back.
    const QList<Mux *> &sel = panel.selectors();
    QVERIFY(selectItem(sel[2], "5/6") && selectItem(sel[3], "1/4") && selectItem(sel[4], "16QAM"));
    QVERIFY(selectItem(sel[6], "2K") && selectItem(sel[1], "external"));
    panel.setFrequency("682.000", "Channel 47");
    panel.setIPConfig("239.10.20.30", "5004", false);
    QTest::mouseClick(child<QPushButton>(&panel, "outputSliderButton"), Qt::LeftButton);
    panel.setAttenuationLevel(12);
    QTest::mouseClick(child<QCheckBox>(&panel, "mipCheckBox"), Qt::LeftButton);
    const QStringList applied { "IP", "5/6", "1/4", "16QAM", "8MHz", "2K", "external", "239.10.20.30", "5004",
        "682.000", "12", "multicast", "ON" };
    int before = emulator.received().size();
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

    // The button ends the session without a box.
    clickLogin(panel);
    QVERIFY(!panel.isPolling());
    QVERIFY(!panel.connection()->isConnected(2));
    QTRY_VERIFY(pllRed(panel));
    QVERIFY(emulator.received().contains("exit"));
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
    QVERIFY(pllRed(panel));
    // Idle: no further lines and no second box.
    const int lines = emulator.received().size();
    QTest::qWait(1500);
    QCOMPARE(emulator.received().size(), lines);
    QCOMPARE(prompts.boxes.size(), 1);
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

QTEST_MAIN(TstPanelSession)
#include "tst_panelsession.moc"
