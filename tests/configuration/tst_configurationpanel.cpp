// The Configuration page without a device: form names and initial states, selectors, attenuation,
// output switch, frequency display, indicators, parameter replies, and saving/loading files.

#include "channelplan.h"
#include "configurationpanel.h"
#include "mux.h"
#include "promptrecorder.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBox>
#include <QWheelEvent>
#include <QtTest>

namespace {
QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(32, 32)).toImage();
}

QImage resourceImage(const QString &path)
{
    return iconImage(QIcon(path));
}

void sendWheel(QWidget *target, int deltaY)
{
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(pos, QPointF(target->mapToGlobal(pos.toPoint())), QPoint(), QPoint(0, deltaY), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}
}

class TstConfigurationPanel : public QObject
{
    Q_OBJECT
private slots:
    void formNamesTextsAndInitialStates();
    void loginButtonFollowsInterface();
    void selectorsCycle();
    void attenuationLevels_data();
    void attenuationLevels();
    void wheelSteps();
    void channelArithmetic_data();
    void channelArithmetic();
    void frequencyDisplay();
    void indicators();
    void parameterReply();
    void parameterReplyWithoutOptionalLines();
    void ipConfigValidation();
    void saveThenLoadRoundTrip();
    void loadWithoutEntryChangesNothing();
    void actionsNeedConnection();
    void quitClosesOwningWindow();

private:
    template<typename T> static T *child(ConfigurationPanel &panel, const char *name)
    {
        T *w = panel.findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("missing widget %s", name);
        return w;
    }
};

void TstConfigurationPanel::formNamesTextsAndInitialStates()
{
    ConfigurationPanel panel;
    const struct
    {
        const char *name;
        const char *toolTip;
        bool enabled;
    } buttons[] = {
        { "applyConfigButton", "Apply changes", true },
        { "currentConfigButton", "Get current configuration", true },
        { "loadButton", "Load configuration", true },
        { "saveButton", "Save configuration", true },
        { "IPButton", "Click to configure IP input", false },
        { "loginIPButton", "Setup IP connectivity", false },
        { "loginSerialButton", "Setup USB/Serial connectivity", true },
        { "quitButton", "Quit application", true },
        { "inputButton", "IP", false },
        { "bandwidthButton", "8MHz", false },
        { "clockRefButton", "internal", true },
    };
    for (const auto &b : buttons) {
        QPushButton *button = child<QPushButton>(panel, b.name);
        QCOMPARE(button->toolTip(), QString::fromLatin1(b.toolTip));
        QCOMPARE(button->isEnabled(), b.enabled);
    }
    QCOMPARE(child<QPushButton>(panel, "loginIPButton")->text(), QString("Setup IP connectivity"));
    QCOMPARE(child<QPushButton>(panel, "loginSerialButton")->text(), QString("Setup USB/Serial connectivity"));
    QCOMPARE(child<QPushButton>(panel, "quitButton")->text(), QString("Quit application"));
    QCOMPARE(child<QGroupBox>(panel, "loginInterface")->title(), QString("INTERFACE"));
    QCOMPARE(child<QLabel>(panel, "IPLabel")->isEnabled(), false);

    QCheckBox *autoInput = child<QCheckBox>(panel, "autoInputCheckBox");
    QCheckBox *autoClock = child<QCheckBox>(panel, "autoClockCheckBox");
    QVERIFY(!autoInput->isEnabled() && autoInput->isChecked());
    QVERIFY(!autoClock->isEnabled() && !autoClock->isChecked());
    // Automatic input: the selector shows the auto image.
    QCOMPARE(iconImage(child<QPushButton>(panel, "inputButton")->icon()),
        resourceImage(":/configurationPanel/autoMux1.png"));

    QToolBox *toolBox = child<QToolBox>(panel, "loginToolBox");
    QCOMPARE(toolBox->count(), 3);
    QCOMPARE(toolBox->currentIndex(), 0);
    QCOMPARE(toolBox->itemText(0), QString("Connection"));
    QCOMPARE(toolBox->itemText(1), QString("Admin"));
    QCOMPARE(toolBox->itemText(2), QString("Factory"));
    QCOMPARE(toolBox->widget(0)->objectName(), QString("login"));
    QCOMPARE(toolBox->widget(1)->objectName(), QString("admin"));
    QCOMPARE(toolBox->widget(2)->objectName(), QString("page"));

    QCOMPARE(child<QGroupBox>(panel, "groupBox")->title(), QString("  Status report  "));
    QCOMPARE(child<QGroupBox>(panel, "groupBox_2")->title(), QString("Product ID"));
    QVERIFY(child<QGroupBox>(panel, "groupBox")->inherits("MovableGroupBox"));
    QVERIFY(child<QGroupBox>(panel, "groupBox_2")->inherits("MovableGroupBox"));

    QPushButton *output = child<QPushButton>(panel, "outputSliderButton");
    QVERIFY(output->inherits("SliderButton"));
    QVERIFY(output->isCheckable() && !output->isChecked());
    QCOMPARE(output->toolTip(),
        QString("Use the wheel to change attenuation level\nClick to enable or disable the output"));
    QCOMPARE(child<QLabel>(panel, "attenuationLabel")->text(), QString("0dB"));
    QCOMPARE(child<QPushButton>(panel, "VCOButton")->text(), QString("\n666.000\nMHz"));
    QCOMPARE(child<QLabel>(panel, "freqLabel")->text(), QString("666.000MHz"));
    QCOMPARE(panel.frequencyText(), QString("666.000"));
    QCOMPARE(panel.serialNumberText(), QString("not found"));
    QCOMPARE(panel.loginName(), QString("admin"));

    QCOMPARE(panel.collectConfig(),
        QStringList({ "IP", "1/2", "1/32", "QPSK", "8MHz", "2K", "internal", "", "", "666.000", "0", "multicast",
            "OFF" }));
}

void TstConfigurationPanel::loginButtonFollowsInterface()
{
    ConfigurationPanel panel;
    QPushButton *login = child<QPushButton>(panel, "loginButton");
    QVERIFY(!login->isEnabled());
    QCOMPARE(login->toolTip(), QString("No interface configured"));
    panel.setCOMPort("/dev/ttyUSB7");
    QVERIFY(login->isEnabled());
    QCOMPARE(login->toolTip(), QString("Click to connect to /dev/ttyUSB7"));
    QCOMPARE(iconImage(login->icon()), resourceImage(":/connexionPanel/Actions-network-disconnect-icon.png"));
    panel.setIPAddress("10.1.2.3");
    QCOMPARE(login->toolTip(), QString("Click to connect to host (10.1.2.3)"));
    emit panel.changeLoginButtonToolTip(ConfigurationPanel::ConnectionInProgress);
    QCOMPARE(login->toolTip(), QString("Connection in progress, be patient"));
    QVERIFY(!login->isEnabled());
    QVERIFY(!child<QPushButton>(panel, "loginSerialButton")->isEnabled());
    emit panel.changeLoginButtonToolTip(ConfigurationPanel::Connected);
    QCOMPARE(login->toolTip(), QString("Connected to host (10.1.2.3)\nClick to disconnect"));
    QVERIFY(login->isEnabled());
    QCOMPARE(iconImage(login->icon()), resourceImage(":/connexionPanel/Actions-network-connect-icon.png"));
}

void TstConfigurationPanel::selectorsCycle()
{
    ConfigurationPanel panel;
    QPushButton *coder = child<QPushButton>(panel, "innerCoderButton");
    QLabel *coderLabel = child<QLabel>(panel, "innerCoderLabel");
    const QStringList expected { "2/3", "3/4", "5/6", "7/8", "1/2" };
    for (const QString &text : expected) {
        QTest::mouseClick(coder, Qt::LeftButton);
        QCOMPARE(coder->text(), text);
        QCOMPARE(coderLabel->text(), text);
    }

    QPushButton *clock = child<QPushButton>(panel, "clockRefButton");
    QTest::mouseClick(clock, Qt::LeftButton);
    QCOMPARE(child<QLabel>(panel, "clockRefLabel")->text(), QString("external"));
    QCOMPARE(iconImage(clock->icon()), resourceImage(":/configurationPanel/clockRefButton1.png"));
    QCOMPARE(clock->toolTip(), QString("external"));
    QTest::mouseClick(clock, Qt::LeftButton);
    QCOMPARE(iconImage(clock->icon()), resourceImage(":/configurationPanel/clockRefButton0.png"));

    Mux *ofdm = panel.selectors().at(6);
    ofdm->setStatus(1);
    ofdm->setStatus(2);
    QCOMPARE(ofdm->index, 1);
    ofdm->setStatus(-1);
    QCOMPARE(ofdm->index, 1);
    QCOMPARE(child<QLabel>(panel, "OFDMLabel")->text(), QString("8K"));
    // The bandwidth is display only.
    QTest::mouseClick(child<QPushButton>(panel, "bandwidthButton"), Qt::LeftButton);
    QCOMPARE(panel.selectors().at(5)->index, 0);
}

void TstConfigurationPanel::attenuationLevels_data()
{
    QTest::addColumn<int>("db");
    QTest::addColumn<int>("level");
    QTest::newRow("0 dB") << 0 << 4;
    QTest::newRow("6 dB") << 6 << 4;
    QTest::newRow("7 dB") << 7 << 3;
    QTest::newRow("12 dB") << 12 << 3;
    QTest::newRow("13 dB") << 13 << 2;
    QTest::newRow("24 dB") << 24 << 1;
    QTest::newRow("25 dB") << 25 << 0;
    QTest::newRow("30 dB") << 30 << 0;
}

void TstConfigurationPanel::attenuationLevels()
{
    QFETCH(int, db);
    QFETCH(int, level);
    ConfigurationPanel panel;
    panel.setAttenuationLevel(db);
    QCOMPARE(child<QLabel>(panel, "attenuationLabel")->text(), QString::number(db) + "dB");
    QCOMPARE(panel.attenuationText(), QString::number(db));
    QCOMPARE(iconImage(child<QPushButton>(panel, "outputSliderButton")->icon()),
        resourceImage(QString(":/configurationPanel/antg%1.png").arg(level)));
}

void TstConfigurationPanel::wheelSteps()
{
    ConfigurationPanel panel;
    QPushButton *output = child<QPushButton>(panel, "outputSliderButton");
    QLabel *label = child<QLabel>(panel, "attenuationLabel");
    panel.setAttenuationLevel(5);
    // Output off: the wheel does nothing.
    sendWheel(output, -120);
    QCOMPARE(label->text(), QString("5dB"));

    QTest::mouseClick(output, Qt::LeftButton);
    QVERIFY(panel.isOutputOn());
    QCOMPARE(child<QLabel>(panel, "outputLabel")->text(), QString("On"));
    sendWheel(output, 120);
    QCOMPARE(label->text(), QString("4dB"));
    sendWheel(output, -360);
    QCOMPARE(label->text(), QString("5dB"));

    panel.setAttenuationLevel(30);
    sendWheel(output, -120);
    QCOMPARE(panel.attenuationText(), QString("30"));
    panel.setAttenuationLevel(0);
    sendWheel(output, 120);
    QCOMPARE(panel.attenuationText(), QString("0"));
    sendWheel(output, 0);
    QCOMPARE(panel.attenuationText(), QString("0"));

    panel.setAttenuationLevel(13);
    QTest::mouseClick(output, Qt::LeftButton);
    QCOMPARE(child<QLabel>(panel, "outputLabel")->text(), QString("Off"));
    QCOMPARE(iconImage(output->icon()), resourceImage(":/configurationPanel/antr2.png"));
}

void TstConfigurationPanel::channelArithmetic_data()
{
    QTest::addColumn<float>("frequency");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<int>("centreIndex");
    // Channel N is centred on 474 + 8 (N - 21) MHz.
    QTest::newRow("474") << 474.0f << "21" << 0;
    QTest::newRow("666") << 666.0f << "45" << 24;
    QTest::newRow("670") << 670.0f << "Between Channel 45 and 46" << -1;
    QTest::newRow("673.9") << 673.9f << "Between Channel 45 and 46" << -1;
    QTest::newRow("858") << 858.0f << "69" << 48;
    QTest::newRow("858.5") << 858.5f << "Between Channel 69 and 70" << -1;
    QTest::newRow("473.9") << 473.9f << "Between Channel 21 and 22" << -1;
}

void TstConfigurationPanel::channelArithmetic()
{
    QFETCH(float, frequency);
    QFETCH(QString, channel);
    QFETCH(int, centreIndex);
    QCOMPARE(ChannelPlan::channelOf(frequency), channel);
    QCOMPARE(ChannelPlan::centreIndex(frequency), centreIndex);
}

void TstConfigurationPanel::frequencyDisplay()
{
    ConfigurationPanel panel;
    QLabel *channel = child<QLabel>(panel, "channelLabel");
    QLabel *freq = child<QLabel>(panel, "freqLabel");
    panel.setFrequency("670.000", ChannelPlan::channelOf(670.0f));
    QCOMPARE(channel->text(), QString("> 45 and < 46"));
    QCOMPARE(freq->text(), QString("670.000MHz"));
    panel.setFrequency("858.000", "Channel 69");
    QCOMPARE(channel->text(), QString("69"));
    QCOMPARE(child<QPushButton>(panel, "VCOButton")->text(), QString("\n858.000\nMHz"));
    for (const char *outside : { "858.5", "473.9", "abc", "" }) {
        panel.setFrequency(outside, "Channel 21");
        QCOMPARE(panel.frequencyText(), QString("858.000"));
        QCOMPARE(channel->text(), QString("69"));
    }
    panel.setFrequency("666.000", "45");
    QCOMPARE(channel->text(), QString("45"));
}

void TstConfigurationPanel::indicators()
{
    ConfigurationPanel panel;
    QLabel *ip = child<QLabel>(panel, "IPOK");
    QLabel *asi = child<QLabel>(panel, "ASIOK");
    QLabel *pll = child<QLabel>(panel, "PLLOK");
    const QImage red = QPixmap(":/configurationPanel/red.png").toImage();
    const QImage green = QPixmap(":/configurationPanel/green.png").toImage();
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    panel.setInputState(ok, { CommandHandler::NoData, CommandHandler::Locked188, CommandHandler::LockedExternal },
        " 24.128 ", " 22.000 ", QString());
    QCOMPARE(ip->pixmap(Qt::ReturnByValue).toImage(), red);
    QCOMPARE(ip->toolTip(), QString("Loss of signal"));
    QCOMPARE(asi->pixmap(Qt::ReturnByValue).toImage(), green);
    QCOMPARE(asi->toolTip(), QString("Locked (188 bytes packets)"));
    QCOMPARE(pll->toolTip(), QString("Locked on external clock"));
    QCOMPARE(child<QLabel>(panel, "rawbitrate")->text(), QString(" 24.128 Mbps (Raw)"));
    QCOMPARE(child<QLabel>(panel, "netbitrate")->text(), QString(" 22.000 Mbps (Net)"));

    // A code past the table (7: still inside the enum's value range): that indicator stays; a failed reply
    // changes nothing.
    panel.setInputState(ok, { CommandHandler::NotLocked, CommandHandler::inputStatus(7), CommandHandler::NoStatus },
        "1", "1", QString());
    QCOMPARE(ip->toolTip(), QString("Loss of lock"));
    QCOMPARE(asi->toolTip(), QString("Locked (188 bytes packets)"));
    QCOMPARE(pll->toolTip(), QString("Unknown status"));
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    panel.setInputState(timeout, { CommandHandler::Locked204, CommandHandler::Locked204, CommandHandler::LockedInternal },
        "9", "9", QString());
    QCOMPARE(ip->toolTip(), QString("Loss of lock"));
    QCOMPARE(child<QLabel>(panel, "rawbitrate")->text(), QString("1Mbps (Raw)"));

    panel.resetUiStatus();
    QCOMPARE(asi->pixmap(Qt::ReturnByValue).toImage(), red);
    QCOMPARE(child<QLabel>(panel, "ASIOK_3")->pixmap(Qt::ReturnByValue).toImage(), red);
}

void TstConfigurationPanel::parameterReply()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    QString reply = "Input mux : ASI\nRef clock mux : external\nCode Rate : 3/4\nGuard Interval : 1/16\n"
                    "Constellation : 64QAM\nBandwidth : 5MHz\nTransmission Mode : OFDM mode : 8K\n"
                    "Output Frequency : 674.000 MHz\nOutput State : ON\nMIP control : ON\nAttenuation : 12 dB\n";
    panel.updateConfigFromModulator(ok, reply);
    QCOMPARE(panel.collectConfig().mid(0, 7), QStringList({ "ASI", "3/4", "1/16", "64QAM", "5MHz", "8K", "external" }));
    // No image exists for the fourth bandwidth.
    QVERIFY(child<QPushButton>(panel, "bandwidthButton")->icon().isNull());
    QCOMPARE(child<QLabel>(panel, "bandwidthLabel")->text(), QString("5MHz"));
    QCOMPARE(panel.attenuationText(), QString("12"));
    QCOMPARE(panel.frequencyText(), QString("674.000"));
    QCOMPARE(child<QLabel>(panel, "channelLabel")->text(), QString("46"));
    QVERIFY(panel.isOutputOn());
    QVERIFY(panel.isMipControlled());
    QVERIFY(!child<QCheckBox>(panel, "autoClockCheckBox")->isChecked());
    QVERIFY(child<QPushButton>(panel, "clockRefButton")->isEnabled());

    // Case-sensitive matching; "auto" clock ticks the box.
    QString second = "Constellation : 16qam\nRef clock mux : auto\nOutput Frequency : 900.000 MHz\n";
    panel.updateConfigFromModulator(ok, second);
    QCOMPARE(panel.selectors().at(4)->index, 2);
    QVERIFY(child<QCheckBox>(panel, "autoClockCheckBox")->isChecked());
    QVERIFY(!child<QPushButton>(panel, "clockRefButton")->isEnabled());
    QCOMPARE(iconImage(child<QPushButton>(panel, "clockRefButton")->icon()),
        resourceImage(":/configurationPanel/autoMux1.png"));
    QCOMPARE(panel.frequencyText(), QString("674.000"));

    // A failed reading changes nothing.
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    QString empty;
    panel.updateConfigFromModulator(timeout, empty);
    QVERIFY(child<QCheckBox>(panel, "autoClockCheckBox")->isChecked());

    QString ipReply = "IP addressing method : unicast\nIP multicast address : 239.1.2.3\n"
                      "IP unicast address : 10.0.0.9\nIP port : 1234\n";
    panel.updateIPConfigFromModulator(ok, ipReply);
    QVERIFY(panel.isUnicast());
    QCOMPARE(child<QLabel>(panel, "IPLabel")->text(), QString("10.0.0.9"));
    QCOMPARE(child<QLabel>(panel, "IPLabel2")->text(), QString("port : 1234"));
    QCOMPARE(panel.multicastAddressText(), QString("239.1.2.3"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigurationPanel::parameterReplyWithoutOptionalLines()
{
    ConfigurationPanel panel;
    panel.setAttenuationLevel(9);
    panel.setOutputStateFromText("ON");
    CommandHandler::infoMsg ok = CommandHandler::CommandOk;
    QString reply = "Code Rate : 7/8\nGuard Interval : 1/4\n";
    panel.updateConfigFromModulator(ok, reply);
    QVERIFY(!panel.isOutputOn());
    QCOMPARE(panel.attenuationText(), QString("0"));
    QCOMPARE(panel.selectors().at(2)->index, 4);
}

void TstConfigurationPanel::ipConfigValidation()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfig("192.168.1.10", "1234", false);
    panel.setIPConfig("239.1.2.3", "1023", false);
    QCOMPARE(prompts.boxes.size(), 2);
    QCOMPARE(prompts.boxes[0].title, QString("IP Status"));
    QCOMPARE(prompts.boxes[0].text, QString("Invalid IP address. Changes were not applied."));
    QCOMPARE(prompts.boxes[1].text, QString("Invalid port. Changes were not applied."));
    QVERIFY(panel.multicastAddressText().isEmpty());
    panel.setIPConfig("239.1.2.3", "1234", false);
    QCOMPARE(prompts.boxes.size(), 2);
    QCOMPARE(child<QLabel>(panel, "IPLabel")->text(), QString("239.1.2.3"));
    QCOMPARE(child<QLabel>(panel, "IPLabel2")->text(), QString("port : 1234"));
}

void TstConfigurationPanel::saveThenLoadRoundTrip()
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
        QCOMPARE(prompts.fileRequests.size(), 1);
        QVERIFY(prompts.fileRequests[0].save);
        QCOMPARE(prompts.fileRequests[0].caption, QString("Save configuration"));
        QCOMPARE(prompts.fileRequests[0].filter, QString("Configuration files(*.xml)"));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray expected
        = "<modulator_configuration_file conf_name=\"site\">\n"
          "  <modulator serial_number=\"not found\">\n"
          "    <config OFDM=\"8K\" constellation=\"16QAM\" carrier_frequency=\"682.000\" guard_interval=\"1/8\" "
          "inner_coder=\"5/6\" bandwidth=\"7MHz\" reduction=\"17\" output=\"ON\" refclockmux=\"external\"/>\n"
          "    <stream_source input_type=\"ASI\" IP_addr_method=\"multicast\" stream_IP=\"239.9.8.7\" "
          "stream_port=\"5000\"/>\n"
          "  </modulator>\n"
          "</modulator_configuration_file>\n";
    QCOMPARE(file.readAll(), expected);

    ConfigurationPanel target;
    prompts.fileAnswers << path;
    target.setConfigFromXML();
    QCOMPARE(prompts.fileRequests.last().caption, QString("Load configuration"));
    QVERIFY(!prompts.fileRequests.last().save);
    QCOMPARE(target.collectConfig().mid(0, 7), QStringList({ "ASI", "5/6", "1/8", "16QAM", "7MHz", "8K", "external" }));
    QCOMPARE(target.attenuationText(), QString("17"));
    QCOMPARE(target.frequencyText(), QString("682.000"));
    QCOMPARE(child<QLabel>(target, "channelLabel")->text(), QString("47"));
    QVERIFY(target.isOutputOn());
    QCOMPARE(child<QLabel>(target, "outputLabel")->text(), QString("On"));
    // The input stays automatic: its button keeps the auto image although the item changed.
    QCOMPARE(iconImage(child<QPushButton>(target, "inputButton")->icon()),
        resourceImage(":/configurationPanel/autoMux1.png"));
    QVERIFY(prompts.boxes.isEmpty());

    // A cancelled dialog changes nothing.
    target.setConfigFromXML();
    QCOMPARE(target.attenuationText(), QString("17"));
}

void TstConfigurationPanel::loadWithoutEntryChangesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("other.xml");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<modulator_configuration_file conf_name=\"other\">\n"
               "  <modulator serial_number=\"SOMEONE-ELSE\">\n"
               "    <config OFDM=\"8K\" constellation=\"64QAM\" reduction=\"20\" output=\"OFF\" "
               "carrier_frequency=\"700.000\"/>\n"
               "  </modulator>\n"
               "</modulator_configuration_file>\n");
    file.close();

    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setAttenuationLevel(3);
    panel.setOutputStateFromText("ON");
    const QStringList before = panel.collectConfig();
    prompts.fileAnswers << path;
    panel.setConfigFromXML();
    QCOMPARE(panel.collectConfig(), before);
    QVERIFY(panel.isOutputOn());
    QVERIFY(prompts.boxes.isEmpty());

    // Unparsable file: its box, and still nothing changes.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<modulator_configuration_file>");
    file.close();
    prompts.fileAnswers << path;
    panel.setConfigFromXML();
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].text, QString("Error while trying to set XML content"));
    QCOMPARE(panel.collectConfig(), before);
}

void TstConfigurationPanel::actionsNeedConnection()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    QTest::mouseClick(child<QPushButton>(panel, "applyConfigButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(panel, "currentConfigButton"), Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), 2);
    for (const UiPrompts::Box &box : qAsConst(prompts.boxes)) {
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, QString("No connexion found"));
        QCOMPARE(box.text, QString("Please connect to your modulator before."));
    }
}

void TstConfigurationPanel::quitClosesOwningWindow()
{
    // As in the main window: built with the window as parent, then shown inside a tab.
    QWidget window;
    auto *tabs = new QTabWidget(&window);
    auto *panel = new ConfigurationPanel(&window);
    tabs->addTab(panel, "Configuration");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(panel->parentWidget() != &window);
    QTest::mouseClick(child<QPushButton>(*panel, "quitButton"), Qt::LeftButton);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TstConfigurationPanel)
#include "tst_configurationpanel.moc"
