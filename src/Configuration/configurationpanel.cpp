#include "configurationpanel.h"
#include "ui_configurationpanel.h"

#include "channelplan.h"
#include "configxml.h"
#include "dialogfreq.h"
#include "dialogip.h"
#include "dialogloginip.h"
#include "dialogloginserial.h"
#include "mux.h"
#include "parameterrules.h"
#include "uiprompts.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLoggingCategory>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

Q_LOGGING_CATEGORY(lcPanel, "nerio.panel")

namespace {
const char *const RED_IMAGE = ":/configurationPanel/red.png";
const char *const GREEN_IMAGE = ":/configurationPanel/green.png";
const char *const AUTO_IMAGE = ":/configurationPanel/autoMux1.png";
const char *const IP_ERROR_TITLE = "IP Status";
const char *const IP_ADDRESS_REFUSED = "Invalid IP address. Changes were not applied.";
const char *const IP_PORT_REFUSED = "Invalid port. Changes were not applied.";
const char *const XML_FILTER = "Configuration files(*.xml)";
const char *const INVALID_VALUES_TITLE = "Invalid values";
// Longest value quoted in a box: a hostile reading may hold a line of any length.
constexpr int MAX_QUOTED_VALUE = 40;

// Indicator image and tooltip per input status code.
struct IndicatorLook
{
    bool green;
    const char *toolTip;
};
const IndicatorLook INDICATOR_LOOKS[] = {
    { false, "Unknown status" },
    { false, "Loss of signal" },
    { false, "Loss of lock" },
    { true, "Locked (188 bytes packets)" },
    { true, "Locked (204 bytes packets)" },
    { true, "Locked on external clock" },
    { true, "Locked on internal clock" },
};

// Keys of the configuration file, in selector-list order.
const char *const FILE_KEYS[] = { "input_type", "refclockmux", "inner_coder", "guard_interval", "constellation",
    "bandwidth", "OFDM" };

QPoint centredOn(const QWidget *dialog, const QWidget *anchor)
{
    const QWidget *window = anchor->window();
    const QRect frame(window->mapToGlobal(QPoint(0, 0)), window->size());
    return frame.center() - QPoint(dialog->width() / 2, dialog->height() / 2);
}

// The panel's dialogs are created per click, centred on the page, initialised from it and deleted when
// closed; nothing else keeps them.
template<typename Dialog>
void openDialog(ConfigurationPanel *panel)
{
    auto *dialog = new Dialog();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->move(centredOn(dialog, panel));
    dialog->setPanel(panel);
    dialog->initFromPanel();
    dialog->show();
}
}

ConfigurationPanel::ConfigurationPanel(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ConfigurationPanel)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    layoutIdentityRows();
    createSelectors();

    connect(ui->inputButton, &QPushButton::clicked, this, &ConfigurationPanel::displayIPConfig);
    connect(ui->IPButton, &QPushButton::clicked, this, &ConfigurationPanel::configIP);
    connect(ui->VCOButton, &QPushButton::clicked, this, &ConfigurationPanel::configFreq);
    connect(ui->loadButton, &QPushButton::clicked, this, &ConfigurationPanel::setConfigFromXML);
    connect(ui->saveButton, &QPushButton::clicked, this, &ConfigurationPanel::saveConfigToXML);
    connect(ui->outputSliderButton, &SliderButton::attenuationChanged, this,
        &ConfigurationPanel::setAttenuationLevelFromWheel);
    connect(ui->loginIPButton, &QPushButton::clicked, this, &ConfigurationPanel::configLoginIP);
    connect(ui->loginSerialButton, &QPushButton::clicked, this, &ConfigurationPanel::configSerialIP);
    // The window the page was built for: once the page sits in a tab its parent is the tab stack, and
    // closing that would only hide the pages.
    if (parent)
        connect(ui->quitButton, &QPushButton::clicked, parent, &QWidget::close);
    connect(this, &ConfigurationPanel::changeLoginButtonToolTip, this, &ConfigurationPanel::updateLoginButtonToolTip);
    emit changeLoginButtonToolTip(NotConnected);

    modulatorConnection = new Connection(this, true);
    connect(modulatorConnection, &Connection::disconnected, this, &ConfigurationPanel::resetUiStatus);
    tuningValues = QList<int>() << 0 << 0 << 0 << 0 << 0 << 0;
    on_autoInputCheckBox_clicked();
}

ConfigurationPanel::~ConfigurationPanel()
{
    // The engine and its timers go before the form they report to.
    stopPoll();
    delete commandHandler;
    commandHandler = nullptr;
    delete ui;
}

void ConfigurationPanel::createCommandHandler(Connection *link)
{
    if (commandHandler)
        return;
    commandHandler = new CommandHandler(link, this);
}

void ConfigurationPanel::createSelectors()
{
    const bool enabled = false;
    inputMux = new Mux(ui->inputButton, ui->inputLabel, 2, Mux::ImageOnly, { "IP", "ASI" }, 0, enabled, this);
    codeRateMux = new Mux(ui->innerCoderButton, ui->innerCoderLabel, 5, Mux::TextOnly,
        { "1/2", "2/3", "3/4", "5/6", "7/8" }, 0, enabled, this);
    guardMux = new Mux(ui->guardIntervalButton, ui->guardIntervalLabel, 4, Mux::TextOnly,
        { "1/32", "1/16", "1/8", "1/4" }, 0, enabled, this);
    constellationMux = new Mux(ui->modulationButton, ui->modulationLabel, 3, Mux::ImageOnly,
        { "QPSK", "16QAM", "64QAM" }, 0, enabled, this);
    // Bandwidth is shown, never chosen: the device's filters fix it.
    bandwidthMux = new Mux(ui->bandwidthButton, ui->bandwidthLabel, 4, Mux::ImageOnly,
        { "8MHz", "7MHz", "6MHz", "5MHz" }, 0, true, this);
    ofdmMux = new Mux(ui->OFDMButton, ui->OFDMLabel, 2, Mux::ImageOnly, { "2K", "8K" }, 0, enabled, this);
    clockMux = new Mux(ui->clockRefButton, ui->clockRefLabel, 2, Mux::ImageOnly, { "internal", "external" }, 0,
        enabled, this);
    muxList = { inputMux, clockMux, codeRateMux, guardMux, constellationMux, bandwidthMux, ofdmMux };
}

QStringList ConfigurationPanel::collectConfig() const
{
    const auto text = [](const Mux *m) { return m->items.value(m->index); };
    return { text(inputMux), text(codeRateMux), text(guardMux), text(constellationMux), text(bandwidthMux),
        text(ofdmMux), text(clockMux), multicastAddress, port, frequency, attenuation,
        unicast ? QStringLiteral("unicast") : QStringLiteral("multicast"),
        outputState ? QStringLiteral("ON") : QStringLiteral("OFF") };
}

void ConfigurationPanel::setLoginPassword(const QString &loginName, const QString &loginPassword)
{
    login = loginName;
    password = loginPassword;
}

void ConfigurationPanel::setCOMPort(const QString &portName)
{
    comPort = portName;
    connectionType = 1;
    emit changeLoginButtonToolTip(NotConnected);
}

void ConfigurationPanel::addPresetSerialPort(const QString &portName)
{
    if (!portName.isEmpty() && !presetPorts.contains(portName))
        presetPorts.append(portName);
}

void ConfigurationPanel::setIPAddress(const QString &address, quint16 consolePort)
{
    ipAddress = address;
    telnetPort = consolePort;
    connectionType = 0;
    emit changeLoginButtonToolTip(NotConnected);
}

void ConfigurationPanel::enableNetworkRoute()
{
    networkRoute = true;
    // Usable when the serial one is: only while idle, since a session keeps its route.
    ui->loginIPButton->setEnabled(ui->loginSerialButton->isEnabled());
    ui->IPButton->setEnabled(true);
}

void ConfigurationPanel::setIPConfig(const QString &address, const QString &ipPort, bool isUnicast)
{
    if (!ParameterRules::multicastAddress(address)) {
        UiPrompts::warning(this, QString::fromLatin1(IP_ERROR_TITLE), QString::fromLatin1(IP_ADDRESS_REFUSED));
        return;
    }
    if (!ParameterRules::port(ipPort)) {
        UiPrompts::warning(this, QString::fromLatin1(IP_ERROR_TITLE), QString::fromLatin1(IP_PORT_REFUSED));
        return;
    }
    unicast = isUnicast;
    multicastAddress = address;
    port = ipPort;
    displayIPConfig();
}

void ConfigurationPanel::setIPConfigFromDevice(
    const QString &method, const QString &unicastAddr, const QString &multicastAddr, const QString &ipPort)
{
    setAddressingMethodFromText(method);
    unicastAddress = unicastAddr;
    multicastAddress = multicastAddr;
    port = ipPort;
    displayIPConfig();
}

void ConfigurationPanel::displayIPConfig()
{
    ui->IPLabel->setText(unicast ? unicastAddress : multicastAddress);
    ui->IPLabel2->setText(QStringLiteral("port : ") + port);
    if (inputMux->index == 0)
        ui->inputLabel->setText(inputMux->items.first());
}

int ConfigurationPanel::attenuationBarLevel(int attenuationDb)
{
    // 0-6 dB: 4 bars, then one bar less per 6 dB; clamped so a stray value still names an existing image.
    return qBound(0, 4 - (attenuationDb - 1) / 6, 4);
}

void ConfigurationPanel::setAntennaImage(bool green, int attenuationDb)
{
    const QString path = QStringLiteral(":/configurationPanel/ant%1%2.png")
                             .arg(green ? QLatin1Char('g') : QLatin1Char('r'))
                             .arg(attenuationBarLevel(attenuationDb));
    ui->outputSliderButton->setIcon(QIcon(path));
}

void ConfigurationPanel::setAttenuationLevel(int value)
{
    // Whatever the caller, the page never holds (and Apply never sends) a level the device has not.
    if (value < 0 || value > ParameterRules::MAX_ATTENUATION_DB)
        return;
    attenuation = QString::number(value);
    ui->attenuationLabel->setText(attenuation + QStringLiteral("dB"));
    setAntennaImage(true, value);
}

void ConfigurationPanel::setAttenuationLevelFromWheel(int delta)
{
    int a = attenuation.toInt();
    if (!ui->outputSliderButton->isChecked())
        return;
    if (delta < 0 && a < ParameterRules::MAX_ATTENUATION_DB)
        ++a;
    else if (delta > 0 && a > 0)
        --a;
    setAntennaImage(true, a);
    attenuation = QString::number(a);
    ui->attenuationLabel->setText(attenuation + QStringLiteral("dB"));
}

void ConfigurationPanel::on_outputSliderButton_clicked()
{
    outputState = ui->outputSliderButton->isChecked();
    ui->outputLabel->setText(outputState ? QStringLiteral("On") : QStringLiteral("Off"));
    setAntennaImage(outputState, attenuation.toInt());
}

void ConfigurationPanel::setOutputStateFromText(const QString &text)
{
    ui->outputSliderButton->setChecked(text == QLatin1String("ON"));
    on_outputSliderButton_clicked();
}

void ConfigurationPanel::setRefClockFromText(const QString &text)
{
    if (text == QLatin1String("internal")) {
        ui->autoClockCheckBox->setChecked(false);
        clockMux->setStatus(0);
    } else if (text == QLatin1String("external")) {
        ui->autoClockCheckBox->setChecked(false);
        clockMux->setStatus(1);
    } else {
        ui->autoClockCheckBox->setChecked(true);
    }
    on_autoClockCheckBox_clicked();
}

void ConfigurationPanel::setMipControlFromText(const QString &text)
{
    ui->mipCheckBox->setChecked(text == QLatin1String("ON"));
    mipControl = ui->mipCheckBox->isChecked();
}

void ConfigurationPanel::on_mipCheckBox_clicked()
{
    mipControl = ui->mipCheckBox->isChecked();
}

void ConfigurationPanel::setAddressingMethodFromText(const QString &text)
{
    if (text == QLatin1String("unicast"))
        unicast = true;
    else if (text == QLatin1String("multicast"))
        unicast = false;
}

void ConfigurationPanel::applyAutoCheckBox(bool ticked, Mux *selector)
{
    if (ticked) {
        selector->button->setEnabled(false);
        selector->button->setIcon(QIcon(QString::fromLatin1(AUTO_IMAGE)));
    } else {
        selector->button->setEnabled(true);
        selector->currentStatus();
    }
}

void ConfigurationPanel::on_autoInputCheckBox_clicked()
{
    applyAutoCheckBox(ui->autoInputCheckBox->isChecked(), inputMux);
}

void ConfigurationPanel::on_autoClockCheckBox_clicked()
{
    applyAutoCheckBox(ui->autoClockCheckBox->isChecked(), clockMux);
}

void ConfigurationPanel::setFrequency(const QString &frequencyText, const QString &channelText)
{
    if (!ParameterRules::frequency(frequencyText))
        return;
    frequency = frequencyText;
    ui->VCOButton->setText(QStringLiteral("\n") + frequency + QStringLiteral("\nMHz"));
    ui->freqLabel->setText(frequency + QStringLiteral("MHz"));
    ui->channelLabel->setText(ChannelPlan::channelLabelText(channelText));
}

QString ConfigurationPanel::quotedValue(const QString &name, const QString &value)
{
    QString shown = value.left(MAX_QUOTED_VALUE);
    if (value.size() > MAX_QUOTED_VALUE)
        shown += QStringLiteral("...");
    return name + QStringLiteral(" : ") + shown;
}

void ConfigurationPanel::reportInvalidValues(const QString &source, const QStringList &refused)
{
    if (refused.isEmpty())
        return;
    UiPrompts::warning(this, QString::fromLatin1(INVALID_VALUES_TITLE),
        source + QStringLiteral(" (out of range or unreadable), not applied:\n") + refused.join(QLatin1Char('\n')));
}

void ConfigurationPanel::setIndicator(QLabel *indicator, int statusCode)
{
    if (statusCode < 0 || statusCode >= int(sizeof INDICATOR_LOOKS / sizeof INDICATOR_LOOKS[0]))
        return;
    const IndicatorLook &look = INDICATOR_LOOKS[statusCode];
    indicator->setPixmap(QPixmap(QString::fromLatin1(look.green ? GREEN_IMAGE : RED_IMAGE)));
    indicator->setToolTip(QString::fromLatin1(look.toolTip));
}

void ConfigurationPanel::resetUiStatus()
{
    for (QLabel *indicator : { ui->IPOK, ui->ASIOK, ui->PLLOK, ui->ASIOK_3 })
        indicator->setPixmap(QPixmap(QString::fromLatin1(RED_IMAGE)));
}

void ConfigurationPanel::configFreq()
{
    openDialog<DialogFreq>(this);
}

void ConfigurationPanel::configIP()
{
    openDialog<DialogIp>(this);
}

void ConfigurationPanel::configLoginIP()
{
    openDialog<DialogLoginIp>(this);
}

void ConfigurationPanel::configSerialIP()
{
    openDialog<DialogLoginSerial>(this);
}

void ConfigurationPanel::saveConfigToXML()
{
    const QString path = UiPrompts::saveFileName(
        this, QStringLiteral("Save configuration"), QString(), QString::fromLatin1(XML_FILTER));
    if (path.isEmpty())
        return;
    configFile.reset(new ConfigXML(path, true));
    // Not a file that can be written (its box has been shown): nothing is tried.
    if (!configFile->isOpened())
        return;
    configFile->createRoot();
    const QStringList values = collectConfig();
    // collectConfig order: input, code rate, guard, constellation, bandwidth, OFDM, clock, multicast, port,
    // frequency, attenuation, addressing method, output.
    const QList<QPair<const char *, QString>> keys {
        { "OFDM", values[5] }, { "constellation", values[3] }, { "output", values[12] },
        { "carrier_frequency", values[9] }, { "guard_interval", values[2] }, { "inner_coder", values[1] },
        { "bandwidth", values[4] }, { "reduction", values[10] }, { "refclockmux", values[6] },
        { "input_type", values[0] }, { "IP_addr_method", values[11] }, { "stream_IP", values[7] },
        { "stream_port", values[8] },
    };
    // The file is written once per key. A write that fails (full disk, folder made read-only) leaves the
    // previous file whole; the operator is told once and the remaining keys are not tried.
    for (const auto &key : keys) {
        if (!configFile->writeParam(serialNumber, QString::fromLatin1(key.first), key.second)) {
            UiPrompts::warning(
                this, QStringLiteral("XML save error"), QStringLiteral("Unable to save the configuration file"));
            return;
        }
    }
}

void ConfigurationPanel::setConfigFromXML()
{
    const QString path = UiPrompts::openFileName(
        this, QStringLiteral("Load configuration"), QString(), QString::fromLatin1(XML_FILTER));
    if (path.isEmpty())
        return;
    configFile.reset(new ConfigXML(path, false));

    // A key missing from the file (no entry for this modulator, or a file that could not be read) or left
    // empty leaves its setting alone: reading it as 0 dB and output off would switch a transmitter off on
    // the next apply. A value the page would refuse from the operator is refused here too.
    QStringList refused;
    const auto read = [this](const char *key, QString *value) {
        *value = configFile->readParam(serialNumber, QString::fromLatin1(key));
        return !value->trimmed().isEmpty();
    };
    const auto valid = [&refused](const char *key, const QString &text, bool ok) {
        if (!ok)
            refused << quotedValue(QString::fromLatin1(key), text);
        return ok;
    };
    QString text;
    for (int i = 0; i < muxList.size(); ++i) {
        if (!read(FILE_KEYS[i], &text))
            continue;
        const int index = muxList[i]->items.indexOf(text);
        if (valid(FILE_KEYS[i], text, index >= 0))
            muxList[i]->setStatus(index);
    }
    // A selector refresh repaints its own image; an automatic selection keeps showing as such.
    on_autoInputCheckBox_clicked();
    on_autoClockCheckBox_clicked();
    int db = 0;
    if (read("reduction", &text) && valid("reduction", text, ParameterRules::attenuation(text.trimmed(), &db)))
        setAttenuationLevel(db);
    if (read("carrier_frequency", &text) && valid("carrier_frequency", text, ParameterRules::frequency(text.trimmed())))
        setFrequency(text.trimmed(), ChannelPlan::channelOf(text.toFloat()));
    if (read("output", &text) && valid("output", text, ParameterRules::onOff(text)))
        setOutputStateFromText(text);
    reportInvalidValues(QStringLiteral("Values of the configuration file"), refused);
}
