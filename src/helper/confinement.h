#pragma once

#include "sweep/preopenedsocket.h"

#include <string>

namespace vexal {

// What the helper holds once it has confined itself.
struct Confinement
{
    PreopenedSocket raw;
    // 0, or why no packet socket could be opened (the errno of a trial).
    int packetError = 0;
    // Empty, or why the helper must not go on.
    std::string error;
};

// The helper's first step, before anything else runs: it forgets the
// environment it was started with, closes every descriptor but the three
// standard ones, and checks that its standard input is the socket Vexal
// starts it with. It then opens the raw ICMP socket while it still has the
// capability, and gives up everything it was given: a set-user-ID or
// set-group-ID identity, the ability to gain privileges again
// (no-new-privileges), its dumpability, so that no other process of the user
// can take its sockets, and every capability but cap_net_raw in its permitted
// set, where it does nothing until openPacketSocketForArp() raises it.
Confinement confineHelper();

// A packet socket for ARP, opened with cap_net_raw raised for that one call.
// A packet socket bound to ARP hears every link until it is closed, so the
// helper opens one only while it asks, rather than holding one for its life.
PreopenedSocket openPacketSocketForArp();

} // namespace vexal
