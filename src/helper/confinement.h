#pragma once

#include "sweep/preopenedsocket.h"

#include <string>

namespace vexal {

// What the helper holds once it has confined itself.
struct Confinement
{
    PreopenedSocket raw;
    PreopenedSocket packet;
    // Empty, or why the helper must not go on.
    std::string error;
};

// The helper's first step, before anything else runs: it forgets the
// environment it was started with, closes every descriptor but the three
// standard ones, and checks that its standard input is the socket Vexal
// starts it with. It then opens the raw ICMP and packet sockets while it
// still has the capability, and gives up everything it was given: the
// capabilities, a set-user-ID or set-group-ID identity, the ability to gain
// privileges again (no-new-privileges), and its dumpability, so that no other
// process of the user can take its sockets.
Confinement confineHelper();

} // namespace vexal
