#include "outputpacer.h"

#include <algorithm>
#include <cmath>

OutputPacer::OutputPacer(const Options &o)
    : options(o)
{
}

void OutputPacer::enqueue(const QByteArray &message, qint64 nowMs)
{
    if (message.isEmpty())
        return;
    double ready = double(nowMs + std::max(0, options.delayMs));
    // Messages never overtake one another, whatever their delay.
    if (!pieces.empty())
        ready = std::max(ready, pieces.back().startMs);
    QList<QByteArray> parts;
    if (options.chunked) {
        // At least three writes even for "OK", so a reader sees the message arrive in pieces.
        const qsizetype size = std::max<qsizetype>(1, std::min<qsizetype>(16, (message.size() + 2) / 3));
        for (qsizetype i = 0; i < message.size(); i += size)
            parts << message.mid(i, size);
    } else {
        parts << message;
    }
    for (int i = 0; i < parts.size(); ++i) {
        double start = ready + double(i * ChunkGapMs);
        if (options.baudPace) {
            start = std::max(start, lineFreeMs);
            lineFreeMs = start + double(parts.at(i).size()) / BytesPerMs;
        }
        pieces.push_back(Piece { parts.at(i), start, 0 });
    }
}

double OutputPacer::byteDueMs(const Piece &p, qsizetype index) const
{
    if (!options.baudPace)
        return p.startMs;
    return p.startMs + double(index + 1) / BytesPerMs;
}

QList<QByteArray> OutputPacer::takeDue(qint64 nowMs)
{
    QList<QByteArray> out;
    while (!pieces.empty()) {
        Piece &p = pieces.front();
        qsizetype due = p.sent;
        while (due < p.bytes.size() && byteDueMs(p, due) <= double(nowMs) + 1e-9)
            ++due;
        if (due == p.sent)
            break;
        out << p.bytes.mid(p.sent, due - p.sent);
        p.sent = due;
        if (p.sent < p.bytes.size())
            break;
        pieces.pop_front();
    }
    return out;
}

qint64 OutputPacer::nextDueMs() const
{
    if (pieces.empty())
        return -1;
    const Piece &p = pieces.front();
    return qint64(std::ceil(byteDueMs(p, p.sent) - 1e-9));
}

void OutputPacer::clear()
{
    pieces.clear();
}
