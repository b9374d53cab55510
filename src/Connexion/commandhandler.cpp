#include "commandhandler.h"

#include "commandlog.h"
#include "connection.h"

#include <QEventLoop>
#include <QTime>
#include <QTimer>

namespace {

struct CommandEntry {
    const char *name;
    CommandHandler::RequestKind kind;
    QStringList words; // device words by value index (integer kind only)
};

using Kind = CommandHandler::RequestKind;

// Indexed by RequestType; the console expects the names exactly as written here.
const QVector<CommandEntry> &commandTable()
{
    static const QVector<CommandEntry> table {
        { "setInputMux", Kind::Integer, { "IP", "ASI", "AUTO" } },
        { "setRefClockMux", Kind::Integer, { "internal", "external", "AUTO" } },
        { "setMipControl", Kind::Boolean, {} },
        { "setBandwidth", Kind::Integer, { "8", "7", "6" } },
        { "setGuardInterval", Kind::Integer, { "1/32", "1/16", "1/8", "1/4" } },
        { "setOutputFrequency", Kind::Text, {} },
        { "setOutputState", Kind::Boolean, {} },
        { "setConstellation", Kind::Integer, { "QPSK", "16QAM", "64QAM" } },
        { "setCodeRate", Kind::Integer, { "1/2", "2/3", "3/4", "5/6", "7/8" } },
        { "setTransmissionMode", Kind::Integer, { "2K", "8K" } },
        { "setAttenuation", Kind::Text, {} },
        { "setIPAddressingMethod", Kind::Boolean, {} },
        { "setIPMulticastAddress", Kind::Text, {} },
        // Named in the vocabulary but the console has no such command: never sent.
        { "setIPUnicastAddress", Kind::Unsupported, {} },
        { "setIPPort", Kind::Text, {} },
        { "setFlashRequest", Kind::Text, {} },
        { "setFlashPacket", Kind::Text, {} },
        { "setTuningValues", Kind::Text, {} },
        { "setSoftReset", Kind::Boolean, {} },
        { "getCoreParameters", Kind::Reading, {} },
        { "getIPParameters", Kind::Reading, {} },
        { "getID", Kind::Reading, {} },
        { "getStatus", Kind::Reading, {} },
        { "getTuningValues", Kind::Reading, {} },
    };
    return table;
}

const CommandEntry *entryOf(int type)
{
    const auto &table = commandTable();
    return (type >= 0 && type < table.size()) ? &table[type] : nullptr;
}

const CommandEntry *entryByName(const QString &command)
{
    for (const CommandEntry &entry : commandTable()) {
        if (command == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

// Line end of the console's command lines: LF then CR.
const QString LINE_END = QStringLiteral("\n\r");

} // namespace

// One wait for a verdict, living on the stack of the blocking operation that waits.
struct CommandHandler::Wait {
    QEventLoop loop;
    Wait *previous = nullptr;
    bool finished = false;
    infoMsg verdict = CommandTimeout;
    QString reply;
};

CommandHandler::CommandHandler(Connection *link, QObject *parent)
    : QObject(parent)
    , connection(link)
    , commandTimer(new QTimer(this))
{
    commandTimer->setSingleShot(true);
    commandTimer->setInterval(COMMAND_TIMEOUT_MS);
    connect(commandTimer, &QTimer::timeout, this, &CommandHandler::commandTimeout);
    if (link)
        connect(link, &Connection::message, this, &CommandHandler::emissionCheck);
}

CommandHandler::~CommandHandler()
{
    // Waiting operations further down the stack must unwind; they see the engine gone and touch nothing.
    for (Wait *wait = currentWait; wait; wait = wait->previous)
        wait->loop.quit();
}

QString CommandHandler::commandName(RequestType type)
{
    const CommandEntry *entry = entryOf(static_cast<int>(type));
    return entry ? QString::fromLatin1(entry->name) : QString();
}

CommandHandler::RequestKind CommandHandler::requestKind(RequestType type)
{
    if (type == RequestType::ProcessQueue)
        return RequestKind::Internal;
    const CommandEntry *entry = entryOf(static_cast<int>(type));
    return entry ? entry->kind : RequestKind::Unsupported;
}

bool CommandHandler::isSettingCommand(const QString &command)
{
    const CommandEntry *entry = entryByName(command);
    return entry
        && (entry->kind == RequestKind::Integer || entry->kind == RequestKind::Boolean || entry->kind == RequestKind::Text);
}

bool CommandHandler::isReadingCommand(const QString &command)
{
    const CommandEntry *entry = entryByName(command);
    return entry && entry->kind == RequestKind::Reading;
}

QString CommandHandler::deviceWord(RequestType type, int index)
{
    const CommandEntry *entry = entryOf(static_cast<int>(type));
    if (!entry || entry->kind != RequestKind::Integer || index < 0 || index >= entry->words.size())
        return QString();
    return entry->words.at(index);
}

QString CommandHandler::deviceWord(RequestType type, bool flag)
{
    if (requestKind(type) != RequestKind::Boolean)
        return QString();
    if (type == RequestType::setIPAddressingMethod)
        return flag ? QStringLiteral("unicast") : QStringLiteral("multicast");
    return flag ? QStringLiteral("ON") : QStringLiteral("OFF");
}

void CommandHandler::setTimeoutInterval(int ms)
{
    commandTimer->setInterval(ms);
}

int CommandHandler::timeoutInterval() const
{
    return commandTimer->interval();
}

bool CommandHandler::sendCommandToModulator(const QString &command, const QString &value)
{
    if (state != Idle && state != Busy)
        return false;
    QString line;
    if (isSettingCommand(command)) {
        // A line break inside the value would put a second command on the wire behind the engine's back.
        if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')) || value.contains(QChar(0))) {
            qCWarning(lcCommand) << "Value with a line break refused for" << command;
            emitInfo(UnsupportedValue);
            return false;
        }
        state = WaitSetReply;
        line = command + QLatin1Char(' ') + value + LINE_END;
    } else if (isReadingCommand(command)) {
        state = WaitGetReply;
        line = command + LINE_END;
    } else if (command.contains(QLatin1String("./modulator"))) {
        emitInfo(ModulatorLaunched);
        return true;
    } else {
        emitInfo(UnsupportedCommand);
        return false;
    }
    commandTimer->start();
    qCDebug(lcCommand) << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) << "sent" << command;
    // A vanished link is not an error here: the time-out reports the silent device.
    if (connection)
        connection->sendData(line);
    return true;
}

bool CommandHandler::emitInfo(infoMsg code)
{
    QPointer<CommandHandler> guard(this);
    lastInfo = code;
    emit info(code);
    return !guard.isNull();
}

void CommandHandler::finishWait(const QList<infoMsg> &codes)
{
    commandTimer->stop();
    // Idle before anything is emitted: a slot that opens a dialog lets more messages in, and those must
    // not produce a second verdict for the same line.
    state = Idle;
    if (currentWait && !currentWait->finished) {
        currentWait->finished = true;
        currentWait->verdict = codes.last();
        currentWait->reply = codes.last() == CommandTimeout ? QString() : lastReply;
        currentWait->loop.quit();
    }
    if (!runningQueue && !queue.isEmpty())
        scheduleQueue();
    for (infoMsg code : codes) {
        if (!emitInfo(code))
            return;
    }
}

void CommandHandler::scheduleQueue()
{
    // Deferred so that a direct blocking call returns its own result before queued requests run.
    QTimer::singleShot(0, this, [this] { askModulator(RequestType::ProcessQueue); });
}

void CommandHandler::commandTimeout()
{
    if (state != WaitGetReply && state != WaitSetReply)
        return;
    qCDebug(lcCommand) << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) << "Command Timeout!!!";
    finishWait({ CommandTimeout });
}

void CommandHandler::emissionCheck(const QString &msg)
{
    lastReply = msg;
    switch (state) {
    case WaitGetReply:
        // Only a message holding the whole answer (at least two lines) completes a reading.
        if (msg.count(QLatin1Char('\n')) >= 2)
            finishWait({ CommandOk });
        break;
    case WaitSetReply:
        if (msg.contains(QLatin1String("OK")))
            finishWait({ CommandOk });
        else if (msg.contains(QLatin1String("KO")))
            finishWait({ CommandRefused });
        else if (msg.contains(QLatin1String("bank"), Qt::CaseInsensitive))
            finishWait({ CommandOk, BankErased });
        else if (msg.contains(QLatin1String("Download complete")))
            finishWait({ CommandOk, DownloadComplete });
        else if (msg.contains(QLatin1String("written with success")))
            finishWait({ CommandOk, FlashWritten });
        break;
    case Idle:
        // Flash progress the device reports on its own.
        if (msg.contains(QLatin1String("Bank erased")))
            emitInfo(BankErased);
        else if (msg.contains(QLatin1String("Download complete")))
            emitInfo(DownloadComplete);
        else if (msg.contains(QLatin1String("written with success")))
            emitInfo(FlashWritten);
        break;
    case Busy:
        break;
    }
}

bool CommandHandler::waitForVerdict(Wait &wait)
{
    QPointer<CommandHandler> guard(this);
    wait.previous = currentWait;
    currentWait = &wait;
    if (!wait.finished)
        wait.loop.exec();
    if (guard.isNull())
        return false;
    currentWait = wait.previous;
    return true;
}

bool CommandHandler::sendAndWait(const QString &command, const QString &value, Wait &wait)
{
    QPointer<CommandHandler> guard(this);
    const bool sent = sendCommandToModulator(command, value);
    if (guard.isNull())
        return false;
    if (!sent) {
        wait.finished = true;
        wait.verdict = lastInfo;
        return true;
    }
    return waitForVerdict(wait);
}

bool CommandHandler::setStringValue(RequestType type, const QString &value)
{
    if (state != Idle && state != Busy)
        return false;
    Wait wait;
    if (!sendAndWait(commandName(type), value, wait))
        return false;
    lastVerdict = wait.verdict;
    return wait.verdict != UnsupportedCommand && wait.verdict != UnsupportedValue;
}

bool CommandHandler::setIntValue(RequestType type, int value)
{
    if (state != Idle && state != Busy)
        return false;
    const QString word = deviceWord(type, value);
    if (word.isEmpty()) {
        lastVerdict = UnsupportedValue;
        emitInfo(UnsupportedValue);
        return false;
    }
    return setStringValue(type, word);
}

bool CommandHandler::setBoolValue(RequestType type, bool value)
{
    if (state != Idle && state != Busy)
        return false;
    const QString word = deviceWord(type, value);
    if (word.isEmpty()) {
        lastVerdict = UnsupportedValue;
        emitInfo(UnsupportedValue);
        return false;
    }
    return setStringValue(type, word);
}

QString CommandHandler::reading(RequestType type, bool *alive)
{
    *alive = true;
    if (state != Idle && state != Busy)
        return QString();
    Wait wait;
    if (!sendAndWait(commandName(type), QString(), wait)) {
        *alive = false;
        return QString();
    }
    lastVerdict = wait.verdict;
    if (wait.verdict != CommandOk)
        return QString();
    QString text = wait.reply;
    text.remove(QLatin1Char('\r'));
    return text;
}

QString CommandHandler::getCoreParameters()
{
    bool alive = true;
    return reading(RequestType::getCoreParameters, &alive);
}

QString CommandHandler::getIPParameters()
{
    bool alive = true;
    return reading(RequestType::getIPParameters, &alive);
}

QString CommandHandler::getID()
{
    bool alive = true;
    return reading(RequestType::getID, &alive);
}

QString CommandHandler::getTuningValues()
{
    bool alive = true;
    return reading(RequestType::getTuningValues, &alive);
}

QList<CommandHandler::inputStatus> CommandHandler::getStatus()
{
    bool alive = true;
    const QString answer = reading(RequestType::getStatus, &alive);
    if (!alive || lastVerdict != CommandOk || answer.isEmpty())
        return { NoStatus, NoStatus, NoStatus };
    parseStatusText(answer);
    return { ipStatus, asiStatus, pllStatus };
}

void CommandHandler::askModulator(CommandHandler::RequestType type)
{
    PendingRequest request;
    request.type = type;
    enqueue(request);
}

void CommandHandler::queueString(CommandHandler::RequestType type, const QString &value)
{
    PendingRequest request;
    request.type = type;
    request.text = value;
    request.valueKind = RequestKind::Text;
    enqueue(request);
}

void CommandHandler::queueInt(CommandHandler::RequestType type, int value)
{
    PendingRequest request;
    request.type = type;
    request.number = value;
    request.valueKind = RequestKind::Integer;
    enqueue(request);
}

void CommandHandler::queueBool(CommandHandler::RequestType type, bool value)
{
    PendingRequest request;
    request.type = type;
    request.flag = value;
    request.valueKind = RequestKind::Boolean;
    enqueue(request);
}

void CommandHandler::abandonRequests()
{
    if (!queue.isEmpty())
        qCDebug(lcCommand) << "Session ended," << queue.size() << "queued requests dropped";
    queue.clear();
    if (state == WaitGetReply || state == WaitSetReply)
        finishWait({ CommandTimeout });
}

void CommandHandler::enqueue(const PendingRequest &request)
{
    if (request.type != RequestType::ProcessQueue)
        queue.append(request);
    qCDebug(lcCommand) << "Requêtes en attente : " << queue.size();
    runQueue();
}

void CommandHandler::runQueue()
{
    // One runner at a time: requests made while it runs (from a nested wait or from a slot of a finished
    // signal) only join the queue, which keeps the arrival order and one line outstanding.
    if (state != Idle || runningQueue)
        return;
    QPointer<CommandHandler> guard(this);
    runningQueue = true;
    while (!queue.isEmpty() && state == Idle) {
        state = Busy;
        qCDebug(lcCommand) << "Requête acceptée!";
        const PendingRequest request = queue.takeFirst();
        if (!execute(request))
            return; // the engine was destroyed during the request
        if (state == Busy)
            state = Idle;
    }
    runningQueue = false;
}

bool CommandHandler::execute(const PendingRequest &request)
{
    QPointer<CommandHandler> guard(this);
    RequestType type = request.type;
    const RequestKind kind = requestKind(type);
    bool alive = true;

    if (kind == RequestKind::Unsupported || kind == RequestKind::Internal) {
        qCDebug(lcCommand) << "Requete incorrecte!" << int(type);
        state = Idle;
        return emitInfo(UnsupportedCommand);
    }
    if (kind == RequestKind::Reading) {
        QString text = reading(type, &alive);
        if (!alive || guard.isNull())
            return false;
        infoMsg msg = lastVerdict;
        switch (type) {
        case RequestType::getCoreParameters:
            emit allParamReady(msg, text);
            break;
        case RequestType::getIPParameters:
            emit IPParamReady(msg, text);
            break;
        case RequestType::getID:
            emit IDReady(msg, text);
            break;
        case RequestType::getTuningValues:
            emit tuningValuesReady(msg, text);
            break;
        default: {
            QList<inputStatus> input { NoStatus, NoStatus, NoStatus };
            if (msg == CommandOk && !text.isEmpty()) {
                parseStatusText(text);
                input = { ipStatus, asiStatus, pllStatus };
            }
            emit inputStatusReady(msg, input, rawBitrate, netBitrate, globalStatus);
            break;
        }
        }
        return !guard.isNull();
    }

    if (request.valueKind != kind) {
        // A setting queued without its value, or with a value of another kind: sending the unset field
        // would change the transmitter to a setting nobody asked for.
        qCWarning(lcCommand) << "No value of the right kind for" << commandName(type);
        lastVerdict = UnsupportedValue;
        if (!emitInfo(UnsupportedValue))
            return false;
    } else if (kind == RequestKind::Integer) {
        setIntValue(type, request.number);
    } else if (kind == RequestKind::Boolean) {
        setBoolValue(type, request.flag);
    } else {
        setStringValue(type, request.text);
    }
    if (guard.isNull())
        return false;
    infoMsg msg = lastVerdict;
    if (kind == RequestKind::Integer)
        emit setIntFinished(msg, type);
    else if (kind == RequestKind::Boolean)
        emit setBoolFinished(msg, type);
    else
        emit setStringFinished(msg, type);
    return !guard.isNull();
}

void CommandHandler::parseStatus()
{
    parseStatusText(lastReply);
}

void CommandHandler::parseStatusText(const QString &answer)
{
    QString text = answer;
    text.remove(QLatin1Char('\r'));
    const QStringList lines = text.split(QLatin1Char('\n'));

    for (const QString &line : lines) {
        inputStatus code = NoStatus;
        if (line.contains(QLatin1String("No data")))
            code = NoData;
        else if (line.contains(QLatin1String("Not locked")))
            code = NotLocked;
        else if (line.contains(QLatin1String("Locked on 188 bytes packets")))
            code = Locked188;
        else if (line.contains(QLatin1String("Locked on 204 bytes packets")))
            code = Locked204;
        if (line.contains(QLatin1String("IP input status")))
            ipStatus = code;
        else if (line.contains(QLatin1String("ASI input status")))
            asiStatus = code;
    }

    const auto firstLineStartingWith = [&lines](const QString &label, QString *rest) {
        for (const QString &line : lines) {
            if (line.startsWith(label)) {
                *rest = line;
                return true;
            }
        }
        return false;
    };

    const QString rawLabel = QStringLiteral("Input raw bitrate : ");
    const QString netLabel = QStringLiteral("Input net bitrate : ");
    const QString unit = QStringLiteral("Mbps");
    QString line;
    if (firstLineStartingWith(rawLabel, &line))
        rawBitrate = line.remove(rawLabel).remove(unit);
    if (firstLineStartingWith(netLabel, &line))
        netBitrate = line.remove(netLabel).remove(unit);

    const QString pllLabel = QStringLiteral("PLL status : ");
    if (firstLineStartingWith(pllLabel, &line)) {
        line.remove(pllLabel);
        if (line.contains(QLatin1String("Not locked")))
            pllStatus = NotLocked;
        else if (line.contains(QLatin1String("Locked on external")))
            pllStatus = LockedExternal;
        else if (line.contains(QLatin1String("Locked on internal")))
            pllStatus = LockedInternal;
        else
            pllStatus = NoStatus;
    }

    const QString outputLabel = QStringLiteral("Output status : ");
    if (firstLineStartingWith(outputLabel, &line)) {
        line.remove(outputLabel);
        if (!line.contains(QLatin1String("ON")) && !line.contains(QLatin1String("OFF")))
            globalStatus = line;
    }
}
