#pragma once
// The one seam through which windows open modal message boxes and file dialogs. Tests install
// responders that record what was asked and answer at once, so no test waits on a modal loop.
// GUI thread only.

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace UiPrompts {

struct Box
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

struct FileRequest
{
    bool save = false;
    QString caption;
    QString directory;
    QString filter;
};

using BoxResponder = std::function<QMessageBox::StandardButton(const Box &)>;
using FileResponder = std::function<QString(const FileRequest &)>;

// An empty responder restores the real dialogs.
void setBoxResponder(BoxResponder responder);
void setFileResponder(FileResponder responder);

QMessageBox::StandardButton message(QWidget *parent, const Box &box,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text);
QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text);
QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text);
QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

QString openFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter);
QString saveFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter);

} // namespace UiPrompts
