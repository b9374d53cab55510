// nerio-emulator: a modulator on the wire, for tests, demos and training. See README.md.

#include "emulatorapp.h"
#include "firmwaremaker.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace
{
int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "nerio-emulator: %s\n", message.toLocal8Bit().constData());
    return 2;
}

bool nonNegative(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= 0;
}

// COMMAND=TEXT of --reading. In TEXT, \n ends a line (CR LF, as the console writes), \r is a lone CR, \xNN a
// byte and \\ a backslash.
bool parseReading(const QString &option, QString *command, QByteArray *text)
{
    static const QStringList readings { QStringLiteral("getCoreParameters"), QStringLiteral("getIPParameters"),
        QStringLiteral("getID"), QStringLiteral("getStatus"), QStringLiteral("getTuningValues") };
    *command = option.section(QLatin1Char('='), 0, 0);
    if (!readings.contains(*command) || !option.contains(QLatin1Char('=')))
        return false;
    const QByteArray in = option.section(QLatin1Char('='), 1).toLatin1();
    text->clear();
    for (int i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            text->append(in[i]);
            continue;
        }
        const char next = i + 1 < in.size() ? in[i + 1] : '\0';
        bool ok = true;
        if (next == 'n')
            text->append("\r\n");
        else if (next == 'r')
            text->append('\r');
        else if (next == '\\')
            text->append('\\');
        else if (next == 'x' && i + 3 < in.size())
            text->append(char(in.mid(i + 2, 2).toInt(&ok, 16)));
        else
            return false;
        if (!ok)
            return false;
        i += next == 'x' ? 3 : 1;
    }
    return true;
}

// AA-BB-CC-DD-EE-FF, upper case, from dashes or colons in any case.
QString normalisedMac(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("([0-9A-Fa-f]{2})([-:][0-9A-Fa-f]{2}){5}")));
    if (!pattern.match(text).hasMatch())
        return {};
    return text.toUpper().replace(QLatin1Char(':'), QLatin1Char('-'));
}
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nerio-emulator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NERIO_VERSION));
    QStringList args = QCoreApplication::arguments();
    if (args.size() > 1 && args.at(1) == QLatin1String("make-firmware"))
        return FirmwareMaker::run(args.mid(2));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Emulated DVB-T modulator console over a pseudo-terminal and/or telnet.\n"
        "Subcommand: make-firmware OUT.bin --name NAME --bank N [--serial SN] (--payload FILE | --payload-size N)"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serial(
        QStringLiteral("serial"), QStringLiteral("Open a pseudo-terminal; prints \"serial: <path>\"."));
    const QCommandLineOption serialLink(QStringLiteral("serial-link"),
        QStringLiteral("Also make PATH a symlink to it (implies --serial)."), QStringLiteral("PATH"));
    const QCommandLineOption telnet(QStringLiteral("telnet"),
        QStringLiteral("Listen for telnet on TCP PORT (0 = any free port); prints \"telnet: <port>\"."),
        QStringLiteral("PORT"));
    const QCommandLineOption bind(QStringLiteral("bind"),
        QStringLiteral("Telnet listening address (default 127.0.0.1)."), QStringLiteral("ADDR"));
    const QCommandLineOption discovery(
        QStringLiteral("discovery"), QStringLiteral("Answer discovery queries on UDP 30303."));
    const QCommandLineOption login(
        QStringLiteral("login"), QStringLiteral("Login name (default admin)."), QStringLiteral("NAME"));
    const QCommandLineOption password(
        QStringLiteral("password"), QStringLiteral("Password (default korva)."), QStringLiteral("TEXT"));
    const QCommandLineOption serialNumber(QStringLiteral("serial-number"),
        QStringLiteral("Product serial number, at most 6 characters (default NR0042)."), QStringLiteral("SN"));
    const QCommandLineOption mac(
        QStringLiteral("mac"), QStringLiteral("MAC address (default 02-4E-52-00-00-2A)."), QStringLiteral("MAC"));
    const QCommandLineOption productName(
        QStringLiteral("product-name"), QStringLiteral("Product type / discovery name."), QStringLiteral("NAME"));
    const QCommandLineOption unicast(QStringLiteral("unicast-address"),
        QStringLiteral("The device's own IP input address (default: the --bind address, or 127.0.0.1)."),
        QStringLiteral("ADDR"));
    const QCommandLineOption muteAfter(
        QStringLiteral("mute-after"), QStringLiteral("Stop answering after N command lines."), QStringLiteral("N"));
    const QCommandLineOption refuse(QStringLiteral("refuse"),
        QStringLiteral("Always answer KO to COMMAND (repeatable)."), QStringLiteral("COMMAND"));
    const QCommandLineOption reading(QStringLiteral("reading"),
        QStringLiteral("Answer the reading COMMAND with TEXT instead (\\n ends a line, \\xNN is a byte; repeatable)."),
        QStringLiteral("COMMAND=TEXT"));
    const QCommandLineOption delay(
        QStringLiteral("delay-ms"), QStringLiteral("Delay every message by N ms."), QStringLiteral("N"));
    const QCommandLineOption chunked(
        QStringLiteral("chunked"), QStringLiteral("Write each message in several small writes."));
    const QCommandLineOption baudPace(
        QStringLiteral("baud-pace"), QStringLiteral("Trickle bytes at 115200 baud (11.52 bytes/ms)."));
    const QCommandLineOption dropAfter(
        QStringLiteral("drop-after"), QStringLiteral("Close the link after N command lines."), QStringLiteral("N"));
    const QCommandLineOption rebootMs(QStringLiteral("reboot-ms"),
        QStringLiteral("Silence after setSoftReset ON (default 2000)."), QStringLiteral("N"));
    const QCommandLineOption logFile(QStringLiteral("log"),
        QStringLiteral("Write every line received and message sent to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption stateFile(QStringLiteral("state"),
        QStringLiteral("Keep the parameters in FILE (JSON) across restarts."), QStringLiteral("FILE"));
    parser.addOptions({ serial, serialLink, telnet, bind, discovery, login, password, serialNumber, mac, productName,
        unicast, muteAfter, refuse, reading, delay, chunked, baudPace, dropAfter, rebootMs, logFile, stateFile });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst()));

    EmulatorConfig config;
    config.serial = parser.isSet(serial) || parser.isSet(serialLink);
    config.serialLink = parser.value(serialLink);
    if (parser.isSet(telnet)) {
        bool ok = false;
        const uint port = parser.value(telnet).toUInt(&ok);
        if (!ok || port > 65535)
            return usageError(QStringLiteral("--telnet takes a TCP port number"));
        config.telnet = true;
        config.telnetPort = quint16(port);
    }
    if (parser.isSet(bind) && !config.bind.setAddress(parser.value(bind)))
        return usageError(QStringLiteral("--bind takes an IP address"));
    config.discovery = parser.isSet(discovery);
    if (!config.serial && !config.telnet && !config.discovery)
        return usageError(
            QStringLiteral("nothing to do: give --serial, --telnet PORT and/or --discovery (see --help)"));

    DeviceIdentity &id = config.identity;
    if (parser.isSet(login))
        id.login = parser.value(login);
    if (parser.isSet(password))
        id.password = parser.value(password);
    if (parser.isSet(serialNumber)) {
        id.serialNumber = parser.value(serialNumber);
        if (id.serialNumber.isEmpty() || id.serialNumber.size() > 6)
            return usageError(QStringLiteral("--serial-number takes 1 to 6 characters (the firmware header holds 6)"));
    }
    if (parser.isSet(mac)) {
        id.mac = normalisedMac(parser.value(mac));
        if (id.mac.isEmpty())
            return usageError(QStringLiteral("--mac takes six hexadecimal pairs, e.g. 00-0A-1B-2C-3D-4E"));
    }
    if (parser.isSet(productName))
        id.productName = parser.value(productName);
    if (parser.isSet(unicast)) {
        id.unicastAddress = parser.value(unicast);
    } else if (parser.isSet(bind) && config.bind.protocol() == QAbstractSocket::IPv4Protocol
        && config.bind != QHostAddress(QHostAddress::AnyIPv4)) {
        id.unicastAddress = config.bind.toString();
    }
    if (QHostAddress(id.unicastAddress).protocol() != QAbstractSocket::IPv4Protocol)
        return usageError(QStringLiteral("--unicast-address takes an IPv4 address"));

    const struct {
        const QCommandLineOption &option;
        int *target;
    } numbers[] = { { muteAfter, &config.faults.muteAfter }, { delay, &config.pacing.delayMs },
        { dropAfter, &config.dropAfter }, { rebootMs, &config.faults.rebootMs } };
    for (const auto &n : numbers) {
        if (parser.isSet(n.option) && !nonNegative(parser.value(n.option), n.target))
            return usageError(QStringLiteral("--%1 takes a whole number").arg(n.option.names().constFirst()));
    }
    config.faults.refused = parser.values(refuse);
    for (const QString &value : parser.values(reading)) {
        QString command;
        QByteArray text;
        if (!parseReading(value, &command, &text))
            return usageError(QStringLiteral("--reading takes a reading command, '=' and its answer text"));
        config.faults.readings.insert(command, text);
    }
    config.pacing.chunked = parser.isSet(chunked);
    config.pacing.baudPace = parser.isSet(baudPace);
    config.logFile = parser.value(logFile);
    config.stateFile = parser.value(stateFile);

    // SIGINT/SIGTERM end the event loop, so the symlink is removed and files are closed.
    if (::pipe(signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    std::signal(SIGPIPE, SIG_IGN);

    EmulatorApp emulator(config);
    QString error;
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "nerio-emulator: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return app.exec();
}
