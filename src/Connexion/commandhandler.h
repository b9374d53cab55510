#pragma once
// The command engine of one modulator: turns requests into console lines on the Connection, keeps exactly
// one line outstanding through a first-in first-out queue, recognises the device's answers and reports
// each outcome as an infoMsg code. Waiting runs a nested local event loop, so other slots keep running and
// requests they make only join the queue. GUI thread only.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class Connection;
class QTimer;

class CommandHandler : public QObject
{
    Q_OBJECT
public:
    // The value is the index of the command throughout the program (panel, configuration files). Scoped
    // because the readings share their names with the blocking operations: RequestType::getID vs getID().
    enum class RequestType {
        setInputMux = 0,
        setRefClockMux = 1,
        setMipControl = 2,
        setBandwidth = 3,
        setGuardInterval = 4,
        setOutputFrequency = 5,
        setOutputState = 6,
        setConstellation = 7,
        setCodeRate = 8,
        setTransmissionMode = 9,
        setAttenuation = 10,
        setIPAddressingMethod = 11,
        setIPMulticastAddress = 12,
        setIPUnicastAddress = 13,
        setIPPort = 14,
        setFlashRequest = 15,
        setFlashPacket = 16,
        setTuningValues = 17,
        setSoftReset = 18,
        getCoreParameters = 19,
        getIPParameters = 20,
        getID = 21,
        getStatus = 22,
        getTuningValues = 23,
        ProcessQueue = 24
    };
    Q_ENUM(RequestType)

    enum infoMsg {
        CommandOk = 0,
        CommandRefused = 1,
        ModulatorLaunched = 2,
        UnsupportedCommand = 3,
        UnsupportedValue = 4,
        CommandTimeout = 5,
        BankErased = 6,
        FlashWritten = 7,
        DownloadComplete = 8
    };
    Q_ENUM(infoMsg)

    enum inputStatus {
        NoStatus = 0,
        NoData = 1,
        NotLocked = 2,
        Locked188 = 3,
        Locked204 = 4,
        LockedExternal = 5,
        LockedInternal = 6
    };
    Q_ENUM(inputStatus)

    enum EngineState { Idle = 0, WaitGetReply = 1, WaitSetReply = 2, Busy = 4 };
    Q_ENUM(EngineState)

    // How a request carries its value, which decides the blocking operation that runs it.
    enum class RequestKind { Integer, Boolean, Text, Reading, Internal, Unsupported };

    struct PendingRequest {
        RequestType type = RequestType::ProcessQueue;
        QString text;
        int number = 0;
        bool flag = false;
        // Which value the caller gave (Reading: none, from askModulator). A setting runs only with the value
        // of its own kind, so that an unset field never goes out as a default index or flag.
        RequestKind valueKind = RequestKind::Reading;
    };

    static constexpr int COMMAND_TIMEOUT_MS = 5000;

    CommandHandler(Connection *connection, QObject *parent);
    ~CommandHandler() override;

    // One line on the link; false (nothing sent) while another line is outstanding or for an unknown command.
    bool sendCommandToModulator(const QString &command, const QString &value);

    // Blocking operations: each waits for the device's verdict (or the time-out) in a local event loop.
    // Called directly they must only be used while the engine is Idle; otherwise they return at once
    // with false / empty text and send nothing.
    bool setStringValue(RequestType type, const QString &value);
    bool setIntValue(RequestType type, int value);
    bool setBoolValue(RequestType type, bool value);
    QString getCoreParameters();
    QString getIPParameters();
    QString getID();
    QString getTuningValues();
    // [IP, ASI, PLL]; three NoStatus entries when the reading failed.
    QList<CommandHandler::inputStatus> getStatus();

    // Queueing: the request runs at once when the engine is idle (and the call returns after its verdict),
    // otherwise it waits its turn.
    void askModulator(CommandHandler::RequestType type);
    void queueString(CommandHandler::RequestType type, const QString &value);
    void queueInt(CommandHandler::RequestType type, int value);
    void queueBool(CommandHandler::RequestType type, bool value);

    // The end of a session: queued requests are dropped and an outstanding line stops waiting (with
    // CommandTimeout), so nothing of an ended session is sent into the next one.
    void abandonRequests();

    // Parses lastReply as a getStatus answer into the status fields.
    void parseStatus();

    // Command vocabulary.
    static QString commandName(RequestType type); // empty when the type is not a device command
    static RequestKind requestKind(RequestType type);
    static bool isSettingCommand(const QString &command); // in the send table
    static bool isReadingCommand(const QString &command);
    static QString deviceWord(RequestType type, int index); // empty when there is no word
    static QString deviceWord(RequestType type, bool flag); // empty when the type is not boolean

    // Time-out of one line; tests shorten it, the program keeps COMMAND_TIMEOUT_MS.
    void setTimeoutInterval(int ms);
    int timeoutInterval() const;

    EngineState engineState() const { return state; }
    int pendingRequests() const { return queue.size(); }
    infoMsg lastInfoCode() const { return lastInfo; }
    QString lastReplyText() const { return lastReply; }
    inputStatus ipStatusCode() const { return ipStatus; }
    inputStatus asiStatusCode() const { return asiStatus; }
    inputStatus pllStatusCode() const { return pllStatus; }
    QString rawBitrateText() const { return rawBitrate; }
    QString netBitrateText() const { return netBitrate; }
    QString globalStatusText() const { return globalStatus; }

signals:
    void info(CommandHandler::infoMsg msg);
    void setIntFinished(CommandHandler::infoMsg &msg, CommandHandler::RequestType &req);
    void setBoolFinished(CommandHandler::infoMsg &msg, CommandHandler::RequestType &req);
    void setStringFinished(CommandHandler::infoMsg &msg, CommandHandler::RequestType &req);
    void allParamReady(CommandHandler::infoMsg &msg, QString &val);
    void IPParamReady(CommandHandler::infoMsg &msg, QString &val);
    void IDReady(CommandHandler::infoMsg &msg, QString &val);
    void inputStatusReady(CommandHandler::infoMsg &msg, QList<CommandHandler::inputStatus> input, QString rawbitrate,
        QString netbitrate, QString globalStatus);
    void tuningValuesReady(CommandHandler::infoMsg &msg, QString &val);

public slots:
    void emissionCheck(const QString &msg);
    void commandTimeout();

private:
    struct Wait;

    void enqueue(const PendingRequest &request);
    void runQueue();
    bool execute(const PendingRequest &request);
    bool waitForVerdict(Wait &wait);
    bool sendAndWait(const QString &command, const QString &value, Wait &wait);
    QString reading(RequestType type, bool *alive);
    void parseStatusText(const QString &answer);
    void finishWait(const QList<infoMsg> &codes);
    bool emitInfo(infoMsg code);
    void scheduleQueue();

    QPointer<Connection> connection;
    EngineState state = Idle;
    QTimer *commandTimer = nullptr;
    QList<PendingRequest> queue;
    bool runningQueue = false;
    Wait *currentWait = nullptr;
    QString lastReply;
    infoMsg lastInfo = CommandOk;
    // Verdict of the last blocking operation, taken when its wait ended (a slot may emit more meanwhile).
    infoMsg lastVerdict = CommandOk;
    inputStatus ipStatus = NoStatus;
    inputStatus asiStatus = NoStatus;
    inputStatus pllStatus = NoStatus;
    QString rawBitrate;
    QString netBitrate;
    QString globalStatus;
};
