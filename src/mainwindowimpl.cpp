#include "mainwindowimpl.h"
#include "ui_mainwindowimpl.h"

#include "configurationpanel.h"
#include "streamingmisc.h"
#include "streamingpanel.h"

#include <QPointer>

namespace {
const char *const MAIN_FRAME_STYLE
    = "#mainFrame { background-color : #f0f0f0; border : 2px solid #717171; border-radius : 10px;}";
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
    testPanel = new streamingmisc(this);
    connect(testPanel, &streamingmisc::streamToolsOptionsChanged, streamPanel, &streamingpanel::setNewStreamingTools);
    configPanel->createCommandHandler(configPanel->connection());

    ui->tabWidget->clear();
    ui->tabWidget->addTab(configPanel, QStringLiteral("Configuration"));
    ui->tabWidget->addTab(streamPanel, QStringLiteral("Streaming"));
    ui->tabWidget->addTab(testPanel, QStringLiteral("Testing"));
}
