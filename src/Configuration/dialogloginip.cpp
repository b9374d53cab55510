#include "dialogloginip.h"
#include "ui_dialogloginip.h"

#include "configurationpanel.h"
#include "dialogframe.h"
#include "udpmanager.h"

#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcPanel)

DialogLoginIp::DialogLoginIp(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogLoginIp)
    , udpDiscovery(new udpManager(this, DISCOVERY_TIME_MS))
{
    ui->setupUi(this);
    DialogFrame::apply(this, ui->mainFrame, ui->topFrame);
    setAttribute(Qt::WA_DeleteOnClose);

    connect(ui->closeButton, &QPushButton::clicked, this, &DialogLoginIp::close);
    connect(ui->cancelButton, &QPushButton::clicked, this, &DialogLoginIp::close);
    connect(udpDiscovery, &udpManager::info, this, &DialogLoginIp::updateConfig);
    connect(udpDiscovery, &udpManager::discoveryError, this,
        [this](int failure) { qCWarning(lcPanel) << "discovery failed" << failure << udpDiscovery->errorString(); });
}

DialogLoginIp::~DialogLoginIp()
{
    delete ui;
}

void DialogLoginIp::setPanel(ConfigurationPanel *p)
{
    panel = p;
}

void DialogLoginIp::initFromPanel()
{
    if (panel) {
        ui->loginLineEdit->setText(panel->loginName());
        ui->passwordLineEdit->setText(panel->passwordText());
    }
    ui->interfaceComboBox->addItem(QStringLiteral("Auto discovery, please wait"));
    udpDiscovery->startDiscovery();
}

void DialogLoginIp::updateConfig()
{
    ui->interfaceComboBox->clear();
    const QStringList found = udpDiscovery->results();
    ui->interfaceComboBox->addItems(found);
    if (!panel)
        return;
    // Then the modulators connected to before, newest first: discovery reaches only the local networks.
    QList<QString> recent;
    panel->connection()->getIPList(recent);
    for (const QString &address : qAsConst(recent)) {
        const bool listed = std::any_of(found.cbegin(), found.cend(),
            [&address](const QString &entry) { return entry.section(QLatin1Char(' '), 0, 0) == address; });
        if (!listed && ui->interfaceComboBox->findText(address) < 0)
            ui->interfaceComboBox->addItem(address);
    }
}

void DialogLoginIp::on_okButton_clicked()
{
    if (panel) {
        panel->setLoginPassword(ui->loginLineEdit->text(), ui->passwordLineEdit->text());
        // Entries read "<address> (<MAC>)".
        panel->setIPAddress(ui->interfaceComboBox->currentText().section(QLatin1Char(' '), 0, 0));
    }
    close();
}
