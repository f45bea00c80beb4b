#include "common/procedures.h"

#include <QFile>
#include <QLocale>

namespace vexal {

QString timeStampText(const QDateTime &when)
{
    // The C locale keeps the text the same on every system, which is what
    // the logs and the start-time label promise.
    return QLocale::c().toString(when, QStringLiteral("MMM d, yyyy hh:mm:ss AP"));
}

bool fileInUse(const QString &path)
{
    if (path.isEmpty())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    const bool flushed = file.flush();
    file.close();
    return !flushed || file.error() != QFileDevice::NoError;
}

} // namespace vexal
