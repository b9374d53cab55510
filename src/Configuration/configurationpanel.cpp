#include "configurationpanel.h"

#include "connection.h"

ConfigurationPanel::ConfigurationPanel(QWidget *parent)
    : QWidget(parent)
    , modulatorConnection(new Connection(this, true))
{
    setObjectName(QStringLiteral("ConfigurationPanel"));
}
