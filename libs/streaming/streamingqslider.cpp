#include "streamingqslider.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QWheelEvent>

#include <cmath>

namespace
{
const char *const SEEKER_IMAGE = ":/seeker.png";
// The bubble sits above the slider, in the coordinates of the slider's group box.
constexpr int BUBBLE_LEFT = 2;
constexpr int BUBBLE_TOP = 32;
constexpr int BUBBLE_WIDTH = 64;
constexpr int BUBBLE_HEIGHT = 23;
// Room around the time inside the bubble's image.
constexpr int BUBBLE_PADDING = 10;

QFont bubbleFont()
{
    return QFont(QStringLiteral("Calibri"), 11);
}
} // namespace

streamingQSlider::streamingQSlider(QWidget *parent)
    : QSlider(Qt::Horizontal, parent)
    , timeBubble(new QLabel(parent ? parent : this))
    , bubbleTime(QStringLiteral("00:00:00"))
    , bubbleEffect(new QGraphicsOpacityEffect(timeBubble))
    , bubbleAnimation(new QPropertyAnimation(bubbleEffect, "opacity", this))
{
    setObjectName(QStringLiteral("streamSlider"));
    setGeometry(34, 60, 815 - 34 + 1, 79 - 60 + 1);
    setToolTip(QStringLiteral("Drag"));
    setEnabled(false);

    timeBubble->setObjectName(QStringLiteral("timeBubble"));
    timeBubble->setAttribute(Qt::WA_TransparentForMouseEvents);
    bubbleEffect->setOpacity(0.0);
    timeBubble->setGraphicsEffect(bubbleEffect);
    drawBubble();
    timeBubble->move(x() + BUBBLE_LEFT, BUBBLE_TOP);
}

QString streamingQSlider::timeText(quint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void streamingQSlider::jumpTo(int x)
{
    const int range = maximum() - minimum();
    const int frameWidth = width() > 0 ? width() : 1;
    setValue(minimum() + int(std::lround(double(range) * x / frameWidth)));
    bubbleTime = timeText(quint64(qMax(0, value())));
    drawBubble();
    // p = value x width / range; an empty range keeps the bubble at the left end.
    const int p = range > 0 ? int(qint64(value() - minimum()) * width() / range) : 0;
    timeBubble->move(this->x() + p + BUBBLE_LEFT, BUBBLE_TOP);
}

void streamingQSlider::drawBubble()
{
    // As wide as the time takes in the font at hand (Calibri is often missing; hours can take three digits).
    const int bubbleWidth
        = qMax(BUBBLE_WIDTH, QFontMetrics(bubbleFont()).horizontalAdvance(bubbleTime) + BUBBLE_PADDING);
    QPixmap image(QString::fromLatin1(SEEKER_IMAGE));
    if (image.isNull()) {
        image = QPixmap(bubbleWidth, BUBBLE_HEIGHT);
        image.fill(Qt::transparent);
    }
    image = image.scaled(bubbleWidth, BUBBLE_HEIGHT, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&image);
    painter.setFont(bubbleFont());
    painter.drawText(image.rect(), Qt::AlignCenter, bubbleTime);
    painter.end();
    timeBubble->setPixmap(image);
    timeBubble->resize(image.size());
}

void streamingQSlider::fadeBubble(qreal to, int durationMs)
{
    bubbleAnimation->stop();
    bubbleAnimation->setDuration(durationMs);
    bubbleAnimation->setStartValue(bubbleEffect->opacity());
    bubbleAnimation->setEndValue(to);
    bubbleAnimation->start();
}

void streamingQSlider::mousePressEvent(QMouseEvent *event)
{
    jumpTo(event->pos().x());
    timeBubble->raise();
    emit sliderPressed();
    fadeBubble(1.0, BUBBLE_FADE_IN_MS);
    event->accept();
}

void streamingQSlider::mouseReleaseEvent(QMouseEvent *event)
{
    jumpTo(event->pos().x());
    emit sliderReleased();
    fadeBubble(0.0, BUBBLE_FADE_OUT_MS);
    event->accept();
}

void streamingQSlider::mouseMoveEvent(QMouseEvent *event)
{
    jumpTo(event->pos().x());
    event->accept();
}

void streamingQSlider::wheelEvent(QWheelEvent *event)
{
    const int step = maximum() / WHEEL_STEPS;
    const int delta = event->angleDelta().y();
    if (delta < 0)
        setValue(qMax(0, value() - step));
    else if (delta > 0)
        setValue(qMin(maximum(), value() + step));
    emit emitWheelEvent(value());
    event->accept();
}
