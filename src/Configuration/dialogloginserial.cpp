#include "dialogloginserial.h"
#include "ui_dialogloginserial.h"

#include "configurationpanel.h"
#include "dialogframe.h"

#include <QSerialPortInfo>

DialogLoginSerial::DialogLoginSerial(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogLoginSerial)
{
    ui->setupUi(this);
    DialogFrame::apply(this, ui->mainFrame, ui->topFrame);
    setAttribute(Qt::WA_DeleteOnClose);

    connect(ui->closeButton, &QPushButton::clicked, this, &DialogLoginSerial::close);
    connect(ui->cancelButton, &QPushButton::clicked, this, &DialogLoginSerial::close);
}

DialogLoginSerial::~DialogLoginSerial()
{
    delete ui;
}

void DialogLoginSerial::setPanel(ConfigurationPanel *p)
{
    panel = p;
}

void DialogLoginSerial::initFromPanel()
{
    ui->interfaceComboBox->clear();
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names.append(port.portName());
    if (panel) {
        for (const QString &preset : panel->extraSerialPorts()) {
            if (!names.contains(preset))
                names.append(preset);
        }
    }
    ui->interfaceComboBox->addItems(names);
    if (!panel)
        return;
    // Reopening the dialog keeps the port in use selected.
    const int current = names.indexOf(panel->comPortName());
    if (current >= 0)
        ui->interfaceComboBox->setCurrentIndex(current);
    ui->loginLineEdit->setText(panel->loginName());
    ui->passwordLineEdit->setText(panel->passwordText());
}

void DialogLoginSerial::on_okButton_clicked()
{
    if (panel) {
        panel->setLoginPassword(ui->loginLineEdit->text(), ui->passwordLineEdit->text());
        panel->setCOMPort(ui->interfaceComboBox->currentText().section(QLatin1Char(':'), 0, 0));
    }
    close();
}
