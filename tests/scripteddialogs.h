#pragma once

#include "app/dialogs.h"

#include <QQueue>
#include <QString>

#include <functional>
#include <optional>

// Dialogs for headless window tests: records every message and file request
// exactly and answers from queues (Ok, or Cancel for Retry/Cancel boxes, when
// empty; a file dialog is cancelled when its queue is empty or holds nullopt).
class ScriptedDialogs final : public vexal::Dialogs
{
public:
    struct Message
    {
        QString title, text;
        Icon icon;
        Buttons buttons;
        QString shown() const { return title + '|' + text; }
    };
    struct RecordedFileRequest : FileRequest
    {
        bool save = false;
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
        fileRequests.append({request, false});
        return paths.isEmpty() ? std::nullopt : paths.dequeue();
    }
    std::optional<QString> saveFile(QWidget *, const FileRequest &request) override
    {
        fileRequests.append({request, true});
        return paths.isEmpty() ? std::nullopt : paths.dequeue();
    }

    QList<Message> messages;
    QQueue<Answer> answers;
    QQueue<std::optional<QString>> paths;
    QList<RecordedFileRequest> fileRequests;
    // Runs while the message is "shown", as if inside the modal loop.
    std::function<void(const Message &)> onMessage;
};
