// The Configuration page without a device: parameter replies, saving/loading files, and its
// frequency and IP input dialogs, opened through the page as a click does. Then configuration files under
// bad conditions: the error boxes, a save that cannot complete keeps the previous file whole, and hostile,
// broken or huge documents end in a refusal, never a hang or a file read.

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
#include <sys/resource.h>

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
        // Case-sensitive matching; "auto" clock ticks the box; a frequency outside the band is ignored; a
        // reply without output state and attenuation means off and 0 dB.
        QString second = "Constellation : 64qam\nRef clock mux : auto\nOutput Frequency : 900.000 MHz\n";
        source.updateConfigFromModulator(ok, second);
        QCOMPARE(source.collectConfig()[3] + ' ' + source.frequencyText() + ' ' + source.attenuationText(),
            QString("16QAM 682.000 0"));
        QVERIFY(!source.isOutputOn() && child<QCheckBox>(&source, "autoClockCheckBox")->isChecked());
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
    QTest::newRow("deep nesting, unclosed") << QByteArray("<a>").repeated(20000) << qint64(0);
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
    QElapsedTimer clock;
    clock.start();
    ConfigXML xml(path, false);
    QVERIFY2(clock.elapsed() < 10000, "a hostile document must not take long to refuse");
    QVERIFY(!xml.isLoaded());
    QVERIFY(xml.readParam("NR-7", "OFDM").isNull());
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|XML open error|Error while trying to set XML content" }));
    // The file is left as it was until the operator saves.
    QCOMPARE(QFileInfo(path).size(), content.size() + padding);
    QCOMPARE(fileBytes(path).left(content.size()), content);
}

QTEST_MAIN(TstConfigurationPanel)
#include "tst_configurationpanel.moc"
