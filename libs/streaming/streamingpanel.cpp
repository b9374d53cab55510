#include "streamingpanel.h"

streamingpanel::streamingpanel(QWidget *parent, ConfigurationPanel *panel)
    : QWidget(parent)
    , configurationPanel(panel)
{
    setObjectName(QStringLiteral("streamingpanel"));
}
