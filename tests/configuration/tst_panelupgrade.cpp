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

QString readyTip(const QString &name)
{
    return "Firmware " + name + " is ready for download";
}
}

class TstPanelUpgrade : public QObject
{
    Q_OBJECT
private slots:
    void downloadAndReboot();
    void refusedPacketThenTuning();
    void fileCheckThenDownloadStops();
    void tuningReplyEdges();

private:
    QTemporaryDir dir;
};

void TstPanelUpgrade::downloadAndReboot()
{
    const QString image = makeFirmware(dir, "NERIO-3.1", 3, 20 * PACKET);
    const QByteArray bytes = fileBytes(image);
    QCOMPARE(bytes.size(), 34 + 20 * PACKET);
    Emulator emulator({ "--reboot-ms", "300" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QVERIFY(acceptFirmware(panel, prompts, image));
    QVERIFY(panel.isPolling());

    QProgressBar *bar = child<QProgressBar>(&panel, "progressBar");
    QPushButton *download = child<QPushButton>(&panel, "loadUpgradeFileButton");
    QList<int> shown;
    connect(bar, &QProgressBar::valueChanged, this, [&](int v) { shown << v; });
    prompts.boxes.clear();
    const int before = emulator.received().size();
    QTest::mouseClick(download, Qt::LeftButton);

    // Hand-computed: round((34 + 262 k) * 100 / 5274) for k = 1..20, shown when it reaches the next
    // multiple of 5.
    QCOMPARE(shown, QList<int>({ 6, 11, 16, 21, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100 }));
    QCOMPARE(shownBoxes(prompts), QStringList({ "question|Question|Would you like to reboot to apply changes ?" }));

    // The whole exchange, line by line, with no poll in between (nor before the reset); the closing
    // "exit" reaches a device that is already rebooting and is not read.
    QStringList expected { "setFlashRequest " + QString::fromLatin1(bytes.left(34).toHex()) };
    for (int k = 0; k < 20; ++k)
        expected << "setFlashPacket " + QString::fromLatin1(bytes.mid(34 + k * PACKET, PACKET).toHex());
    QCOMPARE(emulator.received(before), expected << "setSoftReset ON");

    // Back to idle on the Connection page.
    QVERIFY(!panel.isPolling());
    QVERIFY(!panel.connection()->isConnected(2));
    QCOMPARE(child<QToolBox>(&panel, "loginToolBox")->currentIndex(), 0);
    QCOMPARE(download->toolTip(), QString("Firmware download completed"));
    QVERIFY(download->isEnabled());
}

void TstPanelUpgrade::refusedPacketThenTuning()
{
    const QString image = makeFirmware(dir, "SHORT", 5, 20 * PACKET);
    const QByteArray bytes = fileBytes(image);
    Emulator emulator({ "--refuse", "setFlashPacket" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QVERIFY(acceptFirmware(panel, prompts, image));
    prompts.boxes.clear();
    int before = emulator.received().size();
    QTest::mouseClick(child<QPushButton>(&panel, "loadUpgradeFileButton"), Qt::LeftButton);

    QCOMPARE(shownBoxes(prompts),
        QStringList({ "critical|Critical error|Firmware download stopped: the modulator refused packet 1 of 20" }));
    QCOMPARE(emulator.received(before),
        QStringList({ "setFlashRequest " + QString::fromLatin1(bytes.left(34).toHex()),
            "setFlashPacket " + QString::fromLatin1(bytes.mid(34, PACKET).toHex()) }));
    QCOMPARE(child<QProgressBar>(&panel, "progressBar")->value(), 0);
    QCOMPARE(child<QPushButton>(&panel, "loadUpgradeFileButton")->toolTip(), readyTip("SHORT"));
    // The session goes on: the poll is back.
    QTRY_VERIFY_WITH_TIMEOUT(emulator.received(before).contains("getStatus"), 3000);
    prompts.boxes.clear();

    // The factory page: the device's tuning values (all 0) equal the dials, so a read and nothing written.
    QToolBox *pages = child<QToolBox>(&panel, "loginToolBox");
    const auto tuningLines = [&](int from) {
        return emulator.received(from).filter(QRegularExpression("^(getTuningValues|setTuningValues)"));
    };
    before = emulator.received().size();
    pages->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(tuningLines(before), QStringList({ "getTuningValues" }), 3000);
    QTest::qWait(300);
    QCOMPARE(tuningLines(before), QStringList({ "getTuningValues" }));
    QVERIFY(prompts.boxes.isEmpty());
    clickLogin(panel);
}

void TstPanelUpgrade::fileCheckThenDownloadStops()
{
    // The file check and its refusals, then the download stops without a link, at an unanswered packet (the
    // test plays a device that erases the bank, takes the first packet and falls silent) and at a file
    // changed since its check.
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
    // Refused files, and a cancelled dialog, keep the earlier acceptance.
    prompts.boxes.clear();
    prompts.fileAnswers << notes << dir.filePath("missing.bin") << QString();
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(child<QPushButton>(&panel, "upgradeButton"), Qt::LeftButton);
        QCOMPARE(panel.firmwareFile().path(), image);
        QCOMPARE(download->toolTip(), readyTip("SILENT"));
    }
    // No link: nothing to send to.
    QTest::mouseClick(download, Qt::LeftButton);
    panel.connection()->connectCOMToHost(pty.slavePath());
    QVERIFY(panel.connection()->isConnected(2));
    // Past the login dialogue: everything the device says goes to the command engine.
    panel.connection()->setLogState(Connection::LoggedIn);

    QByteArray received;
    int answered = 0;
    QTimer device;
    connect(&device, &QTimer::timeout, this, [&] {
        received += pty.readAvailable();
        for (; answered < received.count("\n\r") && answered < 2; ++answered)
            pty.write(answered == 0 ? QByteArray("Bank erased\r\n", 14) : QByteArray("OK\r\n", 5)); // NUL ends a message
    });
    device.start(5);
    QTest::mouseClick(download, Qt::LeftButton);
    device.stop();
    received += pty.readAvailable();
    QCOMPARE(QList<int>({ received.count("setFlashRequest "), received.count("setFlashPacket ") }), QList<int>({ 1, 2 }));
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
            "critical|Critical error|Firmware download stopped: no answer from the modulator to packet 2 of 3",
            "critical|Critical error|The binary file has changed since it was checked, please load it again" }));
    QTest::qWait(50);
    QCOMPARE(pty.readAvailable(), QByteArray());
    QCOMPARE(download->toolTip(), readyTip("SILENT"));
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
