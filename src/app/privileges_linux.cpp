#include "app/privileges.h"

#include "sweep/pinger.h"

#include <cerrno>
#include <cstring>

#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace vexal {

namespace {

std::string failure(const char *step)
{
    return std::string("Vexal cannot give up the privileges it was started with (") + step
        + "): " + std::strerror(errno);
}

bool holdsCapabilities()
{
    cap_t held = ::cap_get_proc();
    cap_t none = ::cap_init();
    // When in doubt, drop.
    const bool holds = !held || !none || ::cap_compare(held, none) != 0;
    ::cap_free(held);
    ::cap_free(none);
    return holds;
}

} // namespace

PrivilegedSockets openPrivilegedSockets()
{
    PrivilegedSockets sockets{openRawIcmpSocket(), {}};
    if (sockets.rawIcmp.fd >= 0)
        sockets.packet = openPacketSocket();
    return sockets;
}

std::string dropPrivileges()
{
    const uid_t user = ::getuid();
    if (user == 0)
        return {};
    const bool setUserId = ::geteuid() != user;
    if (!setUserId && !holdsCapabilities())
        return {};
    // Saved user ID included, so the process cannot switch back.
    if (setUserId && ::setresuid(user, user, user) != 0)
        return failure("setresuid");
    cap_t none = ::cap_init();
    const bool dropped = none && ::cap_set_proc(none) == 0;
    ::cap_free(none);
    if (!dropped)
        return failure("cap_set_proc");
    // File capabilities and set-user-ID bits no longer work for this process
    // or anything it starts (a browser from the About window included).
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return failure("PR_SET_NO_NEW_PRIVS");
    // The raw socket stays a privilege. A capability no longer shields the
    // process from the user's other processes, and the kernel leaves one
    // that gained a file capability dumpable: ptrace() or pidfd_getfd()
    // would hand them the socket. Not dumpable, only root may attach.
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        return failure("PR_SET_DUMPABLE");
    return {};
}

} // namespace vexal
