#pragma once

#include <QDialog>

namespace vexal {

// The window's usage line and option rows as plain text, for a terminal.
QString commandLineHelpText();

// The command-line help window (objectName "frmCommandLineOptions"): the
// usage line and one description per option. Run it with exec(); what the
// closing means for the process is helpEndsProcess()'s to decide, from
// closedByOk() and the command line, and the caller's to act on.
class CommandLineHelpDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit CommandLineHelpDialog(QWidget *parent = nullptr);

    // True when OK closed the window; false after the close box.
    bool closedByOk() const { return result() == QDialog::Accepted; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace vexal
