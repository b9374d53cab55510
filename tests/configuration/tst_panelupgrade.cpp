// The Configuration page's firmware upgrade and factory tuning, headless against nerio-emulator over a
// pseudo-terminal (and a silent pseudo-terminal device for the unanswered packet): the file check and its
// boxes, the download line by line with the progress bar, the reboot and the new version, the stops on a
// refused or unanswered line, and the tuning dials.

#include "configurationpanel.h"
#include "promptrecorder.h"
#include "ptypair.h"

#include <QDial>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolBox>
#include <QtTest>

namespace
{
constexpr int TEST_COMMAND_TIMEOUT_MS = 1000;
constexpr int PACKET = 262;

QString emulatorPath()
{
    return qEnvironmentVariable("NERIO_BIN_DIR") + "/nerio-emulator";
}

// One emulator process on a pseudo-terminal; stopped when the object goes.
class Emulator
{
public:
    Emulator(const QString &logPath, const QStringList &extra)
    {
        process.setProgram(emulatorPath());
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
        for (const QByteArray &line : out.split('\n'))
            if (line.startsWith("serial: "))
                path = QString::fromLocal8Bit(line.mid(8).trimmed());
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

// Command lines the emulator received, in order, from its log ("<time> <link> < <line>").
QStringList receivedLines(const QString &logPath)
{
    QStringList out;
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString text = QString::fromLatin1(raw);
        const int marker = text.indexOf(QLatin1String(" < "));
        if (marker >= 0)
            out.append(text.mid(marker + 3));
    }
    return out;
}

bool makeFirmware(const QString &out, const QStringList &options)
{
    QProcess maker;
    maker.start(emulatorPath(), QStringList { "make-firmware", out } + options);
    return maker.waitForFinished(10000) && maker.exitStatus() == QProcess::NormalExit && maker.exitCode() == 0;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename T> T *child(QWidget &panel, const char *name)
{
    T *w = panel.findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("missing widget %s", name);
    return w;
}
}

class TstPanelUpgrade : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fileCheck_data();
    void fileCheck();
    void refusedFileKeepsEarlierAcceptance();
    void downloadRebootAndNewVersion();
    void headerOnlyImageSendsOnlyTheRequest();
    void refusedPacketStopsDownload();
    void unansweredPacketStopsDownload();
    void downloadNeedsLinkAndUnchangedFile();
    void factoryPageReadsAndWritesTuning();
    void tuningReplyEdges();

private:
    bool connectPanel(ConfigurationPanel &panel, const QString &port);
    bool acceptFirmware(ConfigurationPanel &panel, PromptRecorder &prompts, const QString &path);

    QTemporaryDir *dir = nullptr;
    QString logPath;
};

void TstPanelUpgrade::init()
{
    dir = new QTemporaryDir;
    logPath = dir->filePath("wire.log");
}

void TstPanelUpgrade::cleanup()
{
    delete dir;
    dir = nullptr;
}

bool TstPanelUpgrade::connectPanel(ConfigurationPanel &panel, const QString &port)
{
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(TEST_COMMAND_TIMEOUT_MS);
    panel.setCOMPort(port);
    QPushButton *login = child<QPushButton>(panel, "loginButton");
    if (!login->isEnabled())
        return false;
    QTest::mouseClick(login, Qt::LeftButton);
    // The first poll has read the identity once the serial number is known.
    return QTest::qWaitFor([&] { return panel.serialNumberText() == QLatin1String("NR0042"); }, 5000);
}

bool TstPanelUpgrade::acceptFirmware(ConfigurationPanel &panel, PromptRecorder &prompts, const QString &path)
{
    prompts.fileAnswers << path;
    QTest::mouseClick(child<QPushButton>(panel, "upgradeButton"), Qt::LeftButton);
    return panel.firmwareFile().path() == path && child<QPushButton>(panel, "loadUpgradeFileButton")->isEnabled();
}

void TstPanelUpgrade::fileCheck_data()
{
    QTest::addColumn<QStringList>("makerOptions");
    QTest::addColumn<QString>("text");

    QTest::newRow("all products") << QStringList { "--name", "NERIO-3.1", "--bank", "3", "--payload-size", "5240" }
                                  << "Firmware details :\n- Size : 5240\n- Name : NERIO-3.1\n- Product SN : Valid for "
                                     "all products\n- Bank : Micro bank";
    QTest::newRow("one product") << QStringList { "--name", "FPGA-A", "--bank", "0", "--serial", "ABC123",
        "--payload-size", "300" }
                                 << "Firmware details :\n- Size : 300\n- Name : FPGA-A\n- Product SN : Valid only for "
                                    "SN = ABC123\n- Bank : FPGA First bank";
    QTest::newRow("unknown bank") << QStringList { "--name", "X", "--bank", "9", "--payload-size", "10" }
                                  << "Firmware details :\n- Size : 10\n- Name : X\n- Product SN : Valid for all "
                                     "products\n- Bank : Unknown bank (code 9)";
}

void TstPanelUpgrade::fileCheck()
{
    QFETCH(QStringList, makerOptions);
    QFETCH(QString, text);
    const QString image = dir->filePath("fw.bin");
    QVERIFY(makeFirmware(image, makerOptions));
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QPushButton *download = child<QPushButton>(panel, "loadUpgradeFileButton");
    QCOMPARE(download->toolTip(), QString("No firmware configured"));
    QVERIFY(!download->isEnabled());

    QVERIFY(acceptFirmware(panel, prompts, image));
    QCOMPARE(prompts.fileRequests.size(), 1);
    QCOMPARE(prompts.fileRequests[0].caption, QString("Load binary file to upgrade"));
    QCOMPARE(prompts.fileRequests[0].filter, QString("Binary files *.bin (*.bin)"));
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(prompts.boxes[0].title, QString("Information"));
    QCOMPARE(prompts.boxes[0].text, text);
    QCOMPARE(download->toolTip(), "Firmware " + makerOptions[1] + " is ready for download");
    QVERIFY(child<QProgressBar>(panel, "progressBar")->isEnabled());
}

void TstPanelUpgrade::refusedFileKeepsEarlierAcceptance()
{
    const QString good = dir->filePath("good.bin");
    QVERIFY(makeFirmware(good, { "--name", "GOOD", "--bank", "1", "--payload-size", "100" }));
    const QString text = dir->filePath("notes.bin");
    {
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("These are release notes, not an image. They are longer than thirty-four bytes.\n");
    }
    // One flipped bit in the encrypted header breaks its CRC.
    QByteArray flipped = fileBytes(good);
    QCOMPARE(flipped.size(), 134);
    flipped[5] = char(flipped[5] ^ 0x10);
    const QString flippedPath = dir->filePath("flipped.bin");
    {
        QFile f(flippedPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(flipped);
    }

    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(acceptFirmware(panel, prompts, good));
    prompts.boxes.clear();
    const QString notFirmware = "This is not a firmware file, please check and try again";
    const QStringList refused { text, flippedPath, dir->filePath("missing.bin") };
    const QStringList reasons { notFirmware, notFirmware, "Unable to open the binary file" };
    for (int i = 0; i < refused.size(); ++i) {
        prompts.fileAnswers << refused[i];
        QTest::mouseClick(child<QPushButton>(panel, "upgradeButton"), Qt::LeftButton);
        QCOMPARE(prompts.boxes.size(), i + 1);
        QCOMPARE(prompts.boxes[i].icon, QMessageBox::Critical);
        QCOMPARE(prompts.boxes[i].title, QString("Critical error"));
        QCOMPARE(prompts.boxes[i].text, reasons[i]);
        QCOMPARE(panel.firmwareFile().path(), good);
        QCOMPARE(child<QPushButton>(panel, "loadUpgradeFileButton")->toolTip(),
            QString("Firmware GOOD is ready for download"));
    }
    // A cancelled file dialog changes nothing and shows nothing.
    QTest::mouseClick(child<QPushButton>(panel, "upgradeButton"), Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), refused.size());
}

void TstPanelUpgrade::downloadRebootAndNewVersion()
{
    const QString image = dir->filePath("fw.bin");
    QVERIFY(
        makeFirmware(image, { "--name", "NERIO-3.1", "--bank", "3", "--payload-size", QString::number(20 * PACKET) }));
    const QByteArray bytes = fileBytes(image);
    QCOMPARE(bytes.size(), 34 + 20 * PACKET);

    Emulator emulator(logPath, { "--reboot-ms", "300" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QCOMPARE(child<QLabel>(panel, "versionLabel")->text(), QString("1.0.0"));
    QVERIFY(acceptFirmware(panel, prompts, image));
    QVERIFY(panel.isPolling());

    QProgressBar *bar = child<QProgressBar>(panel, "progressBar");
    QPushButton *download = child<QPushButton>(panel, "loadUpgradeFileButton");
    QList<int> shown;
    connect(bar, &QProgressBar::valueChanged, this, [&](int v) { shown << v; });
    // What the page shows while each line is answered.
    QStringList tips;
    bool pollingDuringDownload = false;
    connect(panel.commandEngine(), &CommandHandler::setStringFinished, this,
        [&](CommandHandler::infoMsg &, CommandHandler::RequestType &type) {
            if (type != CommandHandler::RequestType::setFlashRequest
                && type != CommandHandler::RequestType::setFlashPacket)
                return;
            tips << download->toolTip();
            pollingDuringDownload = pollingDuringDownload || panel.isPolling() || download->isEnabled()
                || child<QPushButton>(panel, "upgradeButton")->isEnabled();
        });
    prompts.boxes.clear();
    const int before = receivedLines(logPath).size();
    QTest::mouseClick(download, Qt::LeftButton);

    // Hand-computed: round((34 + 262 k) * 100 / 5274) for k = 1..20, shown when it reaches the next
    // multiple of 5.
    QCOMPARE(shown, QList<int>({ 6, 11, 16, 21, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100 }));
    QCOMPARE(tips.size(), 21);
    QCOMPARE(tips.first(), QString("Flash erase in progress"));
    QCOMPARE(tips.mid(1), QStringList(QVector<QString>(20, "Programming flash in progress").toList()));
    QVERIFY(!pollingDuringDownload);

    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].icon, QMessageBox::Question);
    QCOMPARE(prompts.boxes[0].title, QString("Question"));
    QCOMPARE(prompts.boxes[0].text, QString("Would you like to reboot to apply changes ?"));
    QCOMPARE(prompts.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);

    // The whole exchange, line by line, with no poll in between; the closing "exit" reaches a device
    // that is already rebooting and is not read.
    const QStringList sent = receivedLines(logPath).mid(before);
    QCOMPARE(sent.size(), 22);
    QCOMPARE(sent[0], "setFlashRequest " + QString::fromLatin1(bytes.left(34).toHex()));
    for (int k = 0; k < 20; ++k)
        QCOMPARE(sent[1 + k], "setFlashPacket " + QString::fromLatin1(bytes.mid(34 + k * PACKET, PACKET).toHex()));
    QCOMPARE(sent[21], QString("setSoftReset ON"));

    // Back to idle on the Connection page, then a new session finds the new firmware.
    QVERIFY(!panel.isPolling());
    QVERIFY(!panel.connection()->isConnected(2));
    QCOMPARE(child<QToolBox>(panel, "loginToolBox")->currentIndex(), 0);
    QCOMPARE(child<QPushButton>(panel, "loginButton")->toolTip(), "Click to connect to " + emulator.path);
    QCOMPARE(download->toolTip(), QString("Firmware download completed"));
    QVERIFY(download->isEnabled());
    QTest::qWait(500);
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(panel, "versionLabel")->text(), QString("NERIO-3.1"), 5000);
    QCOMPARE(prompts.boxes.size(), 1);
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
}

void TstPanelUpgrade::headerOnlyImageSendsOnlyTheRequest()
{
    const QString image = dir->filePath("header.bin");
    QVERIFY(makeFirmware(image, { "--name", "EMPTY", "--bank", "5", "--payload-size", "0" }));
    QCOMPARE(fileBytes(image).size(), 34);
    Emulator emulator(logPath, {});
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QVERIFY(acceptFirmware(panel, prompts, image));
    QCOMPARE(prompts.boxes[0].text,
        QString("Firmware details :\n- Size : 0\n- Name : EMPTY\n- Product SN : Valid for all products\n- Bank : LCD "
                "bank"));
    prompts.boxes.clear();
    prompts.boxAnswers << QMessageBox::No;
    const int before = receivedLines(logPath).size();
    QTest::mouseClick(child<QPushButton>(panel, "loadUpgradeFileButton"), Qt::LeftButton);

    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].title, QString("Question"));
    QCOMPARE(child<QProgressBar>(panel, "progressBar")->value(), 0);
    QStringList sent = receivedLines(logPath).mid(before);
    QCOMPARE(sent, QStringList({ "setFlashRequest " + QString::fromLatin1(fileBytes(image).toHex()) }));
    // "No" keeps the session: the poll is back.
    QVERIFY(panel.isPolling());
    QTRY_VERIFY_WITH_TIMEOUT(receivedLines(logPath).mid(before).contains("getStatus"), 3000);
    QVERIFY(panel.connection()->isConnected(2));
    QCOMPARE(child<QPushButton>(panel, "loadUpgradeFileButton")->toolTip(), QString("Firmware download completed"));
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
}

void TstPanelUpgrade::refusedPacketStopsDownload()
{
    const QString image = dir->filePath("fw.bin");
    QVERIFY(
        makeFirmware(image, { "--name", "NERIO-3.1", "--bank", "3", "--payload-size", QString::number(20 * PACKET) }));
    Emulator emulator(logPath, { "--refuse", "setFlashPacket" });
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QVERIFY(acceptFirmware(panel, prompts, image));
    prompts.boxes.clear();
    const int before = receivedLines(logPath).size();
    QTest::mouseClick(child<QPushButton>(panel, "loadUpgradeFileButton"), Qt::LeftButton);

    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(prompts.boxes[0].title, QString("Critical error"));
    QCOMPARE(prompts.boxes[0].text, QString("Firmware download stopped: the modulator refused packet 1 of 20"));
    const QStringList sent = receivedLines(logPath).mid(before);
    QVERIFY(sent.size() >= 2);
    QVERIFY(sent[0].startsWith("setFlashRequest "));
    QVERIFY(sent[1].startsWith("setFlashPacket "));
    QCOMPARE(sent.filter(QRegularExpression("^setFlashPacket ")).size(), 1);
    QVERIFY(!sent.contains("setSoftReset ON"));
    QCOMPARE(child<QProgressBar>(panel, "progressBar")->value(), 0);
    QVERIFY(child<QPushButton>(panel, "upgradeButton")->isEnabled());
    QVERIFY(child<QPushButton>(panel, "loadUpgradeFileButton")->isEnabled());
    QCOMPARE(child<QPushButton>(panel, "loadUpgradeFileButton")->toolTip(),
        QString("Firmware NERIO-3.1 is ready for download"));
    QVERIFY(panel.isPolling());
    QVERIFY(panel.connection()->isConnected(2));
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
}

void TstPanelUpgrade::unansweredPacketStopsDownload()
{
    // The test plays a device that erases the bank, takes the first packet and then falls silent.
    const QString image = dir->filePath("fw.bin");
    QVERIFY(makeFirmware(image, { "--name", "SILENT", "--bank", "2", "--payload-size", QString::number(3 * PACKET) }));
    PtyPair pty;
    QVERIFY(pty.isValid());
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(300);
    QVERIFY(acceptFirmware(panel, prompts, image));
    prompts.boxes.clear();
    panel.connection()->connectCOMToHost(pty.slavePath());
    QVERIFY(panel.connection()->isConnected(2));
    // Past the login dialogue: everything the device says goes to the command engine.
    panel.connection()->setLogState(Connection::LoggedIn);

    QByteArray received;
    int answered = 0;
    QTimer device;
    connect(&device, &QTimer::timeout, this, [&] {
        received += pty.readAvailable();
        const int lines = received.count("\n\r");
        for (; answered < lines && answered < 2; ++answered)
            pty.write(answered == 0 ? QByteArray("Bank erased\r\n", 14) : QByteArray("OK\r\n", 5));
    });
    device.start(5);
    QElapsedTimer elapsed;
    elapsed.start();
    QTest::mouseClick(child<QPushButton>(panel, "loadUpgradeFileButton"), Qt::LeftButton);
    device.stop();
    received += pty.readAvailable();

    QVERIFY(elapsed.elapsed() < 3000);
    QCOMPARE(received.count("setFlashRequest "), 1);
    QCOMPARE(received.count("setFlashPacket "), 2);
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].title, QString("Critical error"));
    QCOMPARE(
        prompts.boxes[0].text, QString("Firmware download stopped: no answer from the modulator to packet 2 of 3"));
    // Progress of the one packet the device took: round(296 * 100 / 820) = 36.
    QCOMPARE(child<QProgressBar>(panel, "progressBar")->value(), 36);
    QVERIFY(child<QPushButton>(panel, "upgradeButton")->isEnabled());
    QVERIFY(child<QPushButton>(panel, "loadUpgradeFileButton")->isEnabled());
    panel.connection()->disconnectFromHost(false);
}

void TstPanelUpgrade::downloadNeedsLinkAndUnchangedFile()
{
    const QString image = dir->filePath("fw.bin");
    QVERIFY(makeFirmware(image, { "--name", "CHANGED", "--bank", "1", "--payload-size", "600" }));
    PtyPair pty;
    QVERIFY(pty.isValid());
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    QVERIFY(acceptFirmware(panel, prompts, image));
    prompts.boxes.clear();
    QPushButton *download = child<QPushButton>(panel, "loadUpgradeFileButton");

    // No link: nothing to send to.
    QTest::mouseClick(download, Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].title, QString("No connexion found"));
    QCOMPARE(prompts.boxes[0].text, QString("Please connect to your modulator before."));

    // A payload byte changed after the check: refused before anything goes out.
    QByteArray bytes = fileBytes(image);
    bytes[400] = char(bytes[400] ^ 0x01);
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), qint64(bytes.size()));
    }
    panel.connection()->connectCOMToHost(pty.slavePath());
    QVERIFY(panel.connection()->isConnected(2));
    QTest::mouseClick(download, Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), 2);
    QCOMPARE(prompts.boxes[1].title, QString("Critical error"));
    QCOMPARE(prompts.boxes[1].text, QString("The binary file has changed since it was checked, please load it again"));
    QTest::qWait(50);
    QCOMPARE(pty.readAvailable(), QByteArray());
    QVERIFY(download->isEnabled());
    QCOMPARE(download->toolTip(), QString("Firmware CHANGED is ready for download"));
    panel.connection()->disconnectFromHost(false);
}

void TstPanelUpgrade::factoryPageReadsAndWritesTuning()
{
    Emulator emulator(logPath, {});
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    QVERIFY(connectPanel(panel, emulator.path));
    QToolBox *pages = child<QToolBox>(panel, "loginToolBox");
    const auto tuningLines = [&](int from) {
        return receivedLines(logPath).mid(from).filter(QRegularExpression("^(getTuningValues|setTuningValues)"));
    };

    // The device's values (all 0) equal the dials: a read and nothing written.
    int before = receivedLines(logPath).size();
    pages->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(tuningLines(before), QStringList({ "getTuningValues" }), 3000);
    QTest::qWait(300);
    QCOMPARE(tuningLines(before), QStringList({ "getTuningValues" }));

    // Another client changes the QMC gain; the next visit moves one dial and writes all four once.
    panel.commandEngine()->queueString(CommandHandler::RequestType::setTuningValues, "0 0 77 0");
    pages->setCurrentIndex(0);
    before = receivedLines(logPath).size();
    pages->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(
        tuningLines(before), QStringList({ "getTuningValues", "setTuningValues 0 0 77 0" }), 3000);
    QCOMPARE(child<QDial>(panel, "dial_3")->value(), 77);
    QCOMPARE(panel.tuningEntries().mid(0, 4), QList<int>({ 0, 0, 77, 0 }));

    // Negative values and several dials: one line per moved dial, each with all four entries.
    panel.commandEngine()->queueString(CommandHandler::RequestType::setTuningValues, "-128 5 77 -512");
    pages->setCurrentIndex(0);
    before = receivedLines(logPath).size();
    pages->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(tuningLines(before).size(), 4, 3000);
    QCOMPARE(tuningLines(before),
        QStringList({ "getTuningValues", "setTuningValues -128 5 77 -512", "setTuningValues -128 5 77 -512",
            "setTuningValues -128 5 77 -512" }));
    QCOMPARE(child<QDial>(panel, "dial_2")->value(), -128);
    QCOMPARE(child<QDial>(panel, "dial_5")->value(), -512);
    QVERIFY(prompts.boxes.isEmpty());
    QTest::mouseClick(child<QPushButton>(panel, "loginButton"), Qt::LeftButton);
}

void TstPanelUpgrade::tuningReplyEdges()
{
    // No engine: dial changes only update the entries.
    ConfigurationPanel panel;
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    // Seven values: the parts beyond the six entries are ignored.
    QString reply = "\n+001 +002\n +003 +004 +005 +006 +007 \n";
    panel.setTuningState(ok, reply);
    QCOMPARE(panel.tuningEntries(), QList<int>({ 1, 2, 3, 4, 5, 6 }));
    QCOMPARE(child<QDial>(panel, "dial_5")->value(), 4);
    // Values beyond a dial's range are held at its end, so the entry and the dial agree.
    reply = "\n+200 -003\n +600 -999 \n";
    panel.setTuningState(ok, reply);
    QCOMPARE(panel.tuningEntries().mid(0, 4), QList<int>({ 127, -3, 511, -512 }));
    QCOMPARE(child<QDial>(panel, "dial_2")->value(), 127);
    // A failed reading changes nothing (its empty text would otherwise zero the I bias).
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    QString empty;
    panel.setTuningState(timeout, empty);
    QCOMPARE(panel.tuningEntries().mid(0, 4), QList<int>({ 127, -3, 511, -512 }));
    // Short replies are read as far as they go; a part that is no number reads 0.
    reply = "\n+9";
    panel.setTuningState(ok, reply);
    QCOMPARE(panel.tuningEntries().mid(0, 4), QList<int>({ 9, -3, 511, -512 }));
    reply = "\nabc +010";
    panel.setTuningState(ok, reply);
    QCOMPARE(panel.tuningEntries().mid(0, 4), QList<int>({ 0, 10, 511, -512 }));
}

QTEST_MAIN(TstPanelUpgrade)
#include "tst_panelupgrade.moc"
