#pragma once
// A cyclic selector bound to one push button and one label: each click advances to the next item and
// the button shows the item as an image, as text, or both. Owns no widget. GUI thread only.

#include <QObject>
#include <QStringList>

class QLabel;
class QPushButton;

class Mux : public QObject
{
    Q_OBJECT
public:
    enum DisplayMode { ImageOnly = 1, TextOnly = 2, ImageAndText = 3 };

    Mux(QPushButton *button, QLabel *label, int itemCount, int displayMode, const QStringList &items,
        int initialIndex, bool disabled, QObject *parent = nullptr);

    QPushButton *button;
    QLabel *label;
    int displayMode;
    int maxIndex;
    int index;
    QStringList items;

    // Resource of the button image for the current item; empty when the button has no image prefix.
    QString iconPath() const;

public slots:
    void currentStatus();
    void nextStatus();
    void setStatus(int i);
};
