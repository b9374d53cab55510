#include "streamingtools.h"

streamingtools::streamingtools(QObject *parent, bool RAWmodeDisable_, bool CCcorrection_, bool PCRcorrection_,
    bool STARTcorrection_, bool scramblingEna_, bool scramblingOnPIDEna_, qint64 scramblingGap_, quint16 PIDnumber_,
    qint64 successiveScramblingPackets_)
    : QObject(parent)
    , RAWmodeDisable(RAWmodeDisable_)
    , CCcorrection(CCcorrection_)
    , PCRcorrection(PCRcorrection_)
    , STARTcorrection(STARTcorrection_)
    , scramblingEna(scramblingEna_)
    , scramblingOnPIDEna(scramblingOnPIDEna_)
    , scramblingGap(scramblingGap_)
    , PIDnumber(PIDnumber_)
    , successiveScramblingPackets(successiveScramblingPackets_)
{
}

void streamingtools::copyFrom(const streamingtools &other)
{
    RAWmodeDisable = other.RAWmodeDisable;
    CCcorrection = other.CCcorrection;
    PCRcorrection = other.PCRcorrection;
    STARTcorrection = other.STARTcorrection;
    scramblingEna = other.scramblingEna;
    scramblingOnPIDEna = other.scramblingOnPIDEna;
    scramblingGap = other.scramblingGap;
    PIDnumber = other.PIDnumber;
    successiveScramblingPackets = other.successiveScramblingPackets;
}
