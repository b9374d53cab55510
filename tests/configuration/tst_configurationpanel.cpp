// The Configuration page without a device: parameter replies, saving/loading files, and its
// frequency and IP input dialogs, opened through the page as a click does. Then configuration files under
// bad conditions: the error boxes, a save that cannot complete keeps the previous file whole, hostile,
// broken or huge documents and FIFOs end in a refusal, never a hang or a file read; values a file holds
// pass the operator's rules; serial numbers with control characters load back.

#include "configxml.h"
#include "dialogfreq.h"
#include "dialogip.h"
#include "panelfixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QString labelText(const QWidget *parent, const char *name)
{
    return child<QLabel>(parent, name)->text();
}

void typeInto(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}

// Ends the program (SIGALRM) when a step that must return at once does not: a regression would otherwise
// block in open() on a FIFO, or expand entities into gigabytes, for as long as the test runner lets it.
struct Deadline {
    Deadline() { alarm(10); }
    ~Deadline() { alarm(0); }
};

const QByteArray SAVED = "<modulator_configuration_file conf_name=\"kept\">\n"
                         "  <modulator serial_number=\"NR-7\">\n"
                         "    <config OFDM=\"8K\" constellation=\"64QAM\" carrier_frequency=\"666.000\"/>\n"
                         "  </modulator>\n"
                         "</modulator_configuration_file>\n";
}

class TstConfigurationPanel : public QObject
{
    Q_OBJECT
private slots:
    void repliesThenSaveAndLoad();
    void frequencyDialog();
    void ipDialogOk_data();
    void ipDialogOk();
    void saveThatCannotCompleteKeepsThePreviousFile();
    void refusedDocuments_data();
    void refusedDocuments();
    void fifoChosenInADialog();
    void fileValues_data();
    void fileValues();
    void serialNumbersWithControlCharacters();

private:
    QTemporaryDir dir;
};

void TstConfigurationPanel::repliesThenSaveAndLoad()
{
    // Every key of a full reply is read at connect in tst_panelsession; here the rules around them.
    const QString path = dir.filePath("site.xml");
    PromptRecorder prompts;
    {
        ConfigurationPanel source;
        CommandHandler::infoMsg ok = CommandHandler::CommandOk;
        QString reply = "Input mux : ASI\nRef clock mux : external\nCode Rate : 5/6\nGuard Interval : 1/8\n"
                        "Constellation : 16QAM\nBandwidth : 7MHz\nTransmission Mode : OFDM mode : 8K\n"
                        "Output Frequency : 682.000 MHz\nOutput State : ON\nMIP control : ON\nAttenuation : 17 dB\n";
        source.updateConfigFromModulator(ok, reply);
        // A failed reading changes nothing (the file below still says output on at 17 dB): read as empty
        // it would mean output off at 0 dB.
        CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
        QString empty;
        source.updateConfigFromModulator(timeout, empty);
        source.setIPConfig("239.9.8.7", "5000", false);
        // Saved over an older file: what that held is gone.
        QVERIFY(writeFile(
            path, "<modulator_configuration_file><modulator serial_number=\"OLD\"/></modulator_configuration_file>"));
        prompts.fileAnswers << path;
        source.saveConfigToXML();
        QVERIFY(prompts.fileRequests.value(0).save);
        // "auto" clock ticks the box; a key the reply lacks keeps its setting (not off and 0 dB); a text
        // outside the vocabulary (matching is case-sensitive) or a value outside its range is not taken,
        // and the operator is told which, once per reply.
        QString second = "Constellation : 64qam\nRef clock mux : auto\nOutput Frequency : 900.000 MHz\n"
                         "Attenuation : 99999999999999999999 dB\nMIP control : \n";
        source.updateConfigFromModulator(ok, second);
        QCOMPARE(source.collectConfig()[3] + ' ' + source.frequencyText() + ' ' + source.attenuationText(),
            QString("16QAM 682.000 17"));
        QVERIFY(source.isOutputOn() && source.isMipControlled());
        QVERIFY(child<QCheckBox>(&source, "autoClockCheckBox")->isChecked());
        QCOMPARE(shownBoxes(prompts),
            QStringList({ "warning|Invalid values|Values read from the modulator (out of range or unreadable), not "
                          "applied:\nConstellation : 64qam\nAttenuation : 99999999999999999999\nOutput "
                          "Frequency : 900.000" }));
        prompts.boxes.clear();
    }
    QCOMPARE(fileBytes(path),
        QByteArray("<modulator_configuration_file conf_name=\"site\">\n"
                   "  <modulator serial_number=\"not found\">\n"
                   "    <config OFDM=\"8K\" constellation=\"16QAM\" carrier_frequency=\"682.000\" guard_interval=\"1/8\" "
                   "inner_coder=\"5/6\" bandwidth=\"7MHz\" reduction=\"17\" output=\"ON\" refclockmux=\"external\"/>\n"
                   "    <stream_source input_type=\"ASI\" IP_addr_method=\"multicast\" stream_IP=\"239.9.8.7\" "
                   "stream_port=\"5000\"/>\n"
                   "  </modulator>\n"
                   "</modulator_configuration_file>\n"));

    ConfigurationPanel target;
    prompts.fileAnswers << path;
    target.setConfigFromXML();
    QCOMPARE(target.collectConfig().mid(0, 11),
        QStringList({ "ASI", "5/6", "1/8", "16QAM", "7MHz", "8K", "external", "", "", "682.000", "17" }));
    QCOMPARE(labelText(&target, "channelLabel") + ' ' + labelText(&target, "outputLabel"), QString("47 On"));
    // Nothing changes on a cancelled dialog or a file without an entry for this modulator (a missing key
    // is no 0 dB, output off). Unreadable files and their box: tst_configxml.
    const QStringList before = target.collectConfig();
    QVERIFY(writeFile(dir.filePath("else.xml"),
        "<modulator_configuration_file><modulator serial_number=\"SOMEONE-ELSE\">"
        "<config OFDM=\"2K\" reduction=\"20\" output=\"OFF\" carrier_frequency=\"700.000\"/>"
        "</modulator></modulator_configuration_file>"));
    prompts.fileAnswers << QString() << dir.filePath("else.xml");
    for (int i = 0; i < 2; ++i) {
        target.setConfigFromXML();
        QCOMPARE(target.collectConfig(), before);
    }
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigurationPanel::frequencyDialog()
{
    ConfigurationPanel panel;
    panel.setFrequency("670.000", "Between Channel 45 and 46");
    panel.configFreq();
    QPointer<DialogFreq> dialog = shownDialog<DialogFreq>();
    QVERIFY(dialog && dialog->isModal());
    auto *edit = child<QLineEdit>(dialog, "freqLineEdit");
    auto *combo = child<QComboBox>(dialog, "channelComboBox");
    QLabel *check = child<QLabel>(dialog, "checkFreq");
    // Entry, item count, current item, then the validation label's text and colour ("#name {...color: #0a0;}").
    const auto state = [&] {
        return QString("%1 %2 %3 ").arg(edit->text()).arg(combo->count()).arg(combo->currentIndex()) + check->text()
            + '|' + check->styleSheet().section('#', 2).left(3);
    };
    QCOMPARE(combo->currentText() + ' ' + edit->text(), QString("Between Channel 45 and 46 670.000"));
    typeInto(edit, "673.5");
    QCOMPARE(state(), QString("673.5 50 49 Warning : frequency between 2 channels|fa0"));
    // Dropping the item must not count as picking channel 69.
    typeInto(edit, "666");
    QCOMPARE(state(), QString("666 49 24 Valid Frequency|0a0"));
    // Invalid entries keep the typed text and the list where it was; from a "Between" entry, an invalid
    // one may not be rewritten with channel 69's centre either.
    typeInto(edit, "858.5");
    QCOMPARE(state(), QString("858.5 49 24 Invalid Frequency|f00"));
    // Picking a channel writes its centre.
    combo->setCurrentIndex(27);
    QCOMPARE(state(), QString("690 49 27 Valid Frequency|0a0"));
    // OK hands the frequency to the page (which ignores one outside the band, see repliesThenSaveAndLoad).
    typeInto(edit, "671");
    QVERIFY(clickAndClose(dialog, "okButton"));
    QCOMPARE(panel.frequencyText() + ' ' + labelText(&panel, "channelLabel"), QString("671.000 > 45 and < 46"));
}

void TstConfigurationPanel::ipDialogOk_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("unicast");
    QTest::addColumn<QString>("shown"); // on the page after OK
    QTest::addColumn<QString>("refusal");
    const QString kept = "239.0.0.1 port : 5000";
    // Each edge of the group range and of the port range, from both sides.
    QTest::newRow("lowest") << "224.0.0.0" << "1024" << false << "224.0.0.0 port : 1024" << "";
    QTest::newRow("highest") << "239.255.255.255" << "65535" << false << "239.255.255.255 port : 65535" << "";
    QTest::newRow("below the groups") << "223.255.255.255" << "5000" << false << kept << "IP address";
    QTest::newRow("above the groups") << "240.0.0.0" << "5000" << false << kept << "IP address";
    QTest::newRow("port 1023") << "239.1.2.3" << "1023" << false << kept << "port";
    // A port above 65535 is refused.
    QTest::newRow("port 65536") << "239.1.2.3" << "65536" << false << kept << "port";
    // A pasted line end would reach the device's command line.
    QTest::newRow("address, line feed") << "239.1.2.3\n" << "5000" << false << kept << "IP address";
    QTest::newRow("port, line feed") << "239.1.2.3" << "5000\n" << false << kept << "port";
    // Unicast: the page shows the device's own address.
    QTest::newRow("unicast") << "239.9.9.9" << "5000" << true << "10.0.0.5 port : 5000" << "";
}

void TstConfigurationPanel::ipDialogOk()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(bool, unicast);
    QFETCH(QString, shown);
    QFETCH(QString, refusal);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfigFromDevice("multicast", "10.0.0.5", "239.0.0.1", "5000");
    panel.configIP();
    QPointer<DialogIp> dialog = shownDialog<DialogIp>();
    QVERIFY(dialog && dialog->isModal());
    typeInto(child<QLineEdit>(dialog, "IPLineEdit"), address);
    typeInto(child<QLineEdit>(dialog, "portLineEdit"), port);
    if (unicast)
        QTest::mouseClick(child<QRadioButton>(dialog, "uniButton"), Qt::LeftButton);

    // OK hands both to the page, which stores them or refuses with its box.
    QVERIFY(clickAndClose(dialog, "okButton"));
    QCOMPARE(shownBoxes(prompts),
        refusal.isEmpty() ? QStringList()
                          : QStringList({ "warning|IP Status|Invalid " + refusal + ". Changes were not applied." }));
    QCOMPARE(labelText(&panel, "IPLabel") + ' ' + labelText(&panel, "IPLabel2"), shown);
    QCOMPARE(panel.isUnicast(), unicast);
}

void TstConfigurationPanel::saveThatCannotCompleteKeepsThePreviousFile()
{
    // The failed save's log line is expected here (warnings are fatal in this program).
    QLoggingCategory::setFilterRules("nerio.config.xml.warning=false");
    QTemporaryDir here;
    const QString path = here.filePath("kept.xml");
    QVERIFY(writeFile(path, SAVED));
    PromptRecorder prompts;
    ConfigXML xml(path, false);
    QVERIFY(xml.isLoaded());
    // Room for less than the new document: the disk is full half-way through the save. Files larger than
    // the limit cannot be written (EFBIG; root is not exempt, unlike folder permissions); the signal that
    // would kill the process is ignored meanwhile.
    rlimit unlimited {};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    rlimit limit = unlimited;
    limit.rlim_cur = 64;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = xml.writeParam("NR-7", "stream_IP", "239.1.2.3");
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(!written);
    QCOMPARE(fileBytes(path), SAVED);
    QCOMPARE(QDir(here.path()).entryList(QDir::Files), QStringList { "kept.xml" });
    // Through the page: the failed save is said once, not taken for a success.
    ConfigurationPanel panel;
    prompts.fileAnswers << path;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
    panel.saveConfigToXML();
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, previousHandler);
    QCOMPARE(fileBytes(path), SAVED);
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|XML save error|Unable to save the configuration file" }));
    prompts.boxes.clear();
    // A folder that is not there: the save fails with its box (the only box here).
    ConfigXML missing(here.filePath("missing-folder/x.xml"), true);
    QVERIFY(!missing.isLoaded() && !missing.writeParam("NR-7", "OFDM", "2K"));
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|XML open error|Unable to open the configuration file" }));
}

void TstConfigurationPanel::refusedDocuments_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("padding"); // spaces after the document, written in chunks
    // An external entity is refused, not read.
    const QString secret = dir.filePath("secret.txt");
    QVERIFY(writeFile(secret, "TOPSECRET"));
    QTest::newRow("external entity")
        << "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret.toUtf8()
            + "\">]><modulator_configuration_file><modulator serial_number=\"NR-7\"><config OFDM=\"&x;\"/>"
              "</modulator></modulator_configuration_file>"
        << qint64(0);
    // 350 KB, well-formed: the document parser recursed once per level and overflowed the stack.
    QTest::newRow("deep nesting") << QByteArray("<a>").repeated(50000) + QByteArray("</a>").repeated(50000)
                                  << qint64(0);
    // 175 KB: a 100 000-character entity used 25 000 times expanded to gigabytes.
    QTest::newRow("entity expansion") << "<!DOCTYPE r [<!ENTITY e \"" + QByteArray(100000, 'x') + "\">]><r>"
            + QByteArray("&e;").repeated(25000) + "</r>"
                                      << qint64(0);
    // Well-formed but 100 MB: refused unread instead of parsed for seconds.
    QTest::newRow("100 MB") << SAVED << qint64(100) * 1000 * 1000;
}

void TstConfigurationPanel::refusedDocuments()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, padding);
    QTemporaryDir here;
    const QString path = here.filePath("doc.xml");
    QVERIFY(writeFile(path, content));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        const QByteArray spaces(1 << 20, ' ');
        for (qint64 left = padding; left > 0; left -= spaces.size())
            QVERIFY(file.write(spaces.constData(), qMin(left, qint64(spaces.size()))) > 0);
    }
    PromptRecorder prompts;
    std::unique_ptr<ConfigXML> xml;
    {
        const Deadline deadline;
        xml = std::make_unique<ConfigXML>(path, false);
    }
    QVERIFY(!xml->isLoaded());
    QVERIFY(xml->readParam("NR-7", "OFDM").isNull());
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|XML open error|Error while trying to set XML content" }));
    // The file is left as it was until the operator saves.
    QCOMPARE(QFileInfo(path).size(), content.size() + padding);
    QCOMPARE(fileBytes(path).left(content.size()), content);
}

void TstConfigurationPanel::fifoChosenInADialog()
{
    // Load, save target and firmware file: each refuses what is not a regular file with its own box,
    // instead of blocking the window in open() or in the first read.
    QTemporaryDir here;
    const QString fifo = here.filePath("pipe.xml");
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    const QStringList before = panel.collectConfig();
    prompts.fileAnswers << fifo << fifo << fifo;
    {
        const Deadline deadline;
        panel.setConfigFromXML();
        panel.saveConfigToXML();
        QTest::mouseClick(child<QPushButton>(&panel, "upgradeButton"), Qt::LeftButton);
    }
    const QString openError = "warning|XML open error|Unable to open the configuration file";
    QCOMPARE(shownBoxes(prompts),
        QStringList({ openError, openError, "critical|Critical error|Unable to open the binary file" }));
    QCOMPARE(panel.collectConfig(), before);
    QVERIFY(!panel.firmwareFile().isValid());
    // The save did not replace it with a file either.
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
}

void TstConfigurationPanel::fileValues_data()
{
    QTest::addColumn<QByteArray>("attributes"); // of the config element
    QTest::addColumn<QString>("state"); // attenuation, frequency, output, code rate after the load
    QTest::addColumn<QString>("refused"); // lines of the box; none when empty
    const QString kept = "17 666.000 ON 1/2";
    QTest::newRow("taken") << QByteArray("reduction=\"12\" carrier_frequency=\"682.000\" output=\"OFF\" "
                                         "inner_coder=\"5/6\"")
                           << "12 682.000 OFF 5/6" << "";
    QTest::newRow("reduction 99999") << QByteArray("reduction=\"99999\"") << kept << "reduction : 99999";
    QTest::newRow("reduction -5") << QByteArray("reduction=\"-5\"") << kept << "reduction : -5";
    QTest::newRow("reduction abc") << QByteArray("reduction=\"abc\"") << kept << "reduction : abc";
    // Left empty (as a save cut short leaves the keys after the first): nothing to take, nothing to say.
    QTest::newRow("empty") << QByteArray("reduction=\"\" output=\"\" carrier_frequency=\" \"") << kept << "";
    QTest::newRow("words and numbers")
        << QByteArray("carrier_frequency=\"nan\" output=\"on\" inner_coder=\"9/10\"") << kept
        << "inner_coder : 9/10\ncarrier_frequency : nan\noutput : on";
}

void TstConfigurationPanel::fileValues()
{
    QFETCH(QByteArray, attributes);
    QFETCH(QString, state);
    QFETCH(QString, refused);
    QTemporaryDir here;
    const QString path = here.filePath("values.xml");
    QVERIFY(writeFile(path,
        "<modulator_configuration_file><modulator serial_number=\"not found\"><config " + attributes
            + "/></modulator></modulator_configuration_file>"));
    // Write-protected: a load only reads. Root would open it for writing all the same, so the load runs
    // as nobody then.
    QVERIFY(chmod(QFile::encodeName(path).constData(), 0444) == 0);
    QVERIFY(chmod(QFile::encodeName(here.path()).constData(), 0755) == 0);
    const bool root = geteuid() == 0;
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setAttenuationLevel(17);
    QTest::mouseClick(child<QPushButton>(&panel, "outputSliderButton"), Qt::LeftButton);
    prompts.fileAnswers << path;
    QVERIFY(!root || seteuid(65534) == 0);
    panel.setConfigFromXML();
    QVERIFY(!root || seteuid(0) == 0);
    QCOMPARE(QString("%1 %2 %3 %4")
                 .arg(panel.attenuationText(), panel.frequencyText(), panel.isOutputOn() ? "ON" : "OFF",
                     panel.collectConfig()[1]),
        state);
    QCOMPARE(shownBoxes(prompts),
        refused.isEmpty() ? QStringList()
                          : QStringList({ "warning|Invalid values|Values of the configuration file (out of range or "
                                          "unreadable), not applied:\n"
                              + refused }));
}

void TstConfigurationPanel::serialNumbersWithControlCharacters()
{
    // Serial numbers as a garbled reading may give them: each saved entry loads back for its own device,
    // and a literal backslash sequence stays a different device.
    QTemporaryDir here;
    const QString path = here.filePath("sn.xml");
    const QStringList serials { QString("NR\x01" "42"), "NR\t42", "NR\\x0142", "NR0042" };
    PromptRecorder prompts;
    {
        ConfigXML saved(path, true);
        saved.createRoot();
        for (int i = 0; i < serials.size(); ++i)
            QVERIFY(saved.writeParam(serials[i], "OFDM", QString::number(i)));
    }
    QVERIFY(fileBytes(path).contains("serial_number=\"NR\\x0142\""));
    ConfigXML loaded(path, false);
    QVERIFY(loaded.isLoaded());
    QStringList read;
    for (const QString &serial : serials)
        read << loaded.readParam(serial, "OFDM");
    QCOMPARE(read, QStringList({ "0", "1", "2", "3" }));
    QVERIFY(prompts.boxes.isEmpty());
}

QTEST_MAIN(TstConfigurationPanel)
#include "tst_configurationpanel.moc"
