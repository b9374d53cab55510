#pragma once
// Chooses the serial port of the modulator, with the login name and password. Lists the ports the
// system enumerates and those named on the command line (pseudo-terminals are never enumerated); the
// list is editable so any device path can be typed. OK hands the choice to the Configuration page;
// nothing opens here. GUI thread only.

#include <QDialog>

namespace Ui
{
class DialogLoginSerial;
}

class ConfigurationPanel;

class DialogLoginSerial : public QDialog
{
    Q_OBJECT
public:
    explicit DialogLoginSerial(QWidget *parent = nullptr);
    ~DialogLoginSerial() override;

    void setPanel(ConfigurationPanel *panel);
    void initFromPanel();

public slots:
    void on_okButton_clicked();

private:
    Ui::DialogLoginSerial *ui;
    ConfigurationPanel *panel = nullptr;
};
