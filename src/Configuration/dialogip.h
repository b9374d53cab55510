#pragma once
// Edits the modulator's IP input: addressing method, multicast group and port. Marks each field valid or
// not as it is left; OK hands the three values to the Configuration page, which refuses invalid ones.
// Nothing is sent to the modulator. GUI thread only.

#include <QDialog>

namespace Ui
{
class DialogIp;
}

class ConfigurationPanel;

class DialogIp : public QDialog
{
    Q_OBJECT
public:
    static constexpr int STATUS_X = 175;

    explicit DialogIp(QWidget *parent = nullptr);
    ~DialogIp() override;

    void setPanel(ConfigurationPanel *panel);
    void initFromPanel();

    // 224.0.0.0 to 239.255.255.255 (the separators match any character, as the device's own rule does).
    static bool isMulticastAddress(const QString &text);
    // Four or five digits, 1024 to 65535: a five-digit number above 65535 is no UDP port.
    static bool isValidPort(const QString &text);

public slots:
    void on_okButton_clicked();
    void setMulticast();
    void setUnicast();
    void checkIP();
    void checkPort();

private:
    Ui::DialogIp *ui;
    ConfigurationPanel *panel = nullptr;
};
