#pragma once
// Answers a link's login prompts the way the control panel does (user "admin", password "korva").

#include "connection.h"

inline QMetaObject::Connection answerLogin(Connection &link)
{
    return QObject::connect(&link, &Connection::logProcess, &link, [&link](Connection::LogRequest r) {
        if (r != Connection::LoginRequest && r != Connection::PasswordRequest)
            return;
        const bool login = r == Connection::LoginRequest;
        link.sendData(login ? QStringLiteral("admin\r\n") : QStringLiteral("korva\r\n"));
        link.setLogState(login ? Connection::WaitPassword : Connection::WaitResult);
    });
}
