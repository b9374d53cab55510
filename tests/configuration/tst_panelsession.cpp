// The Configuration page's session driven headless against nerio-emulator over a pseudo-terminal:
// unusable port or address, then connect and log in, identity/parameters/status, the poll rhythm, apply
// on the wire, the factory tuning visit (read, never written back unchanged), the firmware download line
// by line and the reboot; a device with hostile readings that refuses settings (what the page takes, says
// and sends); the ways a session ends (silent device, refused login, quick reconnect); the
// firmware file check and the download's stops (no link, refused or unanswered packet, changed file)
// against a pseudo-terminal device the test plays. Discovery and the telnet dialogue are tested in
// tests/discovery and tests/connexion, image checks in tst_firmwarefile.

#include "mux.h"
#include "panelfixture.h"
#include "ptypair.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDial>
#include <QLabel>
#include <QProgressBar>
#include <QToolBox>

namespace
{
constexpr int PACKET = 262;
// The identity is read again now and then, so it is left out with the polls.
const QRegularExpression notPolls("^(?!(getStatus|getID)$)");

// An image from the emulator's maker: name, bank, payload size and any further maker options.
QString makeFirmware(const QTemporaryDir &dir, const QString &name, int bank, int payload, QStringList more = {})
{
    const QString out = dir.filePath(name + ".bin");
    QProcess maker;
    maker.start(qEnvironmentVariable("NERIO_BIN_DIR") + "/nerio-emulator",
        QStringList { "make-firmware", out, "--name", name, "--bank", QString::number(bank), "--payload-size",
            QString::number(payload) }
            + more);
    const bool made = maker.waitForFinished(10000) && maker.exitStatus() == QProcess::NormalExit && maker.exitCode() == 0;
    return made ? out : QString();
}

bool acceptFirmware(ConfigurationPanel &panel, PromptRecorder &prompts, const QString &path)
{
    prompts.fileAnswers << path;
    QTest::mouseClick(child<QPushButton>(&panel, "upgradeButton"), Qt::LeftButton);
    return panel.firmwareFile().path() == path && child<QPushButton>(&panel, "loadUpgradeFileButton")->isEnabled();
}

// Clicks "Apply changes"; the lines the device received for it, polls left out (empty if it never ended).
QStringList applyLines(ConfigurationPanel &panel, const Emulator &emulator)
{
    const int before = emulator.received().size();
    QPushButton *apply = child<QPushButton>(&panel, "applyConfigButton");
    QTest::mouseClick(apply, Qt::LeftButton);
    const bool ended = QTest::qWaitFor(
        [&] { return emulator.received(before).contains("getIPParameters") && apply->isEnabled(); }, 5000);
    return ended ? emulator.received(before).filter(notPolls).mid(0, 16) : QStringList();
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
    void connectPollApplyUpgrade();
    void hostileReadingsAndRefusals();
    void sessionEndsWithBox_data();
    void sessionEndsWithBox();
    void reconnectRightAfterDisconnect();
    void fileCheckThenDownloadStops();
    void tuningReplyEdges();

private:
    QTemporaryDir dir;
};

void TstPanelSession::connectPollApplyUpgrade()
{
    const QString image = makeFirmware(dir, "NERIO-3.1", 3, 20 * PACKET);
    const QByteArray bytes = fileBytes(image);
    Emulator emulator({ "--reboot-ms", "300" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    // Unusable targets first: each gets its box and must leave no handler behind (checked below: the
    // login and the first reads are sent once).
    panel.createCommandHandler(panel.connection());
    panel.setCOMPort("/nonexistent/tty");
    clickLogin(panel);
    for (const char *address : { "300.1.2.3", "10.1.2.3\n" }) {
        panel.setIPAddress(address);
        clickLogin(panel);
    }
    QCOMPARE(shownBoxes(prompts),
        QStringList({ "critical|Connexion fail|Unable to open the specified COM port!",
            "warning|IP error|Invalid format for IP address", "warning|IP error|Invalid format for IP address" }));
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
    QCOMPARE(emulator.received().filter(notPolls),
        QStringList({ "admin", "korva", "getCoreParameters", "getIPParameters" }));

    // A full set applied, in order, then read back.
    const QList<Mux *> &sel = panel.selectors();
    QVERIFY(selectItem(sel[2], "5/6") && selectItem(sel[3], "1/4") && selectItem(sel[4], "16QAM"));
    QVERIFY(selectItem(sel[6], "2K") && selectItem(sel[1], "external"));
    panel.setFrequency("682.000", "Channel 47");
    panel.setIPConfig("239.10.20.30", "5004", false);
    QTest::mouseClick(child<QPushButton>(&panel, "outputSliderButton"), Qt::LeftButton);
    panel.setAttenuationLevel(12);
    QTest::mouseClick(child<QCheckBox>(&panel, "mipCheckBox"), Qt::LeftButton);
    QCOMPARE(applyLines(panel, emulator),
        QStringList({ "setInputMux AUTO", "setRefClockMux external", "setCodeRate 5/6", "setGuardInterval 1/4",
            "setConstellation 16QAM", "setBandwidth 8", "setTransmissionMode 2K", "setOutputFrequency 682.000",
            "setOutputState ON", "setMipControl ON", "setIPAddressingMethod multicast",
            "setIPMulticastAddress 239.10.20.30", "setIPPort 5004", "setAttenuation 12", "getCoreParameters",
            "getIPParameters" }));
    QCOMPARE(panel.collectConfig(),
        QStringList({ "IP", "5/6", "1/4", "16QAM", "8MHz", "2K", "external", "239.10.20.30", "5004", "682.000", "12",
            "multicast", "ON" }));

    // The factory page: the device's tuning values (all 0) equal the dials, so a read and nothing written.
    const auto tuningLines = [&] {
        return emulator.received().filter(QRegularExpression("^(getTuningValues|setTuningValues)"));
    };
    child<QToolBox>(&panel, "loginToolBox")->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(tuningLines(), QStringList({ "getTuningValues" }), 3000);
    QTest::qWait(300);
    QCOMPARE(tuningLines(), QStringList({ "getTuningValues" }));
    QVERIFY(prompts.boxes.isEmpty());

    // An image made for another modulator is refused before its flash request, with both serial numbers.
    QPushButton *download = child<QPushButton>(&panel, "loadUpgradeFileButton");
    QVERIFY(acceptFirmware(panel, prompts, makeFirmware(dir, "OTHER", 3, PACKET, { "--serial", "NR0099" })));
    prompts.boxes.clear();
    const int beforeForeign = emulator.received().size();
    QTest::mouseClick(download, Qt::LeftButton);
    QCOMPARE(shownBoxes(prompts),
        QStringList({ "critical|Critical error|This firmware is made for the modulator with serial number NR0099, "
                      "not for the connected one (serial number NR0042). Nothing was sent." }));
    QCOMPARE(emulator.received(beforeForeign).filter("setFlash"), QStringList());

    // The firmware download, then the reboot ends the session.
    QVERIFY(acceptFirmware(panel, prompts, image));
    QVERIFY(panel.isPolling());
    prompts.boxes.clear();
    const int before = emulator.received().size();
    // The progress bar's arithmetic is checked on the stopped download in fileCheckThenDownloadStops.
    QTest::mouseClick(download, Qt::LeftButton);
    QCOMPARE(shownBoxes(prompts), QStringList({ "question|Question|Would you like to reboot to apply changes ?" }));
    // The whole exchange, line by line, with no poll in between (nor before the reset); the closing
    // "exit" reaches a device that is already rebooting and is not read.
    QStringList expected { "setFlashRequest " + QString::fromLatin1(bytes.left(34).toHex()) };
    for (int k = 0; k < 20; ++k)
        expected << "setFlashPacket " + QString::fromLatin1(bytes.mid(34 + k * PACKET, PACKET).toHex());
    QCOMPARE(emulator.received(before), expected << "setSoftReset ON");
    // Back to idle: the link closed, no poll left running.
    QVERIFY(!panel.isPolling() && !panel.connection()->isConnected(2));
    QCOMPARE(download->toolTip(), QString("Firmware download completed"));
}

void TstPanelSession::sessionEndsWithBox_data()
{
    QTest::addColumn<QStringList>("emulatorOptions");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("box");
    // Enough lines for the first reads and a few status polls, then silence: the time-out must still end
    // the session once the first readings are through.
    QTest::newRow("silent device") << QStringList { "--mute-after", "8" } << QString()
                                   << "critical|Command information|No response from product received, check your "
                                      "connection";
    QTest::newRow("wrong password") << QStringList { "--password", "other" } << QString()
                                    << "critical|Login error|Access denied\nCheck your login/password values !";
    QTest::newRow("port that cannot be opened") << QStringList() << "/nonexistent/tty"
                                                << "critical|Connexion fail|Unable to open the specified COM port!";
    // The pseudo-terminal is hung up under the poll, as an unplugged adapter: said at once, not as the
    // next request's time-out.
    QTest::newRow("device vanishes") << QStringList { "--drop-after", "8" } << QString()
                                     << "critical|Connexion fail|Unable to open the specified COM port!";
}

void TstPanelSession::sessionEndsWithBox()
{
    QFETCH(QStringList, emulatorOptions);
    QFETCH(QString, port);
    QFETCH(QString, box);
    Emulator emulator(emulatorOptions);
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    // The operator reads each box for longer than the command time-out: no other may open meanwhile.
    UiPrompts::setBoxResponder([&](const UiPrompts::Box &shown) {
        prompts.boxes.append(shown);
        QTest::qWait(1500);
        return QMessageBox::Ok;
    });
    ConfigurationPanel panel;
    connectPanel(panel, port.isEmpty() ? emulator.path : port);
    QTRY_COMPARE_WITH_TIMEOUT(shownBoxes(prompts), QStringList({ box }), 8000);
    QTRY_VERIFY(child<QPushButton>(&panel, "loginButton")->toolTip().startsWith("Click to connect to "));
    QTRY_VERIFY_WITH_TIMEOUT(!panel.isPolling() && !panel.connection()->isConnected(2), 3000);
    QVERIFY(child<QLabel>(&panel, "PLLOK")->pixmap(Qt::ReturnByValue).toImage()
        == QPixmap(":/configurationPanel/red.png").toImage());
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
    // The button ends the session with "exit".
    clickLogin(panel);
    QVERIFY(!panel.connection()->isConnected(2));
    QVERIFY(emulator.received().contains("exit"));
    pll->setToolTip(QString());
    clickLogin(panel);
    QTRY_COMPARE_WITH_TIMEOUT(pll->toolTip(), QString("Locked on internal clock"), 8000);
    QTest::qWait(3000);
    QVERIFY(prompts.boxes.isEmpty());
    QVERIFY(panel.isPolling());
    clickLogin(panel);
}

void TstPanelSession::fileCheckThenDownloadStops()
{
    // The file check and its refusals, then the download stops without a link, at a refused packet, at an
    // unanswered packet (the test plays a device that erases the bank and refuses the first packet, then
    // erases it again, takes the first packet and falls silent) and at a file changed since its check.
    const QString image = makeFirmware(dir, "SILENT", 9, 3 * PACKET, { "--serial", "ABC123" });
    const QString notes = dir.filePath("notes.bin");
    QVERIFY(writeFile(notes, "These are release notes, not an image. They are longer than thirty-four bytes.\n"));
    PtyPair pty;
    QVERIFY(pty.isValid());
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(300);
    QVERIFY(acceptFirmware(panel, prompts, image));
    QCOMPARE(shownBoxes(prompts),
        QStringList({ "information|Information|Firmware details :\n- Size : 786\n- Name : SILENT\n- Product SN : "
                      "Valid only for SN = ABC123\n- Bank : Unknown bank (code 9)" }));
    QPushButton *download = child<QPushButton>(&panel, "loadUpgradeFileButton");
    // Refused files, and a cancelled dialog, keep the earlier acceptance (the file the download below reads).
    prompts.boxes.clear();
    prompts.fileAnswers << notes << dir.filePath("missing.bin") << QString();
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(child<QPushButton>(&panel, "upgradeButton"), Qt::LeftButton);
        QCOMPARE(panel.firmwareFile().path(), image);
    }
    // No link: nothing to send to.
    QTest::mouseClick(download, Qt::LeftButton);
    panel.connection()->connectCOMToHost(pty.slavePath());
    QVERIFY(panel.connection()->isConnected(2));
    // Past the login dialogue: everything the device says goes to the command engine.
    panel.connection()->setLogState(Connection::LoggedIn);

    QByteArray received;
    int answered = 0;
    // A NUL ends each message.
    const QByteArray answers[] = { QByteArray("Bank erased\r\n", 14), QByteArray("KO\r\n", 5),
        QByteArray("Bank erased\r\n", 14), QByteArray("OK\r\n", 5) };
    QTimer device;
    connect(&device, &QTimer::timeout, this, [&] {
        received += pty.readAvailable();
        for (; answered < received.count("\n\r") && answered < 4; ++answered)
            pty.write(answers[answered]);
    });
    device.start(5);
    QTest::mouseClick(download, Qt::LeftButton);
    // The session goes on after a refusal: the poll is back.
    QVERIFY(panel.isPolling());
    QTest::mouseClick(download, Qt::LeftButton);
    device.stop();
    received += pty.readAvailable();
    QCOMPARE(QList<qsizetype>({ received.count("setFlashRequest "), received.count("setFlashPacket ") }), QList<qsizetype>({ 2, 3 }));
    // Progress of the one packet the device took: round(296 * 100 / 820) = 36.
    QCOMPARE(child<QProgressBar>(&panel, "progressBar")->value(), 36);
    QVERIFY(child<QPushButton>(&panel, "upgradeButton")->isEnabled() && download->isEnabled());

    // A payload byte changed after the check: refused before anything goes out.
    QByteArray bytes = fileBytes(image);
    bytes[400] = char(bytes[400] ^ 0x01);
    QVERIFY(writeFile(image, bytes));
    QTest::mouseClick(download, Qt::LeftButton);
    QCOMPARE(shownBoxes(prompts),
        QStringList({ "critical|Critical error|This is not a firmware file, please check and try again",
            "critical|Critical error|Unable to open the binary file",
            "critical|No connexion found|Please connect to your modulator before.",
            "critical|Critical error|Firmware download stopped: the modulator refused packet 1 of 3",
            "critical|Critical error|Firmware download stopped: no answer from the modulator to packet 2 of 3",
            "critical|Critical error|The binary file has changed since it was checked, please load it again" }));
    QTest::qWait(50);
    QCOMPARE(pty.readAvailable(), QByteArray());
    panel.connection()->disconnectFromHost(false);
}

void TstPanelSession::tuningReplyEdges()
{
    // No engine: dial changes only update the entries.
    ConfigurationPanel panel;
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    // Four values for the four dials; the parts after them (the closing line feed, a seventh value) are
    // no entries of theirs.
    QString reply = "\n+012 -003\n +100 -512 +005 +006 +007 \n";
    panel.setTuningState(ok, reply);
    const QList<int> taken { 12, -3, 100, -512, 0, 0 };
    QCOMPARE(panel.tuningEntries(), taken);
    QCOMPARE(child<QDial>(&panel, "dial_5")->value(), -512);
    // A failed reading changes nothing: its empty text would otherwise zero the I bias.
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    QString empty;
    panel.setTuningState(timeout, empty);
    QCOMPARE(panel.tuningEntries(), taken);
}

void TstPanelSession::hostileReadingsAndRefusals()
{
    // Readings with keys missing, values out of range, garbled or carrying a command, from a device that
    // refuses two settings. The page keeps what it held for each value it cannot take and says which, once
    // per reading; the factory page shows what it can and writes nothing; Apply sends only what the page
    // holds and names the refused settings in one box.
    Emulator emulator({ "--reading",
        "getCoreParameters=Input mux : IP\\nCode Rate : 9/10\\nAttenuation : 99dB\\nOutput Frequency : 666.000MHz\\n",
        "--reading",
        "getIPParameters=IP addressing method : multicast\\nIP multicast address : 999.1.2.3;setSoftReset ON\\n"
        "IP unicast address : 10.0.0.5\\nIP port : 100000000000000000000\\n",
        "--reading", "getTuningValues=\\n+0x2 -003\\n +999 +000 \\n", "--refuse", "setCodeRate", "--refuse",
        "setAttenuation" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QTest::mouseClick(child<QPushButton>(&panel, "outputSliderButton"), Qt::LeftButton);
    panel.setAttenuationLevel(12);
    panel.setIPConfig("239.1.2.3", "5000", false);
    QVERIFY(connectPanel(panel, emulator.path));
    const QString invalid
        = "warning|Invalid values|Values read from the modulator (out of range or unreadable), not applied:\n";
    const QStringList readingBoxes { invalid + "Code Rate : 9/10\nAttenuation : 99",
        invalid + "IP multicast address : 999.1.2.3;setSoftReset ON\nIP port : 100000000000000000000" };
    QCOMPARE(shownBoxes(prompts), readingBoxes);
    // Output on at 12 dB and the internal clock (not off, 0 dB and automatic), the page's own group and port.
    const QStringList held { "IP", "1/2", "1/32", "QPSK", "8MHz", "2K", "internal", "239.1.2.3", "5000", "666.000",
        "12", "multicast", "ON" };
    QCOMPARE(panel.collectConfig(), held);

    prompts.boxes.clear();
    child<QToolBox>(&panel, "loginToolBox")->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(shownBoxes(prompts),
        QStringList({ invalid + "TRF I Bias tuning : +0x2\nDAC QMC Gain tuning : +999" }), 3000);
    QCOMPARE(panel.tuningEntries().mid(0, 4), QList<int>({ 0, -3, 0, 0 }));
    QCOMPARE(child<QDial>(&panel, "dial")->value(), -3);

    prompts.boxes.clear();
    QCOMPARE(applyLines(panel, emulator),
        QStringList({ "setInputMux AUTO", "setRefClockMux internal", "setCodeRate 1/2", "setGuardInterval 1/32",
            "setConstellation QPSK", "setBandwidth 8", "setTransmissionMode 2K", "setOutputFrequency 666.000",
            "setOutputState ON", "setMipControl OFF", "setIPAddressingMethod multicast",
            "setIPMulticastAddress 239.1.2.3", "setIPPort 5000", "setAttenuation 12", "getCoreParameters",
            "getIPParameters" }));
    QCOMPARE(shownBoxes(prompts),
        QStringList({ "warning|Command error|Settings refused by the modulator:\nsetCodeRate 1/2\nsetAttenuation 12" })
            + readingBoxes);
    QCOMPARE(panel.collectConfig(), held);
    // The dials were set from the device and never written back.
    QCOMPARE(emulator.received().filter(QRegularExpression("TuningValues")), QStringList({ "getTuningValues" }));
    clickLogin(panel);
}

QTEST_MAIN(TstPanelSession)
#include "tst_panelsession.moc"
