#pragma once
// A scripted modulator console on the master side of a pseudo-terminal: collects the command lines the
// program writes (each ended by LF CR) and answers them through a responder, optionally after a delay.
// It counts lines that arrive while an answer to the previous one is still due, which would mean two lines
// outstanding. Header-only, test thread only.

#include "ptypair.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <memory>

class FakeModulator
{
public:
    // Returns the answer to one line (without its LF CR); an empty answer leaves the line unanswered.
    using Responder = std::function<QByteArray(const QByteArray &line)>;

    bool isValid() const { return pty.isValid(); }
    QString portName() const { return pty.slavePath(); }
    // Only once the program holds the slave side: before that the master reports a hang-up without end.
    void start()
    {
        notifier = std::make_unique<QSocketNotifier>(pty.fd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &context, [this] { readLines(); });
    }
    // The device disappears: the program's side sees its serial port fail.
    void vanish()
    {
        notifier.reset();
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
        if (got.isEmpty()) // hang-up (the program closed its port): stop listening instead of spinning
            return notifier->setEnabled(false);
        buffer += got;
        for (int end = buffer.indexOf("\n\r"); end >= 0; end = buffer.indexOf("\n\r")) {
            const QByteArray line = buffer.left(end);
            lines.append(line);
            buffer.remove(0, end + 2);
            overlaps += answersDue > 0 ? 1 : 0;
            const QByteArray answer = responder ? responder(line) : QByteArray();
            if (!answer.isEmpty() && answerDelayMs <= 0)
                send(answer);
            if (answer.isEmpty() || answerDelayMs <= 0)
                continue;
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
    std::unique_ptr<QSocketNotifier> notifier;
    Responder responder;
    QByteArray buffer;
    int answerDelayMs = 0;
    int answersDue = 0;
};
