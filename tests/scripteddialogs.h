#pragma once

#include "app/dialogs.h"

#include <QQueue>
#include <QString>

#include <functional>
#include <optional>

// Dialogs for headless window tests: records every message and file request
// exactly. A message box answers Ok (Cancel when it offers Retry); a file
// dialog answers the next queued path, or is cancelled when the queue is
// empty or holds nullopt.
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
            onMessage();
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
    std::optional<QString> openFile(QWidget *, const FileRequest &r) override { return pick(r, false); }
    std::optional<QString> saveFile(QWidget *, const FileRequest &r) override { return pick(r, true); }

    QList<Message> messages;
    QQueue<std::optional<QString>> paths;
    QList<RecordedFileRequest> fileRequests;
    // Runs while the message is "shown", as if inside the modal loop.
    std::function<void()> onMessage;

private:
    std::optional<QString> pick(const FileRequest &request, bool save)
    {
        fileRequests.append({request, save});
        return paths.isEmpty() ? std::nullopt : paths.dequeue();
    }
};
