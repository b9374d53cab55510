#pragma once
// Answers every message box (Ok, else Yes) and file dialog (from fileAnswers, else cancelled) at once and records what
// was asked, so GUI tests never block on a modal loop. Restores the real dialogs when destroyed.

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
            const auto preferred = (box.buttons & QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Yes;
            return (box.buttons & preferred) ? preferred : QMessageBox::NoButton;
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
    QList<UiPrompts::Box> boxes;
    QList<UiPrompts::FileRequest> fileRequests;
    QStringList fileAnswers;
};
