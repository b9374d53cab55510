#pragma once
// The option record of the Testing page: loop adaptation and error injection switches handed to a run.
// A plain value holder; used from the GUI thread.

#include <QObject>

class streamingtools : public QObject
{
public:
    explicit streamingtools(QObject *parent = nullptr, bool RAWmodeDisable = true, bool CCcorrection = true,
        bool PCRcorrection = true, bool STARTcorrection = true, bool scramblingEna = false,
        bool scramblingOnPIDEna = false, qint64 scramblingGap = 1000, quint16 PIDnumber = 0,
        qint64 successiveScramblingPackets = 1);

    // Copies the nine option fields only (parent and object identity stay).
    void copyFrom(const streamingtools &other);

    bool getRAWmodeDisable() const { return RAWmodeDisable; }
    bool getCCcorrection() const { return CCcorrection; }
    bool getPCRcorrection() const { return PCRcorrection; }
    bool getSTARTcorrection() const { return STARTcorrection; }
    bool getScramblingEna() const { return scramblingEna; }
    bool getScramblingOnPIDEna() const { return scramblingOnPIDEna; }
    qint64 getScramblingGap() const { return scramblingGap; }
    quint16 getPIDnumber() const { return PIDnumber; }
    qint64 getSuccessiveScramblingPackets() const { return successiveScramblingPackets; }

    void setRAWmodeDisable(int value) { RAWmodeDisable = value != 0; }
    void setCCcorrection(int value) { CCcorrection = value != 0; }
    void setPCRcorrection(int value) { PCRcorrection = value != 0; }
    void setSTARTcorrection(int value) { STARTcorrection = value != 0; }
    void setScramblingEna(int value) { scramblingEna = value != 0; }
    void setScramblingOnPIDEna(int value) { scramblingOnPIDEna = value != 0; }
    void setScramblingGap(qint64 value) { scramblingGap = value; }
    void setPIDnumber(quint16 value) { PIDnumber = value; }
    void setSuccessiveScramblingPackets(qint64 value) { successiveScramblingPackets = value; }

    // Effective corrections, at the start of a run and for a record received while it goes on alike: with
    // "RAW mode disable" ticked each correction is as its box says, unticked the file goes out as it is.
    bool liveCC() const { return RAWmodeDisable && CCcorrection; }
    bool livePCR() const { return RAWmodeDisable && PCRcorrection; }
    bool liveSTART() const { return RAWmodeDisable && STARTcorrection; }

private:
    bool RAWmodeDisable;
    bool CCcorrection;
    bool PCRcorrection;
    bool STARTcorrection;
    bool scramblingEna;
    bool scramblingOnPIDEna;
    qint64 scramblingGap;
    quint16 PIDnumber;
    qint64 successiveScramblingPackets;
};
