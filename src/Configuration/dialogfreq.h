#pragma once
// Chooses the output frequency as MHz or as a UHF channel, keeping the two consistent while the operator
// edits; OK hands both to the Configuration page's frequency display. Nothing is sent to the modulator.
// GUI thread only.

#include <QDialog>

namespace Ui {
class DialogFreq;
}

class ConfigurationPanel;

class DialogFreq : public QDialog
{
    Q_OBJECT
public:
    static constexpr int BETWEEN_ITEM_INDEX = 49;

    explicit DialogFreq(QWidget *parent = nullptr);
    ~DialogFreq() override;

    void setPanel(ConfigurationPanel *panel);
    // Starts from the panel's current frequency.
    void initFromPanel();

public slots:
    void on_okButton_clicked();
    void checkFreq();
    void channelChanged(int newIndex);

private:
    void moveStatusLabel(int x);
    void removeBetweenItem();
    void addBetweenItem(float frequency);

    Ui::DialogFreq *ui;
    ConfigurationPanel *panel = nullptr;
};
