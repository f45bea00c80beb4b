#pragma once

#include "addresses/octetlist.h"

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace vexal {

class Dialogs;

// How the IP file commands reach the window's four lists.
struct SelectionAccess
{
    std::function<AddressSet()> read;
    std::function<void(const AddressSet &)> replace;
};

// The window's "Save IP File" and "Open IP File" commands. Both share one
// file name, so each dialog opens with the name last chosen in either.
class IPFileCommands final : public QObject
{
    Q_OBJECT

public:
    // Hide read-only, path must exist, confirm before overwriting (which
    // only the save dialog heeds); the open dialog lets a missing file be
    // named, and the check that follows refuses it.
    static constexpr int FileDialogFlags = 2054;

    // window parents the dialogs and this object.
    IPFileCommands(Dialogs &dialogs, SelectionAccess selections, QWidget *window);

    const QString &fileName() const { return m_fileName; }

public slots:
    void saveIPFile();
    // Asks again after an invalid file until a valid one is loaded or the
    // user cancels the dialog.
    void openIPFile();

private:
    void complain(const QString &title, const QString &text);

    Dialogs &m_dialogs;
    SelectionAccess m_selections;
    QWidget *m_window;
    QString m_fileName;
};

} // namespace vexal
