// The Configuration page's firmware upgrade ("UPGRADE" group of the Admin page) and its factory tuning
// page: checking an image file, sending it one acknowledged line at a time, and the four RF dials.

#include "configurationpanel.h"
#include "ui_configurationpanel.h"

#include "flashexchange.h"
#include "parameterrules.h"
#include "uiprompts.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcPanel)

namespace
{
const char *const CRITICAL_TITLE = "Critical error";
const char *const FIRMWARE_CAPTION = "Load binary file to upgrade";
const char *const FIRMWARE_FILTER = "Binary files *.bin (*.bin)";
const char *const ERASING_TIP = "Flash erase in progress";
const char *const PROGRAMMING_TIP = "Programming flash in progress";
const char *const COMPLETED_TIP = "Firmware download completed";
const char *const REBOOT_QUESTION = "Would you like to reboot to apply changes ?";
constexpr int CONNECTION_PAGE = 0;
constexpr int FACTORY_PAGE = 2;
constexpr int TUNING_ENTRIES = 4;

// A flash line's verdict is the last code its answer gave: "Bank erased" and "Download complete" end the
// line as well as "OK" does.
bool lineAccepted(CommandHandler::infoMsg verdict)
{
    return verdict == CommandHandler::CommandOk || verdict == CommandHandler::BankErased
        || verdict == CommandHandler::FlashWritten || verdict == CommandHandler::DownloadComplete;
}

QString failureText(CommandHandler::infoMsg verdict, const QString &line)
{
    if (verdict == CommandHandler::CommandTimeout)
        return QStringLiteral("Firmware download stopped: no answer from the modulator to %1").arg(line);
    return QStringLiteral("Firmware download stopped: the modulator refused %1").arg(line);
}
}

void ConfigurationPanel::on_upgradeButton_clicked()
{
    const QString path = UiPrompts::openFileName(
        this, QString::fromLatin1(FIRMWARE_CAPTION), QString(), QString::fromLatin1(FIRMWARE_FILTER));
    if (path.isEmpty())
        return;
    // A refused file leaves an earlier acceptance in place.
    const FirmwareFile::Status status = firmware.check(path);
    if (status != FirmwareFile::Status::Ok) {
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), FirmwareFile::statusText(status));
        return;
    }
    UiPrompts::information(this, QStringLiteral("Information"), firmware.informationText());
    ui->loadUpgradeFileButton->setEnabled(true);
    ui->loadUpgradeFileButton->setToolTip(firmware.readyToolTip());
    ui->progressBar->setEnabled(true);
}

void ConfigurationPanel::updateUpgradeProcess(CommandHandler::infoMsg info)
{
    // The verdict of each line drives the download; the device's own flash reports are only traced.
    qCDebug(lcPanel) << "upgrade:" << info;
}

void ConfigurationPanel::on_loadUpgradeFileButton_clicked()
{
    if (!firmware.isValid())
        return;
    if (!linkOpen() || !commandHandler) {
        UiPrompts::critical(
            this, QStringLiteral("No connexion found"), QStringLiteral("Please connect to your modulator before."));
        return;
    }
    // Checked again: a file changed since its check is not sent.
    QByteArray image;
    const FirmwareFile::Status status = firmware.readForDownload(&image);
    if (status != FirmwareFile::Status::Ok) {
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), FirmwareFile::statusText(status));
        return;
    }
    // The modulator refuses an image made for another serial number only once the flash exchange has
    // begun, and without saying why. Unknown until the first readings: the device then decides alone.
    const QString imageSerial = firmware.header().serial;
    if (!imageSerial.isEmpty() && serialNumber != QLatin1String(UNKNOWN_SERIAL)
        && imageSerial != serialNumber.trimmed()) {
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE),
            QStringLiteral("This firmware is made for the modulator with serial number %1, not for the connected "
                           "one (serial number %2). Nothing was sent.")
                .arg(imageSerial, serialNumber.trimmed()));
        return;
    }

    stopPoll();
    ui->upgradeButton->setEnabled(false);
    ui->loadUpgradeFileButton->setEnabled(false);
    ui->progressBar->setValue(0);
    ui->loadUpgradeFileButton->setToolTip(QString::fromLatin1(ERASING_TIP));
    disconnect(upgradeLink);
    upgradeLink = connect(commandHandler, &CommandHandler::info, this, &ConfigurationPanel::updateUpgradeProcess);

    QPointer<ConfigurationPanel> self(this);
    const bool completed = downloadImage(image);
    if (!self)
        return;

    ui->upgradeButton->setEnabled(true);
    ui->loadUpgradeFileButton->setEnabled(true);
    // A failed download keeps the file ready for another attempt.
    ui->loadUpgradeFileButton->setToolTip(completed ? QString::fromLatin1(COMPLETED_TIP) : firmware.readyToolTip());
    // A silent device has ended the session meanwhile; polling a closed link would only time out again.
    if (linkOpen())
        startPoll();
    if (!completed || !linkOpen()) {
        disconnect(upgradeLink);
        return;
    }

    const QMessageBox::StandardButton answer
        = UiPrompts::question(this, QStringLiteral("Question"), QString::fromLatin1(REBOOT_QUESTION));
    if (!self)
        return;
    if (answer == QMessageBox::Yes && commandHandler) {
        // The poll goes first: a reading queued ahead of the reset would otherwise hold it back until
        // after the link is closed.
        stopPoll();
        const CommandHandler::RequestType reset = CommandHandler::RequestType::setSoftReset;
        waitForLine(reset, [this, reset] { commandHandler->queueBool(reset, true); });
        if (!self)
            return;
        closeLink(true);
        disconnect(infoLink);
        emit changeLoginButtonToolTip(NotConnected);
        ui->loginToolBox->setCurrentIndex(CONNECTION_PAGE);
        repaint();
    }
    disconnect(upgradeLink);
}

bool ConfigurationPanel::downloadImage(const QByteArray &image)
{
    QString headerHex;
    QStringList packets;
    if (!FlashExchange::split(image, &headerHex, &packets))
        return false;
    QPointer<ConfigurationPanel> self(this);

    // Each line waits for its verdict; the first refused or unanswered one ends the download, since the
    // device would otherwise be left with a partly written bank reported as complete.
    const auto sendLine = [this](CommandHandler::RequestType type, const QString &hex) {
        return waitForLine(type, [this, type, &hex] { commandHandler->queueString(type, hex); });
    };
    CommandHandler::infoMsg verdict = sendLine(CommandHandler::RequestType::setFlashRequest, headerHex);
    if (!self)
        return false;
    if (!lineAccepted(verdict)) {
        UiPrompts::critical(
            this, QString::fromLatin1(CRITICAL_TITLE), failureText(verdict, QStringLiteral("the flash request")));
        return false;
    }
    ui->loadUpgradeFileButton->setToolTip(QString::fromLatin1(PROGRAMMING_TIP));

    FlashExchange progress(image.size());
    for (int i = 0; i < packets.size(); ++i) {
        verdict = sendLine(CommandHandler::RequestType::setFlashPacket, packets.at(i));
        if (!self)
            return false;
        if (!lineAccepted(verdict)) {
            UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE),
                failureText(verdict, QStringLiteral("packet %1 of %2").arg(i + 1).arg(packets.size())));
            return false;
        }
        const int shown = progress.packetSent(packets.at(i).size() / 2);
        if (shown >= 0)
            ui->progressBar->setValue(shown);
    }
    return true;
}

CommandHandler::infoMsg ConfigurationPanel::waitForLine(
    CommandHandler::RequestType type, const std::function<void()> &issue)
{
    QPointer<CommandHandler> engine(commandHandler);
    if (!engine)
        return CommandHandler::CommandTimeout;
    bool done = false;
    CommandHandler::infoMsg verdict = CommandHandler::CommandTimeout;
    QEventLoop loop;
    // The line runs at once on an idle engine; behind a reading still outstanding it is queued, and its
    // verdict arrives later through the same signal.
    const auto record = [&](CommandHandler::infoMsg &msg, CommandHandler::RequestType &finishedType) {
        if (finishedType != type || done)
            return;
        done = true;
        verdict = msg;
        loop.quit();
    };
    const QMetaObject::Connection finished[] = {
        connect(engine, &CommandHandler::setIntFinished, &loop, record),
        connect(engine, &CommandHandler::setStringFinished, &loop, record),
        connect(engine, &CommandHandler::setBoolFinished, &loop, record),
    };
    issue();
    if (!done && engine && linkOpen()) {
        // Every queued line ends within the engine's time-out; the guard only covers a vanished engine.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(engine, &QObject::destroyed, &loop, &QEventLoop::quit);
        // An ended session drops the queued line: its verdict will never come.
        connect(modulatorConnection, &Connection::disconnected, &loop, &QEventLoop::quit);
        guard.start(engine->timeoutInterval() * (engine->pendingRequests() + 2));
        loop.exec();
    }
    for (const QMetaObject::Connection &link : finished)
        disconnect(link);
    return done ? verdict : CommandHandler::CommandTimeout;
}

void ConfigurationPanel::on_loginToolBox_currentChanged(int index)
{
    if (index != FACTORY_PAGE)
        return;
    ui->dial_2->setFocus();
    // Without a session there is nobody to ask; a reading on a closed link would only time out.
    if (!commandHandler || !linkOpen())
        return;
    disconnect(tuningLink);
    tuningLink = connect(commandHandler, &CommandHandler::tuningValuesReady, this, &ConfigurationPanel::setTuningState);
    commandHandler->askModulator(CommandHandler::RequestType::getTuningValues);
}

void ConfigurationPanel::setTuningState(CommandHandler::infoMsg &info, QString &values)
{
    // One reply per visit of the page.
    disconnect(tuningLink);
    // A failed reading carries no values: taking its empty text as zeros would change the dials.
    if (info != CommandHandler::CommandOk)
        return;
    // The reading is "\n<I> <Q>\n <gain> <phase> \n": dropping its two leading line feeds leaves the
    // values separated by single spaces (the fifth part is the closing line feed).
    QString text = values;
    text.remove(10, 1);
    text.remove(0, 1);
    const QStringList parts = text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    QDial *const dials[TUNING_ENTRIES] = { ui->dial_2, ui->dial, ui->dial_3, ui->dial_5 };
    QStringList refused;
    for (int i = 0; i < TUNING_ENTRIES && i < parts.size(); ++i) {
        // A missing value keeps the dial as it is; so does a garbled or out-of-range one, which the
        // operator is told about.
        if (parts.at(i).trimmed().isEmpty())
            continue;
        int value = 0;
        if (!ParameterRules::integerInRange(parts.at(i), dials[i]->minimum(), dials[i]->maximum(), &value)) {
            refused << quotedValue(dials[i]->toolTip(), parts.at(i));
            continue;
        }
        tuningValues[i] = value;
        // Showing the device's own value is nothing to write back: these are factory calibration values,
        // and only an operator's turn of a dial may change them.
        const QSignalBlocker quiet(dials[i]);
        dials[i]->setValue(value);
    }
    reportInvalidValues(QStringLiteral("Values read from the modulator"), refused);
}

void ConfigurationPanel::on_dial_2_valueChanged(int value)
{
    tuningValues[0] = value;
    sendTuningValues();
}

void ConfigurationPanel::on_dial_valueChanged(int value)
{
    tuningValues[1] = value;
    sendTuningValues();
}

void ConfigurationPanel::on_dial_3_valueChanged(int value)
{
    tuningValues[2] = value;
    sendTuningValues();
}

void ConfigurationPanel::on_dial_5_valueChanged(int value)
{
    tuningValues[3] = value;
    sendTuningValues();
}

void ConfigurationPanel::sendTuningValues()
{
    if (!commandHandler)
        return;
    QStringList text;
    for (int i = 0; i < TUNING_ENTRIES; ++i)
        text.append(QString::number(tuningValues.at(i)));
    commandHandler->queueString(CommandHandler::RequestType::setTuningValues, text.join(QLatin1Char(' ')));
}
