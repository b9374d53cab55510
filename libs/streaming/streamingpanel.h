#pragma once
// The "Streaming" page. Placeholder until the streaming page lands; GUI thread only.

#include <QWidget>

class ConfigurationPanel;

class streamingpanel : public QWidget
{
    Q_OBJECT
public:
    streamingpanel(QWidget *parent, ConfigurationPanel *panel);

private:
    ConfigurationPanel *configurationPanel;
};
