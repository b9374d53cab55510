// Stream monitor memory over a long run, without waiting for it: feeds the monitor of nerio-ts receive
// a 4 Mbit/s stream (7-packet datagrams every 2.632 ms, a PCR every 21 ms) on simulated arrival times and
// prints the process's resident memory after each simulated hour, then the figures it found.
//
// Usage: monitor_bench [hours, default 24]

#include "tsmonitor.h"

#include <QFile>
#include <QTextStream>

#include <cstring>

namespace
{
constexpr quint64 BITRATE = 4000000;
constexpr quint64 CLOCK = 27000000;
constexpr int PKT = 188;
constexpr int PACKETS = 7;
constexpr qint64 SPACING_NS = qint64(PACKETS * PKT * 8) * 1000000000 / qint64(BITRATE);
constexpr quint64 PCR_EVERY = 8; // datagrams

qint64 residentKb()
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

// PID 0x100: a PCR alone (adaptation field only, counter unchanged); PID 0x101: payload, counting.
void fill(uchar *datagram, quint64 index, quint8 &counter)
{
    for (int k = 0; k < PACKETS; ++k) {
        uchar *p = datagram + k * PKT;
        std::memset(p, 0xFF, PKT);
        p[0] = 0x47;
        p[1] = 0x01;
        if (k == 0 && index % PCR_EVERY == 0) {
            const quint64 pcr = index * PACKETS * PKT * 8 * CLOCK / BITRATE;
            const quint64 base = pcr / 300;
            const quint64 extension = pcr % 300;
            p[2] = 0x00;
            p[3] = 0x20;
            p[4] = 183;
            p[5] = 0x10;
            p[6] = uchar(base >> 25);
            p[7] = uchar(base >> 17);
            p[8] = uchar(base >> 9);
            p[9] = uchar(base >> 1);
            p[10] = uchar(((base & 1) << 7) | 0x7E | (extension >> 8));
            p[11] = uchar(extension);
        } else {
            p[2] = 0x01;
            p[3] = uchar(0x10 | (counter++ & 0x0F));
        }
    }
}
} // namespace

int main(int argc, char *argv[])
{
    const int hours = argc > 1 ? QByteArray(argv[1]).toInt() : 24;
    QTextStream out(stdout);
    out << "hour  resident KB\n"
        << "0     " << residentKb() << Qt::endl;
    tsmonitor monitor;
    uchar datagram[PACKETS * PKT];
    quint8 counter = 0;
    quint64 index = 0;
    for (int hour = 1; hour <= hours; ++hour) {
        for (const quint64 end = quint64(hour * 3600000000000LL / SPACING_NS); index < end; ++index) {
            fill(datagram, index, counter);
            monitor.datagram(datagram, int(sizeof datagram), qint64(index) * SPACING_NS);
        }
        out << QString::number(hour).leftJustified(6) << residentKb() << Qt::endl;
    }
    const tsmonitor::report r = monitor.finish();
    const tstimeline history = monitor.history();
    out << r.pcrCount << " PCRs, accuracy " << r.pcrAccuracyNs << " ns, " << r.ccErrors << " continuity errors; "
        << history.points().size() << " points of " << history.secondsPerPoint() << " s\n";
    return 0;
}
