#pragma once
// The "Configuration" page: one modulator's parameters, identity and status, and its session over the
// device link (connect, log in, poll, apply), plus saving and loading parameter files. The panel owns
// its Connection; its CommandHandler is created on request by the main window. GUI thread only.

#include "commandhandler.h"
#include "connection.h"
#include "firmwarefile.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class ConfigurationPanel;
}

class ConfigXML;
class Mux;
class QLabel;
class QTimer;

class ConfigurationPanel : public QWidget
{
    Q_OBJECT
public:
    enum connectionStatus_T { NotConnected = 0, ConnectionInProgress = 1, Connected = 2 };
    Q_ENUM(connectionStatus_T)

    static constexpr int FIRST_POLL_DELAY_MS = 100;
    static constexpr int POLL_INTERVAL_MS = 1000;
    static constexpr quint16 TELNET_PORT = 23;
    // The serial number until the device has given its own.
    static constexpr const char *UNKNOWN_SERIAL = "not found";

    explicit ConfigurationPanel(QWidget *parent = nullptr);
    ~ConfigurationPanel() override;

    Connection *connection() const { return modulatorConnection; }
    void createCommandHandler(Connection *link);
    CommandHandler *commandEngine() const { return commandHandler; }

    // The thirteen values of a save: the seven selector texts, multicast address, port, frequency,
    // attenuation, addressing method and output state.
    QStringList collectConfig() const;

    void setLoginPassword(const QString &loginName, const QString &loginPassword);
    void setCOMPort(const QString &portName);
    // The telnet route; the port is the device console's 23 unless a command line names another.
    void setIPAddress(const QString &address, quint16 consolePort = TELNET_PORT);
    void setIPConfig(const QString &address, const QString &ipPort, bool isUnicast);
    void setIPConfigFromDevice(const QString &method, const QString &unicastAddr, const QString &multicastAddr,
        const QString &ipPort);
    // Frequency display: ignores a frequency outside the band; the channel text is a combo item, a bare
    // number or a "Between Channel" text.
    void setFrequency(const QString &frequencyText, const QString &channelText);
    void setOutputStateFromText(const QString &text);
    void setRefClockFromText(const QString &text);
    void setMipControlFromText(const QString &text);
    void setAddressingMethodFromText(const QString &text);

    QString frequencyText() const { return frequency; }
    QString attenuationText() const { return attenuation; }
    bool isOutputOn() const { return outputState; }
    bool isMipControlled() const { return mipControl; }
    bool isUnicast() const { return unicast; }
    QString multicastAddressText() const { return multicastAddress; }
    QString unicastAddressText() const { return unicastAddress; }
    QString portText() const { return port; }
    QString serialNumberText() const { return serialNumber; }
    QString comPortName() const { return comPort; }
    QString ipAddressText() const { return ipAddress; }
    quint16 telnetPortNumber() const { return telnetPort; }
    int connectionKind() const { return connectionType; }
    QString loginName() const { return login; }
    QString passwordText() const { return password; }
    // The firmware image last accepted by the file check (empty path until one is).
    const FirmwareFile &firmwareFile() const { return firmware; }
    QList<int> tuningEntries() const { return tuningValues; }
    // Input type, reference clock, code rate, guard interval, constellation, bandwidth, transmission mode.
    const QList<Mux *> &selectors() const { return muxList; }
    bool isPolling() const { return !statusTimer.isNull(); }
    // The latest status the poll read successfully (none before the first), with its age.
    struct statusReading {
        bool valid = false;
        QString rawBitrate; // Mbit/s, as the device wrote it
        CommandHandler::inputStatus ipInput = CommandHandler::NoStatus;
        QElapsedTimer age;
    };
    const statusReading &lastStatus() const { return latestStatus; }

    // Ports to offer beside the enumerated ones: a port named on the command line (pseudo-terminals and
    // some adapters are never enumerated).
    QStringList extraSerialPorts() const { return presetPorts; }
    void addPresetSerialPort(const QString &portName);
    // The network route for operators: "Setup IP connectivity" (discovery, recent addresses) and
    // "IP input" become usable. Off by default, where both stay disabled.
    void enableNetworkRoute();

    // Antenna bar level 0..4 for an attenuation in dB.
    static int attenuationBarLevel(int attenuationDb);

signals:
    void switchOK();
    void changeLoginButtonToolTip(ConfigurationPanel::connectionStatus_T connection);
    void timeoutSignal();
    void info(CommandHandler::infoMsg msg);

public slots:
    void configIP();
    void configLoginIP();
    void configSerialIP();
    void configFreq();
    void on_currentConfigButton_clicked();
    void askInputState();
    void setInputState(CommandHandler::infoMsg &info, QList<CommandHandler::inputStatus> input, QString rawbitrate,
        QString netbitrate, QString globalStatus);
    void updateLoginButtonToolTip(ConfigurationPanel::connectionStatus_T connection);
    void updateConfigFromModulator(CommandHandler::infoMsg &info, QString &getParam);
    void updateIPConfigFromModulator(CommandHandler::infoMsg &info, QString &getParam);
    void setConfigFromXML();
    void saveConfigToXML();
    void setAttenuationLevel(int value);
    void setAttenuationLevelFromWheel(int delta);
    void on_outputSliderButton_clicked();
    void on_applyConfigButton_clicked();
    void on_autoInputCheckBox_clicked();
    void on_autoClockCheckBox_clicked();
    void displayIPConfig();
    void errorFromConnection(Connection::ConnectionError error);
    void connectionEstablished();
    void on_loginButton_clicked();
    void loginProcedure(Connection::LogRequest request);
    void commandInfo(CommandHandler::infoMsg msg);
    void on_mipCheckBox_clicked();
    void resetUiStatus();
    // Firmware upgrade ("Admin" page) and factory tuning ("Factory" page).
    void on_upgradeButton_clicked();
    void on_loadUpgradeFileButton_clicked();
    void updateUpgradeProcess(CommandHandler::infoMsg info);
    void on_loginToolBox_currentChanged(int index);
    void setTuningState(CommandHandler::infoMsg &info, QString &values);
    void on_dial_2_valueChanged(int value);
    void on_dial_valueChanged(int value);
    void on_dial_3_valueChanged(int value);
    void on_dial_5_valueChanged(int value);

private:
    void createSelectors();
    void setIndicator(QLabel *indicator, int statusCode);
    void setAntennaImage(bool green, int attenuationDb);
    void applyAutoCheckBox(bool ticked, Mux *selector);
    void readProductIdentity();
    void layoutIdentityRows();
    void showFitted(QLabel *label, const QString &text);
    bool linkOpen() const;
    void startPoll();
    void stopPoll();
    void dropLinkConnections();
    // Ends the session once: everything that could report on it again (watchdog, link and engine
    // connections, the poll, queued requests) goes before the report is shown, since an operator may leave
    // a box open for longer than any time-out; then the link closes and the page is idle.
    void endSession(const std::function<void()> &report);
    void closeLink(bool sendExit);
    void linkLost();
    // A device that opens the link but never completes the login would leave the page "in progress",
    // every connection button disabled, for good: each login step must come within the command time-out.
    void armLoginWatchdog();
    void loginStalled();
    // The value of the reading's first line for the key; false when the reading has no such line.
    static bool replyValue(const QStringList &lines, const QString &key, QString *value);
    // "name : value" for a box, a long value cut short.
    static QString quotedValue(const QString &name, const QString &value);
    // One box naming the values of a reading or a file that were not taken; nothing when none.
    void reportInvalidValues(const QString &source, const QStringList &refused);
    // Issues one setting and waits for its own verdict, also when it had to queue behind a reading.
    CommandHandler::infoMsg waitForLine(CommandHandler::RequestType type, const std::function<void()> &issue);
    bool downloadImage(const QByteArray &image);
    void sendTuningValues();

    Ui::ConfigurationPanel *ui;

    Mux *inputMux = nullptr;
    Mux *clockMux = nullptr;
    Mux *codeRateMux = nullptr;
    Mux *guardMux = nullptr;
    Mux *constellationMux = nullptr;
    Mux *bandwidthMux = nullptr;
    Mux *ofdmMux = nullptr;
    QList<Mux *> muxList;

    QString frequency = QStringLiteral("666.000");
    QString attenuation = QStringLiteral("0");
    bool outputState = false;
    bool mipControl = false;
    bool unicast = false;
    QString multicastAddress;
    QString unicastAddress;
    QString port;

    QString serialNumber = QString::fromLatin1(UNKNOWN_SERIAL);
    QString login = QStringLiteral("admin");
    QString password = QStringLiteral("korva");
    QString comPort;
    QString ipAddress;
    int connectionType = 1;
    quint16 telnetPort = TELNET_PORT;
    bool networkRoute = false;
    bool firstPoll = true;
    QPointer<QTimer> statusTimer;
    QTimer *loginWatchdog = nullptr;
    Connection *modulatorConnection = nullptr;
    CommandHandler *commandHandler = nullptr;
    QList<int> tuningValues;
    std::unique_ptr<ConfigXML> configFile;
    QStringList presetPorts;
    statusReading latestStatus;

    QMetaObject::Connection connectedLink;
    QMetaObject::Connection errorLink;
    QMetaObject::Connection logLink;
    QMetaObject::Connection infoLink;
    QMetaObject::Connection lostLink;
    QList<QMetaObject::Connection> pollLinks;
    FirmwareFile firmware;
    QMetaObject::Connection upgradeLink;
    QMetaObject::Connection tuningLink;
};
