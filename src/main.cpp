#include "mainwindowimpl.h"
#include "welcomewindow.h"

#include <QApplication>

namespace {
const char *const APPLICATION_VERSION = "1.0";
const char *const DOWNLOAD_ADDRESS = "ftp://ftp.calvora.example/nerio/";
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nerio-control"));
    QApplication::setApplicationVersion(QString::fromLatin1(APPLICATION_VERSION));

    MainWindowImpl window;
    welcomewindow welcome(nullptr, QString::fromLatin1(APPLICATION_VERSION), QString::fromLatin1(DOWNLOAD_ADDRESS));
    welcome.show();
    // Take the keyboard at once, also without a window manager, so Enter or Space starts.
    welcome.activateWindow();

    QObject::connect(&welcome, &welcomewindow::startApplication, &window, &MainWindowImpl::startApplication);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
