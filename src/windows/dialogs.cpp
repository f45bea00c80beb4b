#include "windows/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

namespace vexal {

Dialogs::Answer QtDialogs::message(QWidget *parent, const QString &title, const QString &text,
                                   Icon icon, Buttons buttons)
{
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    if (buttons == Buttons::RetryCancel) {
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Retry);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // A message raised by a hidden or minimised window must still be seen.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, parent == nullptr || !parent->isVisible()
                                                    || parent->isMinimized());
    switch (box.exec()) {
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        return buttons == Buttons::RetryCancel ? Answer::Cancel : Answer::Ok;
    }
}

namespace {

std::optional<QString> runFileDialog(QWidget *parent, const Dialogs::FileRequest &request,
                                     QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.title);
    if (!request.filter.isEmpty())
        dialog.setNameFilters(QtDialogs::nameFilters(request.filter));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(request.flags & Dialogs::FileMustExist ? QFileDialog::ExistingFile
                                                              : QFileDialog::AnyFile);
    if (!(request.flags & Dialogs::OverwritePrompt))
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.presetName.isEmpty())
        dialog.selectFile(request.presetName);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        const QString chosen = dialog.selectedFiles().constFirst();
        // Qt's own dialog accepts a typed name in a folder that does not
        // exist; the common dialog refuses it and stays open.
        if (!(request.flags & Dialogs::PathMustExist) || QFileInfo(chosen).absoluteDir().exists())
            return chosen;
        QMessageBox::warning(&dialog, request.title,
                             QStringLiteral("%1\nThe folder does not exist.  Check the path "
                                            "and try again.")
                                 .arg(QDir::toNativeSeparators(chosen)));
    }
}

} // namespace

QStringList QtDialogs::nameFilters(const QString &filter)
{
    // Qt reads the patterns from the parentheses of each description, so
    // they are rebuilt from the pattern half of each pair.
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        description.remove(trailingPatterns);
        QString patterns = parts[i + 1].trimmed();
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(description.trimmed(), patterns);
    }
    return filters;
}

std::optional<QString> QtDialogs::openFile(QWidget *parent, const FileRequest &request)
{
    return runFileDialog(parent, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtDialogs::saveFile(QWidget *parent, const FileRequest &request)
{
    return runFileDialog(parent, request, QFileDialog::AcceptSave);
}

} // namespace vexal
