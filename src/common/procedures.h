#pragma once

#include <QDateTime>
#include <QString>

namespace vexal {

// "Dec 5, 2026 07:12:16 PM": English month abbreviation, day without a
// leading zero, four-digit year, 12-hour clock with two-digit fields.
QString timeStampText(const QDateTime &when);

// True when the file cannot be opened for writing now. Like the log writers
// that follow it, the probe creates a missing file and empties an existing one.
bool fileInUse(const QString &path);

} // namespace vexal
