#include "mux.h"

#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

Mux::Mux(QPushButton *button, QLabel *label, int itemCount, int displayMode, const QStringList &items,
    int initialIndex, bool disabled, QObject *parent)
    : QObject(parent)
    , button(button)
    , label(label)
    , displayMode(displayMode)
    , maxIndex(itemCount - 1)
    , index(initialIndex)
    , items(items)
{
    button->setFlat(true);
    button->setEnabled(!disabled);
    currentStatus();
    connect(button, &QPushButton::clicked, this, &Mux::nextStatus);
}

QString Mux::iconPath() const
{
    if (button->accessibleName().isEmpty())
        return QString();
    return QStringLiteral(":/configurationPanel/") + button->accessibleName() + QString::number(index)
        + QStringLiteral(".png");
}

void Mux::currentStatus()
{
    // An index past the item list (only possible through a caller's mistake) shows nothing rather
    // than reading outside the list.
    const QString text = items.value(index);
    label->setText(text);
    if (displayMode & ImageOnly) {
        // A missing image (e.g. the fourth bandwidth) leaves the button without an icon.
        const QString path = iconPath();
        button->setIcon(!path.isEmpty() && QFile::exists(path) ? QIcon(path) : QIcon());
        button->setToolTip(text);
    }
    if (displayMode & TextOnly)
        button->setText(text);
}

void Mux::nextStatus()
{
    index = (index + 1) % (maxIndex + 1);
    currentStatus();
}

void Mux::setStatus(int i)
{
    if (i <= maxIndex && i >= 0)
        index = i;
    currentStatus();
}
