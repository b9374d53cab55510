// Device fault soak: full sessions (start, log in, read, apply, flash, leave) against nerio-emulator over a
// pseudo-terminal, each with one of the emulator's fault options, and a short command time-out. Every
// session must end with the verdicts the fault implies, within a bounded time, and the process memory
// must stay flat across sessions. NERIO_SOAK_SESSIONS sets the count (default 12; scripts/soak --soak
// runs 100).

#include "commandhandler.h"
#include "connection.h"
#include "flashexchange.h"
#include "loginanswers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
using RT = CommandHandler::RequestType;
constexpr int TIMEOUT_MS = 400;

QString emulatorProgram()
{
    return qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator");
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Session {
    QProcess process;
    Connection connection { nullptr, true };
    CommandHandler handler { &connection, nullptr };
    int loginOutcome = -1;

    ~Session()
    {
        connection.disconnectFromHost(false);
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }

    bool open(const QStringList &faults)
    {
        handler.setTimeoutInterval(TIMEOUT_MS);
        process.start(emulatorProgram(), QStringList { QStringLiteral("--serial"), QStringLiteral("--reboot-ms"),
                                             QStringLiteral("300") } + faults);
        QString address;
        QElapsedTimer clock;
        clock.start();
        while (address.isEmpty() && clock.elapsed() < 5000) {
            if (!process.canReadLine() && !process.waitForReadyRead(200))
                continue;
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (line.startsWith(QLatin1String("serial: ")))
                address = line.mid(8);
        }
        if (address.isEmpty())
            return false;
        answerLogin(connection);
        QObject::connect(&connection, &Connection::logProcess, [this](Connection::LogRequest r) { loginOutcome = r; });
        QObject::connect(
            &connection, &Connection::connected, &connection, [this] { connection.sendData(QString(QChar(27))); });
        connection.connectCOMToHost(address);
        return QTest::qWaitFor([this] { return loginOutcome >= Connection::Logged; }, 5000)
            && loginOutcome == Connection::Logged;
    }

    CommandHandler::infoMsg setCodeRate()
    {
        handler.setIntValue(RT::setCodeRate, 3);
        return handler.lastInfoCode();
    }

    // Sends the image; the verdict of each line in order, stopping at the first that is not accepted.
    QList<int> flash(const QByteArray &image)
    {
        QString header;
        QStringList packets;
        QList<int> verdicts;
        if (!FlashExchange::split(image, &header, &packets))
            return verdicts;
        handler.setStringValue(RT::setFlashRequest, header);
        verdicts << handler.lastInfoCode();
        for (const QString &p : qAsConst(packets)) {
            if (verdicts.last() != CommandHandler::CommandOk && verdicts.last() != CommandHandler::BankErased)
                break;
            handler.setStringValue(RT::setFlashPacket, p);
            verdicts << handler.lastInfoCode();
        }
        return verdicts;
    }
};
} // namespace

class tst_soak_device : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(QFile::exists(emulatorProgram()), qPrintable(emulatorProgram() + QStringLiteral(" not built")));
        const QString path = dir.filePath(QStringLiteral("fw.bin"));
        QCOMPARE(QProcess::execute(emulatorProgram(),
                     { QStringLiteral("make-firmware"), path, QStringLiteral("--name"), QStringLiteral("SOAKFW"),
                         QStringLiteral("--bank"), QStringLiteral("1"), QStringLiteral("--payload-size"),
                         QStringLiteral("1000") }),
            0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        image = f.readAll();
        QCOMPARE(image.size(), 1034); // header, then 262 x 3 + 214
    }

    void sessions()
    {
        const int count = qEnvironmentVariableIsSet("NERIO_SOAK_SESSIONS")
            ? qEnvironmentVariableIntValue("NERIO_SOAK_SESSIONS")
            : 12;
        QElapsedTimer total;
        total.start();
        qint64 rssAfterWarmUp = -1;
        qint64 longest = 0;
        for (int i = 0; i < count; ++i) {
            const int fault = i % 10;
            QElapsedTimer clock;
            clock.start();
            runSession(fault);
            if (QTest::currentTestFailed()) {
                qWarning("session %d (fault %d) failed", i, fault);
                return;
            }
            longest = qMax(longest, clock.elapsed());
            // Every fault kind ran once before the reference is taken.
            if (i == qMin(count, 10) - 1)
                rssAfterWarmUp = residentKiB();
        }
        const qint64 rssEnd = residentKiB();
        qInfo("soak device: %d sessions in %lld ms, longest %lld ms, RSS %lld KiB after warm-up, %lld KiB at the end",
            count, total.elapsed(), longest, rssAfterWarmUp, rssEnd);
        if (count > 20)
            QVERIFY2(rssEnd - rssAfterWarmUp < 5 * 1024, "memory grows across sessions");
    }

private:
    void runSession(int fault)
    {
        static const QList<QStringList> faults {
            {},
            { QStringLiteral("--chunked") },
            { QStringLiteral("--delay-ms"), QStringLiteral("40") },
            { QStringLiteral("--baud-pace") },
            { QStringLiteral("--refuse"), QStringLiteral("setCodeRate") },
            { QStringLiteral("--mute-after"), QStringLiteral("2") },
            { QStringLiteral("--drop-after"), QStringLiteral("3") },
            { QStringLiteral("--refuse"), QStringLiteral("setFlashPacket") },
            { QStringLiteral("--chunked"), QStringLiteral("--baud-pace") },
            { QStringLiteral("--drop-after"), QStringLiteral("4") },
        };
        Session s;
        QVERIFY2(s.open(faults.at(fault)), "no login");

        const QString id = s.handler.getID();
        QVERIFY2(id.contains(QLatin1String("Product serial number : NR0042\n")), qPrintable(id));
        const QList<CommandHandler::inputStatus> status = s.handler.getStatus();
        QCOMPARE(status.size(), 3);
        QCOMPARE(int(status.at(2)), int(CommandHandler::LockedInternal));

        switch (fault) {
        case 4:
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandRefused));
            QVERIFY(s.handler.getCoreParameters().contains(QLatin1String("Code Rate : 2/3\n")));
            break;
        case 5:
            // Silent from the third line on: every later line times out, the engine stays usable.
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandTimeout));
            QVERIFY(s.handler.getID().isEmpty());
            QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandTimeout));
            break;
        case 6:
            // The link drops after the third answer: the answer still counts, later lines time out.
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandOk));
            QTest::qWait(300);
            QVERIFY(s.handler.getID().isEmpty());
            QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandTimeout));
            break;
        case 7:
            QCOMPARE(s.flash(image), (QList<int> { CommandHandler::BankErased, CommandHandler::CommandRefused }));
            break;
        case 9: {
            // Dropped mid-flash: the announcement and two packets, then nothing answers.
            const QList<int> verdicts = s.flash(image);
            QCOMPARE(verdicts.mid(0, 3), (QList<int> { CommandHandler::BankErased, CommandHandler::CommandOk, CommandHandler::CommandTimeout }));
            break;
        }
        default: {
            QCOMPARE(int(s.setCodeRate()), int(CommandHandler::CommandOk));
            QCOMPARE(s.flash(image), (QList<int> { CommandHandler::BankErased, CommandHandler::CommandOk,
                                         CommandHandler::CommandOk, CommandHandler::CommandOk,
                                         CommandHandler::DownloadComplete }));
            if (fault == 0) {
                // Reboot: the device is silent for 300 ms, so a reading meanwhile times out.
                QVERIFY(s.handler.setBoolValue(RT::setSoftReset, true));
                QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandOk));
                QVERIFY(s.handler.getID().isEmpty());
                QCOMPARE(int(s.handler.lastInfoCode()), int(CommandHandler::CommandTimeout));
            }
            break;
        }
        }
        QCOMPARE(int(s.handler.engineState()), int(CommandHandler::Idle));
        QCOMPARE(s.handler.pendingRequests(), 0);
    }

    QTemporaryDir dir;
    QByteArray image;
};

QTEST_GUILESS_MAIN(tst_soak_device)
#include "tst_soak_device.moc"
