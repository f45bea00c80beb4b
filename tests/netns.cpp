#include "netns.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vexal::netns {

namespace {

bool g_private = false;

std::string failure(const std::string &what, int error) { return what + ": " + std::strerror(error); }

int openOwnNetwork() { return ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC); }

// Runs body on this thread in another network namespace (the one behind
// target, or a new one when target is -1), then moves the thread back.
std::string elsewhere(int target, const std::function<void()> &body)
{
    const int ours = openOwnNetwork();
    const bool entered = ours >= 0 && (target < 0 ? ::unshare(CLONE_NEWNET) : ::setns(target, CLONE_NEWNET)) == 0;
    const std::string why = entered ? std::string() : failure("cannot enter the peer network namespace", errno);
    if (entered) {
        body();
        if (::setns(ours, CLONE_NEWNET) != 0)
            std::abort(); // every later step would act on the wrong network
    }
    if (ours >= 0)
        ::close(ours);
    return why;
}

} // namespace

std::string enterPrivateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0)
        return failure("cannot create a network namespace: that takes root (CI runs these tests as root) "
                       "and a kernel or container that allows it", errno);
    // From here on nothing can reach the host's network, even on failure.
    g_private = true;
    return runCommand({"ip", "link", "set", "lo", "up"});
}

std::string setPingGroupRange(unsigned first, unsigned last)
{
    if (!g_private)
        return "refusing to change net.ipv4.ping_group_range outside a private network namespace";
    const std::string text = std::to_string(first) + " " + std::to_string(last);
    return std::ofstream("/proc/sys/net/ipv4/ping_group_range") << text << std::endl
        ? std::string() : failure("cannot set net.ipv4.ping_group_range to " + text, errno);
}

std::string runCommand(const std::vector<std::string> &argv)
{
    std::string command; // quoted for the shell; no argument a test passes holds a quote
    for (const std::string &arg : argv)
        command += "'" + arg + "' ";
    FILE *pipe = ::popen((command + "2>&1").c_str(), "r");
    if (!pipe)
        return failure("cannot run " + command, errno);
    std::string printed;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        printed.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::string() : command + "failed: " + printed;
}

// No process holds the namespace: it lives as long as m_fd is open, so even
// an aborted test leaves none behind.
PeerNamespace::PeerNamespace()
{
    m_error = elsewhere(-1, [this] { m_fd = openOwnNetwork(); });
    if (m_error.empty() && m_fd < 0)
        m_error = failure("cannot open the peer network namespace", errno);
    if (m_error.empty())
        m_error = run({"ip", "link", "set", "lo", "up"});
}

PeerNamespace::~PeerNamespace()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string PeerNamespace::addVeth(const std::string &ourLink, const std::string &ourAddress,
                                   const std::string &peerLink, const std::string &peerAddress)
{
    if (!g_private)
        return "refusing to add links outside a private network namespace";
    if (!m_error.empty())
        return m_error;
    // ip opens our descriptor of the peer through /proc.
    const std::string peer = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(m_fd);
    std::string why = runCommand({"ip", "link", "add", ourLink, "type", "veth", "peer", "name", peerLink, "netns",
                                  peer});
    for (const auto &[link, address, inPeer] : {std::tuple{ourLink, ourAddress, false}, {peerLink, peerAddress, true}})
        for (const std::vector<std::string> &step :
             {std::vector<std::string>{"ip", "addr", "add", address, "dev", link}, {"ip", "link", "set", link, "up"}})
            why = !why.empty() ? why : inPeer ? run(step) : runCommand(step);
    return why;
}

std::string PeerNamespace::run(const std::vector<std::string> &argv) const
{
    std::string why; // set only once inside: else inside() says why not
    return inside([&] { why = runCommand(argv); }) + why;
}

std::string PeerNamespace::inside(const std::function<void()> &body) const
{
    return m_fd < 0 ? m_error : elsewhere(m_fd, body);
}

long long neighbourTableOverflows()
{
    std::ifstream statistics("/proc/1/net/stat/arp_cache");
    std::string line;
    if (!std::getline(statistics, line))
        return -1;
    long long sum = 0;
    while (std::getline(statistics, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 13 && fields >> field; ++i)
            if (i == 12)
                sum += std::stoll(field, nullptr, 16);
    }
    return sum;
}

} // namespace vexal::netns
