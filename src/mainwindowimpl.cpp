#include "mainwindowimpl.h"
#include "ui_mainwindowimpl.h"

#include "commandline.h"
#include "configurationpanel.h"
#include "streamingmisc.h"
#include "streamingpanel.h"

#include <QPointer>
#include <QTimer>

#include <cmath>

namespace {
const char *const MAIN_FRAME_STYLE
    = "#mainFrame { background-color : #f0f0f0; border : 2px solid #717171; border-radius : 10px;}";

constexpr double MAX_READING_MBPS = 1000;

// What the Streaming page's chart shows of the Configuration page's latest status reading.
streamhealth::deviceReading deviceReadingOf(const ConfigurationPanel *panel)
{
    streamhealth::deviceReading reading;
    if (!panel || !panel->isPolling() || !panel->lastStatus().valid)
        return reading;
    const ConfigurationPanel::statusReading &status = panel->lastStatus();
    reading.valid = true;
    reading.ageMs = status.age.elapsed();
    bool ok = false;
    const double mbps = status.rawBitrate.trimmed().toDouble(&ok);
    // A reading the chart could not place (no number, infinite, past any IP input) is shown as none.
    reading.rawBps = ok && std::isfinite(mbps) && mbps >= 0 && mbps <= MAX_READING_MBPS ? mbps * 1e6 : -1;
    switch (status.ipInput) {
    case CommandHandler::Locked188:
    case CommandHandler::Locked204:
    case CommandHandler::LockedExternal:
    case CommandHandler::LockedInternal:
        reading.lock = streamhealth::inputLock::Locked;
        break;
    case CommandHandler::NoData:
    case CommandHandler::NotLocked:
        reading.lock = streamhealth::inputLock::NotLocked;
        break;
    case CommandHandler::NoStatus:
        break;
    }
    return reading;
}
}

MainWindowImpl::MainWindowImpl(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindowImpl)
{
    ui->setupUi(this);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    ui->mainFrame->setStyleSheet(QString::fromLatin1(MAIN_FRAME_STYLE));
    ui->mainFrame->setGeometry(0, 0, width(), height());
    ui->tabWidget->setMovable(true);
    newModulator(false);

    setWindowTitle(QStringLiteral("Nerio Control - Calvora"));

    connect(ui->closeButton, &QPushButton::clicked, this, &MainWindowImpl::close);
    connect(ui->minButton, &QPushButton::clicked, this, &MainWindowImpl::showMinimized);
}

MainWindowImpl::~MainWindowImpl()
{
    delete ui;
}

void MainWindowImpl::startApplication()
{
    show();
    if (!connectOnShow)
        return;
    connectOnShow = false;
    // Once, after the window has been shown and painted, exactly as a click on the connect button.
    QTimer::singleShot(0, configPanel, [panel = configPanel] {
        if (!panel->connection()->isConnected(2))
            panel->on_loginButton_clicked();
    });
}

void MainWindowImpl::applyStartOptions(const StartOptions &options)
{
    if (!options.serialPort.isEmpty()) {
        configPanel->addPresetSerialPort(options.serialPort);
        configPanel->setCOMPort(options.serialPort);
    }
    if (!options.host.isEmpty())
        configPanel->setIPAddress(options.host, options.hostPort);
    if (options.network)
        configPanel->enableNetworkRoute();
    connectOnShow = options.connectAtStart;
}

void MainWindowImpl::newModulator(bool editTitle)
{
    Q_UNUSED(editTitle)
    configPanel = new ConfigurationPanel(this);
    streamPanel = new streamingpanel(this);
    // "Same as modulator" reads the IP input the device reported to this window's Configuration page.
    streamPanel->setModulatorInputSource([panel = QPointer<ConfigurationPanel>(configPanel)] {
        return panel ? streamingpanel::modulatorInput { panel->multicastAddressText(), panel->portText() }
                     : streamingpanel::modulatorInput {};
    });
    // The chart follows the IP input through the status poll the Configuration page already makes.
    streamPanel->setModulatorStatusSource(
        [panel = QPointer<ConfigurationPanel>(configPanel)] { return deviceReadingOf(panel); });
    testPanel = new streamingmisc(this);
    connect(testPanel, &streamingmisc::streamToolsOptionsChanged, streamPanel, &streamingpanel::setNewStreamingTools);
    configPanel->createCommandHandler(configPanel->connection());

    ui->tabWidget->clear();
    ui->tabWidget->addTab(configPanel, QStringLiteral("Configuration"));
    ui->tabWidget->addTab(streamPanel, QStringLiteral("Streaming"));
    ui->tabWidget->addTab(testPanel, QStringLiteral("Testing"));
}
