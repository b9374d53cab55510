#pragma once
// Title bar of every frameless window: dragging it moves the whole window. GUI thread only.

#include <QFrame>

class WindowBar : public QFrame
{
    Q_OBJECT
public:
    explicit WindowBar(QWidget *parent = nullptr);

    static const char *const STYLE_SHEET;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    int pressX = 0;
    int pressY = 0;
};
