// The Configuration page's firmware upgrade and factory tuning, headless against nerio-emulator over a
// pseudo-terminal (and a silent pseudo-terminal device for the unanswered packet): the file check and its
// boxes, the download line by line with the progress bar, the reboot, the stops on a refused or
// unanswered line, and the tuning values (read on a visit, never written back unchanged). Image checks
// themselves are in tst_firmwarefile.

#include "panelfixture.h"
#include "ptypair.h"

#include <QDial>
#include <QProgressBar>
#include <QToolBox>

namespace
{
constexpr int PACKET = 262;

// An image from the emulator's maker: name, bank, payload size and any further maker options.
QString makeFirmware(const QTemporaryDir &dir, const QString &name, int bank, int payload, QStringList more = {})
{
    const QString out = dir.filePath(name + ".bin");
    QProcess maker;
    maker.start(emulatorProgram(),
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
}

class TstPanelUpgrade : public QObject
{
    Q_OBJECT
private slots:
    void downloadAndReboot();
    void fileCheckThenDownloadStops();
    void tuningReplyEdges();

private:
    QTemporaryDir dir;
};

void TstPanelUpgrade::downloadAndReboot()
{
    const QString image = makeFirmware(dir, "NERIO-3.1", 3, 20 * PACKET);
    const QByteArray bytes = fileBytes(image);
    Emulator emulator({ "--reboot-ms", "300" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    // The factory page: the device's tuning values (all 0) equal the dials, so a read and nothing written.
    const auto tuningLines = [&] {
        return emulator.received().filter(QRegularExpression("^(getTuningValues|setTuningValues)"));
    };
    child<QToolBox>(&panel, "loginToolBox")->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(tuningLines(), QStringList({ "getTuningValues" }), 3000);
    QTest::qWait(300);
    QCOMPARE(tuningLines(), QStringList({ "getTuningValues" }));
    QVERIFY(prompts.boxes.isEmpty());

    QVERIFY(acceptFirmware(panel, prompts, image));
    QVERIFY(panel.isPolling());

    QPushButton *download = child<QPushButton>(&panel, "loadUpgradeFileButton");
    prompts.boxes.clear();
    const int before = emulator.received().size();
    // The progress bar's arithmetic is checked on the stopped download below.
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

void TstPanelUpgrade::fileCheckThenDownloadStops()
{
    // The file check and its refusals, then the download stops without a link, at a refused packet, at an
    // unanswered packet (the test plays a device that erases the bank and refuses the first packet, then
    // erases it again, takes the first packet and falls silent) and at a file changed since its check.
    const QString image = makeFirmware(dir, "SILENT", 9, 3 * PACKET, { "--serial", "ABC123" });
    QVERIFY(!image.isEmpty());
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
    QCOMPARE(QList<int>({ received.count("setFlashRequest "), received.count("setFlashPacket ") }), QList<int>({ 2, 3 }));
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

void TstPanelUpgrade::tuningReplyEdges()
{
    // No engine: dial changes only update the entries.
    ConfigurationPanel panel;
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    // Values beyond a dial's range are held at its end, so the entry and the dial agree; a seventh value
    // has no entry and is ignored.
    QString reply = "\n+200 -003\n +600 -999 +005 +006 +007 \n";
    panel.setTuningState(ok, reply);
    const QList<int> clamped { 127, -3, 511, -512, 5, 6 };
    QCOMPARE(panel.tuningEntries(), clamped);
    QCOMPARE(child<QDial>(&panel, "dial_2")->value(), 127);
    // A failed reading changes nothing: its empty text would otherwise zero the I bias.
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    QString empty;
    panel.setTuningState(timeout, empty);
    QCOMPARE(panel.tuningEntries(), clamped);
    // A short reply is read as far as it goes.
    reply = "\n+9";
    panel.setTuningState(ok, reply);
    QCOMPARE(panel.tuningEntries().mid(0, 2), QList<int>({ 9, -3 }));
}

QTEST_MAIN(TstPanelUpgrade)
#include "tst_panelupgrade.moc"
