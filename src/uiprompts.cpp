#include "uiprompts.h"

#include <QFileDialog>

namespace UiPrompts {

namespace {
BoxResponder &boxResponder()
{
    static BoxResponder responder;
    return responder;
}

FileResponder &fileResponder()
{
    static FileResponder responder;
    return responder;
}
} // namespace

void setBoxResponder(BoxResponder responder)
{
    boxResponder() = std::move(responder);
}

void setFileResponder(FileResponder responder)
{
    fileResponder() = std::move(responder);
}

QMessageBox::StandardButton message(QWidget *parent, const Box &box, QMessageBox::StandardButton defaultButton)
{
    if (boxResponder())
        return boxResponder()(box);
    QMessageBox dialog(box.icon, box.title, box.text, box.buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        dialog.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(dialog.exec());
}

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text)
{
    return message(parent, { QMessageBox::Critical, title, text, QMessageBox::Ok });
}

QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text)
{
    return message(parent, { QMessageBox::Warning, title, text, QMessageBox::Ok });
}

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text)
{
    return message(parent, { QMessageBox::Information, title, text, QMessageBox::Ok });
}

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return message(parent, { QMessageBox::Question, title, text, buttons }, defaultButton);
}

QString openFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    if (fileResponder())
        return fileResponder()({ false, caption, directory, filter });
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    if (fileResponder())
        return fileResponder()({ true, caption, directory, filter });
    return QFileDialog::getSaveFileName(parent, caption, directory, filter);
}

} // namespace UiPrompts
