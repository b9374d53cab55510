// The Configuration page without a device: initial states, selectors, attenuation, output switch,
// frequency display, indicators, parameter replies, and saving/loading files.

#include "channelplan.h"
#include "mux.h"
#include "panelfixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QTabWidget>
#include <QWheelEvent>

namespace
{
QImage resourceImage(const QString &path)
{
    return iconImage(QIcon(path));
}

void sendWheel(QWidget *target, int deltaY)
{
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(pos, QPointF(target->mapToGlobal(pos.toPoint())), QPoint(), QPoint(0, deltaY), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

QString labelText(const ConfigurationPanel &panel, const char *name)
{
    return child<QLabel>(&panel, name)->text();
}
}

class TstConfigurationPanel : public QObject
{
    Q_OBJECT
private slots:
    void initialStates();
    void loginButtonFollowsInterface();
    void selectorsCycle();
    void attenuationLevels_data();
    void attenuationLevels();
    void wheelSteps();
    void channelArithmetic_data();
    void channelArithmetic();
    void frequencyDisplay();
    void indicators();
    void parameterReplies();
    void saveThenLoadRoundTrip();
    void loadWithoutEntryChangesNothing();
    void actionsNeedConnection();
    void quitClosesOwningWindow();
};

void TstConfigurationPanel::initialStates()
{
    ConfigurationPanel panel;
    // Every widget the page itself disables, by name.
    QStringList disabled;
    for (QWidget *w : panel.findChildren<QWidget *>())
        if (w->testAttribute(Qt::WA_ForceDisabled) && !w->objectName().isEmpty())
            disabled << w->objectName();
    disabled.sort();
    QCOMPARE(disabled,
        QStringList({ "IPButton", "IPLabel", "autoClockCheckBox", "autoInputCheckBox", "bandwidthButton", "groupBox_4",
            "groupBox_5", "groupBox_6", "inputButton", "loadUpgradeFileButton", "loginButton", "loginIPButton",
            "progressBar" }));
    QVERIFY(child<QCheckBox>(&panel, "autoInputCheckBox")->isChecked());
    QVERIFY(!child<QCheckBox>(&panel, "autoClockCheckBox")->isChecked());
    // Automatic input: the selector shows the auto image.
    QCOMPARE(iconImage(child<QPushButton>(&panel, "inputButton")->icon()),
        resourceImage(":/configurationPanel/autoMux1.png"));
    QCOMPARE(child<QPushButton>(&panel, "loginButton")->toolTip(), QString("No interface configured"));
    QCOMPARE(panel.collectConfig(),
        QStringList({ "IP", "1/2", "1/32", "QPSK", "8MHz", "2K", "internal", "", "", "666.000", "0", "multicast",
            "OFF" }));
}

void TstConfigurationPanel::loginButtonFollowsInterface()
{
    // The texts for a chosen port or host are checked in the session tests; here the states between.
    ConfigurationPanel panel;
    QPushButton *login = child<QPushButton>(&panel, "loginButton");
    panel.setIPAddress("10.1.2.3");
    QVERIFY(login->isEnabled());
    QCOMPARE(iconImage(login->icon()), resourceImage(":/connexionPanel/Actions-network-disconnect-icon.png"));
    emit panel.changeLoginButtonToolTip(ConfigurationPanel::ConnectionInProgress);
    QCOMPARE(login->toolTip(), QString("Connection in progress, be patient"));
    QVERIFY(!login->isEnabled() && !child<QPushButton>(&panel, "loginSerialButton")->isEnabled());
    emit panel.changeLoginButtonToolTip(ConfigurationPanel::Connected);
    QVERIFY(login->isEnabled() && !child<QPushButton>(&panel, "loginSerialButton")->isEnabled());
    QCOMPARE(iconImage(login->icon()), resourceImage(":/connexionPanel/Actions-network-connect-icon.png"));
}

void TstConfigurationPanel::selectorsCycle()
{
    ConfigurationPanel panel;
    QPushButton *coder = child<QPushButton>(&panel, "innerCoderButton");
    QStringList shown;
    for (int i = 0; i < 5; ++i) {
        QTest::mouseClick(coder, Qt::LeftButton);
        shown << coder->text() + ' ' + labelText(panel, "innerCoderLabel");
    }
    QCOMPARE(shown, QStringList({ "2/3 2/3", "3/4 3/4", "5/6 5/6", "7/8 7/8", "1/2 1/2" }));

    QPushButton *clock = child<QPushButton>(&panel, "clockRefButton");
    QTest::mouseClick(clock, Qt::LeftButton);
    QCOMPARE(labelText(panel, "clockRefLabel") + ' ' + clock->toolTip(), QString("external external"));
    QCOMPARE(iconImage(clock->icon()), resourceImage(":/configurationPanel/clockRefButton1.png"));
    QTest::mouseClick(clock, Qt::LeftButton);
    QCOMPARE(iconImage(clock->icon()), resourceImage(":/configurationPanel/clockRefButton0.png"));

    // Out-of-range codes leave the selector where it is.
    Mux *ofdm = panel.selectors().at(6);
    ofdm->setStatus(1);
    ofdm->setStatus(2);
    ofdm->setStatus(-1);
    QCOMPARE(ofdm->index, 1);
    QCOMPARE(labelText(panel, "OFDMLabel"), QString("8K"));
    // The bandwidth is display only.
    QTest::mouseClick(child<QPushButton>(&panel, "bandwidthButton"), Qt::LeftButton);
    QCOMPARE(panel.selectors().at(5)->index, 0);
}

void TstConfigurationPanel::attenuationLevels_data()
{
    QTest::addColumn<int>("db");
    QTest::addColumn<int>("level");
    for (const QPair<int, int> &row : { qMakePair(0, 4), qMakePair(6, 4), qMakePair(7, 3), qMakePair(12, 3),
             qMakePair(13, 2), qMakePair(24, 1), qMakePair(25, 0), qMakePair(30, 0) })
        QTest::addRow("%d dB", row.first) << row.first << row.second;
}

void TstConfigurationPanel::attenuationLevels()
{
    QFETCH(int, db);
    QFETCH(int, level);
    ConfigurationPanel panel;
    panel.setAttenuationLevel(db);
    QCOMPARE(labelText(panel, "attenuationLabel"), QString::number(db) + "dB");
    QCOMPARE(panel.attenuationText(), QString::number(db));
    QCOMPARE(iconImage(child<QPushButton>(&panel, "outputSliderButton")->icon()),
        resourceImage(QString(":/configurationPanel/antg%1.png").arg(level)));
}

void TstConfigurationPanel::wheelSteps()
{
    ConfigurationPanel panel;
    QPushButton *output = child<QPushButton>(&panel, "outputSliderButton");
    panel.setAttenuationLevel(5);
    // Output off: the wheel does nothing.
    sendWheel(output, -120);
    QCOMPARE(panel.attenuationText(), QString("5"));
    QTest::mouseClick(output, Qt::LeftButton);
    QVERIFY(panel.isOutputOn());
    QCOMPARE(labelText(panel, "outputLabel"), QString("On"));
    sendWheel(output, 120);
    QCOMPARE(labelText(panel, "attenuationLabel"), QString("4dB"));
    sendWheel(output, -360);
    QCOMPARE(labelText(panel, "attenuationLabel"), QString("5dB"));
    // Held at both ends.
    panel.setAttenuationLevel(30);
    sendWheel(output, -120);
    QCOMPARE(panel.attenuationText(), QString("30"));
    panel.setAttenuationLevel(0);
    sendWheel(output, 120);
    QCOMPARE(panel.attenuationText(), QString("0"));

    panel.setAttenuationLevel(13);
    QTest::mouseClick(output, Qt::LeftButton);
    QCOMPARE(labelText(panel, "outputLabel"), QString("Off"));
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
    panel.setFrequency("670.000", ChannelPlan::channelOf(670.0f));
    QCOMPARE(labelText(panel, "channelLabel") + ' ' + labelText(panel, "freqLabel"), QString("> 45 and < 46 670.000MHz"));
    panel.setFrequency("858.000", "Channel 69");
    QCOMPARE(child<QPushButton>(&panel, "VCOButton")->text(), QString("\n858.000\nMHz"));
    // Outside the band or no number: ignored.
    for (const char *outside : { "858.5", "473.9", "abc", "" }) {
        panel.setFrequency(outside, "Channel 21");
        QCOMPARE(panel.frequencyText() + ' ' + labelText(panel, "channelLabel"), QString("858.000 69"));
    }
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
    QCOMPARE(QStringList({ shown("IPOK"), shown("ASIOK"), shown("PLLOK") }),
        QStringList({ "red|Loss of signal", "green|Locked (188 bytes packets)", "green|Locked on external clock" }));
    QCOMPARE(labelText(panel, "rawbitrate") + labelText(panel, "netbitrate"),
        QString(" 24.128 Mbps (Raw) 22.000 Mbps (Net)"));

    // A code past the table (7: still inside the enum's value range): that indicator stays; a failed reply
    // changes nothing.
    panel.setInputState(ok, { CommandHandler::NotLocked, CommandHandler::inputStatus(7), CommandHandler::NoStatus },
        "1", "1", QString());
    CommandHandler::infoMsg timeout = CommandHandler::CommandTimeout;
    panel.setInputState(timeout, { CommandHandler::Locked204, CommandHandler::Locked204, CommandHandler::LockedInternal },
        "9", "9", QString());
    QCOMPARE(QStringList({ shown("IPOK"), shown("ASIOK"), shown("PLLOK") }),
        QStringList({ "red|Loss of lock", "green|Locked (188 bytes packets)", "red|Unknown status" }));
    QCOMPARE(labelText(panel, "rawbitrate"), QString("1Mbps (Raw)"));

    panel.resetUiStatus();
    QCOMPARE(QStringList({ shown("ASIOK").left(4), shown("ASIOK_3").left(4) }), QStringList({ "red|", "red|" }));
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
    // No image exists for the fourth bandwidth.
    QVERIFY(child<QPushButton>(&panel, "bandwidthButton")->icon().isNull());
    QCOMPARE(labelText(panel, "bandwidthLabel") + ' ' + labelText(panel, "channelLabel"), QString("5MHz 46"));
    QVERIFY(panel.isOutputOn() && panel.isMipControlled());

    // Case-sensitive matching; "auto" clock ticks the box; a frequency outside the band is ignored.
    QString second = "Constellation : 16qam\nRef clock mux : auto\nOutput Frequency : 900.000 MHz\n";
    panel.updateConfigFromModulator(ok, second);
    QCOMPARE(panel.selectors().at(4)->index, 2);
    QVERIFY(child<QCheckBox>(&panel, "autoClockCheckBox")->isChecked());
    QVERIFY(!child<QPushButton>(&panel, "clockRefButton")->isEnabled());
    QCOMPARE(iconImage(child<QPushButton>(&panel, "clockRefButton")->icon()),
        resourceImage(":/configurationPanel/autoMux1.png"));
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
    QCOMPARE(labelText(panel, "IPLabel") + ' ' + labelText(panel, "IPLabel2"), QString("10.0.0.9 port : 1234"));
    QCOMPARE(panel.multicastAddressText(), QString("239.1.2.3"));
    QVERIFY(prompts.boxes.isEmpty());
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
    QCOMPARE(labelText(target, "channelLabel") + ' ' + labelText(target, "outputLabel"), QString("47 On"));
    QVERIFY(target.isOutputOn());
    // The input stays automatic: its button keeps the auto image although the item changed.
    QCOMPARE(iconImage(child<QPushButton>(&target, "inputButton")->icon()),
        resourceImage(":/configurationPanel/autoMux1.png"));
    // A cancelled dialog changes nothing.
    target.setConfigFromXML();
    QCOMPARE(target.attenuationText(), QString("17"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigurationPanel::loadWithoutEntryChangesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("other.xml");
    QVERIFY(writeFile(path,
        "<modulator_configuration_file conf_name=\"other\">\n"
        "  <modulator serial_number=\"SOMEONE-ELSE\">\n"
        "    <config OFDM=\"8K\" constellation=\"64QAM\" reduction=\"20\" output=\"OFF\" carrier_frequency=\"700.000\"/>\n"
        "  </modulator>\n"
        "</modulator_configuration_file>\n"));
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setAttenuationLevel(3);
    panel.setOutputStateFromText("ON");
    const QStringList before = panel.collectConfig();
    prompts.fileAnswers << path;
    panel.setConfigFromXML();
    QCOMPARE(panel.collectConfig(), before);
    QVERIFY(prompts.boxes.isEmpty());

    // Unparsable file: its box, and still nothing changes.
    QVERIFY(writeFile(path, "<modulator_configuration_file>"));
    prompts.fileAnswers << path;
    panel.setConfigFromXML();
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(panel.collectConfig(), before);
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
    QTest::mouseClick(child<QPushButton>(panel, "quitButton"), Qt::LeftButton);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TstConfigurationPanel)
#include "tst_configurationpanel.moc"
