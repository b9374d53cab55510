// The Configuration page without a device: selectors, attenuation, output switch, frequency display,
// indicators, parameter replies, saving/loading files, and its frequency, IP input and serial login
// dialogs, opened through the page as a click does.

#include "channelplan.h"
#include "dialogfreq.h"
#include "dialogip.h"
#include "dialogloginserial.h"
#include "mux.h"
#include "panelfixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QWheelEvent>

namespace
{
void sendWheel(QWidget *target, int deltaY)
{
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(pos, QPointF(target->mapToGlobal(pos.toPoint())), QPoint(), QPoint(0, deltaY), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

QString labelText(const QWidget *parent, const char *name)
{
    return child<QLabel>(parent, name)->text();
}

// "<text>|<colour>" of a validation label, or its whole style sheet if that is not the bold mark.
QString mark(const QWidget *dialog, const char *name)
{
    QLabel *label = child<QLabel>(dialog, name);
    const QString colour = label->styleSheet().section('#', 2).left(3);
    const QString style = QString("#%1 {font-weight: bold; color: #%2;}").arg(QLatin1String(name), colour);
    return label->text() + '|' + (label->styleSheet() == style ? colour : label->styleSheet());
}

void typeInto(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}

}

class TstConfigurationPanel : public QObject
{
    Q_OBJECT
private slots:
    void selectors();
    void attenuationAndWheel();
    void channelArithmetic();
    void indicators();
    void parameterReplies();
    void saveThenLoad();
    void actionsNeedConnection();
    void frequencyDialog();
    void ipDialogMarksAndOk_data();
    void ipDialogMarksAndOk();
    void ipDialogUnicast();
    void serialDialog();
};

void TstConfigurationPanel::selectors()
{
    ConfigurationPanel panel;
    QPushButton *coder = child<QPushButton>(&panel, "innerCoderButton");
    QStringList shown;
    for (int i = 0; i < 5; ++i) {
        QTest::mouseClick(coder, Qt::LeftButton);
        shown << coder->text() + ' ' + labelText(&panel, "innerCoderLabel");
    }
    QCOMPARE(shown, QStringList({ "2/3 2/3", "3/4 3/4", "5/6 5/6", "7/8 7/8", "1/2 1/2" }));
    // Out-of-range codes leave the selector where it is.
    Mux *ofdm = panel.selectors().at(6);
    ofdm->setStatus(1);
    ofdm->setStatus(2);
    ofdm->setStatus(-1);
    QCOMPARE(ofdm->index, 1);
    QCOMPARE(labelText(&panel, "OFDMLabel"), QString("8K"));
}

void TstConfigurationPanel::attenuationAndWheel()
{
    ConfigurationPanel panel;
    QPushButton *output = child<QPushButton>(&panel, "outputSliderButton");
    // The antenna image shows the level band of the attenuation; boundaries on both sides.
    QStringList bands;
    for (int db : { 6, 7, 12, 13, 24, 25 }) {
        panel.setAttenuationLevel(db);
        for (int level = 0; level <= 4; ++level)
            if (iconImage(output->icon()) == iconImage(QIcon(QString(":/configurationPanel/antg%1.png").arg(level))))
                bands << labelText(&panel, "attenuationLabel") + ' ' + QString::number(level);
    }
    QCOMPARE(bands, QStringList({ "6dB 4", "7dB 3", "12dB 3", "13dB 2", "24dB 1", "25dB 0" }));

    panel.setAttenuationLevel(5);
    // Output off: the wheel does nothing.
    sendWheel(output, -120);
    QCOMPARE(panel.attenuationText(), QString("5"));
    QTest::mouseClick(output, Qt::LeftButton);
    QCOMPARE(labelText(&panel, "outputLabel"), QString("On"));
    sendWheel(output, 120);
    QCOMPARE(labelText(&panel, "attenuationLabel"), QString("4dB"));
    sendWheel(output, -360);
    QCOMPARE(panel.attenuationText(), QString("5"));
    // Held at both ends.
    panel.setAttenuationLevel(30);
    sendWheel(output, -120);
    QCOMPARE(panel.attenuationText(), QString("30"));
    panel.setAttenuationLevel(0);
    sendWheel(output, 120);
    QCOMPARE(panel.attenuationText(), QString("0"));
}

void TstConfigurationPanel::channelArithmetic()
{
    // Channel N is centred on 474 + 8 (N - 21) MHz.
    QStringList got;
    for (float f : { 474.0f, 858.0f, 673.9f, 858.5f, 473.9f })
        got << ChannelPlan::channelOf(f) + '|' + QString::number(ChannelPlan::centreIndex(f));
    QCOMPARE(got,
        QStringList({ "21|0", "69|48", "Between Channel 45 and 46|-1", "Between Channel 69 and 70|-1",
            "Between Channel 21 and 22|-1" }));
}

void TstConfigurationPanel::indicators()
{
    ConfigurationPanel panel;
    const auto shown = [&](const char *name) {
        QLabel *label = child<QLabel>(&panel, name);
        const QImage image = label->pixmap(Qt::ReturnByValue).toImage();
        const bool green = image == QPixmap(":/configurationPanel/green.png").toImage();
        const bool red = image == QPixmap(":/configurationPanel/red.png").toImage();
        return QString(green ? "green|" : red ? "red|" : "other|") + label->toolTip();
    };
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    panel.setInputState(ok, { CommandHandler::NoData, CommandHandler::Locked188, CommandHandler::LockedExternal },
        " 24.128 ", " 22.000 ", QString());
    QCOMPARE(QStringList({ shown("IPOK"), shown("ASIOK"), shown("PLLOK"), labelText(&panel, "netbitrate") }),
        QStringList({ "red|Loss of signal", "green|Locked (188 bytes packets)", "green|Locked on external clock",
            " 22.000 Mbps (Net)" }));

    // A code past the table (7: still inside the enum's value range): that indicator stays; a failed reply
    // changes nothing.
    panel.setInputState(ok, { CommandHandler::NotLocked, CommandHandler::inputStatus(7), CommandHandler::NoStatus },
        "1", "1", QString());
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    panel.setInputState(timeout, { CommandHandler::Locked204, CommandHandler::Locked204, CommandHandler::LockedInternal },
        "9", "9", QString());
    QCOMPARE(QStringList({ shown("IPOK"), shown("ASIOK"), shown("PLLOK") }),
        QStringList({ "red|Loss of lock", "green|Locked (188 bytes packets)", "red|Unknown status" }));
    QCOMPARE(labelText(&panel, "rawbitrate"), QString("1Mbps (Raw)"));
}

void TstConfigurationPanel::parameterReplies()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    QString reply = "Input mux : ASI\nRef clock mux : external\nCode Rate : 3/4\nGuard Interval : 1/16\n"
                    "Constellation : 64QAM\nBandwidth : 5MHz\nTransmission Mode : OFDM mode : 8K\n"
                    "Output Frequency : 674.000 MHz\nOutput State : ON\nMIP control : ON\nAttenuation : 12 dB\n";
    panel.updateConfigFromModulator(ok, reply);
    QCOMPARE(panel.collectConfig().mid(0, 11),
        QStringList({ "ASI", "3/4", "1/16", "64QAM", "5MHz", "8K", "external", "", "", "674.000", "12" }));
    QCOMPARE(labelText(&panel, "channelLabel"), QString("46"));
    QVERIFY(panel.isOutputOn() && panel.isMipControlled());

    // Case-sensitive matching; "auto" clock ticks the box; a frequency outside the band is ignored.
    QString second = "Constellation : 16qam\nRef clock mux : auto\nOutput Frequency : 900.000 MHz\n";
    panel.updateConfigFromModulator(ok, second);
    QCOMPARE(panel.selectors().at(4)->index, 2);
    QVERIFY(child<QCheckBox>(&panel, "autoClockCheckBox")->isChecked());
    QVERIFY(!child<QPushButton>(&panel, "clockRefButton")->isEnabled());
    QCOMPARE(panel.frequencyText(), QString("674.000"));
    // A failed reading changes nothing.
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    QString empty;
    panel.updateConfigFromModulator(timeout, empty);
    QVERIFY(child<QCheckBox>(&panel, "autoClockCheckBox")->isChecked());
    // A reply without output state and attenuation means off and 0 dB.
    QString bare = "Code Rate : 7/8\nGuard Interval : 1/4\n";
    panel.updateConfigFromModulator(ok, bare);
    QVERIFY(!panel.isOutputOn());
    QCOMPARE(panel.attenuationText() + ' ' + panel.collectConfig()[1], QString("0 7/8"));

    QString ipReply = "IP addressing method : unicast\nIP multicast address : 239.1.2.3\n"
                      "IP unicast address : 10.0.0.9\nIP port : 1234\n";
    panel.updateIPConfigFromModulator(ok, ipReply);
    QVERIFY(panel.isUnicast());
    QCOMPARE(labelText(&panel, "IPLabel") + ' ' + labelText(&panel, "IPLabel2"), QString("10.0.0.9 port : 1234"));
    QCOMPARE(panel.multicastAddressText(), QString("239.1.2.3"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigurationPanel::saveThenLoad()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("site.xml");
    PromptRecorder prompts;
    {
        ConfigurationPanel source;
        CommandHandler::infoMsg ok = CommandHandler::CommandOk;
        QString reply = "Input mux : ASI\nRef clock mux : external\nCode Rate : 5/6\nGuard Interval : 1/8\n"
                        "Constellation : 16QAM\nBandwidth : 7MHz\nTransmission Mode : OFDM mode : 8K\n"
                        "Output Frequency : 682.000 MHz\nOutput State : ON\nAttenuation : 17 dB\n";
        source.updateConfigFromModulator(ok, reply);
        source.setIPConfig("239.9.8.7", "5000", false);
        prompts.fileAnswers << path;
        source.saveConfigToXML();
        QVERIFY(prompts.fileRequests.value(0).save);
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
    QVERIFY(!prompts.fileRequests.last().save);
    QCOMPARE(target.collectConfig().mid(0, 11),
        QStringList({ "ASI", "5/6", "1/8", "16QAM", "7MHz", "8K", "external", "", "", "682.000", "17" }));
    QCOMPARE(labelText(&target, "channelLabel") + ' ' + labelText(&target, "outputLabel"), QString("47 On"));
    // The input stays automatic: its button keeps the auto image although the item changed.
    QCOMPARE(iconImage(child<QPushButton>(&target, "inputButton")->icon()),
        iconImage(QIcon(":/configurationPanel/autoMux1.png")));
    // Nothing changes on a cancelled dialog, a file without an entry for this modulator (a missing key
    // is no 0 dB, output off), or an unparsable file, which gets its box.
    const QStringList before = target.collectConfig();
    QVERIFY(writeFile(dir.filePath("else.xml"),
        "<modulator_configuration_file><modulator serial_number=\"SOMEONE-ELSE\">"
        "<config OFDM=\"2K\" reduction=\"20\" output=\"OFF\" carrier_frequency=\"700.000\"/>"
        "</modulator></modulator_configuration_file>"));
    QVERIFY(writeFile(dir.filePath("bad.xml"), "<modulator_configuration_file>"));
    prompts.fileAnswers << QString() << dir.filePath("else.xml") << dir.filePath("bad.xml");
    for (int i = 0; i < 3; ++i) {
        target.setConfigFromXML();
        QCOMPARE(target.collectConfig(), before);
    }
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|XML open error|Error while trying to set XML content" }));
}

void TstConfigurationPanel::actionsNeedConnection()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    QTest::mouseClick(child<QPushButton>(&panel, "applyConfigButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(&panel, "currentConfigButton"), Qt::LeftButton);
    QCOMPARE(shownBoxes(prompts),
        QStringList(QVector<QString>(2, "critical|No connexion found|Please connect to your modulator before.").toList()));
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
    const auto state = [&] {
        return QString("%1 %2 %3 ").arg(edit->text()).arg(combo->count()).arg(combo->currentIndex())
            + mark(dialog, "checkFreq");
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
    typeInto(edit, "670");
    typeInto(edit, "abc");
    QCOMPARE(edit->text() + ' ' + mark(dialog, "checkFreq"), QString("abc Invalid Frequency|f00"));
    QCOMPARE(combo->count(), 49);
    // Picking a channel writes its centre.
    combo->setCurrentIndex(27);
    QCOMPARE(state(), QString("690 49 27 Valid Frequency|0a0"));
    // OK hands the frequency to the page (which ignores one outside the band, see parameterReplies).
    typeInto(edit, "671");
    QVERIFY(clickAndClose(dialog, "okButton"));
    QCOMPARE(panel.frequencyText() + ' ' + labelText(&panel, "channelLabel"), QString("671.000 > 45 and < 46"));
}

void TstConfigurationPanel::ipDialogMarksAndOk_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("marks");
    QTest::addColumn<QString>("refusal");
    const QString valid = "Valid Address|0a0 Valid Port|0a0";
    QTest::newRow("lowest group, highest port") << "224.0.0.0" << "65535" << valid << "";
    QTest::newRow("highest group, lowest port") << "239.255.255.255" << "1024" << valid << "";
    QTest::newRow("unicast address") << "192.168.1.10" << "1234" << "Invalid Address|f00 Valid Port|0a0" << "IP address";
    QTest::newRow("above the groups") << "240.0.0.1" << "65536" << "Invalid Address|f00 Invalid Port|f00" << "IP address";
    QTest::newRow("three parts") << "239.1.2" << "5000" << "Invalid Address|f00 Valid Port|0a0" << "IP address";
    QTest::newRow("port 1023") << "239.1.2.3" << "1023" << "Valid Address|0a0 Invalid Port|f00" << "port";
    QTest::newRow("port 65536") << "239.1.2.3" << "65536" << "Valid Address|0a0 Invalid Port|f00" << "port";
}

void TstConfigurationPanel::ipDialogMarksAndOk()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, marks);
    QFETCH(QString, refusal);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfigFromDevice("multicast", "10.0.0.5", "239.0.0.1", "5000");
    panel.configIP();
    QPointer<DialogIp> dialog = shownDialog<DialogIp>();
    QVERIFY(dialog && dialog->isModal());
    typeInto(child<QLineEdit>(dialog, "IPLineEdit"), address);
    typeInto(child<QLineEdit>(dialog, "portLineEdit"), port);
    QCOMPARE(mark(dialog, "checkIP") + ' ' + mark(dialog, "checkPort"), marks);

    // OK hands both to the page, which stores them or refuses with its box.
    QVERIFY(clickAndClose(dialog, "okButton"));
    const bool stored = refusal.isEmpty();
    QCOMPARE(shownBoxes(prompts),
        stored ? QStringList() : QStringList({ "warning|IP Status|Invalid " + refusal + ". Changes were not applied." }));
    QCOMPARE(labelText(&panel, "IPLabel") + ' ' + labelText(&panel, "IPLabel2"),
        stored ? address + " port : " + port : "239.0.0.1 port : 5000");
}

void TstConfigurationPanel::ipDialogUnicast()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfigFromDevice("multicast", "10.0.0.5", "239.0.0.1", "5000");
    panel.configIP();
    QPointer<DialogIp> dialog = shownDialog<DialogIp>();
    QVERIFY(dialog);
    // Unicast puts the stored group back and locks the field.
    QLineEdit *address = child<QLineEdit>(dialog, "IPLineEdit");
    address->setText("239.9.9.9");
    QTest::mouseClick(child<QRadioButton>(dialog, "uniButton"), Qt::LeftButton);
    QCOMPARE(address->text(), QString("239.0.0.1"));
    QVERIFY(!address->isEnabled());
    QVERIFY(clickAndClose(dialog, "okButton"));
    QVERIFY(panel.isUnicast());
    QCOMPARE(labelText(&panel, "IPLabel"), QString("10.0.0.5"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigurationPanel::serialDialog()
{
    ConfigurationPanel panel;
    panel.configSerialIP();
    QPointer<DialogLoginSerial> dialog = shownDialog<DialogLoginSerial>();
    QVERIFY(dialog);
    // A typed port with a description keeps the name before the colon.
    child<QComboBox>(dialog, "interfaceComboBox")->setEditText("ttyUSB0: FTDI adapter");
    child<QLineEdit>(dialog, "loginLineEdit")->setText("operator");
    child<QLineEdit>(dialog, "passwordLineEdit")->setText("s3cret");
    QVERIFY(clickAndClose(dialog, "okButton"));
    QCOMPARE(QStringList({ panel.comPortName(), QString::number(panel.connectionKind()), panel.loginName(),
                 panel.passwordText() }),
        QStringList({ "ttyUSB0", "1", "operator", "s3cret" }));
}

QTEST_MAIN(TstConfigurationPanel)
#include "tst_configurationpanel.moc"
