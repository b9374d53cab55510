#pragma once
// The frameless main window: title bar and the three pages that serve one modulator. GUI thread only.

#include <QMainWindow>

namespace Ui {
class MainWindowImpl;
}

class ConfigurationPanel;
struct StartOptions;
class streamingpanel;
class streamingmisc;

class MainWindowImpl : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int WINDOW_WIDTH = 1100;
    static constexpr int WINDOW_HEIGHT = 650;

    explicit MainWindowImpl(QWidget *parent = nullptr);
    ~MainWindowImpl() override;

    ConfigurationPanel *configurationPanel() const { return configPanel; }
    streamingpanel *streamingPage() const { return streamPanel; }
    streamingmisc *testingPage() const { return testPanel; }
    // The command line's route and network buttons; with connectAtStart, startApplication() connects.
    void applyStartOptions(const StartOptions &options);

public slots:
    void startApplication();
    void newModulator(bool editTitle);

private:
    Ui::MainWindowImpl *ui;
    ConfigurationPanel *configPanel = nullptr;
    streamingpanel *streamPanel = nullptr;
    streamingmisc *testPanel = nullptr;
    bool connectOnShow = false;
};
