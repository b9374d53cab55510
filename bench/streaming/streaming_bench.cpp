// Streaming engine benchmark: the packet pipeline alone (read, renumber, rewrite clocks, build
// datagrams; no socket), and a writer of constant-bitrate test files for the loopback comparison.
//
//   streaming_bench pipeline [--seconds S]            packets/s through the pipeline against 65 Mbit/s
//   streaming_bench wake-cost [--bitrate N] [--spin NS] [--seconds S]   the pacing thread's sleep alone:
//                                                     CPU share and wake-up precision of one sleepUntil() per
//                                                     datagram at that bitrate (no packet, no socket)
//   streaming_bench make-file OUT --bitrate N --seconds S   a CBR file: PAT, PMT, video PID 0x100 with a
//                                                     PCR every 20 ms and PES with PTS/DTS every 40 ms,
//                                                     audio PID 0x101, null packets

#include "pacingclock.h"
#include "streamingtools.h"
#include "tsloop.h"
#include "tsstamp.h"
#include "tsudpsend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
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
    QTextStream(stderr) << "usage: streaming_bench pipeline [--seconds S] | wake-cost [--bitrate N] [--spin NS] "
                           "[--seconds S] | make-file OUT --bitrate N --seconds S\n";
    return 2;
}
