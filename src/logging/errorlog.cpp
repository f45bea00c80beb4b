#include "logging/errorlog.h"

#include "common/datetimetext.h"

#include <QSaveFile>
#include <QStringEncoder>

namespace vexal {

bool createErrorLog(const QString &message, const QDateTime &when, QString *failure)
{
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(QStringLiteral("Error Log created on ") + generalDateTimeText(when)
                                            + QStringLiteral("\r\n") + message + QStringLiteral("\r\n"));
    QSaveFile file(QStringLiteral("Vexalerr"));
    // Unbuffered: Qt 6.4's commit() misses an error met while flushing its
    // buffer, and would rename an empty file over the old one.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(bytes) == bytes.size()
        && file.commit())
        return true;
    if (failure)
        *failure = file.errorString();
    file.cancelWriting();
    return false;
}

} // namespace vexal
