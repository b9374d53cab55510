#include "movablegroupbox.h"

#include <QMouseEvent>

MovableGroupBox::MovableGroupBox(QWidget *parent)
    : QGroupBox(parent)
{
}

QPoint MovableGroupBox::snappedPosition(QPoint target, QSize boxSize, QSize parentSize)
{
    const int W = parentSize.width(), H = parentSize.height();
    const int w = boxSize.width(), h = boxSize.height();
    int x = target.x(), y = target.y();
    if (y < 5)
        y = 0;
    if (y + h + 3 > H - 1)
        y = H - h;
    if (x + w + 3 > W - 1)
        x = W - w;
    else if (x < LEFT_SNAP)
        x = LEFT_LIMIT;
    return { x, y };
}

void MovableGroupBox::mousePressEvent(QMouseEvent *event)
{
    pressX = qRound(event->localPos().x());
    pressY = qRound(event->localPos().y());
    setCursor(Qt::SizeAllCursor);
}

void MovableGroupBox::mouseReleaseEvent(QMouseEvent *)
{
    setCursor(Qt::ArrowCursor);
}

void MovableGroupBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!parentWidget())
        return;
    const QPoint inParent = mapToParent(QPoint(qRound(event->localPos().x()), qRound(event->localPos().y())));
    const QPoint target(inParent.x() - pressX, inParent.y() - pressY);
    move(snappedPosition(target, size(), parentWidget()->size()));
}
