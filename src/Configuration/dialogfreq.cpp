#include "dialogfreq.h"
#include "ui_dialogfreq.h"

#include "channelplan.h"
#include "configurationpanel.h"
#include "windowbar.h"

#include <QSignalBlocker>

namespace {
const char *const MAIN_FRAME_STYLE
    = "#mainFrame { background-color : #f0f0f0; border : 2px solid #717171; border-radius : 10px;}";
const char *const VALID_STYLE = "#checkFreq {font-weight: bold; color: #0a0;}";
const char *const WARNING_STYLE = "#checkFreq {font-weight: bold; color: #fa0;}";
const char *const INVALID_STYLE = "#checkFreq {font-weight: bold; color: #f00;}";
const char *const VALID_TEXT = "Valid Frequency";
const char *const WARNING_TEXT = "Warning : frequency between 2 channels";
const char *const INVALID_TEXT = "Invalid Frequency";
// Positions that keep each status text roughly centred under the fields.
constexpr int INIT_CENTRE_X = 210;
constexpr int INIT_BETWEEN_X = 80;
constexpr int VALID_X = 150;
constexpr int WARNING_X = 50;
constexpr int INVALID_X = 200;
}

DialogFreq::DialogFreq(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogFreq)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(size());
    ui->mainFrame->setStyleSheet(QString::fromLatin1(MAIN_FRAME_STYLE));
    ui->topFrame->setStyleSheet(QString::fromLatin1(WindowBar::STYLE_SHEET));

    for (int channel = ChannelPlan::FIRST_CHANNEL; channel <= ChannelPlan::LAST_CHANNEL; ++channel)
        ui->channelComboBox->addItem(QStringLiteral("Channel %1").arg(channel));

    connect(ui->closeButton, &QPushButton::clicked, this, &DialogFreq::close);
    connect(ui->cancelButton, &QPushButton::clicked, this, &DialogFreq::close);
    connect(ui->freqLineEdit, &QLineEdit::editingFinished, this, &DialogFreq::checkFreq);
    connect(ui->channelComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &DialogFreq::channelChanged);
}

DialogFreq::~DialogFreq()
{
    delete ui;
}

void DialogFreq::setPanel(ConfigurationPanel *p)
{
    panel = p;
}

void DialogFreq::initFromPanel()
{
    if (!panel)
        return;
    const QString text = panel->frequencyText();
    ui->freqLineEdit->setText(text);
    const float f = text.toFloat();
    const int index = ChannelPlan::centreIndex(f);
    if (index >= 0) {
        moveStatusLabel(INIT_CENTRE_X);
        ui->channelComboBox->setCurrentIndex(index);
    } else if (ChannelPlan::inRange(f)) {
        moveStatusLabel(INIT_BETWEEN_X);
        addBetweenItem(f);
    }
    // The panel never holds a frequency outside the band; should it, the list is left alone.
}

void DialogFreq::checkFreq()
{
    bool ok = false;
    const float f = ui->freqLineEdit->text().toFloat(&ok);
    removeBetweenItem();
    if (ok && ChannelPlan::inRange(f)) {
        const int index = ChannelPlan::centreIndex(f);
        if (index >= 0) {
            moveStatusLabel(VALID_X);
            ui->checkFreq->setStyleSheet(QString::fromLatin1(VALID_STYLE));
            ui->checkFreq->setText(QString::fromLatin1(VALID_TEXT));
            ui->channelComboBox->setCurrentIndex(index);
        } else {
            moveStatusLabel(WARNING_X);
            ui->checkFreq->setStyleSheet(QString::fromLatin1(WARNING_STYLE));
            ui->checkFreq->setText(QString::fromLatin1(WARNING_TEXT));
            addBetweenItem(f);
        }
        return;
    }
    moveStatusLabel(INVALID_X);
    ui->checkFreq->setStyleSheet(QString::fromLatin1(INVALID_STYLE));
    ui->checkFreq->setText(QString::fromLatin1(INVALID_TEXT));
}

void DialogFreq::channelChanged(int newIndex)
{
    if (newIndex < 0 || newIndex >= BETWEEN_ITEM_INDEX)
        return;
    removeBetweenItem();
    ui->freqLineEdit->setText(
        QString::number(int(ChannelPlan::MIN_FREQUENCY_MHZ) + ChannelPlan::CHANNEL_WIDTH_MHZ * newIndex));
    checkFreq();
}

void DialogFreq::on_okButton_clicked()
{
    const QString channel = ui->channelComboBox->currentText();
    const QString frequency = QString::number(ui->freqLineEdit->text().toFloat(), 'f', 3);
    if (panel)
        panel->setFrequency(frequency, channel);
    close();
}

void DialogFreq::moveStatusLabel(int x)
{
    ui->checkFreq->move(x, ui->checkFreq->y());
}

void DialogFreq::removeBetweenItem()
{
    if (ui->channelComboBox->count() <= BETWEEN_ITEM_INDEX)
        return;
    // Dropping the current "Between" item must not count as picking channel 69: that would overwrite
    // the frequency being typed.
    const QSignalBlocker blocker(ui->channelComboBox);
    ui->channelComboBox->removeItem(BETWEEN_ITEM_INDEX);
}

void DialogFreq::addBetweenItem(float frequency)
{
    ui->channelComboBox->addItem(ChannelPlan::betweenText(frequency));
    ui->channelComboBox->setCurrentIndex(BETWEEN_ITEM_INDEX);
}
