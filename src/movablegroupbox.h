#pragma once
// A group box the user can drag inside its parent; it snaps to the parent's edges and never goes left
// of the page's fixed column. GUI thread only.

#include <QGroupBox>
#include <QPoint>

class MovableGroupBox : public QGroupBox
{
    Q_OBJECT
public:
    explicit MovableGroupBox(QWidget *parent = nullptr);

    // Where a drag to `target` (parent coordinates) leaves a box of `boxSize` inside `parentSize`.
    static QPoint snappedPosition(QPoint target, QSize boxSize, QSize parentSize);

    static constexpr int LEFT_LIMIT = 131;
    static constexpr int LEFT_SNAP = 136;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    int pressX = 0;
    int pressY = 0;
};
