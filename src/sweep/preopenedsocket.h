#pragma once

namespace vexal {

// A socket that takes a privilege to open, opened at start-up while the
// process still had it (app/privileges.h), or the errno that refused it.
// Whoever it is handed to owns it and closes it.
struct PreopenedSocket
{
    int fd = -1;
    int error = 0;

    // False for the empty value: nothing was tried ahead of time.
    bool attempted() const { return fd >= 0 || error != 0; }
};

} // namespace vexal
