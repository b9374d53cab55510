#pragma once
// A scripted modulator console on the master side of a pseudo-terminal: collects the command lines the
// program writes (each ended by LF CR) and answers them through a responder, optionally after a delay.
// It notes when a line arrives while an answer to the previous one is still due, which would mean two lines
// outstanding. Header-only, test thread only.

#include "ptypair.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>

class FakeModulator
{
public:
    // Returns the answer to one line (without its LF CR); an empty answer leaves the line unanswered.
    using Responder = std::function<QByteArray(const QByteArray &line)>;

    FakeModulator() = default;
    ~FakeModulator() { stop(); }
    FakeModulator(const FakeModulator &) = delete;
    FakeModulator &operator=(const FakeModulator &) = delete;

    bool isValid() const { return pty.isValid(); }
    QString portName() const { return pty.slavePath(); }

    // Only once the program holds the slave side: before that the master reports a hang-up without end.
    void start()
    {
        notifier = new QSocketNotifier(pty.fd(), QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, &context, [this] { readLines(); });
    }
    void stop()
    {
        delete notifier;
        notifier = nullptr;
    }
    // The device disappears: the program's side sees its serial port fail.
    void vanish()
    {
        stop();
        pty.closeMaster();
    }

    void setResponder(Responder r) { responder = std::move(r); }
    void setAnswerDelay(int ms) { answerDelayMs = ms; }

    // One device message: the console ends each with NUL.
    void send(const QByteArray &text) { pty.write(text + '\0'); }

    QList<QByteArray> lines;
    int overlaps = 0;

private:
    void readLines()
    {
        const QByteArray got = pty.readAvailable();
        if (got.isEmpty()) {
            // Hang-up (the program closed its port): stop listening instead of spinning.
            if (notifier)
                notifier->setEnabled(false);
            return;
        }
        buffer += got;
        for (int end = buffer.indexOf("\n\r"); end >= 0; end = buffer.indexOf("\n\r")) {
            const QByteArray line = buffer.left(end);
            buffer.remove(0, end + 2);
            if (answersDue > 0)
                ++overlaps;
            lines.append(line);
            const QByteArray answer = responder ? responder(line) : QByteArray();
            if (answer.isEmpty())
                continue;
            if (answerDelayMs <= 0) {
                send(answer);
                continue;
            }
            ++answersDue;
            QTimer::singleShot(answerDelayMs, &context, [this, answer] {
                --answersDue;
                if (pty.fd() >= 0)
                    send(answer);
            });
        }
    }

    PtyPair pty;
    QObject context; // delayed answers die with the device
    QSocketNotifier *notifier = nullptr;
    Responder responder;
    QByteArray buffer;
    int answerDelayMs = 0;
    int answersDue = 0;
};
