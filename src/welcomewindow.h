#pragma once
// The start screen: maker logo, product picture and version; Start opens the main window.
// GUI thread only.

#include <QMainWindow>

namespace Ui {
class WelcomeWindow;
}

class welcomewindow : public QMainWindow
{
    Q_OBJECT
public:
    welcomewindow(QWidget *parent, const QString &version, const QString &downloadAddress = QString());
    ~welcomewindow() override;

signals:
    void startApplication();

private slots:
    void emitStartApplication();

private:
    Ui::WelcomeWindow *ui;
    QString versionText;
    QString downloadAddress;
};
