#include "windows/logsettingsdialog.h"

#include "common/logsettings.h"
#include "windows/dialogs.h"
#include "windows/windowlook.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace vexal {

namespace {

// Option buttons share their lefts and widths in both frames.
constexpr std::array<QRect, 3> ModeOptionPlaces = {twips(120, 240, 735, 255),
                                                   twips(960, 240, 1215, 255),
                                                   twips(2280, 240, 855, 255)};

void selectMode(QButtonGroup *group, LogMode mode)
{
    QAbstractButton *option = group->button(int(mode));
    // A group always has one choice, whatever the record held.
    (option ? option : group->button(int(LogMode::LogNone)))->setChecked(true);
}

// A path longer than its box is cut at the right; the whole of it is a hover
// away.
void showPath(QLabel *label, const QString &path)
{
    label->setText(path);
    label->setToolTip(path);
}

} // namespace

LogSettingsDialog::LogSettingsDialog(LogSettings &settings, Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_dialogs(dialogs)
{
    buildControls();

    // Selecting the stored modes runs the same handling as a click, so the
    // file buttons match the modes from the start.
    selectMode(m_fileTypes, m_settings.TextLogMode);
    showPath(lblFile, m_settings.TextLogFile);
    selectMode(m_databaseTypes, m_settings.DatabaseLogMode);
    showPath(lblDatabase, m_settings.DatabaseLogFile);
}

void LogSettingsDialog::buildControls()
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log Information"));
    setWindowIcon(QIcon(QStringLiteral(":/vexal/vexal.png")));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twipsSize(3615, 4335));

    const auto modeGroup = [this](QGroupBox *frame, const QString &baseName,
                                  std::array<QRadioButton *, 3> &options) {
        auto *group = new QButtonGroup(this);
        for (int index = 0; index < 3; ++index) {
            auto *option = place(new QRadioButton(logModeCaption(LogMode(index)), frame),
                                 baseName + QString::number(index),
                                 ModeOptionPlaces[std::size_t(index)]);
            group->addButton(option, index);
            options[std::size_t(index)] = option;
        }
        return group;
    };
    const auto button = [](QWidget *parent, const char *name, const QString &caption,
                           const QRect &geometry) {
        auto *b = place(new QPushButton(caption, parent), QLatin1String(name), geometry);
        b->setAutoDefault(true);
        return b;
    };

    fraFile = place(new QGroupBox(QStringLiteral("File"), this), QStringLiteral("fraFile"),
                    twips(120, 120, 3375, 1815));
    m_fileTypes = modeGroup(fraFile, QStringLiteral("optFileType"), optFileType);
    lblFileLabel = place(new QLabel(QStringLiteral("File Name:"), fraFile),
                         QStringLiteral("lblFileLabel"), twips(120, 600, 855, 255));
    lblFile = place(new QLabel(fraFile), QStringLiteral("lblFile"), twips(120, 960, 3135, 255));
    cmdFile = button(fraFile, "cmdFile", QStringLiteral("&File"), twips(120, 1320, 1215, 375));

    fraDatabase = place(new QGroupBox(QStringLiteral("Database"), this),
                        QStringLiteral("fraDatabase"), twips(120, 2040, 3375, 1695));
    m_databaseTypes = modeGroup(fraDatabase, QStringLiteral("optDatabaseType"), optDatabaseType);
    lblDatabaseLabel = place(new QLabel(QStringLiteral("Database Name:"), fraDatabase),
                             QStringLiteral("lblDatabaseLabel"), twips(120, 600, 1215, 255));
    lblDatabase = place(new QLabel(fraDatabase), QStringLiteral("lblDatabase"),
                        twips(120, 840, 3135, 255));
    cmdDatabase = button(fraDatabase, "cmdDatabase", QStringLiteral("&Database"),
                         twips(120, 1200, 1215, 375));

    cmdClose = button(this, "cmdClose", QStringLiteral("&Close"), twips(120, 3840, 1215, 375));

    lblFile->setTextFormat(Qt::PlainText);
    lblDatabase->setTextFormat(Qt::PlainText);
    cmdFile->setEnabled(false);
    cmdDatabase->setEnabled(false);

    QWidget *order[] = {optFileType[0], optFileType[1], optFileType[2],
                        optDatabaseType[0], optDatabaseType[1], optDatabaseType[2],
                        cmdFile, cmdDatabase, cmdClose};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    applyFormLook(this);

    connect(m_fileTypes, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            onFileTypeSelected(index);
    });
    connect(m_databaseTypes, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            onDatabaseTypeSelected(index);
    });
    connect(cmdFile, &QPushButton::clicked, this, &LogSettingsDialog::onFileClicked);
    connect(cmdDatabase, &QPushButton::clicked, this, &LogSettingsDialog::onDatabaseClicked);
    connect(cmdClose, &QPushButton::clicked, this, &LogSettingsDialog::onCloseClicked);
    centreOnScreen(this);
}

void LogSettingsDialog::onFileTypeSelected(int index)
{
    cmdFile->setEnabled(index >= int(LogMode::LogUnique));
}

void LogSettingsDialog::onDatabaseTypeSelected(int index)
{
    cmdDatabase->setEnabled(index >= int(LogMode::LogUnique));
}

QString LogSettingsDialog::chooseFile(const QString &filter, const QString &title)
{
    // A log is a file to be written, often one that does not exist yet. A
    // native open dialog (GTK, the desktop portal) refuses a name that does
    // not exist, whatever the flags; a save dialog takes one everywhere, and
    // without the overwrite question (not among the flags) it also takes an
    // existing file as it is. Each use starts with a blank name, and a
    // cancelled dialog hands back that blank name, which is then stored like
    // a chosen one.
    return m_dialogs.saveFile(this, {title, filter, FileDialogFlags, QString()}).value_or(QString());
}

void LogSettingsDialog::onFileClicked()
{
    m_settings.TextLogFile = chooseFile(QStringLiteral("Text (*.txt)|*.txt"), QStringLiteral("Log File"));
    showPath(lblFile, m_settings.TextLogFile);
}

void LogSettingsDialog::onDatabaseClicked()
{
    m_settings.DatabaseLogFile = chooseFile(QStringLiteral("Database (*.mdb)|*.mdb"),
                                            QStringLiteral("Log Database"));
    showPath(lblDatabase, m_settings.DatabaseLogFile);
}

void LogSettingsDialog::keyPressEvent(QKeyEvent *event)
{
    // The window has no Cancel button and no default button. Escape would
    // close it like the close box and drop the modes chosen; Enter on an
    // option would press the button that last had the focus, which Qt keeps
    // as the default. A focused button takes Enter itself before this.
    if (event->matches(QKeySequence::Cancel) || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void LogSettingsDialog::complain(const QString &title, const QString &text)
{
    m_dialogs.message(this, title, text, Dialogs::Icon::Exclamation, Dialogs::Buttons::Ok);
}

void LogSettingsDialog::onCloseClicked()
{
    if (!optFileType[0]->isChecked() && m_settings.TextLogFile.isEmpty()) {
        complain(QStringLiteral("File Logging"),
                 QStringLiteral("Please select a file for logging IP information or select None!"));
        return;
    }
    if (!optDatabaseType[0]->isChecked() && m_settings.DatabaseLogFile.isEmpty()) {
        complain(QStringLiteral("Database Logging"),
                 QStringLiteral("Please select a IP database for logging information or select None!"));
        return;
    }
    m_settings.DatabaseLogMode = LogMode(m_databaseTypes->checkedId());
    m_settings.TextLogMode = LogMode(m_fileTypes->checkedId());
    accept();
}

} // namespace vexal
