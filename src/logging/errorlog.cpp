#include "logging/errorlog.h"

#include "common/datetimetext.h"

#include <QFile>
#include <QStringEncoder>

namespace vexal {

bool createErrorLog(const QString &message, const QDateTime &when)
{
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(QStringLiteral("Error Log created on ") + generalDateTimeText(when)
                                            + QStringLiteral("\r\n") + message + QStringLiteral("\r\n"));
    QFile file(QStringLiteral("Vexalerr"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace vexal
