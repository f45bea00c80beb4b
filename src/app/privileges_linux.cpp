#include "app/privileges.h"

#include "sweep/pingers_linux.h"

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

void said(std::string &words, const char *what)
{
    words += (words.empty() ? "" : ", ") + std::string(what);
}

} // namespace

PrivilegeDrop dropPrivileges()
{
    PrivilegeDrop drop;
    std::string gaveUp;
    const uid_t user = ::getuid();
    if (user == 0)
        return drop;
    const gid_t group = ::getgid();
    if (::getegid() != group) {
        said(gaveUp, "set-group-ID");
        // Saved group ID included, so the process cannot switch back; the
        // group goes first, while the user may still change it.
        if (::setresgid(group, group, group) != 0) {
            drop.error = failure("setresgid");
            return drop;
        }
    }
    if (::geteuid() != user) {
        said(gaveUp, ::geteuid() == 0 ? "set-user-ID root" : "set-user-ID");
        if (::setresuid(user, user, user) != 0) {
            drop.error = failure("setresuid");
            return drop;
        }
    }
    if (holdsCapabilities()) {
        said(gaveUp, "a capability");
        cap_t none = ::cap_init();
        const bool dropped = none && ::cap_set_proc(none) == 0;
        ::cap_free(none);
        if (!dropped || (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)) {
            drop.error = failure("cap_set_proc");
            return drop;
        }
    }
    if (!gaveUp.empty())
        drop.notice = "Vexal: gave up the privilege this program was installed with (" + gaveUp
            + "); the capability belongs on its helper now: sudo setcap cap_net_raw+ep "
            + helperProgramPath().toLocal8Bit().toStdString();
    return drop;
}

} // namespace vexal
