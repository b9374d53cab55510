#pragma once
// Records every signal of a CommandHandler as one line of text, in emission order, so that tests compare
// whole sequences: "info <code>", "<int|bool|text> <code> <type>", "<core|ip|id|tuning> <code> [<text>]",
// "status <code> <ip>,<asi>,<pll> [<raw>] [<net>] [<global>]". Test thread only.

#include "commandhandler.h"

#include <QStringList>

inline void record(CommandHandler *h, QStringList *log)
{
    QObject::connect(
        h, &CommandHandler::info, [log](CommandHandler::infoMsg m) { *log << QStringLiteral("info %1").arg(m); });
    const auto setting = [log](const char *tag) {
        return [log, tag](CommandHandler::infoMsg &m, CommandHandler::RequestType &r) {
            *log << QStringLiteral("%1 %2 %3").arg(QLatin1String(tag)).arg(m).arg(int(r));
        };
    };
    QObject::connect(h, &CommandHandler::setIntFinished, setting("int"));
    QObject::connect(h, &CommandHandler::setBoolFinished, setting("bool"));
    QObject::connect(h, &CommandHandler::setStringFinished, setting("text"));
    const auto reading = [log](const char *tag) {
        return [log, tag](CommandHandler::infoMsg &m, QString &val) {
            *log << QStringLiteral("%1 %2 [%3]").arg(QLatin1String(tag)).arg(m).arg(val);
        };
    };
    QObject::connect(h, &CommandHandler::allParamReady, reading("core"));
    QObject::connect(h, &CommandHandler::IPParamReady, reading("ip"));
    QObject::connect(h, &CommandHandler::IDReady, reading("id"));
    QObject::connect(h, &CommandHandler::tuningValuesReady, reading("tuning"));
    QObject::connect(h, &CommandHandler::inputStatusReady,
        [log](CommandHandler::infoMsg &m, QList<CommandHandler::inputStatus> in, QString raw, QString net,
            QString global) {
            QStringList codes;
            for (CommandHandler::inputStatus s : in)
                codes << QString::number(s);
            *log << QStringLiteral("status %1 %2 [%3] [%4] [%5]")
                        .arg(m)
                        .arg(codes.join(QLatin1Char(',')))
                        .arg(raw, net, global);
        });
}
