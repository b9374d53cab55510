#include "windowbar.h"

#include <QMouseEvent>

const char *const WindowBar::STYLE_SHEET
    = "#topFrame {border-top-left-radius: 10px;border-top-right-radius: 10px;background: qlineargradient(x1: 0, y1: "
      "0, x2: 0, y2: 1,stop: 0 #a6a6a6, stop: 0.08 #7f7f7f,stop: 0.39999 #717171, stop: 0.4 #626262,stop: 0.9 "
      "#4c4c4c, stop: 1 #333333);}";

WindowBar::WindowBar(QWidget *parent)
    : QFrame(parent)
{
    setStyleSheet(QString::fromLatin1(STYLE_SHEET));
}

void WindowBar::mousePressEvent(QMouseEvent *event)
{
    pressX = qRound(event->localPos().x());
    pressY = qRound(event->localPos().y());
    setCursor(Qt::SizeAllCursor);
}

void WindowBar::mouseReleaseEvent(QMouseEvent *)
{
    setCursor(Qt::ArrowCursor);
}

void WindowBar::mouseMoveEvent(QMouseEvent *event)
{
    window()->move(qRound(event->screenPos().x()) - pressX, qRound(event->screenPos().y()) - pressY);
}
