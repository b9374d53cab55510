#pragma once
// The "Testing" page: loop adaptation and error injection options of the next and the current run.
// Every change is announced with the whole option record. GUI thread only.

#include "streamingtools.h"

#include <QWidget>

namespace Ui
{
class streamingmisc;
}

class streamingmisc : public QWidget
{
    Q_OBJECT
public:
    static constexpr quint16 MAX_PID = 8191;

    explicit streamingmisc(QWidget *parent = nullptr);
    ~streamingmisc() override;

    const streamingtools &options() const { return tools; }

signals:
    void streamToolsOptionsChanged(streamingtools &tools);

public slots:
    void setRAWmodeDisable(int value);
    void setCCcorrection(int value);
    void setPCRcorrection(int value);
    void setSTARTcorrection(int value);
    void setScramblingEna(int value);
    void setScramblingOnPIDEna(int value);
    void scramblingGapSlot(QString value);
    void successiveScramblingPacketsSlot(QString value);
    void PIDnumberSlot(QString value);

private:
    Ui::streamingmisc *ui;
    streamingtools tools;
};
