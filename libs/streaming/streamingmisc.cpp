#include "streamingmisc.h"

streamingmisc::streamingmisc(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("streamingmisc"));
}
