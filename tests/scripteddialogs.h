#pragma once

#include "app/dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>

#include <functional>

// Dialogs for headless window tests: records every message exactly and
// answers from a queue (Ok, or Cancel for Retry/Cancel boxes, when empty).
class ScriptedDialogs final : public vexal::Dialogs
{
public:
    struct Message
    {
        QString title;
        QString text;
        Icon icon;
        Buttons buttons;
    };

    Answer message(QWidget *, const QString &title, const QString &text, Icon icon,
                   Buttons buttons) override
    {
        messages.append({title, text, icon, buttons});
        if (onMessage)
            onMessage(messages.constLast());
        if (!answers.isEmpty())
            return answers.dequeue();
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
    std::optional<QString> openFile(QWidget *, const FileRequest &request) override
    {
        fileRequests.append(request);
        return paths.isEmpty() ? std::nullopt : std::optional<QString>(paths.dequeue());
    }
    std::optional<QString> saveFile(QWidget *, const FileRequest &request) override
    {
        fileRequests.append(request);
        return paths.isEmpty() ? std::nullopt : std::optional<QString>(paths.dequeue());
    }

    QList<Message> messages;
    QQueue<Answer> answers;
    QQueue<QString> paths;
    QList<FileRequest> fileRequests;
    // Runs while the message is "shown", as if inside the modal loop.
    std::function<void(const Message &)> onMessage;
};
