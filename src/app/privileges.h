#pragma once

#include "sweep/preopenedsocket.h"

#include <string>

namespace vexal {

// Every socket the process may need that takes a privilege to open. main()
// opens them first thing, as ping does, and hands each to what uses it; the
// privilege is given up before anything a user controls is read or loaded.
struct PrivilegedSockets
{
    // The system pinger's fallback where ICMP datagram sockets are refused.
    PreopenedSocket rawIcmp;
    // With the raw socket, ARP for on-link targets; useless without it.
    PreopenedSocket packet;
};

PrivilegedSockets openPrivilegedSockets();

// For a process whose real user is not root: goes back to that user if the
// binary is set-user-ID, then gives up every capability (effective,
// permitted, inheritable) and sets no-new-privileges, so that no plugin,
// theme or child ever runs with them, and makes the process undumpable, so
// that no other process of the user can take its raw socket. A process started by root keeps what
// it has (an administrator gains nothing from the drop and would lose access
// to the folders it logs into), and one that holds no privilege is left as
// it is. Returns an empty string, or why the privileges could not be given
// up; the process must then not go on.
std::string dropPrivileges();

} // namespace vexal
