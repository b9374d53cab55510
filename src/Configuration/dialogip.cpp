#include "dialogip.h"
#include "ui_dialogip.h"

#include "configurationpanel.h"
#include "dialogframe.h"
#include "parameterrules.h"

DialogIp::DialogIp(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogIp)
{
    ui->setupUi(this);
    DialogFrame::apply(this, ui->mainFrame, ui->topFrame);

    connect(ui->closeButton, &QPushButton::clicked, this, &DialogIp::close);
    connect(ui->cancelButton, &QPushButton::clicked, this, &DialogIp::close);
    connect(ui->uniButton, &QRadioButton::clicked, this, &DialogIp::setUnicast);
    connect(ui->multiButton, &QRadioButton::clicked, this, &DialogIp::setMulticast);
    connect(ui->IPLineEdit, &QLineEdit::editingFinished, this, &DialogIp::checkIP);
    connect(ui->portLineEdit, &QLineEdit::editingFinished, this, &DialogIp::checkPort);
}

DialogIp::~DialogIp()
{
    delete ui;
}

bool DialogIp::isMulticastAddress(const QString &text)
{
    return ParameterRules::multicastAddress(text);
}

bool DialogIp::isValidPort(const QString &text)
{
    return ParameterRules::port(text);
}

void DialogIp::setPanel(ConfigurationPanel *p)
{
    panel = p;
}

void DialogIp::initFromPanel()
{
    if (!panel)
        return;
    if (panel->isUnicast()) {
        ui->uniButton->setChecked(true);
        ui->IPLineEdit->setEnabled(false);
    } else {
        ui->multiButton->setChecked(true);
        ui->IPLineEdit->setEnabled(true);
    }
    ui->IPLineEdit->setText(panel->multicastAddressText());
    ui->portLineEdit->setText(panel->portText());
    if (!ui->IPLineEdit->text().isEmpty())
        checkIP();
    if (!ui->portLineEdit->text().isEmpty())
        checkPort();
}

void DialogIp::setMulticast()
{
    if (panel)
        ui->IPLineEdit->setText(panel->multicastAddressText());
    ui->IPLineEdit->setEnabled(true);
}

void DialogIp::setUnicast()
{
    // Unicast reception uses the modulator's own address, which is not edited here; the field keeps the
    // stored group so that the panel's check of it still passes.
    if (panel)
        ui->IPLineEdit->setText(panel->multicastAddressText());
    checkIP();
    ui->IPLineEdit->setEnabled(false);
}

void DialogIp::checkIP()
{
    if (isMulticastAddress(ui->IPLineEdit->text()))
        DialogFrame::mark(ui->checkIP, DialogFrame::Mark::Valid, QStringLiteral("Valid Address"), STATUS_X);
    else
        DialogFrame::mark(ui->checkIP, DialogFrame::Mark::Invalid, QStringLiteral("Invalid Address"), STATUS_X);
}

void DialogIp::checkPort()
{
    if (isValidPort(ui->portLineEdit->text()))
        DialogFrame::mark(ui->checkPort, DialogFrame::Mark::Valid, QStringLiteral("Valid Port"), STATUS_X);
    else
        DialogFrame::mark(ui->checkPort, DialogFrame::Mark::Invalid, QStringLiteral("Invalid Port"), STATUS_X);
}

void DialogIp::on_okButton_clicked()
{
    if (panel)
        panel->setIPConfig(ui->IPLineEdit->text(), ui->portLineEdit->text(), ui->uniButton->isChecked());
    close();
}
