#pragma once

#include <QString>
#include <QStringList>

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

    // The option bits of the classic common file dialog that the windows
    // ask for by number (2052, 2054); other bits are ignored.
    enum FileFlag : int {
        OverwritePrompt = 0x2, // save only: confirm before replacing a file
        HideReadOnly = 0x4,    // no read-only check box (Qt never shows one)
        PathMustExist = 0x800, // the chosen file's folder must exist
        FileMustExist = 0x1000,
    };

    struct FileRequest
    {
        QString title;
        // Description and pattern pairs joined by "|": "IP File (*.ip)|*.ip".
        QString filter;
        int flags = 0;
        QString presetName; // file name shown at first, empty for none
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

    // Qt's name filters for a "Description|pattern|..." filter text.
    static QStringList nameFilters(const QString &filter);
};

} // namespace vexal
