#include "netns.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
// After netinet/in.h, so that the kernel header defers to glibc's types.
#include <linux/icmp.h>

namespace vexal::netns {

namespace {

bool g_private = false;

std::string failure(const std::string &what, int error) { return what + ": " + std::strerror(error); }

// Dies with the test process, so an aborted test leaves no namespace behind.
void dieWithParent(pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(1);
}

void killAndReap(pid_t pid)
{
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Only system calls: it also runs in a child forked from a threaded process.
std::string bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0
        && (request.ifr_flags = short(request.ifr_flags | IFF_UP), ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    return up ? std::string() : failure("cannot bring lo up", error);
}

bool writeProc(const char *path, const std::string &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0)
        ::close(fd);
    return written;
}

} // namespace

std::string enterPrivateNetwork()
{
    if (::geteuid() != 0)
        return "needs root: building network namespaces and veth pairs takes CAP_SYS_ADMIN and "
               "CAP_NET_ADMIN (CI runs these tests as root)";
    if (::unshare(CLONE_NEWNET) != 0)
        return failure("cannot create a network namespace (unshare(CLONE_NEWNET)); the kernel or "
                       "the container does not allow it", errno);
    // From here on nothing can reach the host's network, even on failure.
    g_private = true;
    return bringLoopbackUp();
}

std::string setPingGroupRange(unsigned first, unsigned last)
{
    if (!g_private)
        return "refusing to change net.ipv4.ping_group_range outside a private network namespace";
    const std::string text = std::to_string(first) + " " + std::to_string(last) + "\n";
    return writeProc("/proc/sys/net/ipv4/ping_group_range", text)
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
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    while (!printed.empty() && std::isspace(static_cast<unsigned char>(printed.back())))
        printed.pop_back();
    return command + "failed: " + printed;
}

int answerEchoRequests(const EchoScript &script, const std::function<void()> &ready)
{
    if (!writeProc("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
        return 201;
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    icmp_filter filter{~(1u << ICMP_ECHO)};
    if (fd < 0 || ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0)
        return 202;
    ready();

    // The checksum is computed here, not with the code under test.
    const auto checksum = [](const std::vector<std::uint8_t> &bytes) {
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < bytes.size(); i += 2)
            sum += std::uint32_t(bytes[i] << 8) | (i + 1 < bytes.size() ? bytes[i + 1] : 0);
        while (sum >> 16)
            sum = (sum & 0xffff) + (sum >> 16);
        return std::uint16_t(~sum);
    };
    std::vector<std::vector<std::uint8_t>> answers;
    std::vector<sockaddr_in> askers(std::size_t(script.requests));
    std::vector<in_addr> asked(std::size_t(script.requests)); // answered from the address that was asked
    std::array<std::uint8_t, 1024> packet;
    for (pollfd readable{fd, POLLIN, 0}; int(answers.size()) < script.requests && ::poll(&readable, 1, 2000) > 0;) {
        socklen_t length = sizeof(sockaddr_in);
        const ssize_t n = ::recvfrom(fd, packet.data(), packet.size(), 0,
                                     reinterpret_cast<sockaddr *>(&askers[answers.size()]), &length);
        const ssize_t ihl = n > 0 ? (packet[0] & 0x0f) * 4 : 0;
        if (n < ihl + 8)
            continue;
        std::memcpy(&asked[answers.size()], &packet[16], sizeof(in_addr));
        std::vector<std::uint8_t> &answer = answers.emplace_back(packet.begin() + ihl, packet.begin() + n);
        const std::uint16_t identifier = std::uint16_t(((answer[4] << 8) | answer[5]) + script.identifierShift);
        answer[0] = ICMP_ECHOREPLY;
        answer[2] = answer[3] = 0;
        answer[4] = std::uint8_t(identifier >> 8);
        answer[5] = std::uint8_t(identifier);
        const std::uint16_t sum = checksum(answer);
        answer[2] = std::uint8_t(sum >> 8);
        answer[3] = std::uint8_t(sum);
    }
    ::usleep(useconds_t(script.delayMs) * 1000);
    int sent = 0;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        iovec data{answers[i].data(), answers[i].size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr message{&askers[i], sizeof(sockaddr_in), &data, 1, control, sizeof control, 0};
        cmsghdr *info = CMSG_FIRSTHDR(&message);
        info->cmsg_level = IPPROTO_IP;
        info->cmsg_type = IP_PKTINFO;
        info->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo from{};
        from.ipi_spec_dst = asked[i];
        std::memcpy(CMSG_DATA(info), &from, sizeof from);
        for (int copy = 0; copy < script.copies; ++copy)
            sent += ::sendmsg(fd, &message, 0) == ssize_t(answers[i].size());
    }
    ::close(fd);
    return sent;
}

long long snmpCounter(const std::string &group, const std::string &name)
{
    // Pairs of lines: "Ip: Forwarding DefaultTTL ..." then "Ip: 1 64 ...".
    std::ifstream snmp("/proc/net/snmp");
    for (std::string names, values; std::getline(snmp, names) && std::getline(snmp, values);) {
        std::istringstream n(names), v(values);
        std::string key, value;
        if (!(n >> key && v >> value) || key != group + ":")
            continue;
        while (n >> key && v >> value)
            if (key == name)
                return std::stoll(value);
    }
    return -1;
}

PeerNamespace::PeerNamespace()
{
    int sync[2];
    if (::pipe2(sync, O_CLOEXEC) != 0) {
        m_error = failure("cannot create a pipe", errno);
        return;
    }
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(sync[0]);
        dieWithParent(parent);
        int error = ::unshare(CLONE_NEWNET) == 0 ? 0 : errno;
        if (error == 0 && !bringLoopbackUp().empty())
            error = errno != 0 ? errno : EIO;
        (void)!::write(sync[1], &error, sizeof error);
        ::close(sync[1]);
        for (;;)
            ::pause();
    }
    ::close(sync[1]);
    int error = m_pid < 0 ? errno : 0;
    if (m_pid > 0 && ::read(sync[0], &error, sizeof error) != ssize_t(sizeof error))
        error = EIO;
    ::close(sync[0]);
    if (error != 0) {
        m_error = failure("cannot create the peer network namespace", error);
        if (m_pid > 0)
            killAndReap(m_pid);
        m_pid = -1;
    }
}

PeerNamespace::~PeerNamespace()
{
    for (pid_t child : m_children)
        killAndReap(child);
    if (m_pid > 0)
        killAndReap(m_pid);
}

std::string PeerNamespace::addVeth(const std::string &ourLink, const std::string &ourAddress,
                                   const std::string &peerLink, const std::string &peerAddress)
{
    if (!g_private)
        return "refusing to add links outside a private network namespace";
    if (m_pid < 0)
        return m_error;
    std::string why = runCommand({"ip", "link", "add", ourLink, "type", "veth", "peer", "name", peerLink, "netns",
                                  std::to_string(m_pid)});
    for (const auto &[link, address, peer] : {std::tuple{ourLink, ourAddress, false}, {peerLink, peerAddress, true}})
        for (const std::vector<std::string> &step : {std::vector<std::string>{"ip", "addr", "add", address, "dev", link},
                                                     {"ip", "link", "set", link, "up"}})
            why = !why.empty() ? why : peer ? run(step) : runCommand(step);
    return why;
}

std::string PeerNamespace::run(const std::vector<std::string> &argv) const
{
    if (m_pid < 0)
        return m_error;
    std::vector<std::string> command = {"nsenter", "--target", std::to_string(m_pid), "--net", "--"};
    command.insert(command.end(), argv.begin(), argv.end());
    return runCommand(command);
}

pid_t PeerNamespace::spawn(const std::function<int(const std::function<void()> &ready)> &body)
{
    const int network = m_pid < 0 ? -1 : ::open(("/proc/" + std::to_string(m_pid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    int sync[2];
    if (network < 0 || ::pipe2(sync, O_CLOEXEC) != 0) {
        if (network >= 0)
            ::close(network);
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(sync[0]);
        dieWithParent(parent);
        if (::setns(network, CLONE_NEWNET) != 0)
            ::_exit(127);
        const int readyFd = sync[1];
        ::_exit(body([readyFd] { (void)!::write(readyFd, "", 1); }));
    }
    ::close(network);
    ::close(sync[1]);
    if (child > 0) {
        m_children.push_back(child);
        pollfd readable{sync[0], POLLIN, 0}; // a byte when the child is ready, end of file when it is gone
        ::poll(&readable, 1, 5000);
    }
    ::close(sync[0]);
    return child;
}

int PeerNamespace::waitFor(pid_t child, int limitMs)
{
    std::erase(m_children, child);
    int status = 0;
    for (int waited = 0; waited < limitMs; waited += 5) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        ::usleep(5000);
    }
    killAndReap(child);
    return -1;
}

} // namespace vexal::netns
