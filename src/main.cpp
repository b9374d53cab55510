#include "configurationpanel.h"
#include "mainwindowimpl.h"
#include "welcomewindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {
const char *const APPLICATION_VERSION = "1.0";
const char *const DOWNLOAD_ADDRESS = "ftp://ftp.calvora.example/nerio/";

struct CommandLine
{
    QCommandLineParser parser;
    QCommandLineOption serialPort { QStringLiteral("serial-port"),
        QStringLiteral("Serial port of the modulator, ready on the connect button (any path, also one that is "
                       "not enumerated, such as a pseudo-terminal)."),
        QStringLiteral("PATH") };
    QCommandLineOption connectAtStart { QStringLiteral("connect"),
        QStringLiteral("Connect to the modulator as soon as the main window is shown (needs --serial-port).") };

    CommandLine()
    {
        parser.setApplicationDescription(
            QStringLiteral("Controls a DVB-T modulator over its serial console and streams transport-stream files."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({ serialPort, connectAtStart });
    }
};

void setApplicationNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("nerio-control"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(APPLICATION_VERSION));
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
    QApplication app(argc, argv);
    setApplicationNames();
    CommandLine commandLine;
    commandLine.parser.process(app);
    const QString serialPort = commandLine.parser.value(commandLine.serialPort);
    bool connectAtStart = commandLine.parser.isSet(commandLine.connectAtStart);
    if (connectAtStart && serialPort.isEmpty()) {
        std::fprintf(stderr, "nerio-control: --connect needs --serial-port; not connecting\n");
        connectAtStart = false;
    }

    MainWindowImpl window;
    ConfigurationPanel *panel = window.configurationPanel();
    if (!serialPort.isEmpty()) {
        panel->addPresetSerialPort(serialPort);
        panel->setCOMPort(serialPort);
    }
    welcomewindow welcome(nullptr, QString::fromLatin1(APPLICATION_VERSION), QString::fromLatin1(DOWNLOAD_ADDRESS));
    welcome.show();
    // Take the keyboard at once, also without a window manager, so Enter or Space starts.
    welcome.activateWindow();

    QObject::connect(&welcome, &welcomewindow::startApplication, &window, &MainWindowImpl::startApplication);
    if (connectAtStart) {
        // Once, after the window has been shown and painted, exactly as a click on the connect button.
        auto pending = std::make_shared<bool>(true);
        QObject::connect(&welcome, &welcomewindow::startApplication, panel, [panel, pending] {
            if (!*pending)
                return;
            *pending = false;
            QTimer::singleShot(0, panel, [panel] {
                if (!panel->connection()->isConnected(2))
                    panel->on_loginButton_clicked();
            });
        });
    }
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
