#include "app/startup.h"

namespace vexal {

QString commandLineFromArguments(const QStringList &arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
}

} // namespace vexal
