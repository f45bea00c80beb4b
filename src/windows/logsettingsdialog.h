#pragma once

#include <QDialog>

#include <array>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace vexal {

class Dialogs;
struct LogSettings;

// The log settings window (objectName "frmLog"): the mode and the file of the
// text log and of the database log. File names are stored the moment they
// are chosen; the modes only when Close accepts them. Create one per showing
// and run it with exec().
class LogSettingsDialog final : public QDialog
{
    Q_OBJECT

public:
    // Hide read-only and path must exist, nothing else: no overwrite prompt,
    // and a file that does not exist yet may be named.
    static constexpr int FileDialogFlags = 2052;

    LogSettingsDialog(LogSettings &settings, Dialogs &dialogs, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void onFileTypeSelected(int index);
    void onDatabaseTypeSelected(int index);
    void onFileClicked();
    void onDatabaseClicked();
    void onCloseClicked();
    QString chooseFile(const QString &filter, const QString &title);
    void complain(const QString &title, const QString &text);

    LogSettings &m_settings;
    Dialogs &m_dialogs;

    QGroupBox *fraFile = nullptr;
    std::array<QRadioButton *, 3> optFileType{};
    QButtonGroup *m_fileTypes = nullptr;
    QLabel *lblFileLabel = nullptr;
    QLabel *lblFile = nullptr;
    QPushButton *cmdFile = nullptr;
    QGroupBox *fraDatabase = nullptr;
    std::array<QRadioButton *, 3> optDatabaseType{};
    QButtonGroup *m_databaseTypes = nullptr;
    QLabel *lblDatabaseLabel = nullptr;
    QLabel *lblDatabase = nullptr;
    QPushButton *cmdDatabase = nullptr;
    QPushButton *cmdClose = nullptr;
};

} // namespace vexal
