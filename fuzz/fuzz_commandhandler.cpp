// Device answers into the answer recogniser and the status parser. The first input byte chooses the
// engine state the messages meet: idle, waiting for a reading, waiting for a setting's verdict, or a
// queue of requests each waiting in its nested loop (messages are delivered from inside the loop). The
// rest is cut into messages at NUL bytes, as the link frames them. Properties: a verdict leaves the
// engine idle with one line outstanding at most, every reported code is a known one, a reading is
// completed only by a message of at least two lines, and the status fields stay known codes.

#include "commandhandler.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdint>
#include <cstdlib>

namespace
{
QCoreApplication *app()
{
    static int argc = 1;
    static char name[] = "fuzz_commandhandler";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return instance;
}

void checkStatus(const CommandHandler &engine)
{
    for (int code : { int(engine.ipStatusCode()), int(engine.asiStatusCode()), int(engine.pllStatusCode()) }) {
        if (code < CommandHandler::NoStatus || code > CommandHandler::LockedInternal)
            abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    app();
    if (size < 1 || size > 8192)
        return 0;
    const int mode = bytes[0] % 4;
    const QByteArray raw(reinterpret_cast<const char *>(bytes + 1), int(size - 1));
    QStringList messages;
    for (const QByteArray &part : raw.split('\0')) {
        if (!part.isEmpty())
            messages << QString::fromLocal8Bit(part);
    }

    CommandHandler engine(nullptr, nullptr);
    engine.setTimeoutInterval(1);
    int infos = 0;
    QObject::connect(&engine, &CommandHandler::info, [&infos](CommandHandler::infoMsg code) {
        if (code < CommandHandler::CommandOk || code > CommandHandler::DownloadComplete)
            abort();
        ++infos;
    });

    if (mode < 3) {
        if (mode == 1 && !engine.sendCommandToModulator(QStringLiteral("getStatus"), QString()))
            abort();
        if (mode == 2 && !engine.sendCommandToModulator(QStringLiteral("setCodeRate"), QStringLiteral("5/6")))
            abort();
        bool waiting = mode != 0;
        for (const QString &m : messages) {
            const int before = infos;
            engine.emissionCheck(m);
            engine.parseStatus();
            checkStatus(engine);
            if (waiting && engine.engineState() == CommandHandler::Idle) {
                // A reading ends only on a whole answer; a verdict reports at least one code.
                if (mode == 1 && m.count(QLatin1Char('\n')) < 2)
                    abort();
                if (infos == before)
                    abort();
                waiting = false;
            } else if (!waiting && engine.engineState() != CommandHandler::Idle) {
                abort();
            }
        }
        return 0;
    }

    // Queue: a setting, a status reading and an identity reading; each waits in its own nested loop while
    // a zero-time timer hands it the next message (the 1 ms time-out ends a wait the messages never end).
    int next = 0;
    const auto feedOne = [&] {
        QTimer::singleShot(0, &engine, [&] {
            if (next < messages.size())
                engine.emissionCheck(messages.at(next++));
        });
    };
    feedOne();
    engine.queueInt(CommandHandler::RequestType::setCodeRate, 3);
    feedOne();
    engine.askModulator(CommandHandler::RequestType::getStatus);
    checkStatus(engine);
    feedOne();
    const QString id = engine.getID();
    if (engine.engineState() != CommandHandler::Idle || engine.pendingRequests() != 0)
        abort();
    if (!id.isEmpty() && id.count(QLatin1Char('\n')) < 2)
        abort();
    // Whatever is left arrives with the engine idle.
    while (next < messages.size()) {
        engine.emissionCheck(messages.at(next++));
        if (engine.engineState() != CommandHandler::Idle)
            abort();
    }
    QCoreApplication::processEvents();
    return 0;
}
