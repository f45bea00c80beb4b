#pragma once

namespace vexal {

// Whether the system's own error number (errno here, GetLastError() on
// Windows, as SQLite reports it) says the disk or the user's quota is full.
bool isLackOfSpace(int systemError);

} // namespace vexal
