#pragma once
// The seek slider of the Streaming page: the value jumps to the pointer, a time bubble follows it while
// the button is held, and the wheel moves by a fortieth of the range. GUI thread only.

#include <QSlider>

class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;

class streamingQSlider : public QSlider
{
    Q_OBJECT
public:
    static constexpr int BUBBLE_FADE_IN_MS = 300;
    static constexpr int BUBBLE_FADE_OUT_MS = 1000;
    static constexpr int WHEEL_STEPS = 40;

    explicit streamingQSlider(QWidget *parent = nullptr);

    // "hh:mm:ss", each part at least two digits, hours never cut.
    static QString timeText(quint64 seconds);

    QLabel *bubble() const { return timeBubble; }
    QString bubbleText() const { return bubbleTime; }

signals:
    void emitWheelEvent(int delta);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void jumpTo(int x);
    void drawBubble();
    void fadeBubble(qreal to, int durationMs);

    QLabel *timeBubble;
    QString bubbleTime;
    QGraphicsOpacityEffect *bubbleEffect;
    QPropertyAnimation *bubbleAnimation;
};
