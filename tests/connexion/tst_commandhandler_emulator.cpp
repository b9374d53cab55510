// The command engine against nerio-emulator over a pseudo-terminal (--serial) and loopback telnet
// (--telnet 0): readings, the apply order, a firmware download and a muted device. What went over the wire
// is read back from the emulator's own log.

#include "commandhandler.h"
#include "connection.h"
#include "flashexchange.h"
#include "handlerrecorder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using RT = CommandHandler::RequestType;

// Generous for a device that answers at once; the muted-device test shortens it.
constexpr int ANSWER_TIMEOUT_MS = 3000;
constexpr int MUTE_TIMEOUT_MS = 300;

// The emulator process, its link address and its wire log.
class Emulator
{
public:
    explicit Emulator(const QString &logPath)
        : logFile(logPath)
    {
    }
    ~Emulator()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    }

    static QString program() { return qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator"); }

    // Starts it on one link and waits (at most 5 s) for the line announcing the link's address.
    bool start(const QString &link, const QStringList &extra = {})
    {
        QStringList args = link == QLatin1String("serial") ? QStringList { QStringLiteral("--serial") }
                                                           : QStringList { QStringLiteral("--telnet"), QStringLiteral("0") };
        args << QStringLiteral("--log") << logFile << extra;
        process.start(program(), args);
        if (!process.waitForStarted(5000))
            return false;
        const QString key = link + QStringLiteral(": ");
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (!process.canReadLine() && !process.waitForReadyRead(200))
                continue;
            while (process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
                if (line.startsWith(key)) {
                    address = line.mid(key.size());
                    return true;
                }
            }
        }
        return false;
    }

    // Lines the emulator received ("<") or messages it sent (">"), unescaped.
    QList<QByteArray> wire(char direction) const
    {
        QFile file(logFile);
        QList<QByteArray> out;
        if (!file.open(QIODevice::ReadOnly))
            return out;
        const QByteArray marker = QByteArray(" ") + direction + ' ';
        for (const QByteArray &entry : file.readAll().split('\n')) {
            // "<time> <link> <direction> <text>"
            const int afterTime = entry.indexOf(' ');
            const int at = entry.indexOf(marker, afterTime + 1);
            if (afterTime < 0 || at < 0 || entry.indexOf(' ', afterTime + 1) != at)
                continue;
            out << unescaped(entry.mid(at + marker.size()));
        }
        return out;
    }

    QList<QByteArray> commandLines() const
    {
        QList<QByteArray> lines;
        for (const QByteArray &line : wire('<')) {
            if (line.startsWith("get") || line.startsWith("set"))
                lines << line;
        }
        return lines;
    }

    QString address;

private:
    static QByteArray unescaped(const QByteArray &text)
    {
        QByteArray out;
        for (int i = 0; i < text.size(); ++i) {
            if (text[i] != '\\' || i + 1 >= text.size()) {
                out += text[i];
                continue;
            }
            const char c = text[++i];
            if (c == 'r')
                out += '\r';
            else if (c == 'n')
                out += '\n';
            else if (c == '0')
                out += '\0';
            else if (c == 'x' && i + 2 < text.size()) {
                out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else
                out += c;
        }
        return out;
    }

    QString logFile;
    QProcess process;
};

// Logs in as the control panel does (ESC on a serial link, then the login answers).
bool logIn(Connection &connection, const Emulator &emulator, const QString &link)
{
    bool logged = false;
    bool refused = false;
    const QMetaObject::Connection answering = QObject::connect(&connection, &Connection::logProcess, &connection, [&](Connection::LogRequest request) {
        if (request == Connection::LoginRequest) {
            connection.sendData(QStringLiteral("admin\r\n"));
            connection.setLogState(Connection::WaitPassword);
        } else if (request == Connection::PasswordRequest) {
            connection.sendData(QStringLiteral("korva\r\n"));
            connection.setLogState(Connection::WaitResult);
        } else if (request == Connection::Logged) {
            logged = true;
        } else {
            refused = true;
        }
    });
    if (link == QLatin1String("serial")) {
        QObject::connect(&connection, &Connection::connected, &connection,
            [&connection] { connection.sendData(QString(QChar(27))); });
        connection.connectCOMToHost(emulator.address);
    } else {
        connection.connectIPToHost(QStringLiteral("127.0.0.1"), quint16(emulator.address.toUInt()));
    }
    const bool done = QTest::qWaitFor([&] { return logged || refused; }, 5000);
    QObject::disconnect(answering);
    return done && logged;
}

QByteArray withoutFraming(QByteArray message)
{
    message.replace('\r', QByteArray());
    message.replace('\0', QByteArray());
    return message;
}

} // namespace

class tst_CommandHandlerEmulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void links_data();

    void readingsReturnTheDeviceTexts_data() { links_data(); }
    void readingsReturnTheDeviceTexts();
    void applyOrderReachesTheDevice_data() { links_data(); }
    void applyOrderReachesTheDevice();
    void firmwareDownload_data() { links_data(); }
    void firmwareDownload();
    void mutedDeviceTimesOutInQueueOrder_data() { links_data(); }
    void mutedDeviceTimesOutInQueueOrder();

private:
    QTemporaryDir dir;
    int runs = 0;
    QString nextLogPath() { return dir.filePath(QStringLiteral("wire%1.log").arg(++runs)); }
};

void tst_CommandHandlerEmulator::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFile::exists(Emulator::program()), qPrintable(Emulator::program() + QStringLiteral(" not built")));
}

void tst_CommandHandlerEmulator::links_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("serial") << "serial";
    QTest::newRow("telnet") << "telnet";
}

void tst_CommandHandlerEmulator::readingsReturnTheDeviceTexts()
{
    QFETCH(QString, link);
    Emulator emulator(nextLogPath());
    QVERIFY(emulator.start(link));
    Connection connection(nullptr, true);
    CommandHandler handler(&connection, nullptr);
    handler.setTimeoutInterval(ANSWER_TIMEOUT_MS);
    QVERIFY(logIn(connection, emulator, link));

    QStringList texts;
    QList<CommandHandler::inputStatus> status;
    QString raw;
    connect(&handler, &CommandHandler::allParamReady, [&](CommandHandler::infoMsg &m, QString &v) { texts << QString::number(m) + v; });
    connect(&handler, &CommandHandler::IPParamReady, [&](CommandHandler::infoMsg &m, QString &v) { texts << QString::number(m) + v; });
    connect(&handler, &CommandHandler::tuningValuesReady, [&](CommandHandler::infoMsg &m, QString &v) { texts << QString::number(m) + v; });
    connect(&handler, &CommandHandler::inputStatusReady,
        [&](CommandHandler::infoMsg &m, QList<CommandHandler::inputStatus> in, QString r, QString, QString) {
            texts << QString::number(m) + handler.lastReplyText().remove(QLatin1Char('\r'));
            status = in;
            raw = r;
        });

    const QString id = handler.getID();
    handler.askModulator(RT::getCoreParameters);
    handler.askModulator(RT::getIPParameters);
    handler.askModulator(RT::getStatus);
    handler.askModulator(RT::getTuningValues);

    QCOMPARE(emulator.commandLines(),
        (QList<QByteArray> { "getID", "getCoreParameters", "getIPParameters", "getStatus", "getTuningValues" }));
    // The last five messages of the device are the five answers, in order.
    const QList<QByteArray> sent = emulator.wire('>');
    QVERIFY(sent.size() >= 5);
    const QList<QByteArray> answers = sent.mid(sent.size() - 5);
    QCOMPARE(id.toLatin1(), withoutFraming(answers.at(0)));
    QVERIFY(id.contains(QLatin1String("Product serial number : NR0042\n")));
    QCOMPARE(texts.size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(texts.at(i).toLatin1(), "0" + withoutFraming(answers.at(i + 1)));
    // No stream on the emulator's IP input, ASI always without data, internal clock locked.
    QCOMPARE(status, (QList<CommandHandler::inputStatus> { CommandHandler::NoData, CommandHandler::NoData, CommandHandler::LockedInternal }));
    QCOMPARE(raw, QStringLiteral("0.000 "));
}

void tst_CommandHandlerEmulator::applyOrderReachesTheDevice()
{
    QFETCH(QString, link);
    Emulator emulator(nextLogPath());
    QVERIFY(emulator.start(link));
    Connection connection(nullptr, true);
    CommandHandler handler(&connection, nullptr);
    handler.setTimeoutInterval(ANSWER_TIMEOUT_MS);
    QStringList log;
    record(&handler, &log);
    QVERIFY(logIn(connection, emulator, link));

    // The panel's apply order, with values the device accepts.
    handler.queueInt(RT::setInputMux, 2);
    handler.queueInt(RT::setRefClockMux, 1);
    handler.queueInt(RT::setCodeRate, 3);
    handler.queueInt(RT::setGuardInterval, 2);
    handler.queueInt(RT::setConstellation, 1);
    handler.queueInt(RT::setBandwidth, 1);
    handler.queueInt(RT::setTransmissionMode, 0);
    handler.queueString(RT::setOutputFrequency, QStringLiteral("474.000"));
    handler.queueBool(RT::setOutputState, true);
    handler.queueBool(RT::setMipControl, true);
    handler.queueBool(RT::setIPAddressingMethod, false);
    handler.queueString(RT::setIPMulticastAddress, QStringLiteral("239.10.20.30"));
    handler.queueString(RT::setIPPort, QStringLiteral("5004"));
    handler.queueString(RT::setAttenuation, QStringLiteral("12"));

    QCOMPARE(emulator.commandLines(),
        (QList<QByteArray> { "setInputMux AUTO", "setRefClockMux external", "setCodeRate 5/6", "setGuardInterval 1/8",
            "setConstellation 16QAM", "setBandwidth 7", "setTransmissionMode 2K", "setOutputFrequency 474.000",
            "setOutputState ON", "setMipControl ON", "setIPAddressingMethod multicast",
            "setIPMulticastAddress 239.10.20.30", "setIPPort 5004", "setAttenuation 12" }));
    QCOMPARE(log,
        (QStringList { "info 0", "int 0 0", "info 0", "int 0 1", "info 0", "int 0 8", "info 0", "int 0 4", "info 0",
            "int 0 7", "info 0", "int 0 3", "info 0", "int 0 9", "info 0", "text 0 5", "info 0", "bool 0 6", "info 0",
            "bool 0 2", "info 0", "bool 0 11", "info 0", "text 0 12", "info 0", "text 0 14", "info 0", "text 0 10" }));

    // The device took them: its parameter report shows the new values.
    const QString core = handler.getCoreParameters();
    QVERIFY2(core.contains(QLatin1String("Code Rate : 5/6\n")), qPrintable(core));
    QVERIFY2(core.contains(QLatin1String("Attenuation : 12dB\n")), qPrintable(core));
    const QString ip = handler.getIPParameters();
    QVERIFY2(ip.contains(QLatin1String("IP port : 5004\n")), qPrintable(ip));
}

void tst_CommandHandlerEmulator::firmwareDownload()
{
    QFETCH(QString, link);
    const QString imagePath = dir.filePath(QStringLiteral("fw-%1.bin").arg(link));
    QCOMPARE(QProcess::execute(Emulator::program(),
                 { QStringLiteral("make-firmware"), imagePath, QStringLiteral("--name"), QStringLiteral("TESTFW"),
                     QStringLiteral("--bank"), QStringLiteral("0"), QStringLiteral("--payload-size"), QStringLiteral("1000") }),
        0);
    QFile file(imagePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    QCOMPARE(image.size(), 34 + 1000);

    Emulator emulator(nextLogPath());
    QVERIFY(emulator.start(link));
    Connection connection(nullptr, true);
    CommandHandler handler(&connection, nullptr);
    handler.setTimeoutInterval(ANSWER_TIMEOUT_MS);
    QStringList log;
    record(&handler, &log);
    QVERIFY(logIn(connection, emulator, link));

    QString header;
    QStringList packets;
    QVERIFY(FlashExchange::split(image, &header, &packets));
    QCOMPARE(packets.size(), 4); // 262 × 3 + 214
    handler.queueString(RT::setFlashRequest, header);
    for (const QString &packet : qAsConst(packets))
        handler.queueString(RT::setFlashPacket, packet);

    // Erased bank on the announcement, each packet accepted, the last one completing the download.
    QCOMPARE(log,
        (QStringList { "info 0", "info 6", "text 6 15", "info 0", "text 0 16", "info 0", "text 0 16", "info 0",
            "text 0 16", "info 0", "info 8", "text 8 16" }));
    const QList<QByteArray> lines = emulator.commandLines();
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), "setFlashRequest " + image.left(34).toHex());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(lines.at(i + 1), "setFlashPacket " + image.mid(34 + 262 * i, 262).toHex());
}

void tst_CommandHandlerEmulator::mutedDeviceTimesOutInQueueOrder()
{
    QFETCH(QString, link);
    Emulator emulator(nextLogPath());
    QVERIFY(emulator.start(link, { QStringLiteral("--mute-after"), QStringLiteral("0") }));
    Connection connection(nullptr, true);
    CommandHandler handler(&connection, nullptr);
    handler.setTimeoutInterval(MUTE_TIMEOUT_MS);
    QStringList log;
    record(&handler, &log);
    QVERIFY(logIn(connection, emulator, link));

    // The later requests arrive while the first one waits.
    QTimer::singleShot(0, &handler, [&handler] {
        handler.queueInt(RT::setCodeRate, 3);
        handler.askModulator(RT::getStatus);
        handler.queueBool(RT::setOutputState, false);
    });
    QElapsedTimer clock;
    clock.start();
    handler.askModulator(RT::getID);
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(log,
        (QStringList { "info 5", "id 5 []", "info 5", "int 5 8", "info 5", "status 5 0,0,0 [] [] []", "info 5", "bool 5 6" }));
    QCOMPARE(emulator.commandLines(),
        (QList<QByteArray> { "getID", "setCodeRate 5/6", "getStatus", "setOutputState OFF" }));
    QVERIFY2(elapsed >= 4 * MUTE_TIMEOUT_MS * 95 / 100, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 4 * MUTE_TIMEOUT_MS + 3000, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(tst_CommandHandlerEmulator)
#include "tst_commandhandler_emulator.moc"
