#include "commandline.h"
#include "mainwindowimpl.h"
#include "welcomewindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {
const char *const DOWNLOAD_ADDRESS = "ftp://ftp.calvora.example/nerio/";

void setApplicationNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("nerio-control"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NERIO_VERSION));
}

// --help and --version answer on a terminal without a display.
bool asksForInformationOnly(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *flag : { "-h", "-?", "--help", "--help-all", "-v", "--version" }) {
            if (std::strcmp(argv[i], flag) == 0)
                return true;
        }
    }
    return false;
}
}

int main(int argc, char *argv[])
{
    if (asksForInformationOnly(argc, argv)) {
        QCoreApplication core(argc, argv);
        setApplicationNames();
        CommandLine commandLine;
        commandLine.parser.process(core); // prints and exits
        return 0;
    }
    // A value that cannot be used is told before a display is needed (Qt's own options, such as
    // -platform, fail this early parse and are left to the application).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    StartOptions options;
    QString message;
    if (CommandLine early; early.parser.parse(arguments) && !early.read(&options, &message)) {
        std::fprintf(stderr, "nerio-control: %s\n", qPrintable(message));
        return 1;
    }

    QApplication app(argc, argv);
    setApplicationNames();
    // The desktop shell matches the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(NERIO_APP_ID));
    QIcon icon;
    for (const QString &size : QDir(QStringLiteral(":/icons")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        icon.addFile(QStringLiteral(":/icons/%1/nerio-control.png").arg(size));
    QApplication::setWindowIcon(icon);
    CommandLine commandLine;
    commandLine.parser.process(app);
    message.clear();
    const bool usable = commandLine.read(&options, &message);
    if (!message.isEmpty())
        std::fprintf(stderr, "nerio-control: %s\n", qPrintable(message));
    if (!usable)
        return 1;

    MainWindowImpl window;
    window.applyStartOptions(options);
    welcomewindow welcome(nullptr, QStringLiteral(NERIO_VERSION), QString::fromLatin1(DOWNLOAD_ADDRESS));
    welcome.show();
    // Take the keyboard at once, also without a window manager, so Enter or Space starts.
    welcome.activateWindow();

    QObject::connect(&welcome, &welcomewindow::startApplication, &window, &MainWindowImpl::startApplication);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
