#include "common/logsettings.h"

namespace vexal {

QString logModeCaption(LogMode mode)
{
    switch (mode) {
    case LogMode::LogNone:
        return QStringLiteral("None");
    case LogMode::LogUnique:
        return QStringLiteral("Log Unique");
    case LogMode::LogAll:
        return QStringLiteral("Log All");
    }
    return QString();
}

} // namespace vexal
