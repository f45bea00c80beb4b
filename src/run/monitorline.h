#pragma once

#include <QByteArray>

namespace vexal {

struct HostChange;

// A continuous headless run is a monitor: each change is one line on
// standard output, for a pipe, a log collector or the journal to read as it
// comes.
//
//   2026-12-07T13:06:02+01:00 up 198.18.0.5 0.41 ms
//   2026-12-07T13:09:40+01:00 down 198.18.0.5
//
// The time is the change's, in the local zone with its offset written out
// (never "Z", so every line parses the same way); the round trip of the
// reply that brought a host up is in milliseconds with two decimals,
// rounded half away from zero. The line ends with "\n".
QByteArray monitorLine(const HostChange &change);

} // namespace vexal
