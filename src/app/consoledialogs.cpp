#include "app/consoledialogs.h"

namespace vexal {

Dialogs::Answer ConsoleDialogs::message(QWidget *, const QString &title, const QString &text,
                                        Icon, Buttons buttons)
{
    // A message may hold a carriage return (the dated disk-full message);
    // on a terminal it would overwrite its own start.
    QString line = title + QStringLiteral(": ") + text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    std::fprintf(m_stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(m_stream);
    return buttons == Buttons::RetryCancel ? Answer::Cancel : Answer::Ok;
}

std::optional<QString> ConsoleDialogs::openFile(QWidget *, const FileRequest &)
{
    return std::nullopt;
}

std::optional<QString> ConsoleDialogs::saveFile(QWidget *, const FileRequest &)
{
    return std::nullopt;
}

} // namespace vexal
