#pragma once
// Answers every message box and file dialog at once and records what was asked, so GUI tests never
// block on a modal loop. Restores the real dialogs when destroyed.

#include "uiprompts.h"

#include <QList>
#include <QStringList>

class PromptRecorder
{
public:
    PromptRecorder()
    {
        UiPrompts::setBoxResponder([this](const UiPrompts::Box &box) {
            boxes.append(box);
            if (!boxAnswers.isEmpty())
                return boxAnswers.takeFirst();
            if (box.buttons & QMessageBox::Ok)
                return QMessageBox::Ok;
            if (box.buttons & QMessageBox::Yes)
                return QMessageBox::Yes;
            return QMessageBox::NoButton;
        });
        UiPrompts::setFileResponder([this](const UiPrompts::FileRequest &request) {
            fileRequests.append(request);
            return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
        });
    }
    ~PromptRecorder()
    {
        UiPrompts::setBoxResponder({});
        UiPrompts::setFileResponder({});
    }
    PromptRecorder(const PromptRecorder &) = delete;
    PromptRecorder &operator=(const PromptRecorder &) = delete;

    QList<UiPrompts::Box> boxes;
    QList<QMessageBox::StandardButton> boxAnswers;
    QList<UiPrompts::FileRequest> fileRequests;
    QStringList fileAnswers;
};
