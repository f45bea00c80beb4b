#pragma once

#include <QString>
#include <QtGlobal>

namespace vexal {

// The number is also the index of the option in the log settings window and
// the value the command line sets.
enum class LogMode : qint16 {
    LogNone = 0,
    LogUnique = 1,
    LogAll = 2,
};

QString logModeCaption(LogMode mode);

// The process-wide logging choices. One instance lives for the process
// (owned by the application and handed to whoever needs it); all zero at start.
struct LogSettings
{
    LogMode TextLogMode = LogMode::LogNone;
    QString TextLogFile;
    bool TextLogOpen = false;
    LogMode DatabaseLogMode = LogMode::LogNone;
    QString DatabaseLogFile;
    QString DatabaseLogTable;
    bool DatabaseOpen = false;
};

} // namespace vexal
