// nerio-ts stream: the streaming engine without the window, from a file to a UDP destination.

#include "subcommands.h"

#include "pacingclock.h"
#include "program_info.h"
#include "streaming.h"
#include "streamingtools.h"
#include "tsloop.h"
#include "tsparser.h"
#include "tspcrmeasure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <memory>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace
{

const char HELP[]
    = "Usage: nerio-ts stream FILE --dest ADDR:PORT [options]\n"
      "\n"
      "Streams a transport stream file over UDP in datagrams of 7 packets, paced at the bitrate, as the\n"
      "Streaming page does. Shows the position and the rate of the datagrams sent once a second on\n"
      "stderr and ends with a summary; Ctrl-C stops cleanly. Without --loop the run ends with the file's\n"
      "last packet (the last datagram may hold fewer than 7).\n"
      "\n"
      "FILE may be a named pipe (FIFO): it is read as it comes, nerio-ts waits for its writer (Ctrl-C\n"
      "ends the wait), and what the bitrate measurement reads of it is not sent.\n"
      "\n"
      "  --dest ADDR:PORT   destination (unicast or multicast)\n"
      "  --bitrate N        TS bitrate in bit/s, 100000 to 65000000 (default: measured from the PCRs)\n"
      "  --rtp              put an RTP header in front of each datagram\n"
      "  --loop             start again at the end of the file (default: stop there)\n"
      "  --cc               renumber continuity counters so they run on across wraps and seeks\n"
      "  --pcr              regenerate PCRs from the output position and shift PTS/DTS with them\n"
      "  --no-start-sync    read from byte 0 instead of the first packet start\n"
      "  --inject-gap N     error injection: pass N packets, then replace --inject-run N packets\n"
      "  --inject-run N     packets replaced per injected run (with --inject-gap)\n"
      "  --inject-pid P     count and replace only packets of PID P (with --inject-gap)\n"
      "  --duration S       stop after S seconds\n"
      "  --whole-sleeps     sleep each datagram gap in one piece: less CPU at low bitrates, but on a virtual\n"
      "                     machine wake-ups may come late in bursts (default: wake at least every 150 us)\n"
      "  -h, --help         show this help\n"
      "\n"
      "Exit status: 0 on success, 1 when no datagram could be sent (the network refused each one),\n"
      "2 on bad arguments or an unreadable file.\n";

constexpr qint64 MIN_BITRATE = 100000;
constexpr qint64 MAX_BITRATE = 65000000;
constexpr qint64 DEFAULT_BITRATE = 10000000;

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int)
{
    interrupted = 1;
}

int usageError(const QString &message)
{
    QTextStream(stderr) << "nerio-ts stream: " << message << '\n';
    return 2;
}

double cpuSeconds()
{
#ifndef Q_OS_WIN
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return 0;
#endif
}

} // namespace

int runStream(const QStringList &args)
{
    QString path;
    QString dest;
    qint64 bitrate = 0;
    qint64 injectGap = -1;
    qint64 injectRun = -1;
    qint64 injectPid = -1;
    double duration = 0;
    bool rtp = false, loop = false, cc = false, pcr = false, startSync = true, wholeSleeps = false;

    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            QTextStream(stdout) << HELP;
            return 0;
        }
        if (arg == QLatin1String("--rtp")) {
            rtp = true;
        } else if (arg == QLatin1String("--loop")) {
            loop = true;
        } else if (arg == QLatin1String("--cc")) {
            cc = true;
        } else if (arg == QLatin1String("--pcr")) {
            pcr = true;
        } else if (arg == QLatin1String("--no-start-sync")) {
            startSync = false;
        } else if (arg == QLatin1String("--whole-sleeps")) {
            wholeSleeps = true;
        } else if (arg == QLatin1String("--dest") || arg == QLatin1String("--bitrate")
            || arg == QLatin1String("--inject-gap") || arg == QLatin1String("--inject-run")
            || arg == QLatin1String("--inject-pid") || arg == QLatin1String("--duration")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("%1 needs a value (try --help)").arg(arg));
            const QString value = args.at(++i);
            bool ok = true;
            if (arg == QLatin1String("--dest"))
                dest = value;
            else if (arg == QLatin1String("--bitrate"))
                ok = parseWholeOption(value, MIN_BITRATE, MAX_BITRATE, bitrate);
            else if (arg == QLatin1String("--inject-gap"))
                ok = parseWholeOption(value, 0, Q_INT64_C(1) << 62, injectGap);
            else if (arg == QLatin1String("--inject-run"))
                ok = parseWholeOption(value, 1, Q_INT64_C(1) << 62, injectRun);
            else if (arg == QLatin1String("--inject-pid"))
                ok = parseWholeOption(value, 0, 8191, injectPid);
            else
                ok = parseSecondsOption(value, 1e9, duration);
            if (!ok)
                return usageError(QStringLiteral("bad value '%1' for %2 (try --help)").arg(value, arg));
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option '%1' (try --help)").arg(arg));
        } else if (path.isEmpty()) {
            path = arg;
        } else {
            return usageError(QStringLiteral("one FILE only (try --help)"));
        }
    }
    if (path.isEmpty())
        return usageError(QStringLiteral("missing FILE (try --help)"));
    if (dest.isEmpty())
        return usageError(QStringLiteral("missing --dest ADDR:PORT (try --help)"));
    if ((injectGap >= 0) != (injectRun >= 0))
        return usageError(QStringLiteral("--inject-gap and --inject-run go together"));
    if (injectPid >= 0 && injectGap < 0)
        return usageError(QStringLiteral("--inject-pid needs --inject-gap and --inject-run"));
    const int colon = dest.lastIndexOf(QLatin1Char(':'));
    const QHostAddress address(colon > 0 ? dest.left(colon) : QString());
    qint64 port = 0;
    const bool portOk = colon > 0 && parseWholeOption(dest.mid(colon + 1), 1, 65535, port);
    if (address.isNull() || !portOk)
        return usageError(QStringLiteral("--dest wants ADDR:PORT, not '%1'").arg(dest));

    if (QFileInfo(path).isDir())
        return usageError(QStringLiteral("%1 is a folder, not a transport stream file").arg(path));
    tspcrmeasure measure(nullptr, path);
    if (!measure.isOpen()) {
        QFile probe(path);
        probe.open(QIODevice::ReadOnly);
        return usageError(QStringLiteral("cannot open %1: %2").arg(path, probe.errorString()));
    }
    const qint64 syncOffset = measure.findSync();
    if (syncOffset < 0)
        return usageError(tspcrmeasure::noGridMessage(path, measure.getFileSize()));
    const qint64 measured = measure.measureBitrate();
    if (bitrate == 0) {
        if (measured <= 0) {
            QTextStream(stderr)
                << "warning: No PCR detected, please enter bitrate manualy. Default bitrate value is : 10 Mbps\n";
            bitrate = DEFAULT_BITRATE;
        } else if (measured > MAX_BITRATE) {
            QTextStream(stderr) << "warning: Bitrate calcul error. Default bitrate value is : 10 Mbps\n";
            bitrate = DEFAULT_BITRATE;
        } else {
            bitrate = std::max(measured, MIN_BITRATE);
        }
    }

    pacingclock::setSlicedSleep(!wholeSleeps);
    // The switches set the corrections directly ("RAW mode disable" ticked, each box as given).
    streamingtools tools(nullptr, true, cc, pcr, startSync, injectGap >= 0, injectPid >= 0,
        injectGap < 0 ? 1000 : injectGap, quint16(injectPid < 0 ? 0 : injectPid), injectRun < 0 ? 1 : injectRun);
    std::unique_ptr<streaming> run
        = std::make_unique<streaming>(nullptr, syncOffset, loop ? int(tsloop::loopEnabled) : int(tsloop::loopDisabled),
            path, quint32(bitrate), &tools, rtp, address, quint16(port), quint8(7));
    run->assignPcrPids(measure.getParser()->programs());

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QEventLoop events;
    bool endOfFile = false;
    quint64 position = 0;
    QObject::connect(run.get(), &streaming::loopDisable_emitStopStreaming, &events, [&] {
        endOfFile = true;
        events.quit();
    });
    QObject::connect(
        run.get(), &streaming::positionHasChanged, &events, [&](const quint64 &seconds) { position = seconds; });
    QTimer signalPoll;
    QObject::connect(&signalPoll, &QTimer::timeout, &events, [&] {
        if (interrupted)
            events.quit();
    });
    signalPoll.start(50);

#ifndef Q_OS_WIN
    const bool terminal = isatty(STDERR_FILENO);
#else
    const bool terminal = false;
#endif
    QTextStream err(stderr);
    QElapsedTimer elapsed;
    quint64 lastPackets = 0;
    qint64 lastMs = 0;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, &events, [&] {
        const qint64 now = elapsed.elapsed();
        const quint64 packets = run->packetsSent();
        const double rate = now > lastMs ? (packets - lastPackets) * 188.0 * 8 * 1000 / (now - lastMs) : 0;
        lastPackets = packets;
        lastMs = now;
        err << (terminal ? "\r" : "")
            << QStringLiteral("position %1:%2  rate %3 bit/s  stalls %4")
                   .arg(position / 60)
                   .arg(position % 60, 2, 10, QLatin1Char('0'))
                   .arg(qint64(rate))
                   .arg(run->stalls())
            << (terminal ? "   " : "\n");
        err.flush();
    });
    progress.start(1000);
    QTimer stopTimer;
    stopTimer.setSingleShot(true);
    stopTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may end a timed run 5 % early
    QObject::connect(&stopTimer, &QTimer::timeout, &events, &QEventLoop::quit);
    if (duration > 0)
        stopTimer.start(int(std::min(duration * 1000, 2e9)));

    err << "streaming " << path << " to " << dest << " at " << bitrate << " bit/s" << (rtp ? " (RTP)" : "") << '\n';
    err.flush();
    const double cpuBefore = cpuSeconds();
    elapsed.start();
    run->startStreaming();
    events.exec();
    run->stop();
    const double wall = elapsed.nsecsElapsed() / 1e9;
    const quint64 packets = run->packetsSent();
    const quint64 datagrams = run->datagramsSent();
    const quint64 stalls = run->stalls();
    const quint64 errors = run->sendErrors();
    const QString why = run->lastSendError();
    run.reset();
    const double cpu = cpuSeconds() - cpuBefore;
    if (terminal)
        err << '\n';
    err << QStringLiteral("%1: %2 packets, %3 datagrams, %4 s, average %5 bit/s, %6 stalls, %7 send errors, CPU %8 %\n")
               .arg(endOfFile ? "end of file" : "stopped")
               .arg(packets)
               .arg(datagrams)
               .arg(wall, 0, 'f', 3)
               .arg(wall > 0 ? qint64(packets * 188.0 * 8 / wall) : 0)
               .arg(stalls)
               .arg(errors)
               .arg(wall > 0 ? cpu * 100 / wall : 0, 0, 'f', 1);
    if (errors > 0 && datagrams == 0) {
        err << "nerio-ts stream: no datagram could be sent to " << dest << ": " << why << '\n';
        return 1;
    }
    return 0;
}
