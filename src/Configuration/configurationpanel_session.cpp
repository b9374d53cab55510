// The Configuration page's session: connecting, the login dialogue, the status poll, the modulator's
// replies, applying settings and the connection button.

#include "configurationpanel.h"
#include "ui_configurationpanel.h"

#include "channelplan.h"
#include "mux.h"
#include "parameterrules.h"
#include "uiprompts.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcPanel)

namespace {
const char *const DISCONNECTED_ICON = ":/connexionPanel/Actions-network-disconnect-icon.png";
const char *const CONNECTED_ICON = ":/connexionPanel/Actions-network-connect-icon.png";
const char *const IPV4_PATTERN = "^((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?).){3}(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$";
// Leading words of a reply line and their separator ("Product type : ").
const char *const LABEL_PATTERN = "^[a-z A-Z]+ : ";
const char ESCAPE = 27;
// Longest wait for each login step when no command engine gives its time-out.
const int DEFAULT_LOGIN_STEP_MS = 5000;

const char *const NO_CONNEXION_TITLE = "No connexion found";
const char *const NO_CONNEXION_TEXT = "Please connect to your modulator before.";

struct IdentityField
{
    const char *prefix;
    QLabel *Ui::ConfigurationPanel::*label;
    QLabel *Ui::ConfigurationPanel::*title;
};
const IdentityField IDENTITY_FIELDS[] = {
    { "Product type : ", &Ui::ConfigurationPanel::typeLabel, &Ui::ConfigurationPanel::title_typeLabel },
    { "Product serial number : ", &Ui::ConfigurationPanel::serialLabel, &Ui::ConfigurationPanel::title_serialLabel },
    { "Product MAC address : ", &Ui::ConfigurationPanel::macLabel, &Ui::ConfigurationPanel::title_macLabel },
    { "Product version : ", &Ui::ConfigurationPanel::versionLabel, &Ui::ConfigurationPanel::title_versionLabel },
    { "Product manufacturing date : ", &Ui::ConfigurationPanel::manufacturingLabel,
        &Ui::ConfigurationPanel::title_manufacturingLabel },
    { "Product options : ", &Ui::ConfigurationPanel::optionsLabel, &Ui::ConfigurationPanel::title_optionsLabel },
};
// Smallest size an identity value is shrunk to so that it shows whole.
constexpr qreal MIN_IDENTITY_POINT_SIZE = 7.0;
constexpr int IDENTITY_RIGHT_MARGIN = 3;

// Reply keys, in selector-list order.
const char *const PARAMETER_KEYS[] = { "Input mux", "Ref clock mux", "Code Rate", "Guard Interval", "Constellation",
    "Bandwidth", "Transmission Mode" };

const QRegularExpression &labelPattern()
{
    static const QRegularExpression pattern(QString::fromLatin1(LABEL_PATTERN));
    return pattern;
}

const QString SERIAL_PREFIX = QStringLiteral("Product serial number : ");

// At the end of a session. Left in the queue, each request of the ended session would wait out its own
// time-out on the closed link (after an apply sixteen of them, 80 s) and keep the engine busy, so that a
// new session could not start its reads; a setting could even reach the next device.
void abandonRequests(CommandHandler *engine)
{
    if (engine)
        engine->abandonRequests();
}
}

bool ConfigurationPanel::linkOpen() const
{
    return modulatorConnection->isConnected(2);
}

void ConfigurationPanel::on_loginButton_clicked()
{
    if (linkOpen()) {
        // The poll stops first: the goodbye to "exit" may take a second, and a status request sent into
        // the closing link would stay outstanding and end the next session with a time-out. Requests
        // still queued or waiting go too, without a box: the operator ended the session.
        stopPoll();
        disconnect(infoLink);
        abandonRequests(commandHandler);
        if (loginWatchdog)
            loginWatchdog->stop();
        closeLink(true);
        emit changeLoginButtonToolTip(NotConnected);
        disconnect(logLink);
        return;
    }
    emit changeLoginButtonToolTip(ConnectionInProgress);
    modulatorConnection->setLogState(Connection::WaitLogin);
    dropLinkConnections();
    if (connectionType == 1) {
        qCDebug(lcPanel) << "COM select!";
    } else {
        qCDebug(lcPanel) << "IP select";
        static const QRegularExpression ipv4(QRegularExpression::anchoredPattern(QString::fromLatin1(IPV4_PATTERN)));
        if (!ipv4.match(ipAddress).hasMatch()) {
            UiPrompts::warning(this, QStringLiteral("IP error"), QStringLiteral("Invalid format for IP address"));
            // Back to idle: left "in progress", every connection button would stay disabled for good.
            emit changeLoginButtonToolTip(NotConnected);
            return;
        }
    }
    logLink = connect(modulatorConnection, &Connection::logProcess, this, &ConfigurationPanel::loginProcedure);
    connectedLink
        = connect(modulatorConnection, &Connection::connected, this, &ConfigurationPanel::connectionEstablished);
    errorLink = connect(modulatorConnection, &Connection::error, this, &ConfigurationPanel::errorFromConnection);
    disconnect(lostLink);
    // Queued: the port reports its loss from inside its own error signal, which must return before the
    // box opens and the port is deleted.
    lostLink = connect(
        modulatorConnection, &Connection::disconnected, this, &ConfigurationPanel::linkLost, Qt::QueuedConnection);
    armLoginWatchdog();
    if (connectionType == 1)
        modulatorConnection->connectCOMToHost(comPort);
    else
        modulatorConnection->connectIPToHost(ipAddress, telnetPort);
}

void ConfigurationPanel::armLoginWatchdog()
{
    if (!loginWatchdog) {
        loginWatchdog = new QTimer(this);
        loginWatchdog->setSingleShot(true);
        connect(loginWatchdog, &QTimer::timeout, this, &ConfigurationPanel::loginStalled);
    }
    loginWatchdog->start(commandHandler ? commandHandler->timeoutInterval() : DEFAULT_LOGIN_STEP_MS);
}

void ConfigurationPanel::loginStalled()
{
    qCWarning(lcPanel) << "no login progress from the device";
    endSession([this] {
        UiPrompts::critical(this, QStringLiteral("Command information"),
            QStringLiteral("No response from product received, check your connection"));
    });
}

void ConfigurationPanel::connectionEstablished()
{
    // ESC wakes the console and makes it print its login prompt.
    modulatorConnection->sendData(QString(QChar(ESCAPE)));
    disconnect(connectedLink);
    if (commandHandler) {
        disconnect(infoLink);
        infoLink = connect(commandHandler, &CommandHandler::info, this, &ConfigurationPanel::commandInfo);
    }
}

void ConfigurationPanel::loginProcedure(Connection::LogRequest request)
{
    switch (request) {
    case Connection::LoginRequest:
        modulatorConnection->sendData(login + QStringLiteral("\r\n"));
        modulatorConnection->setLogState(Connection::WaitPassword);
        armLoginWatchdog();
        break;
    case Connection::PasswordRequest:
        modulatorConnection->sendData(password + QStringLiteral("\r\n"));
        modulatorConnection->setLogState(Connection::WaitResult);
        armLoginWatchdog();
        break;
    case Connection::Logged:
        // From here the command engine's own time-out watches the device.
        if (loginWatchdog)
            loginWatchdog->stop();
        qCDebug(lcPanel) << "Launching modulator...";
        if (commandHandler)
            commandHandler->sendCommandToModulator(QStringLiteral("./modulator"), QString());
        emit changeLoginButtonToolTip(Connected);
        break;
    case Connection::LoginError:
    case Connection::PasswordError:
        endSession([this] {
            UiPrompts::critical(this, QStringLiteral("Login error"),
                QStringLiteral("Access denied\nCheck your login/password values !"));
        });
        break;
    default:
        endSession([this] {
            UiPrompts::warning(this, QStringLiteral("Login error"), QStringLiteral("Bad request in login process!"));
        });
        break;
    }
}

void ConfigurationPanel::dropLinkConnections()
{
    // The login phase is over either way.
    if (loginWatchdog)
        loginWatchdog->stop();
    disconnect(connectedLink);
    disconnect(logLink);
    disconnect(errorLink);
}

void ConfigurationPanel::endSession(const std::function<void()> &report)
{
    // All three link connections go: kept, the next attempt would add a second copy of each and answer
    // every prompt twice.
    dropLinkConnections();
    disconnect(lostLink);
    disconnect(infoLink);
    stopPoll();
    abandonRequests(commandHandler);
    QPointer<ConfigurationPanel> self(this);
    report();
    if (!self)
        return;
    emit changeLoginButtonToolTip(NotConnected);
    // A link already gone (never opened, or lost) has nobody to say "exit" to.
    closeLink(linkOpen());
}

void ConfigurationPanel::closeLink(bool sendExit)
{
    // Closed on purpose: not a lost link.
    disconnect(lostLink);
    modulatorConnection->disconnectFromHost(sendExit);
}

void ConfigurationPanel::linkLost()
{
    // The port reported the device gone (unplugged adapter, powered off): said at once, not as the
    // time-out of the next request. Unless the session has ended otherwise meanwhile.
    if (!lostLink || linkOpen())
        return;
    qCDebug(lcPanel) << "the link to the modulator was lost";
    errorFromConnection(connectionType == 1 ? Connection::ComPortUnavailable : Connection::UnknownError);
}

void ConfigurationPanel::commandInfo(CommandHandler::infoMsg msg)
{
    // Stays connected for the whole session: a later time-out must still end it.
    switch (msg) {
    case CommandHandler::ModulatorLaunched:
        dropLinkConnections();
        startPoll();
        break;
    case CommandHandler::UnsupportedCommand:
        UiPrompts::warning(this, QStringLiteral("Command error"), QStringLiteral("Unsupported command"));
        break;
    case CommandHandler::UnsupportedValue:
        UiPrompts::warning(this, QStringLiteral("Command error"), QStringLiteral("Unsupported command value"));
        break;
    case CommandHandler::CommandTimeout:
        endSession([this] {
            UiPrompts::critical(this, QStringLiteral("Command information"),
                QStringLiteral("No response from product received, check your connection"));
        });
        break;
    default:
        break;
    }
}

void ConfigurationPanel::errorFromConnection(Connection::ConnectionError error)
{
    endSession([this, error] {
        switch (error) {
        case Connection::UnknownError:
            UiPrompts::warning(this, QStringLiteral("Connexion error"), QStringLiteral("Unknown error!"));
            break;
        case Connection::ComPortUnavailable:
            UiPrompts::critical(
                this, QStringLiteral("Connexion fail"), QStringLiteral("Unable to open the specified COM port!"));
            break;
        case Connection::HostUnreachable:
            UiPrompts::critical(this, QStringLiteral("Connexion fail"),
                QStringLiteral("Fail to connect to host (maybe invalid address)"));
            break;
        case Connection::ConnectionTimeout:
            UiPrompts::critical(this, QStringLiteral("Connexion error"), QStringLiteral("Connexion timeout!"));
            break;
        default:
            break;
        }
    });
}

void ConfigurationPanel::startPoll()
{
    if (!commandHandler)
        return;
    stopPoll();
    statusTimer = new QTimer(this);
    statusTimer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the poll is promised one second after each reply.
    statusTimer->setTimerType(Qt::PreciseTimer);
    pollLinks = {
        connect(commandHandler, &CommandHandler::inputStatusReady, this, &ConfigurationPanel::setInputState),
        connect(commandHandler, &CommandHandler::allParamReady, this, &ConfigurationPanel::updateConfigFromModulator),
        connect(commandHandler, &CommandHandler::IPParamReady, this, &ConfigurationPanel::updateIPConfigFromModulator),
        connect(statusTimer, &QTimer::timeout, this, &ConfigurationPanel::askInputState),
    };
    statusTimer->start(FIRST_POLL_DELAY_MS);
    firstPoll = true;
}

void ConfigurationPanel::stopPoll()
{
    if (statusTimer) {
        for (const QMetaObject::Connection &link : qAsConst(pollLinks))
            disconnect(link);
        pollLinks.clear();
        statusTimer->stop();
        // May be running its own timeout slot (a time-out inside the poll ends the session).
        statusTimer->deleteLater();
        statusTimer = nullptr;
    }
    firstPoll = false;
}

void ConfigurationPanel::askInputState()
{
    if (!commandHandler)
        return;
    if (firstPoll) {
        on_currentConfigButton_clicked();
        // A time-out in the first reads ends the session: the identity would only wait out another one.
        if (!statusTimer)
            return;
        readProductIdentity();
        firstPoll = false;
    }
    // The first reads may have ended the session (time-out); nothing more to ask then.
    if (statusTimer)
        commandHandler->askModulator(CommandHandler::RequestType::getStatus);
}

void ConfigurationPanel::readProductIdentity()
{
    const QStringList lines = commandHandler->getID().split(QLatin1Char('\n'));
    for (const IdentityField &field : IDENTITY_FIELDS) {
        const QString prefix = QString::fromLatin1(field.prefix);
        for (const QString &line : lines) {
            if (!line.startsWith(prefix))
                continue;
            QString value = line;
            value.remove(labelPattern());
            showFitted(ui->*field.label, value);
            // The files are keyed by this number; keep it even if the parameter reply's own read failed.
            if (prefix == SERIAL_PREFIX)
                serialNumber = line.mid(SERIAL_PREFIX.size());
            break;
        }
    }
}

void ConfigurationPanel::layoutIdentityRows()
{
    // The titles take the width of the longest one in the font in use (a desktop's may be larger than the
    // form's), the values the rest of the group.
    int titleWidth = 0;
    for (const IdentityField &field : IDENTITY_FIELDS)
        titleWidth = qMax(titleWidth, (ui->*field.title)->sizeHint().width());
    const int valueRight = ui->groupBox_2->width() - 1 - IDENTITY_RIGHT_MARGIN;
    for (const IdentityField &field : IDENTITY_FIELDS) {
        QLabel *title = ui->*field.title;
        QLabel *value = ui->*field.label;
        title->resize(qMax(title->width(), titleWidth), title->height());
        const int valueX = qMax(value->x(), title->x() + title->width());
        value->setGeometry(valueX, value->y(), valueRight - valueX + 1, value->height());
    }
}

void ConfigurationPanel::showFitted(QLabel *label, const QString &text)
{
    // The device's own text, of any length: one too long for its column is drawn smaller rather than
    // cut, with the whole text in the tool tip.
    QFont font = label->parentWidget()->font();
    const auto fits = [&] { return QFontMetrics(font).horizontalAdvance(text) <= label->contentsRect().width(); };
    while (!fits() && font.pointSizeF() - 0.5 >= MIN_IDENTITY_POINT_SIZE)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
    label->setText(text);
    label->setToolTip(font == label->parentWidget()->font() ? QString() : text);
}

void ConfigurationPanel::setInputState(CommandHandler::infoMsg &info, QList<CommandHandler::inputStatus> input,
    QString rawbitrate, QString netbitrate, QString globalStatus)
{
    Q_UNUSED(globalStatus)
    if (info == CommandHandler::CommandOk) {
        QLabel *const indicators[] = { ui->IPOK, ui->ASIOK, ui->PLLOK };
        for (int i = 0; i < 3 && i < input.size(); ++i)
            setIndicator(indicators[i], int(input[i]));
        ui->rawbitrate->setText(rawbitrate + QStringLiteral("Mbps (Raw)"));
        ui->netbitrate->setText(netbitrate + QStringLiteral("Mbps (Net)"));
        latestStatus.valid = true;
        latestStatus.rawBitrate = rawbitrate;
        latestStatus.ipInput = input.value(0, CommandHandler::NoStatus);
        latestStatus.age.start();
    }
    if (statusTimer)
        statusTimer->start(POLL_INTERVAL_MS);
}

void ConfigurationPanel::updateLoginButtonToolTip(ConfigurationPanel::connectionStatus_T status)
{
    QPushButton *button = ui->loginButton;
    switch (status) {
    case NotConnected: {
        button->setIcon(QIcon(QString::fromLatin1(DISCONNECTED_ICON)));
        const QString target = connectionType == 1 ? comPort : ipAddress;
        if (target.isEmpty()) {
            button->setToolTip(QStringLiteral("No interface configured"));
            button->setEnabled(false);
        } else {
            button->setToolTip(connectionType == 1 ? QStringLiteral("Click to connect to ") + comPort
                                                   : QStringLiteral("Click to connect to host (") + ipAddress + ")");
            button->setEnabled(true);
        }
        ui->loginSerialButton->setEnabled(true);
        if (networkRoute)
            ui->loginIPButton->setEnabled(true);
        break;
    }
    case ConnectionInProgress:
        button->setToolTip(QStringLiteral("Connection in progress, be patient"));
        button->setEnabled(false);
        ui->loginIPButton->setEnabled(false);
        ui->loginSerialButton->setEnabled(false);
        break;
    case Connected: {
        button->setIcon(QIcon(QString::fromLatin1(CONNECTED_ICON)));
        QString text;
        if (!ipAddress.isEmpty())
            text = QStringLiteral("Connected to host (") + ipAddress + ")";
        else
            text = QStringLiteral("Connected to ") + comPort;
        if (ipAddress.isEmpty() && comPort.isEmpty())
            qCDebug(lcPanel) << "updateLoginButtonToolTip, non interface configured";
        button->setToolTip(text + QStringLiteral("\nClick to disconnect"));
        button->setEnabled(true);
        ui->loginIPButton->setEnabled(false);
        ui->loginSerialButton->setEnabled(false);
        break;
    }
    default:
        break;
    }
    button->repaint();
}

void ConfigurationPanel::on_currentConfigButton_clicked()
{
    if (!linkOpen() || !commandHandler) {
        UiPrompts::critical(this, QString::fromLatin1(NO_CONNEXION_TITLE), QString::fromLatin1(NO_CONNEXION_TEXT));
        return;
    }
    ui->currentConfigButton->setEnabled(false);
    commandHandler->askModulator(CommandHandler::RequestType::getCoreParameters);
    // The first reading may have timed out and ended the session.
    if (linkOpen())
        commandHandler->askModulator(CommandHandler::RequestType::getIPParameters);
    ui->currentConfigButton->setEnabled(true);
}

bool ConfigurationPanel::replyValue(const QStringList &lines, const QString &key, QString *value)
{
    const QString prefix = key + QLatin1Char(' ');
    for (const QString &line : lines) {
        if (line.startsWith(prefix)) {
            *value = line;
            value->remove(labelPattern());
            return true;
        }
    }
    return false;
}

void ConfigurationPanel::updateConfigFromModulator(CommandHandler::infoMsg &info, QString &getParam)
{
    if (info != CommandHandler::CommandOk)
        return;
    const QStringList lines = getParam.split(QLatin1Char('\n'));
    // A key the reading lacks, or leaves empty, keeps its setting: read as empty it would mean output off,
    // 0 dB and an automatic clock, which the next Apply would send. A value the page would refuse from the
    // operator is not taken from the device either, and the operator is told.
    const auto value = [&lines](const char *key, const char *unit, QString *text) {
        if (!replyValue(lines, QString::fromLatin1(key), text))
            return false;
        if (unit)
            text->remove(QString::fromLatin1(unit));
        *text = text->trimmed();
        return !text->isEmpty();
    };
    QStringList refused;
    const auto valid = [&refused](const char *key, const QString &text, bool ok) {
        if (!ok)
            refused << quotedValue(QString::fromLatin1(key), text);
        return ok;
    };
    const auto isAuto
        = [](const QString &text) { return text.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0; };
    QString text;
    for (int i = 0; i < muxList.size(); ++i) {
        // The clock has its own rule below; an automatic input keeps the selector (its box shows it).
        const char *unit = muxList[i] == ofdmMux ? "OFDM mode : " : nullptr;
        if (muxList[i] == clockMux || !value(PARAMETER_KEYS[i], unit, &text))
            continue;
        const int index = muxList[i]->items.indexOf(text);
        if (valid(PARAMETER_KEYS[i], text, index >= 0 || (muxList[i] == inputMux && isAuto(text))) && index >= 0)
            muxList[i]->setStatus(index);
    }
    int db = 0;
    if (value("Attenuation", "dB", &text) && valid("Attenuation", text, ParameterRules::attenuation(text, &db)))
        setAttenuationLevel(db);
    if (value("Output Frequency", "MHz", &text) && valid("Output Frequency", text, ParameterRules::frequency(text)))
        setFrequency(text, ChannelPlan::channelOf(text.toFloat()));
    if (value("Output State", nullptr, &text) && valid("Output State", text, ParameterRules::onOff(text)))
        setOutputStateFromText(text);
    if (value("Ref clock mux", nullptr, &text)
        && valid("Ref clock mux", text, clockMux->items.contains(text) || isAuto(text)))
        setRefClockFromText(text);
    if (value("MIP control", nullptr, &text) && valid("MIP control", text, ParameterRules::onOff(text)))
        setMipControlFromText(text);
    on_autoInputCheckBox_clicked();
    reportInvalidValues(QStringLiteral("Values read from the modulator"), refused);

    if (!commandHandler)
        return;
    QString identity = commandHandler->getID();
    identity.remove(QLatin1Char('\r'));
    for (const QString &line : identity.split(QLatin1Char('\n'))) {
        if (line.startsWith(SERIAL_PREFIX)) {
            serialNumber = line.mid(SERIAL_PREFIX.size());
            break;
        }
    }
}

void ConfigurationPanel::updateIPConfigFromModulator(CommandHandler::infoMsg &info, QString &getParam)
{
    if (info != CommandHandler::CommandOk)
        return;
    const QStringList lines = getParam.split(QLatin1Char('\n'));
    // As for the parameters: a missing key keeps what the page holds, a value outside its rule (an address
    // with a command behind it, a twenty-digit port) is not taken, shown or sent back on Apply.
    QStringList refused;
    const auto take = [&](const char *key, bool (*rule)(const QString &), QString *field) {
        QString text;
        if (!replyValue(lines, QString::fromLatin1(key), &text) || (text = text.trimmed()).isEmpty())
            return;
        if (rule(text))
            *field = text;
        else
            refused << quotedValue(QString::fromLatin1(key), text);
    };
    QString method;
    QString unicastAddr = unicastAddress;
    QString multicastAddr = multicastAddress;
    QString ipPort = port;
    take("IP addressing method", &ParameterRules::addressingMethod, &method);
    take("IP multicast address", &ParameterRules::multicastAddress, &multicastAddr);
    take("IP unicast address", &ParameterRules::unicastAddress, &unicastAddr);
    take("IP port", &ParameterRules::port, &ipPort);
    setIPConfigFromDevice(method, unicastAddr, multicastAddr, ipPort);
    reportInvalidValues(QStringLiteral("Values read from the modulator"), refused);
}

void ConfigurationPanel::on_applyConfigButton_clicked()
{
    if (!linkOpen() || !commandHandler) {
        UiPrompts::critical(this, QString::fromLatin1(NO_CONNEXION_TITLE), QString::fromLatin1(NO_CONNEXION_TEXT));
        return;
    }
    // Values are taken at the click: each request waits for its verdict, and a parameter reply arriving
    // meanwhile must not change what is applied.
    struct Setting
    {
        CommandHandler::RequestType type;
        enum { Int, Bool, Text } kind;
        int number;
        bool flag;
        QString text;
    };
    const QList<Setting> settings {
        { CommandHandler::RequestType::setInputMux, Setting::Int, ui->autoInputCheckBox->isChecked() ? 2 : inputMux->index, false, {} },
        { CommandHandler::RequestType::setRefClockMux, Setting::Int, ui->autoClockCheckBox->isChecked() ? 2 : clockMux->index, false, {} },
        { CommandHandler::RequestType::setCodeRate, Setting::Int, codeRateMux->index, false, {} },
        { CommandHandler::RequestType::setGuardInterval, Setting::Int, guardMux->index, false, {} },
        { CommandHandler::RequestType::setConstellation, Setting::Int, constellationMux->index, false, {} },
        { CommandHandler::RequestType::setBandwidth, Setting::Int, bandwidthMux->index, false, {} },
        { CommandHandler::RequestType::setTransmissionMode, Setting::Int, ofdmMux->index, false, {} },
        { CommandHandler::RequestType::setOutputFrequency, Setting::Text, 0, false, frequency },
        { CommandHandler::RequestType::setOutputState, Setting::Bool, 0, outputState, {} },
        { CommandHandler::RequestType::setMipControl, Setting::Bool, 0, mipControl, {} },
        { CommandHandler::RequestType::setIPAddressingMethod, Setting::Bool, 0, unicast, {} },
        { CommandHandler::RequestType::setIPMulticastAddress, Setting::Text, 0, false, multicastAddress },
        { CommandHandler::RequestType::setIPPort, Setting::Text, 0, false, port },
        { CommandHandler::RequestType::setAttenuation, Setting::Text, 0, false, attenuation },
    };
    QPointer<CommandHandler> engine(commandHandler);
    ui->applyConfigButton->setEnabled(false);
    // Each line waits for its own verdict (also behind a poll still outstanding), so that the refused
    // ones can be named together once the set is through.
    QStringList refused;
    for (const Setting &setting : settings) {
        if (!engine)
            return;
        // A time-out (or a lost link) ended the session meanwhile: the rest would go nowhere.
        if (!linkOpen())
            break;
        QString word = setting.text;
        const CommandHandler::infoMsg verdict = waitForLine(setting.type, [&] {
            if (setting.kind == Setting::Int) {
                word = CommandHandler::deviceWord(setting.type, setting.number);
                engine->queueInt(setting.type, setting.number);
            } else if (setting.kind == Setting::Bool) {
                word = CommandHandler::deviceWord(setting.type, setting.flag);
                engine->queueBool(setting.type, setting.flag);
            } else {
                engine->queueString(setting.type, setting.text);
            }
        });
        if (!engine)
            return;
        if (verdict == CommandHandler::CommandRefused)
            refused << CommandHandler::commandName(setting.type) + QLatin1Char(' ') + word;
    }
    if (!refused.isEmpty())
        UiPrompts::warning(this, QStringLiteral("Command error"),
            QStringLiteral("Settings refused by the modulator:\n") + refused.join(QLatin1Char('\n')));
    if (engine && linkOpen())
        engine->askModulator(CommandHandler::RequestType::getCoreParameters);
    if (engine && linkOpen())
        engine->askModulator(CommandHandler::RequestType::getIPParameters);
    if (engine)
        ui->applyConfigButton->setEnabled(true);
}
