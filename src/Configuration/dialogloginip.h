#pragma once
// Chooses a modulator reached over TCP, with the login name and password: the list offers the
// modulators that answered a broadcast discovery, then the addresses connected to before. OK hands the
// choice to the Configuration page; nothing connects here. GUI thread only.

#include <QDialog>

namespace Ui
{
class DialogLoginIp;
}

class ConfigurationPanel;
class udpManager;

class DialogLoginIp : public QDialog
{
    Q_OBJECT
public:
    static constexpr int DISCOVERY_TIME_MS = 1000;

    explicit DialogLoginIp(QWidget *parent = nullptr);
    ~DialogLoginIp() override;

    void setPanel(ConfigurationPanel *panel);
    // Fills login and password from the panel and starts a discovery.
    void initFromPanel();
    udpManager *discovery() const { return udpDiscovery; }

public slots:
    void on_okButton_clicked();
    void updateConfig();

private:
    Ui::DialogLoginIp *ui;
    ConfigurationPanel *panel = nullptr;
    udpManager *udpDiscovery;
};
