#pragma once
// One row of an analysis tree: what the Streaming page puts in a read-only item and what nerio-ts
// prints. Widget-free so both show the same thing.

#include <QList>
#include <QString>

struct analysisnode {
    QString text;
    QString icon; // ":/..." resource name, empty for none
    QString toolTip; // empty for none
    QList<analysisnode> children;
};
