#pragma once

#include <string>

namespace vexal {

// What dropPrivileges() did.
struct PrivilegeDrop
{
    // Empty, or why the privileges could not be given up; the process must
    // then not go on.
    std::string error;
    // Empty, or a line for standard error: the privileges it found and gave
    // up (an install made when the capability still belonged on this
    // program), and where the capability belongs now.
    std::string notice;
};

// This program holds no privilege: the privileged sockets are the helper
// program's. One started with some anyway (a file capability, a set-user-ID
// or set-group-ID bit, capabilities handed down) gives them up first thing,
// before it opens anything: back to the user and group who started it, and
// no capability left. Root, started as root (sudo vexal), keeps its rights,
// which the folders it logs into may need, and opens its raw socket itself.
// No-new-privileges is left unset: it would void the helper's capability.
PrivilegeDrop dropPrivileges();

} // namespace vexal
