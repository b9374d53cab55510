#pragma once
// The look every small dialog of the Configuration page shares: frameless, translucent corners, fixed
// designed size, the rounded main frame and the draggable title bar; plus the coloured status labels
// that mark a field valid or not. GUI thread only.

#include <QString>

class QDialog;
class QLabel;
class QWidget;

class DialogFrame
{
public:
    enum class Mark { Valid, Warning, Invalid };

    // Call after setupUi: the designed size becomes the fixed size.
    static void apply(QDialog *dialog, QWidget *mainFrame, QWidget *topFrame);
    // Bold green, orange or red text, styled through the label's own object name; moved to x, same y.
    static void mark(QLabel *label, Mark mark, const QString &text, int x);
};
