#include "sliderbutton.h"

#include <QWheelEvent>

SliderButton::SliderButton(QWidget *parent)
    : QPushButton(parent)
{
}

void SliderButton::wheelEvent(QWheelEvent *event)
{
    // Vertical wheels report on y; a horizontal-only device still gets its one step.
    const QPoint delta = event->angleDelta();
    emit attenuationChanged(delta.y() != 0 ? delta.y() : delta.x());
    event->accept();
}
