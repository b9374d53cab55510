// nerio-ts receive: a stream monitor measuring what arrives on a UDP port (TS rate, datagram spacing,
// continuity, sync, PCR repetition, accuracy and jitter), printed and optionally written as an HTML report.

#include "subcommands.h"

#include "datagramarrival.h"
#include "tsmonitor.h"
#include "tsreport.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTextStream>

#ifndef Q_OS_WIN
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace
{

const char HELP[]
    = "Usage: nerio-ts receive --listen ADDR:PORT [--seconds S] [--json] [--strict] [--html FILE]\n"
      "\n"
      "Receives a transport stream over UDP (plain or RTP) and measures it: TS bitrate, datagram gaps\n"
      "(p50/p99/max), the most datagrams in any 1 ms, continuity-counter errors, sync byte errors and\n"
      "sync losses, PCR repetition (TR 101 290: <= 40 ms), PCR accuracy against the byte position at the\n"
      "stream's constant rate (+/- 500 ns) and PCR arrival jitter. Arrival times are the kernel's; datagrams\n"
      "the receiving socket itself had to drop are reported apart. A figure the stream does not allow to\n"
      "measure (too few datagrams or PCRs) is printed as not measured (null in JSON).\n"
      "\n"
      "The verdict line (JSON: verdict \"pass\" or \"fail\", and faults) fails the stream on continuity errors,\n"
      "sync losses, PCR discontinuities, no PCR, PCR repetition over 40 ms, PCR accuracy outside +/- 500 ns, an\n"
      "arrival rate more than 1 % away from the rate its PCRs give, and on any of these not measured.\n"
      "\n"
      "  --listen ADDR:PORT  address and port to receive on; a multicast address is joined\n"
      "  --seconds S         measure S seconds from the first datagram (default: until Ctrl-C)\n"
      "  --json              print the figures as one JSON object\n"
      "  --strict            exit with status 1 when the verdict fails\n"
      "  --html FILE         also write the verdict, the figures and charts of them over time (bitrate, datagram\n"
      "                      gaps, PCR repetition and accuracy, errors where they happened) as one self-contained\n"
      "                      HTML page; it holds one point a second for the first hour, then points of 2, 4...\n"
      "                      seconds, so a run of any length keeps the same memory\n"
      "  -h, --help          show this help\n"
      "\n"
      "Exit status: 0 on success, 1 when nothing arrived (or with --strict, when the verdict fails), 2 on a\n"
      "usage or socket error, or when the HTML report cannot be written.\n";

int usageError(const QString &message)
{
    QTextStream(stderr) << "nerio-ts receive: " << message << '\n';
    return 2;
}

#ifndef Q_OS_WIN
volatile std::sig_atomic_t interrupted = 0;

void onSignal(int)
{
    interrupted = 1;
}

qint64 realtimeNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
#endif

} // namespace

int runReceive(const QStringList &args)
{
    QString listen;
    double seconds = 0;
    bool json = false;
    bool strict = false;
    QString htmlPath;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            QTextStream(stdout) << HELP;
            return 0;
        }
        if (arg == QLatin1String("--json")) {
            json = true;
        } else if (arg == QLatin1String("--strict")) {
            strict = true;
        } else if (arg == QLatin1String("--listen") || arg == QLatin1String("--seconds")
            || arg == QLatin1String("--html")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("%1 needs a value (try --help)").arg(arg));
            const QString value = args.at(++i);
            if (arg == QLatin1String("--listen")) {
                listen = value;
            } else if (arg == QLatin1String("--html")) {
                htmlPath = value;
            } else if (!parseSecondsOption(value, 86400 * 30, seconds)) {
                return usageError(QStringLiteral("bad value '%1' for --seconds (try --help)").arg(value));
            }
        } else {
            return usageError(QStringLiteral("unknown argument '%1' (try --help)").arg(arg));
        }
    }
    if (listen.isEmpty())
        return usageError(QStringLiteral("missing --listen ADDR:PORT (try --help)"));
    const int colon = listen.lastIndexOf(QLatin1Char(':'));
    QHostAddress address(colon > 0 ? listen.left(colon) : QString());
    qint64 port = 0;
    const bool portOk = colon > 0 && parseWholeOption(listen.mid(colon + 1), 1, 65535, port);
    if (address.isNull() || address.protocol() != QAbstractSocket::IPv4Protocol || !portOk)
        return usageError(QStringLiteral("--listen wants an IPv4 ADDR:PORT, not '%1'").arg(listen));

    // Opened before measuring: a report that cannot be written is told now, not after an hour of stream.
    QSaveFile html(htmlPath);
    if (!htmlPath.isEmpty() && !html.open(QIODevice::WriteOnly))
        return usageError(QStringLiteral("cannot write %1: %2").arg(htmlPath, html.errorString()));

#ifdef Q_OS_WIN
    Q_UNUSED(json);
    Q_UNUSED(strict);
    return usageError(QStringLiteral("needs kernel receive timestamps, not available on this platform"));
#else
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return usageError(QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // A deep buffer so that our own scheduling delays never drop what the sender sent, and the kernel's
    // count of what it dropped anyway, so such losses are not blamed on the sender.
    const int buffer = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(quint16(port));
    local.sin_addr.s_addr = htonl(address.isMulticast() ? INADDR_ANY : address.toIPv4Address());
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        close(fd);
        return usageError(QStringLiteral("cannot listen on %1: %2").arg(listen, why));
    }
    if (address.isMulticast()) {
        ip_mreq group {};
        group.imr_multiaddr.s_addr = htonl(address.toIPv4Address());
        group.imr_interface.s_addr = htonl(INADDR_ANY);
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            close(fd);
            return usageError(QStringLiteral("cannot join %1: %2").arg(address.toString(), why));
        }
    }
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Readiness line: a sender started after it loses nothing.
    QTextStream(stderr) << "listening on " << listen << Qt::endl;

    tsmonitor monitor;
    QByteArray data(65536, Qt::Uninitialized);
    char control[256];
    qint64 first = -1;
    const qint64 limit = seconds > 0 ? qint64(seconds * 1e9) : -1;
    const qint64 started = realtimeNs();
    while (!interrupted) {
        pollfd p { fd, POLLIN, 0 };
        const int ready = poll(&p, 1, 200);
        if (ready <= 0) {
            // Give up on a silent port once the measuring time, or a minute, has passed with nothing.
            const qint64 waited = realtimeNs() - started;
            if (first < 0 && waited > std::max<qint64>(60000000000LL, limit))
                break;
            if (first >= 0 && limit > 0 && realtimeNs() - first >= limit)
                break;
            continue;
        }
        iovec io { data.data(), size_t(data.size()) };
        msghdr message {};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &message, 0);
        if (n < 0)
            continue;
        const datagramarrival kernel = datagramarrival::of(message);
        if (kernel.hasDrops)
            monitor.setReceiverDrops(kernel.drops);
        const qint64 arrival = kernel.arrivalNs >= 0 ? kernel.arrivalNs : realtimeNs();
        if (first < 0)
            first = arrival;
        if (limit > 0 && arrival - first >= limit)
            break;
        monitor.datagram(reinterpret_cast<const uchar *>(data.constData()), int(n), arrival);
    }
    close(fd);
    const tsmonitor::report r = monitor.finish();
    if (r.datagrams == 0)
        QTextStream(stderr) << "nerio-ts receive: no datagram received on " << listen << '\n';
    else if (json)
        QTextStream(stdout) << QJsonDocument(r.toJson()).toJson(QJsonDocument::Compact) << '\n';
    else
        QTextStream(stdout) << r.toText();
    if (!htmlPath.isEmpty()) {
        const QString page = r.datagrams == 0
            ? tsreport::emptyHtml(
                listen, QDateTime::fromMSecsSinceEpoch(started / 1000000), (realtimeNs() - started) / 1e9)
            : tsreport::html(r, monitor.history(), listen, QDateTime::fromMSecsSinceEpoch(first / 1000000));
        html.write(page.toUtf8());
        if (!html.commit())
            return usageError(QStringLiteral("cannot write %1: %2").arg(htmlPath, html.errorString()));
    }
    if (r.datagrams == 0)
        return 1;
    return strict && !r.faults().isEmpty() ? 1 : 0;
#endif
}
