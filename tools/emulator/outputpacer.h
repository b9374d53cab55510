#pragma once
// Shapes what a link writes: normally each device message in one write; with the fault options a
// delay before each message, several small writes per message, or bytes trickled at serial speed.
// Time is passed in, so the schedule is checked without a clock.

#include <QByteArray>
#include <QList>

#include <deque>

struct PacingOptions {
    int delayMs = 0; // before each message
    bool chunked = false; // several small writes per message
    bool baudPace = false; // 115200 baud, 8N1: 11.52 bytes per millisecond
};

class OutputPacer
{
public:
    using Options = PacingOptions;

    static constexpr double BytesPerMs = 11.52;
    static constexpr int ChunkGapMs = 3;

    explicit OutputPacer(const Options &options = Options());

    void enqueue(const QByteArray &message, qint64 nowMs);
    // The writes due by nowMs, in order; each goes to the link in one write call.
    QList<QByteArray> takeDue(qint64 nowMs);
    // When the next write falls due, or -1 when nothing is queued.
    qint64 nextDueMs() const;
    bool isEmpty() const { return pieces.empty(); }
    void clear();

private:
    struct Piece {
        QByteArray bytes;
        double startMs; // ready time, or when its first byte starts on the paced line
        qsizetype sent = 0;
    };

    double byteDueMs(const Piece &p, qsizetype index) const;

    Options options;
    std::deque<Piece> pieces;
    double lineFreeMs = 0.0;
};
