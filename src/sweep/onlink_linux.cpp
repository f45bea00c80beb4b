#include "sweep/onlink_linux.h"

#include "sweep/icmppacket.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <net/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

// The table is read again at most this often while a sweep asks.
constexpr qint64 NeighboursFreshNs = 500'000'000;
// Entries of the host's own the pacing leaves room for beyond those seen.
constexpr int TableMargin = 16;

qint64 monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

long readNumber(const std::string &path, long fallback)
{
    long value = fallback;
    std::ifstream(path) >> value;
    return value > 0 ? value : fallback;
}

quint64 neighbourKey(int interfaceIndex, Ipv4 address) { return (quint64(quint32(interfaceIndex)) << 32) | address; }

} // namespace

LinkMap::LinkMap()
{
    m_netlink = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    // A kernel that never answers must not hang the sweep.
    const timeval wait{0, 200'000};
    ::setsockopt(m_netlink, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

LinkMap::~LinkMap()
{
    if (m_netlink >= 0)
        ::close(m_netlink);
}

LinkRoute LinkMap::route(Ipv4 target)
{
    LinkRoute result;
    const qint64 now = monotonicNs();
    if (m_prefixesReadAt < 0 || now - m_prefixesReadAt > NeighboursFreshNs) {
        readLinkPrefixes();
        m_prefixesReadAt = now;
    }
    const auto inside = [target](const std::pair<Ipv4, Ipv4> &p) { return (target & p.second) == p.first; };
    if (m_netlink < 0 || std::none_of(m_linkPrefixes.begin(), m_linkPrefixes.end(), inside))
        return result;
    struct
    {
        nlmsghdr header;
        rtmsg route;
        rtattr destination;
        quint32 address;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = ++m_sequence;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    request.destination.rta_type = RTA_DST;
    request.destination.rta_len = RTA_LENGTH(sizeof(quint32));
    request.address = htonl(target);
    if (::send(m_netlink, &request, sizeof request, 0) != ssize_t(sizeof request))
        return result;

    alignas(nlmsghdr) char answer[4096];
    for (;;) {
        const ssize_t length = ::recv(m_netlink, answer, sizeof answer, 0);
        if (length <= 0)
            return result;
        const auto *header = reinterpret_cast<const nlmsghdr *>(answer);
        if (!NLMSG_OK(header, quint32(length)))
            return result;
        if (header->nlmsg_seq != m_sequence)
            continue; // the answer to an earlier question that timed out
        if (header->nlmsg_type != RTM_NEWROUTE)
            return result; // NLMSG_ERROR: no route at all
        const auto *route = static_cast<const rtmsg *>(NLMSG_DATA(header));
        if (route->rtm_type != RTN_UNICAST)
            return result; // local, broadcast, unreachable, prohibited
        bool gateway = false;
        int attributesLength = int(RTM_PAYLOAD(header));
        for (const rtattr *a = RTM_RTA(route); RTA_OK(a, attributesLength); a = RTA_NEXT(a, attributesLength)) {
            if (a->rta_type == RTA_GATEWAY || a->rta_type == RTA_VIA || a->rta_type == RTA_MULTIPATH)
                gateway = true;
            else if (a->rta_type == RTA_OIF)
                std::memcpy(&result.interfaceIndex, RTA_DATA(a), sizeof(int));
            else if (a->rta_type == RTA_PREFSRC) {
                quint32 source;
                std::memcpy(&source, RTA_DATA(a), sizeof source);
                result.source = ntohl(source);
            }
        }
        if (gateway || result.interfaceIndex <= 0 || result.source == 0)
            return LinkRoute{};
        break;
    }
    result.onLink = true;
    result.arp = link(result.interfaceIndex).arp;
    if (m_neighboursReadAt < 0 || now - m_neighboursReadAt > NeighboursFreshNs) {
        readNeighbours();
        m_neighboursReadAt = now;
    }
    result.known = m_known.count(neighbourKey(result.interfaceIndex, target)) > 0;
    return result;
}

LinkMap::Link &LinkMap::link(int interfaceIndex)
{
    auto found = m_links.find(interfaceIndex);
    if (found != m_links.end())
        return found->second;
    Link &link = m_links[interfaceIndex];
    char name[IF_NAMESIZE] = {};
    if (!::if_indextoname(unsigned(interfaceIndex), name))
        return link;
    link.name = name;
    ifreq request{};
    std::memcpy(request.ifr_name, name, sizeof request.ifr_name);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::ioctl(fd, SIOCGIFHWADDR, &request) == 0 && request.ifr_hwaddr.sa_family == ARPHRD_ETHER) {
        std::memcpy(link.address.data(), request.ifr_hwaddr.sa_data, link.address.size());
        link.arp = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 && !(request.ifr_flags & IFF_NOARP);
    }
    if (fd >= 0)
        ::close(fd);

    const std::string settings = "/proc/sys/net/ipv4/neigh/" + link.name + "/";
    const long solicit = readNumber(settings + "mcast_solicit", 3) + readNumber(settings + "app_solicit", 0);
    const long retransMs = readNumber(settings + "retrans_time_ms", 1000);
    const long limit = readNumber("/proc/sys/net/ipv4/neigh/default/gc_thresh3", 1024);
    if (m_neighboursReadAt < 0)
        readNeighbours();
    // The burst is part of the budget: no window of the entries' lifetime
    // ever sees more than the budget's worth.
    const double budget = double(limit - m_entries - TableMargin - UnresolvedBurst);
    link.unresolvedPerSecond = std::max(1.0, budget * 1000.0 / double(solicit * retransMs + 100));
    return link;
}

std::optional<HardwareAddress> LinkMap::hardwareAddress(int interfaceIndex)
{
    const Link &found = link(interfaceIndex);
    return found.arp ? std::optional(found.address) : std::nullopt;
}

double LinkMap::unresolvedPerSecond(int interfaceIndex) { return link(interfaceIndex).unresolvedPerSecond; }

void LinkMap::readNeighbours()
{
    // "IP address  HW type  Flags  HW address  Mask  Device"; ATF_COM (0x2)
    // marks an entry that holds an address: permanent, reachable or stale.
    m_known.clear();
    m_entries = 0;
    std::ifstream table("/proc/net/arp");
    std::string line;
    std::getline(table, line);
    std::unordered_map<std::string, int> indexes;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string address, type, flags, hardware, mask, device;
        if (!(fields >> address >> type >> flags >> hardware >> mask >> device))
            continue;
        ++m_entries;
        in_addr parsed{};
        if (!(std::stoul(flags, nullptr, 16) & ATF_COM) || ::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
            continue;
        auto index = indexes.find(device);
        if (index == indexes.end())
            index = indexes.emplace(device, int(::if_nametoindex(device.c_str()))).first;
        m_known.insert(neighbourKey(index->second, ntohl(parsed.s_addr)));
    }
}

void LinkMap::readLinkPrefixes()
{
    // "Iface Destination Gateway Flags RefCnt Use Metric Mask ...", the
    // addresses in hexadecimal as they lie in memory (network order).
    m_linkPrefixes.clear();
    std::ifstream table("/proc/net/route");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string device, destination, gateway, flags, references, use, metric, mask;
        if (fields >> device >> destination >> gateway >> flags >> references >> use >> metric >> mask
            && std::stoul(gateway, nullptr, 16) == 0)
            m_linkPrefixes.emplace_back(ntohl(quint32(std::stoul(destination, nullptr, 16))),
                                        ntohl(quint32(std::stoul(mask, nullptr, 16))));
    }
}

std::array<quint8, 28> arpRequest(const HardwareAddress &sender, Ipv4 source, Ipv4 target)
{
    std::array<quint8, 28> m{};
    qToBigEndian<quint16>(ARPHRD_ETHER, m.data());
    qToBigEndian<quint16>(0x0800, m.data() + 2); // IPv4
    m[4] = 6;
    m[5] = 4;
    qToBigEndian<quint16>(ARPOP_REQUEST, m.data() + 6);
    std::copy(sender.begin(), sender.end(), m.begin() + 8);
    qToBigEndian<quint32>(source, m.data() + 14);
    // The target's hardware address (18..23) is what is asked: zero.
    qToBigEndian<quint32>(target, m.data() + 24);
    return m;
}

std::optional<std::pair<Ipv4, HardwareAddress>> arpSender(std::span<const quint8> m)
{
    if (m.size() < 28 || qFromBigEndian<quint16>(m.data()) != ARPHRD_ETHER
        || qFromBigEndian<quint16>(m.data() + 2) != 0x0800 || m[4] != 6 || m[5] != 4)
        return std::nullopt;
    const quint16 operation = qFromBigEndian<quint16>(m.data() + 6);
    if (operation != ARPOP_REPLY && operation != ARPOP_REQUEST)
        return std::nullopt;
    HardwareAddress sender;
    std::copy(m.begin() + 8, m.begin() + 14, sender.begin());
    return std::pair{qFromBigEndian<quint32>(m.data() + 14), sender};
}

void writeIpv4Header(std::span<quint8, 20> h, Ipv4 source, Ipv4 target, quint16 identification, std::size_t payload)
{
    std::fill(h.begin(), h.end(), 0);
    h[0] = 0x45;
    qToBigEndian<quint16>(quint16(20 + payload), h.data() + 2);
    qToBigEndian<quint16>(identification, h.data() + 4);
    h[8] = 64;             // time to live
    h[9] = 1;              // ICMP
    qToBigEndian<quint32>(source, h.data() + 12);
    qToBigEndian<quint32>(target, h.data() + 16);
    qToBigEndian<quint16>(internetChecksum(h), h.data() + 10);
}

} // namespace vexal
