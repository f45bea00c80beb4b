#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace vexal {

using Octets = std::array<quint8, 4>;

// True when the file cannot be opened for writing now, or when another text
// log (another Vexal) holds it open; such a file is left exactly as it is.
// Otherwise, like the log that follows it, the probe creates a missing file
// and empties an existing one.
bool fileInUse(const QString &path);

// True when the path names a regular file (or a link to one) whose
// last-change time can be read. A folder, a FIFO, a socket or a device is
// not a file here: none can serve as a log or an IP file.
bool fileExists(const QString &path);

// True when a text log of that name could be written. An existing file is
// opened for writing without being changed; a missing one is created and
// removed again. A folder, a device or a FIFO is refused.
bool validFile(const QString &name);

// A dotted address whose octets the octet lists hold: four parts split at
// ".", each numeric text (blanks allowed, "10. 0.0.1") of at most three
// characters whose whole number lies in 0..255. The octets, or nothing.
std::optional<Octets> ipOctets(const QString &text);
bool isValidIP(const QString &text);

// The octets of an address text walked part by part between the dots, each
// converted to a byte; nothing unless there are exactly four convertible parts.
std::optional<Octets> splitAddress(const QString &text);

} // namespace vexal
