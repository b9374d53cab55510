#pragma once
// The "Configuration" page: one modulator's session and parameters. Placeholder until the page lands;
// it already owns the device link so the main window's construction order holds. GUI thread only.

#include <QWidget>

class Connection;

class ConfigurationPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ConfigurationPanel(QWidget *parent = nullptr);

    Connection *connection() const { return modulatorConnection; }

private:
    Connection *modulatorConnection;
};
