#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace vexal {

// Every message box and file dialog of the program goes through this, so
// that the windows can be driven headless with every message recorded.
class Dialogs
{
public:
    enum class Icon { Exclamation, Information, Critical };
    enum class Buttons { Ok, RetryCancel };
    enum class Answer { Ok, Retry, Cancel };

    struct FileRequest
    {
        QString title;
        QString filter;      // "IP Files (*.ip)"
        QString presetName;  // file name shown at first
        bool overwritePrompt = true;
        bool mustExist = false;
    };

    virtual ~Dialogs() = default;

    // Modal; returns the button pressed.
    virtual Answer message(QWidget *parent, const QString &title, const QString &text, Icon icon,
                           Buttons buttons) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<QString> openFile(QWidget *parent, const FileRequest &request) = 0;
    virtual std::optional<QString> saveFile(QWidget *parent, const FileRequest &request) = 0;
};

// The real dialogs: QMessageBox and QFileDialog.
class QtDialogs final : public Dialogs
{
public:
    Answer message(QWidget *parent, const QString &title, const QString &text, Icon icon,
                   Buttons buttons) override;
    std::optional<QString> openFile(QWidget *parent, const FileRequest &request) override;
    std::optional<QString> saveFile(QWidget *parent, const FileRequest &request) override;
};

} // namespace vexal
