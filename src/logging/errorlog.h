#pragma once

#include <QDateTime>
#include <QString>

namespace vexal {

// Replaces "Vexalerr" in the current folder with two lines: "Error Log
// created on " and the general date-time text, then the message, each
// ending in CR LF, in the locale's encoding. False when the file could not
// be written completely.
bool createErrorLog(const QString &message, const QDateTime &when);

} // namespace vexal
