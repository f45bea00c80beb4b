#include "helper/confinement.h"

#include "sweep/pingers_linux.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

std::string failure(const char *step)
{
    return std::string("cannot give up its privileges (") + step + "): " + std::strerror(errno);
}

// Standard input is a sequenced-packet socket pair's end, as Vexal makes it.
bool startedByVexal()
{
    int type = 0;
    int domain = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(0, SOL_SOCKET, SO_TYPE, &type, &length) != 0)
        return false;
    length = sizeof domain;
    return ::getsockopt(0, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && type == SOCK_SEQPACKET
        && domain == AF_UNIX;
}

} // namespace

Confinement confineHelper()
{
    Confinement held;
    // Nothing the caller set reaches Qt or the C library: no plugin path,
    // no locale, no preload (the loader ignores that already for a program
    // with a file capability).
    ::clearenv();
    // Only the standard descriptors are kept; a descriptor that is not open
    // is opened on /dev/null, so that no socket of ours ever becomes one.
    ::close_range(3, ~0U, 0);
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0)
            ::open("/dev/null", O_RDWR);
    if (!startedByVexal()) {
        held.error = "is started by vexal, with its socket as standard input; it is not meant to be run by hand";
        return held;
    }

    held.raw = openRawIcmpSocket();

    // The group first: once the user is given up, the group can no longer be.
    const gid_t group = ::getgid();
    if (::getegid() != group && ::setresgid(group, group, group) != 0)
        held.error = failure("setresgid");
    const uid_t user = ::getuid();
    if (held.error.empty() && ::geteuid() != user && ::setresuid(user, user, user) != 0)
        held.error = failure("setresuid");
    // Every capability, root's too, but cap_net_raw kept permitted and not
    // effective, for the packet sockets of ARP; it gives nothing the raw
    // socket does not already give.
    cap_t had = ::cap_get_proc();
    cap_flag_value_t permitted = CAP_CLEAR;
    if (had)
        ::cap_get_flag(had, CAP_NET_RAW, CAP_PERMITTED, &permitted);
    ::cap_free(had);
    cap_t kept = ::cap_init();
    const cap_value_t raw[] = {CAP_NET_RAW};
    if (held.error.empty()
        && (!kept || ::cap_set_flag(kept, CAP_PERMITTED, 1, raw, permitted) != 0 || ::cap_set_proc(kept) != 0))
        held.error = failure("cap_set_proc");
    ::cap_free(kept);
    if (held.error.empty() && ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        held.error = failure("PR_CAP_AMBIENT_CLEAR_ALL");
    if (held.error.empty() && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        held.error = failure("PR_SET_NO_NEW_PRIVS");
    // A process that gained a file capability stays dumpable for its own
    // user: ptrace() or pidfd_getfd() would hand them the sockets.
    if (held.error.empty() && ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        held.error = failure("PR_SET_DUMPABLE");
    if (!held.error.empty()) {
        if (held.raw.fd >= 0)
            ::close(held.raw.fd);
        held.raw = {};
        return held;
    }
    if (held.raw.fd >= 0) {
        const PreopenedSocket trial = openPacketSocketForArp();
        held.packetError = trial.error;
        if (trial.fd >= 0)
            ::close(trial.fd);
    }
    return held;
}

PreopenedSocket openPacketSocketForArp()
{
    cap_t raised = ::cap_get_proc();
    const cap_value_t raw[] = {CAP_NET_RAW};
    if (!raised || ::cap_set_flag(raised, CAP_EFFECTIVE, 1, raw, CAP_SET) != 0 || ::cap_set_proc(raised) != 0) {
        const int error = errno;
        ::cap_free(raised);
        return {-1, error != 0 ? error : EPERM};
    }
    const PreopenedSocket opened = openPacketSocket();
    ::cap_set_flag(raised, CAP_EFFECTIVE, 1, raw, CAP_CLEAR);
    ::cap_set_proc(raised);
    ::cap_free(raised);
    return opened;
}

} // namespace vexal
