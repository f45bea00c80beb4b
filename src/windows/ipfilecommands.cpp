#include "windows/ipfilecommands.h"

#include "addresses/ipfile.h"
#include "addresses/selectioncheck.h"
#include "windows/dialogs.h"

#include <QGuiApplication>
#include <QWidget>

namespace vexal {

namespace {

// The hourglass while a file is read or written, gone again on every path
// out, before any message is shown.
class WaitCursor final
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

IPFileCommands::IPFileCommands(Dialogs &dialogs, SelectionAccess selections, QWidget *window)
    : QObject(window)
    , m_dialogs(dialogs)
    , m_selections(std::move(selections))
    , m_window(window)
{
}

void IPFileCommands::complain(const QString &title, const QString &text)
{
    m_dialogs.message(m_window, title, text, Dialogs::Icon::Exclamation, Dialogs::Buttons::Ok);
}

void IPFileCommands::saveIPFile()
{
    const AddressSet lists = m_selections.read();
    if (const std::optional<Complaint> fault = listSelectionFault(lists)) {
        complain(fault->title, fault->text);
        return;
    }
    const std::optional<QString> chosen = m_dialogs.saveFile(
        m_window, {QStringLiteral("IP File"), QStringLiteral("IP File (*.ip)|*.ip"), FileDialogFlags,
                   m_fileName});
    if (!chosen)
        return;
    m_fileName = *chosen;

    IPFileWrite result;
    {
        WaitCursor hourglass;
        result = writeFileToDisk(m_fileName, lists);
    }
    if (result == IPFileWrite::DiskFull)
        complain(IPFileDiskFull.title, IPFileDiskFull.text);
}

void IPFileCommands::openIPFile()
{
    for (;;) {
        // A cancelled dialog ends the command; otherwise a user who opened it
        // by mistake could never leave the loop without choosing a valid file.
        const std::optional<QString> chosen = m_dialogs.openFile(
            m_window, {QStringLiteral("IP File"), QStringLiteral("IP File (*.ip)|*.ip"),
                       FileDialogFlags, m_fileName});
        if (!chosen)
            return;
        m_fileName = *chosen;

        // One reading both checks and loads the file, so what is loaded is
        // exactly what was checked, even if the file changes meanwhile.
        {
            WaitCursor hourglass;
            if (const std::optional<AddressSet> lists = readIPFile(m_fileName)) {
                m_selections.replace(*lists);
                return;
            }
        }
        complain(InvalidIPFile.title, InvalidIPFile.text);
    }
}

} // namespace vexal
