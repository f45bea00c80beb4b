#pragma once

#include <QDateTime>
#include <QString>

namespace vexal {

// Replaces "Vexalerr" in the current folder with two lines: "Error Log
// created on " and the general date-time text, then the message, each
// ending in CR LF, in the locale's encoding.
//
// The new file is written beside the old one and renamed over it, so a full
// or read-only disk never leaves half a file: either the whole new error log
// is there or the previous one (if any) is left as it was. Then the result
// is false and failure, when given, says why in the system's words.
bool createErrorLog(const QString &message, const QDateTime &when, QString *failure = nullptr);

} // namespace vexal
