// Streaming engine benchmark: the packet pipeline alone (read, renumber, rewrite clocks, build
// datagrams; no socket), the cost of one wake-up per datagram, and the test files and the receiver of the
// loopback comparison (compare.sh).
//
//   streaming_bench pipeline [--seconds S]            packets/s through the pipeline against 65 Mbit/s
//   streaming_bench wake-cost [--bitrate N] [--spin NS] [--seconds S]   the pacing thread's sleep alone:
//                                                     CPU share and wake-up precision of one sleepUntil() per
//                                                     datagram at that bitrate (no packet, no socket)
//   streaming_bench pace [--bitrate N] [--seconds S] [--trace FILE]   (Linux) the pacing thread and sender
//                                                     as a run drives them, to a local sink that is never read:
//                                                     CPU, gaps, each datagram's lateness and each wake-up's;
//                                                     the trace has one line per datagram (ns since the start:
//                                                     sent, due; ns from the reading before)
//   streaming_bench make-file OUT --bitrate N --seconds S   a CBR file: PAT, PMT, video PID 0x100 with a
//                                                     PCR every 20 ms and PES with PTS/DTS every 40 ms,
//                                                     audio PID 0x101, null packets
//   streaming_bench receive --listen ADDR:PORT --bitrate N [--seconds S] [--trace FILE]
//                                                     (Linux) the receiver of compare.sh: kernel arrival times,
//                                                     the monitor's figures plus PCR arrival error and MDI
//                                                     delay factor as one JSON line; the trace has one line
//                                                     per datagram (ns since the first, TS bytes)

#include "pacer.h"
#include "pacingclock.h"
#include "streamingqthread.h"
#include "streamingtools.h"
#include "tsloop.h"
#include "tsstamp.h"
#include "tsmonitor.h"
#include "tspacket.h"
#include "tsudpsend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif
#ifdef Q_OS_LINUX
#include "datagramarrival.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace
{

constexpr int PKT = 188;

quint32 crc32Mpeg(const uchar *data, int size)
{
    quint32 crc = 0xFFFFFFFF;
    for (int i = 0; i < size; ++i) {
        crc ^= quint32(data[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

void header(uchar *p, quint16 pid, bool start, int control, quint8 cc)
{
    p[0] = 0x47;
    p[1] = uchar((start ? 0x40 : 0) | (pid >> 8));
    p[2] = uchar(pid);
    p[3] = uchar((control << 4) | (cc & 0x0F));
}

void section(uchar *p, quint16 pid, quint8 cc, const QByteArray &body)
{
    std::memset(p, 0xFF, PKT);
    header(p, pid, true, 1, cc);
    p[4] = 0; // pointer_field
    std::memcpy(p + 5, body.constData(), size_t(body.size()));
    const quint32 crc = crc32Mpeg(p + 5, body.size());
    uchar *c = p + 5 + body.size();
    c[0] = uchar(crc >> 24);
    c[1] = uchar(crc >> 16);
    c[2] = uchar(crc >> 8);
    c[3] = uchar(crc);
}

void timestamp(uchar *t, quint8 prefix, quint64 v)
{
    t[0] = uchar((prefix << 4) | ((v >> 29) & 0x0E) | 1);
    t[1] = uchar(v >> 22);
    t[2] = uchar(((v >> 14) & 0xFE) | 1);
    t[3] = uchar(v >> 7);
    t[4] = uchar(((v << 1) & 0xFE) | 1);
}

int makeFile(const QString &out, quint64 bitrate, double seconds)
{
    QFile file(out);
    if (!file.open(QIODevice::WriteOnly)) {
        QTextStream(stderr) << "cannot write " << out << '\n';
        return 2;
    }
    // PAT: program 1 on PMT PID 0x1000. PMT: PCR on 0x100, MPEG-2 video 0x100, MPEG-1 audio 0x101.
    const QByteArray pat = QByteArray::fromHex("00B00D0001C100000001F000");
    const QByteArray pmt = QByteArray::fromHex("02B0170001C10000E100F00002E100F00004E101F000");
    const quint64 packetsPerSecond = bitrate / (PKT * 8);
    const quint64 total = quint64(seconds * bitrate / (PKT * 8));
    const quint64 tableEvery = std::max<quint64>(1, packetsPerSecond / 10);
    quint8 cc[8192] = {};
    QByteArray chunk;
    chunk.reserve(PKT * 4096);
    qint64 lastPcrMs = -20, lastPesMs = -40;
    for (quint64 i = 0; i < total; ++i) {
        uchar p[PKT];
        std::memset(p, 0xFF, PKT);
        // Time of this packet's first byte at the constant rate, in 27 MHz ticks.
        const quint64 ticks = i * PKT * 8 * 27000000ULL / bitrate;
        const qint64 ms = qint64(ticks / 27000);
        if (i % tableEvery == 0) {
            section(p, 0x0000, cc[0]++, pat);
        } else if (i % tableEvery == 1) {
            section(p, 0x1000, cc[0x1000]++, pmt);
        } else if (ms - lastPcrMs >= 20) {
            lastPcrMs = ms;
            const bool pes = ms - lastPesMs >= 40;
            header(p, 0x100, pes, 3, cc[0x100]++);
            p[4] = 7;
            p[5] = 0x10;
            const quint64 base = ticks / 300, ext = ticks % 300;
            p[6] = uchar(base >> 25);
            p[7] = uchar(base >> 17);
            p[8] = uchar(base >> 9);
            p[9] = uchar(base >> 1);
            p[10] = uchar(((base & 1) << 7) | 0x7E | (ext >> 8));
            p[11] = uchar(ext);
            if (pes) {
                lastPesMs = ms;
                const quint64 pts = base + 45000; // presented half a second after it arrives
                const uchar h[] = { 0, 0, 1, 0xE0, 0, 0, 0x80, 0xC0, 10 };
                std::memcpy(p + 12, h, sizeof h);
                timestamp(p + 21, 3, pts);
                timestamp(p + 26, 1, pts - 3600);
            }
        } else if (i % 20 == 7) {
            header(p, 0x1FFF, false, 1, 0);
        } else if (i % 10 == 3) {
            header(p, 0x101, false, 1, cc[0x101]++);
        } else {
            header(p, 0x100, false, 1, cc[0x100]++);
        }
        chunk.append(reinterpret_cast<const char *>(p), PKT);
        if (chunk.size() >= PKT * 4096) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    QTextStream(stdout) << out << ": " << total << " packets, " << bitrate << " bit/s, " << seconds << " s\n";
    return 0;
}

int pipeline(double seconds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.ts");
    // Ten seconds at 65 Mbit/s: wraps happen but reads stay in the page cache.
    if (makeFile(path, 65000000, 10) != 0)
        return 2;
    const quint64 bitrate = 65000000;
    tsloop loop(nullptr, path, bitrate, 0, tsloop::loopEnabled, true, true, false, false, 1000, 0, 1);
    tsstamp *stamp = new tsstamp(&loop, bitrate, true);
    stamp->setPcrPidOf(0x100, 0x100);
    stamp->setPcrPidOf(0x101, 0x100);
    tsudpsend sender(stamp, quint32(bitrate), QHostAddress::LocalHost, 9, 7, true);
    sender.setPipelineLock(&loop.pipelineLock());
    QElapsedTimer timer;
    timer.start();
    quint64 datagrams = 0;
    while (timer.nsecsElapsed() < qint64(seconds * 1e9)) {
        for (int i = 0; i < 1000; ++i)
            sender.buildDatagram(qint64(datagrams++) * 1000);
    }
    const double elapsed = timer.nsecsElapsed() / 1e9;
    const double packetsPerSecond = datagrams * 7 / elapsed;
    const double needed = bitrate / (PKT * 8.0);
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(1);
    out << "pipeline: " << datagrams << " datagrams in " << elapsed << " s = " << packetsPerSecond << " packets/s ("
        << packetsPerSecond * PKT * 8 / 1e6 << " Mbit/s), " << packetsPerSecond / needed << " x the 65 Mbit/s need of "
        << needed << " packets/s; " << elapsed * 1e9 / (datagrams * 7) << " ns per packet\n";
    return 0;
}

double threadCpuSeconds()
{
#if defined(Q_OS_LINUX)
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return 0;
#endif
}

#ifdef Q_OS_LINUX
double percentileOf(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(q * double(values.size() - 1) + 0.5)];
}

// The real pacing thread and sender on a local sink for a while, every clock reading the sender makes
// recorded: when each wake-up came against the deadline it slept for, when each datagram left against its
// nominal due time, and what the whole path costs in CPU, to set beside wake-cost at the same bitrate.
int pace(quint64 bitrate, double seconds, const QString &tracePath)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("pace.ts");
    if (makeFile(path, bitrate, 10) != 0)
        return 2;
    QUdpSocket sink; // bound, never read: a full queue drops quietly, and no receiver is woken
    sink.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
    if (!sink.bind(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "pace: cannot bind a local sink\n");
        return 2;
    }
    tsloop loop(nullptr, path, bitrate, 0, tsloop::loopEnabled, true, true, false, false, 1000, 0, 1);
    tsstamp *stamp = new tsstamp(&loop, bitrate, true);
    tsudpsend sender(stamp, quint32(bitrate), QHostAddress::LocalHost, sink.localPort(), 7, false);
    sender.setPipelineLock(&loop.pipelineLock());
    // Each reading with the datagrams sent by then: a reading after no new datagram is a wake-up.
    struct reading {
        qint64 ns;
        quint64 sent;
    };
    std::vector<reading> readings;
    readings.reserve(size_t(seconds * bitrate / 10528 * 2.2) + 1024);
    sender.setClock([&] {
        const qint64 now = pacingclock::nowNs();
        if (readings.size() < readings.capacity())
            readings.push_back({ now, sender.datagramsSent() });
        return now;
    });
    streamingQThread thread(nullptr);
    thread.setSender(&sender);
    rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    const qint64 start = pacingclock::nowNs();
    thread.start();
    QThread::msleep(quint64(seconds * 1000));
    thread.requestStop();
    thread.waitFinished();
    getrusage(RUSAGE_SELF, &after);
    const double wall = (pacingclock::nowNs() - start) / 1e9;
    const auto cpu = [](const rusage &u) {
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    if (readings.size() < 3)
        return 1;
    const qint64 origin = readings.front().ns;
    std::vector<double> lateUs, gaps, wakeLateUs, workUs;
    std::vector<qint64> sentAt;
    qint64 deadline = origin;
    QFile trace(tracePath);
    QTextStream out(&trace);
    if (!tracePath.isEmpty())
        trace.open(QIODevice::WriteOnly);
    for (size_t i = 1; i < readings.size(); ++i) {
        const reading &r = readings[i];
        const qint64 due = origin + pacer::dueOffsetNs(sentAt.size(), bitrate, 10528);
        if (r.sent == readings[i - 1].sent) {
            wakeLateUs.push_back((r.ns - std::max(deadline, due)) / 1e3);
            continue;
        }
        lateUs.push_back((r.ns - due) / 1e3);
        // From the reading before (the wake-up, or the previous send of a catch-up) to the one after the send:
        // what lies between the wake-up and the wire on the pacing thread.
        workUs.push_back((r.ns - readings[i - 1].ns) / 1e3);
        if (!sentAt.empty())
            gaps.push_back(double(r.ns - sentAt.back()));
        if (trace.isOpen())
            out << r.ns - origin << ' ' << due - origin << ' ' << r.ns - readings[i - 1].ns << '\n';
        sentAt.push_back(r.ns);
        deadline = r.ns;
    }
    const double period = 10528e9 / double(bitrate);
    std::printf("pace: %.1f Mbit/s, %zu datagrams in %.1f s, %llu stalls; CPU %.1f %% of one core, %.1f us per datagram; "
                "gap p99 %.2fx max %.1fx of the period; datagram lateness p50 %.0f p99 %.0f p99.9 %.0f max %.0f us; "
                "wake-ups after the due time p50 %.0f p99 %.0f max %.0f us; wake-up to send p50 %.0f "
                "p99 %.0f p99.9 %.0f max %.0f us (%s)\n",
        bitrate / 1e6, sentAt.size(), wall, static_cast<unsigned long long>(sender.stalls()),
        (cpu(after) - cpu(before)) / wall * 100, sentAt.empty() ? 0.0 : (cpu(after) - cpu(before)) / sentAt.size() * 1e6,
        percentileOf(gaps, 0.99) / period, gaps.empty() ? 0.0 : *std::max_element(gaps.begin(), gaps.end()) / period,
        percentileOf(lateUs, 0.5), percentileOf(lateUs, 0.99), percentileOf(lateUs, 0.999),
        lateUs.empty() ? 0.0 : *std::max_element(lateUs.begin(), lateUs.end()), percentileOf(wakeLateUs, 0.5),
        percentileOf(wakeLateUs, 0.99), wakeLateUs.empty() ? 0.0 : *std::max_element(wakeLateUs.begin(), wakeLateUs.end()),
        percentileOf(workUs, 0.5), percentileOf(workUs, 0.99), percentileOf(workUs, 0.999),
        workUs.empty() ? 0.0 : *std::max_element(workUs.begin(), workUs.end()),
        thread.realtimeGranted() ? "real-time class" : "normal class");
    return 0;
}
#endif

// What one wake-up per datagram costs on this machine, whatever the sender does around it: the floor of
// the pacing thread's CPU share at that bitrate.
int wakeCost(quint64 bitrate, qint64 spinNs, double seconds)
{
    const qint64 period = qint64(10528 * 1e9 / double(bitrate));
    const int count = int(seconds * 1e9 / double(period));
    pacingclock::prepareThread();
    std::vector<qint64> sent;
    sent.reserve(size_t(count));
    const double cpu0 = threadCpuSeconds();
    const qint64 origin = pacingclock::nowNs();
    qint64 lateness = 0;
    for (int k = 0; k < count; ++k) {
        const qint64 due = origin + qint64(k) * period;
        pacingclock::sleepUntil(due, spinNs);
        const qint64 now = pacingclock::nowNs();
        lateness += now - due;
        sent.push_back(now);
    }
    const double elapsed = (pacingclock::nowNs() - origin) / 1e9;
    const double cpu = threadCpuSeconds() - cpu0;
    std::vector<qint64> gaps;
    for (size_t i = 1; i < sent.size(); ++i)
        gaps.push_back(sent[i] - sent[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    const auto ratio = [&](double q) { return gaps.empty() ? 0.0 : gaps[size_t(q * double(gaps.size() - 1))] / double(period); };
    std::printf("wake-cost: %.1f Mbit/s, period %lld ns, spin %lld ns: %d wakes, CPU %.1f %% of one core, %.1f us per wake; "
                "gap p50 %.2fx p99 %.2fx max %.1fx of the period; mean lateness %.1f us\n",
        bitrate / 1e6, static_cast<long long>(period), static_cast<long long>(spinNs), count, cpu / elapsed * 100,
        count ? cpu / count * 1e6 : 0.0, ratio(0.5), ratio(0.99), ratio(1.0), count ? lateness / 1e3 / count : 0.0);
    return 0;
}

#ifdef Q_OS_LINUX
qint64 realtimeNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// PCR arrival error: how far each PCR of the first PCR PID arrives from the straight line that best fits
// arrival time over PCR value (least squares per time base, so a constant rate error is no error).
std::vector<double> pcrArrivalErrorsUs(const std::vector<std::pair<qint64, quint64>> &pcrs)
{
    std::vector<double> errors;
    size_t begin = 0;
    while (begin < pcrs.size()) {
        // A time base ends where the PCR steps away from the arrival clock by more than 100 ms (a wrap).
        size_t end = begin + 1;
        while (end < pcrs.size()) {
            const double dPcr = (double(pcrs[end].second) - double(pcrs[end - 1].second)) / 27e6;
            const double dArrival = (pcrs[end].first - pcrs[end - 1].first) / 1e9;
            if (std::fabs(dPcr - dArrival) > 0.1)
                break;
            ++end;
        }
        if (end - begin >= 3) {
            long double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
            for (size_t i = begin; i < end; ++i) {
                const long double x = (long double)(pcrs[i].second - pcrs[begin].second) / 27e6L;
                const long double y = (pcrs[i].first - pcrs[begin].first) / 1e9L;
                n += 1;
                sx += x;
                sy += y;
                sxx += x * x;
                sxy += x * y;
            }
            const long double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
            const long double intercept = (sy - slope * sx) / n;
            for (size_t i = begin; i < end; ++i) {
                const long double x = (long double)(pcrs[i].second - pcrs[begin].second) / 27e6L;
                const long double y = (pcrs[i].first - pcrs[begin].first) / 1e9L;
                errors.push_back(double(std::fabs(y - intercept - slope * x) * 1e6L));
            }
        }
        begin = end;
    }
    return errors;
}

// MDI delay factor (RFC 4445) per 1 s interval against the nominal rate: the spread of the virtual buffer a
// receiver draining at that rate would need, as time. The worst interval is the figure.
double worstDelayFactorMs(const std::vector<std::pair<qint64, int>> &arrivals, quint64 bitrate)
{
    const double bytesPerNs = bitrate / 8e9;
    double worst = 0;
    size_t i = 0;
    while (i < arrivals.size()) {
        const qint64 start = arrivals[i].first;
        double received = 0, low = 0, high = 0;
        for (; i < arrivals.size() && arrivals[i].first - start < 1000000000; ++i) {
            const double before = received - bytesPerNs * double(arrivals[i].first - start);
            received += arrivals[i].second;
            low = std::min(low, before);
            high = std::max(high, before + arrivals[i].second);
        }
        worst = std::max(worst, (high - low) / bytesPerNs / 1e6);
    }
    return worst;
}

// A kernel-timestamped receiver for the loopback comparison: the monitor's figures plus the PCR arrival
// error and the MDI delay factor, as one JSON line; --trace writes every datagram's arrival and size.
int receive(const QString &listen, double seconds, quint64 bitrate, const QString &tracePath)
{
    const int colon = listen.lastIndexOf(QLatin1Char(':'));
    const QHostAddress address(listen.left(colon));
    const quint16 port = quint16(listen.mid(colon + 1).toUInt());
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    const int buffer = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (address.isNull() || port == 0 || bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "receive: cannot listen on %s\n", qPrintable(listen));
        return 2;
    }
    std::fprintf(stderr, "listening on %s\n", qPrintable(listen));
    std::fflush(stderr);

    tsmonitor monitor;
    std::vector<std::pair<qint64, int>> arrivals; // arrival ns, TS payload bytes
    std::vector<std::pair<qint64, quint64>> pcrs; // arrival ns, unwrapped PCR of the first PCR PID
    arrivals.reserve(size_t(seconds * 7000));
    int pcrPid = -1;
    quint64 lastPcr = 0, unwrapped = 0;
    uchar data[65536];
    char control[256];
    qint64 first = -1;
    const qint64 limit = qint64(seconds * 1e9);
    const qint64 started = realtimeNs();
    // The socket is drained once a millisecond rather than waited on: on loopback the sender's own send
    // call delivers each datagram, and waking a waiting receiver there would be billed to the sender.
    // Arrival times are the kernel's, so the batching does not blur them.
    const timespec tick { 0, 1000000 };
    for (;;) {
        iovec io { data, sizeof data };
        msghdr message {};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &message, MSG_DONTWAIT);
        if (n <= 0) {
            const qint64 now = realtimeNs();
            if ((first < 0 && now - started > std::max<qint64>(60000000000LL, limit)) || (first >= 0 && now - first >= limit))
                break;
            nanosleep(&tick, nullptr);
            continue;
        }
        const datagramarrival kernel = datagramarrival::of(message);
        if (kernel.hasDrops)
            monitor.setReceiverDrops(kernel.drops);
        const qint64 arrival = kernel.arrivalNs >= 0 ? kernel.arrivalNs : realtimeNs();
        if (first < 0)
            first = arrival;
        if (arrival - first >= limit)
            break;
        monitor.datagram(data, int(n), arrival);
        const int offset = (n >= 12 && (data[0] & 0xC0) == 0x80 && (n - 12) % PKT == 0) ? 12 : 0;
        arrivals.emplace_back(arrival, int(n) - offset);
        for (int at = offset; at + PKT <= n; at += PKT) {
            const uchar *packet = data + at;
            const int pid = ((packet[1] & 0x1F) << 8) | packet[2];
            if (packet[0] != 0x47 || !tspacket::hasPcr(packet) || packet[4] < 7 || (pcrPid >= 0 && pid != pcrPid))
                continue;
            const quint64 pcr = tspacket::pcr(packet);
            unwrapped = pcrPid < 0 ? pcr : unwrapped + (pcr + tspacket::PCR_WRAP - lastPcr) % tspacket::PCR_WRAP;
            pcrPid = pid;
            lastPcr = pcr;
            pcrs.emplace_back(arrival, unwrapped);
        }
    }
    close(fd);
    if (arrivals.empty()) {
        std::fprintf(stderr, "receive: nothing arrived on %s\n", qPrintable(listen));
        return 1;
    }
    if (!tracePath.isEmpty()) {
        QFile trace(tracePath);
        if (trace.open(QIODevice::WriteOnly)) {
            QTextStream out(&trace);
            for (const auto &a : arrivals)
                out << a.first - first << ' ' << a.second << '\n';
        }
    }
    const tsmonitor::report r = monitor.finish();
    QJsonObject o = r.toJson();
    o.insert(QStringLiteral("pcr_arrival_error_p99_us"), percentileOf(pcrArrivalErrorsUs(pcrs), 0.99));
    o.insert(QStringLiteral("mdi_df_ms"), worstDelayFactorMs(arrivals, bitrate));
    QTextStream(stdout) << QJsonDocument(o).toJson(QJsonDocument::Compact) << '\n';
    return 0;
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("make-file")) {
        quint64 bitrate = 0;
        double seconds = 0;
        for (int i = 3; i + 1 < args.size(); i += 2) {
            if (args[i] == QLatin1String("--bitrate"))
                bitrate = args[i + 1].toULongLong();
            else if (args[i] == QLatin1String("--seconds"))
                seconds = args[i + 1].toDouble();
        }
        if (bitrate < 100000 || seconds <= 0) {
            QTextStream(stderr) << "make-file OUT --bitrate N --seconds S\n";
            return 2;
        }
        return makeFile(args[2], bitrate, seconds);
    }
    if (args.size() >= 2 && args[1] == QLatin1String("pipeline")) {
        double seconds = 3;
        if (args.size() >= 4 && args[2] == QLatin1String("--seconds"))
            seconds = args[3].toDouble();
        return pipeline(seconds > 0 ? seconds : 3);
    }
    if (args.size() >= 2 && args[1] == QLatin1String("wake-cost")) {
        quint64 bitrate = 65000000;
        qint64 spinNs = pacingclock::defaultSpinNs;
        double seconds = 5;
        for (int i = 2; i + 1 < args.size(); i += 2) {
            if (args[i] == QLatin1String("--bitrate"))
                bitrate = args[i + 1].toULongLong();
            else if (args[i] == QLatin1String("--spin"))
                spinNs = args[i + 1].toLongLong();
            else if (args[i] == QLatin1String("--seconds"))
                seconds = args[i + 1].toDouble();
        }
        if (bitrate < 100000 || spinNs < 0 || seconds <= 0) {
            QTextStream(stderr) << "wake-cost [--bitrate N] [--spin NS] [--seconds S]\n";
            return 2;
        }
        return wakeCost(bitrate, spinNs, seconds);
    }
#ifdef Q_OS_LINUX
    if (args.size() >= 2 && args[1] == QLatin1String("pace")) {
        quint64 bitrate = 65000000;
        double seconds = 10;
        QString trace;
        for (int i = 2; i + 1 < args.size(); i += 2) {
            if (args[i] == QLatin1String("--bitrate"))
                bitrate = args[i + 1].toULongLong();
            else if (args[i] == QLatin1String("--seconds"))
                seconds = args[i + 1].toDouble();
            else if (args[i] == QLatin1String("--trace"))
                trace = args[i + 1];
        }
        if (bitrate < 100000 || bitrate > 65000000 || seconds <= 0) {
            QTextStream(stderr) << "pace [--bitrate N] [--seconds S] [--trace FILE]\n";
            return 2;
        }
        return pace(bitrate, seconds, trace);
    }
    if (args.size() >= 2 && args[1] == QLatin1String("receive")) {
        QString listen, trace;
        quint64 bitrate = 0;
        double seconds = 20;
        for (int i = 2; i + 1 < args.size(); i += 2) {
            if (args[i] == QLatin1String("--listen"))
                listen = args[i + 1];
            else if (args[i] == QLatin1String("--bitrate"))
                bitrate = args[i + 1].toULongLong();
            else if (args[i] == QLatin1String("--seconds"))
                seconds = args[i + 1].toDouble();
            else if (args[i] == QLatin1String("--trace"))
                trace = args[i + 1];
        }
        if (listen.lastIndexOf(QLatin1Char(':')) <= 0 || bitrate < 100000 || seconds <= 0) {
            QTextStream(stderr) << "receive --listen ADDR:PORT --bitrate N [--seconds S] [--trace FILE]\n";
            return 2;
        }
        return receive(listen, seconds, bitrate, trace);
    }
#endif
    QTextStream(stderr) << "usage: streaming_bench pipeline [--seconds S] | wake-cost [--bitrate N] [--spin NS] "
                           "[--seconds S] | pace [--bitrate N] [--seconds S] [--trace FILE] | make-file OUT --bitrate N --seconds S | receive --listen ADDR:PORT --bitrate N "
                           "[--seconds S] [--trace FILE]\n";
    return 2;
}
