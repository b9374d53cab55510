#include "commandline.h"

#include <QRegularExpression>

namespace {
const char *const IPV4_PATTERN
    = "^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])(\\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}$";
}

CommandLine::CommandLine()
    : serialPort(QStringLiteral("serial-port"),
        QStringLiteral("Serial port of the modulator, ready on the connect button (any path, also one that is not "
                       "enumerated, such as a pseudo-terminal)."),
        QStringLiteral("PATH"))
    , host(QStringLiteral("host"),
          QStringLiteral("Modulator reached over telnet, ready on the connect button: its IPv4 address, optionally "
                         "followed by :PORT (23 by default). Once connected the address joins recentIP.txt in the "
                         "working directory."),
          QStringLiteral("ADDRESS[:PORT]"))
    , network(QStringLiteral("network"),
          QStringLiteral("Enables \"Setup IP connectivity\" (modulators found by broadcast discovery on port 30303, "
                         "and the recent addresses) and \"IP input\" (the modulator's stream input: addressing, "
                         "multicast group, port; sent by Apply)."))
    , connectAtStart(QStringLiteral("connect"),
          QStringLiteral("Connect as soon as the main window is shown (needs --serial-port or --host)."))
{
    parser.setApplicationDescription(QStringLiteral(
        "Controls a DVB-T modulator over its serial console or telnet and streams transport-stream files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({ serialPort, host, network, connectAtStart });
}

bool CommandLine::parseHost(const QString &text, QString *address, quint16 *port)
{
    static const QRegularExpression ipv4(QRegularExpression::anchoredPattern(QString::fromLatin1(IPV4_PATTERN)));
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString addressPart = colon < 0 ? text : text.left(colon);
    if (!ipv4.match(addressPart).hasMatch())
        return false;
    quint16 number = TELNET_PORT;
    if (colon >= 0) {
        static const QRegularExpression digits(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,5}")));
        const QString portPart = text.mid(colon + 1);
        const uint value = portPart.toUInt();
        if (!digits.match(portPart).hasMatch() || value < 1 || value > 65535)
            return false;
        number = quint16(value);
    }
    *address = addressPart;
    *port = number;
    return true;
}

bool CommandLine::read(StartOptions *options, QString *message) const
{
    StartOptions read;
    read.serialPort = parser.value(serialPort);
    read.network = parser.isSet(network);
    read.connectAtStart = parser.isSet(connectAtStart);
    if (parser.isSet(host)) {
        if (!parseHost(parser.value(host), &read.host, &read.hostPort)) {
            *message = QStringLiteral("--host takes an IPv4 address, optionally followed by :PORT (1 to 65535), "
                                      "such as 192.168.1.20 or 127.0.0.1:2323; not \"%1\"")
                           .arg(parser.value(host));
            return false;
        }
        if (!read.serialPort.isEmpty()) {
            *message = QStringLiteral("--serial-port and --host name two routes for the connect button; give one");
            return false;
        }
    }
    if (read.connectAtStart && read.serialPort.isEmpty() && read.host.isEmpty()) {
        *message = QStringLiteral("--connect needs --serial-port or --host; not connecting");
        read.connectAtStart = false;
    }
    *options = read;
    return true;
}
