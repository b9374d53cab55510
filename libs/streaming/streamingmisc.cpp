#include "streamingmisc.h"
#include "ui_streamingmisc.h"

#include "uiprompts.h"

#include <QRegularExpression>
#include <limits>

namespace
{
const char *const CRITICAL_TITLE = "Critical error";
const char *const PID_REFUSED = "Please enter correct PID value : 0 < PID < 8191";

bool matches(const char *pattern, const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern))).match(text).hasMatch();
}

// A keystroke that breaks the pattern is undone; writing the shorter text back re-runs the slot.
void dropLastCharacter(QLineEdit *edit, QString text)
{
    text.chop(1);
    edit->setText(text);
}
} // namespace

streamingmisc::streamingmisc(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::streamingmisc)
{
    ui->setupUi(this);

    connect(ui->RAW_modeDisable, &QCheckBox::stateChanged, this, &streamingmisc::setRAWmodeDisable);
    connect(ui->CC_Correction, &QCheckBox::stateChanged, this, &streamingmisc::setCCcorrection);
    connect(ui->PCR_Correction, &QCheckBox::stateChanged, this, &streamingmisc::setPCRcorrection);
    connect(ui->Start_Synchro, &QCheckBox::stateChanged, this, &streamingmisc::setSTARTcorrection);
    connect(ui->ScramblingEna, &QCheckBox::stateChanged, this, &streamingmisc::setScramblingEna);
    connect(ui->SpecifyPIDEna, &QCheckBox::stateChanged, this, &streamingmisc::setScramblingOnPIDEna);
    connect(ui->scramblingGap, &QLineEdit::textChanged, this, &streamingmisc::scramblingGapSlot);
    connect(ui->successiveScram, &QLineEdit::textChanged, this, &streamingmisc::successiveScramblingPacketsSlot);
    connect(ui->PIDnumber, &QLineEdit::textChanged, this, &streamingmisc::PIDnumberSlot);
}

streamingmisc::~streamingmisc()
{
    delete ui;
}

void streamingmisc::setRAWmodeDisable(int value)
{
    tools.setRAWmodeDisable(value);
    ui->OptionsLoopAdaptation->setEnabled(value != 0);
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::setCCcorrection(int value)
{
    tools.setCCcorrection(value);
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::setPCRcorrection(int value)
{
    tools.setPCRcorrection(value);
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::setSTARTcorrection(int value)
{
    tools.setSTARTcorrection(value);
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::setScramblingEna(int value)
{
    tools.setScramblingEna(value);
    if (value != 0) {
        ui->scramblingOptions->setEnabled(true);
        ui->SpecifyPIDOptions->setEnabled(ui->SpecifyPIDEna->isChecked());
    } else {
        ui->scramblingOptions->setEnabled(false);
    }
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::setScramblingOnPIDEna(int value)
{
    tools.setScramblingOnPIDEna(value);
    ui->SpecifyPIDOptions->setEnabled(value != 0);
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::scramblingGapSlot(QString value)
{
    if (!matches("^[0-9]{1,50}$", value)) {
        dropLastCharacter(ui->scramblingGap, value);
    } else {
        bool ok = false;
        const qint64 gap = value.toLongLong(&ok);
        // A gap too long to hold is the longest gap: 0 would replace every packet instead of none.
        tools.setScramblingGap(ok ? gap : std::numeric_limits<qint64>::max());
    }
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::successiveScramblingPacketsSlot(QString value)
{
    if (!matches("^[0-9]{1,50}$", value)) {
        dropLastCharacter(ui->successiveScram, value);
    } else {
        bool ok = false;
        const qint64 count = value.toLongLong(&ok);
        if (ok && count > 0) {
            tools.setSuccessiveScramblingPackets(count);
        } else {
            tools.setSuccessiveScramblingPackets(1);
            ui->successiveScram->setText(QStringLiteral("1"));
        }
    }
    emit streamToolsOptionsChanged(tools);
}

void streamingmisc::PIDnumberSlot(QString value)
{
    if (!matches("^[0-9]{1,4}$", value)) {
        dropLastCharacter(ui->PIDnumber, value);
    } else {
        const int pid = value.toInt();
        if (pid > MAX_PID) {
            tools.setPIDnumber(MAX_PID);
            ui->PIDnumber->setText(QString::number(MAX_PID));
            UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), QString::fromLatin1(PID_REFUSED));
        } else {
            tools.setPIDnumber(quint16(pid));
        }
    }
    emit streamToolsOptionsChanged(tools);
}
