// The command engine against nerio-emulator over a pseudo-terminal (--serial) and loopback telnet
// (--telnet 0): readings, the apply order, a firmware download and a muted device. What went over the wire
// is read back from the emulator's own log.

#include "commandhandler.h"
#include "connection.h"
#include "flashexchange.h"
#include "handlerrecorder.h"
#include "loginanswers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

using RT = CommandHandler::RequestType;

QString emulatorProgram()
{
    return qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
}

// One emulator on one link with an engine logged in to it; the engine's signals go to log.
struct Session {
    QProcess process;
    QString wireLog;
    Connection connection { nullptr, true };
    CommandHandler handler { &connection, nullptr };
    QStringList log;
    int loginOutcome = -1;

    ~Session()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }

    // Starts the emulator, waits (at most 5 s) for the line announcing its address, then logs in as the
    // control panel does (ESC first on a serial link).
    bool open(const QString &link, const QString &logPath, int timeoutMs, const QStringList &extra = {})
    {
        wireLog = logPath;
        handler.setTimeoutInterval(timeoutMs);
        record(&handler, &log);
        const bool serial = link == QLatin1String("serial");
        process.start(emulatorProgram(),
            (serial ? QStringList { QStringLiteral("--serial") }
                    : QStringList { QStringLiteral("--telnet"), QStringLiteral("0") })
                + QStringList { QStringLiteral("--log"), logPath } + extra);
        QString address;
        QElapsedTimer clock;
        clock.start();
        while (address.isEmpty() && clock.elapsed() < 5000) {
            if (!process.canReadLine() && !process.waitForReadyRead(200))
                continue;
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (line.startsWith(link + QStringLiteral(": ")))
                address = line.mid(link.size() + 2);
        }
        if (address.isEmpty())
            return false;
        answerLogin(connection);
        QObject::connect(&connection, &Connection::logProcess, [this](Connection::LogRequest r) { loginOutcome = r; });
        if (serial) {
            QObject::connect(
                &connection, &Connection::connected, &connection, [this] { connection.sendData(QString(QChar(27))); });
            connection.connectCOMToHost(address);
        } else {
            connection.connectIPToHost(QStringLiteral("127.0.0.1"), quint16(address.toUInt()));
        }
        return QTest::qWaitFor([this] { return loginOutcome >= Connection::Logged; }, 5000)
            && loginOutcome == Connection::Logged;
    }

    // Texts of the emulator's log in one direction ('<' lines it received, '>' messages it sent), with
    // line feeds restored and the framing (CR, NUL) dropped.
    QList<QByteArray> wire(char direction) const
    {
        QFile file(wireLog);
        QList<QByteArray> out;
        if (!file.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &entry : file.readAll().split('\n')) {
            const QList<QByteArray> fields = entry.split(' '); // "<time> <link> <direction> <text>"
            if (fields.size() >= 4 && fields.at(2) == QByteArray(1, direction))
                out << entry.mid(fields.at(0).size() + fields.at(1).size() + 4)
                           .replace("\\r", "")
                           .replace("\\0", "")
                           .replace("\\n", "\n");
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
};

} // namespace

class tst_CommandHandlerEmulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void links_data();
    void readingsSettingsAndFlash_data() { links_data(); }
    void readingsSettingsAndFlash();
    void mutedDeviceTimesOutInQueueOrder_data() { links_data(); }
    void mutedDeviceTimesOutInQueueOrder();

private:
    QTemporaryDir dir;
    QByteArray image;
    int runs = 0;
    QString nextLogPath() { return dir.filePath(QStringLiteral("wire%1.log").arg(++runs)); }
};

void tst_CommandHandlerEmulator::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFile::exists(emulatorProgram()), qPrintable(emulatorProgram() + QStringLiteral(" not built")));
    const QString imagePath = dir.filePath(QStringLiteral("fw.bin"));
    QCOMPARE(QProcess::execute(emulatorProgram(),
                 { QStringLiteral("make-firmware"), imagePath, QStringLiteral("--name"), QStringLiteral("TESTFW"),
                     QStringLiteral("--bank"), QStringLiteral("0"), QStringLiteral("--payload-size"),
                     QStringLiteral("1000") }),
        0);
    QFile file(imagePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    image = file.readAll();
    QCOMPARE(image.size(), 34 + 1000);
}

void tst_CommandHandlerEmulator::links_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("serial") << "serial";
    QTest::newRow("telnet") << "telnet";
}

void tst_CommandHandlerEmulator::readingsSettingsAndFlash()
{
    QFETCH(QString, link);
    Session s;
    QVERIFY(s.open(link, nextLogPath(), 3000));

    // Readings: each answer reaches its own signal as the device sent it, without CR and NUL.
    const QString id = s.handler.getID();
    s.handler.askModulator(RT::getCoreParameters);
    s.handler.askModulator(RT::getIPParameters);
    s.handler.askModulator(RT::getStatus);
    s.handler.askModulator(RT::getTuningValues);
    QCOMPARE(s.commandLines(),
        (QList<QByteArray> { "getID", "getCoreParameters", "getIPParameters", "getStatus", "getTuningValues" }));
    const QList<QByteArray> sent = s.wire('>');
    QVERIFY(sent.size() >= 5);
    const QList<QByteArray> answers = sent.mid(sent.size() - 5);
    QCOMPARE(id.toLatin1(), answers.at(0));
    QVERIFY(id.contains(QLatin1String("Product serial number : NR0042\n")));
    QCOMPARE(s.log.size(), 9);
    // No stream on the emulator's IP input, ASI always without data, internal clock locked.
    QVERIFY2(s.log.at(6).startsWith(QLatin1String("status 0 1,1,6 [0.000 ]")), qPrintable(s.log.at(6)));
    s.log.removeAt(6);
    QCOMPARE(s.log,
        (QStringList { "info 0", "info 0", "core 0 [" + answers.at(1) + "]", "info 0", "ip 0 [" + answers.at(2) + "]",
            "info 0", "info 0", "tuning 0 [" + answers.at(4) + "]" }));

    // The panel's apply order, with values the device accepts.
    s.log.clear();
    s.handler.queueInt(RT::setInputMux, 2);
    s.handler.queueInt(RT::setRefClockMux, 1);
    s.handler.queueInt(RT::setCodeRate, 3);
    s.handler.queueInt(RT::setGuardInterval, 2);
    s.handler.queueInt(RT::setConstellation, 1);
    s.handler.queueInt(RT::setBandwidth, 1);
    s.handler.queueInt(RT::setTransmissionMode, 0);
    s.handler.queueString(RT::setOutputFrequency, QStringLiteral("474.000"));
    s.handler.queueBool(RT::setOutputState, true);
    s.handler.queueBool(RT::setMipControl, true);
    s.handler.queueBool(RT::setIPAddressingMethod, false);
    s.handler.queueString(RT::setIPMulticastAddress, QStringLiteral("239.10.20.30"));
    s.handler.queueString(RT::setIPPort, QStringLiteral("5004"));
    s.handler.queueString(RT::setAttenuation, QStringLiteral("12"));
    QCOMPARE(s.commandLines().mid(5),
        (QList<QByteArray> { "setInputMux AUTO", "setRefClockMux external", "setCodeRate 5/6", "setGuardInterval 1/8",
            "setConstellation 16QAM", "setBandwidth 7", "setTransmissionMode 2K", "setOutputFrequency 474.000",
            "setOutputState ON", "setMipControl ON", "setIPAddressingMethod multicast",
            "setIPMulticastAddress 239.10.20.30", "setIPPort 5004", "setAttenuation 12" }));
    QCOMPARE(s.log,
        (QStringList { "info 0", "int 0 0", "info 0", "int 0 1", "info 0", "int 0 8", "info 0", "int 0 4", "info 0",
            "int 0 7", "info 0", "int 0 3", "info 0", "int 0 9", "info 0", "text 0 5", "info 0", "bool 0 6", "info 0",
            "bool 0 2", "info 0", "bool 0 11", "info 0", "text 0 12", "info 0", "text 0 14", "info 0", "text 0 10" }));
    // The device took them: its parameter report shows the new values.
    const QString core = s.handler.getCoreParameters();
    QVERIFY2(core.contains(QLatin1String("Code Rate : 5/6\n")) && core.contains(QLatin1String("Attenuation : 12dB\n")),
        qPrintable(core));
    const QString ip = s.handler.getIPParameters();
    QVERIFY2(ip.contains(QLatin1String("IP port : 5004\n")), qPrintable(ip));

    // Firmware of 34 + 1000 bytes (262 × 3 + 214): erased bank on the announcement, each packet accepted,
    // the last one completing the download.
    s.log.clear();
    QString header;
    QStringList packets;
    QVERIFY(FlashExchange::split(image, &header, &packets));
    s.handler.queueString(RT::setFlashRequest, header);
    for (const QString &packet : qAsConst(packets))
        s.handler.queueString(RT::setFlashPacket, packet);
    QCOMPARE(s.log,
        (QStringList { "info 0", "info 6", "text 6 15", "info 0", "text 0 16", "info 0", "text 0 16", "info 0",
            "text 0 16", "info 0", "info 8", "text 8 16" }));
    QList<QByteArray> flashLines { "setFlashRequest " + image.left(34).toHex() };
    for (int i = 0; i < 4; ++i)
        flashLines << "setFlashPacket " + image.mid(34 + 262 * i, 262).toHex();
    QCOMPARE(s.commandLines().mid(21), flashLines);
}

void tst_CommandHandlerEmulator::mutedDeviceTimesOutInQueueOrder()
{
    QFETCH(QString, link);
    const int timeoutMs = 300;
    Session s;
    QVERIFY(s.open(link, nextLogPath(), timeoutMs, { QStringLiteral("--mute-after"), QStringLiteral("0") }));

    // The later requests arrive while the first one waits.
    QTimer::singleShot(0, &s.handler, [&s] {
        s.handler.queueInt(RT::setCodeRate, 3);
        s.handler.askModulator(RT::getStatus);
        s.handler.queueBool(RT::setOutputState, false);
    });
    QElapsedTimer clock;
    clock.start();
    s.handler.askModulator(RT::getID);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(s.log,
        (QStringList {
            "info 5", "id 5 []", "info 5", "int 5 8", "info 5", "status 5 0,0,0 [] [] []", "info 5", "bool 5 6" }));
    QCOMPARE(s.commandLines(), (QList<QByteArray> { "getID", "setCodeRate 5/6", "getStatus", "setOutputState OFF" }));
    // Four full time-outs one after the other (coarse timers may fire up to 5 % early).
    QVERIFY2(
        elapsed >= 4 * timeoutMs * 95 / 100 && elapsed < 4 * timeoutMs + 3000, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(tst_CommandHandlerEmulator)
#include "tst_commandhandler_emulator.moc"
