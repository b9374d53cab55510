#include "dialogframe.h"

#include "windowbar.h"

#include <QDialog>
#include <QLabel>

namespace
{
const char *const MAIN_FRAME_STYLE
    = "#mainFrame { background-color : #f0f0f0; border : 2px solid #717171; border-radius : 10px;}";
}

void DialogFrame::apply(QDialog *dialog, QWidget *mainFrame, QWidget *topFrame)
{
    dialog->setWindowFlags(dialog->windowFlags() | Qt::FramelessWindowHint);
    dialog->setAttribute(Qt::WA_TranslucentBackground);
    dialog->setFixedSize(dialog->size());
    mainFrame->setStyleSheet(QString::fromLatin1(MAIN_FRAME_STYLE));
    topFrame->setStyleSheet(QString::fromLatin1(WindowBar::STYLE_SHEET));
}

void DialogFrame::mark(QLabel *label, Mark mark, const QString &text, int x)
{
    const char *colour = mark == Mark::Valid ? "#0a0" : mark == Mark::Warning ? "#fa0" : "#f00";
    label->setStyleSheet(
        QStringLiteral("#%1 {font-weight: bold; color: %2;}").arg(label->objectName(), QString::fromLatin1(colour)));
    label->setText(text);
    label->move(x, label->y());
}
