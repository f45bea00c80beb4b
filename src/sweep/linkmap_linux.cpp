#include "sweep/linkmap_linux.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

constexpr qint64 FreshNs = qint64(NeighbourTable::NeighboursFreshMs) * 1'000'000;

qint64 monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Reachable for a random time of up to 1.5 x the base, stale then, and
// reclaimable 5 s after that; a second more for the reading to see it.
qint64 entryHold(long baseReachableMs)
{
    return (qint64(baseReachableMs) * 3 / 2 + 6000) * 1'000'000;
}

// A 32-bit attribute, or nothing when its payload is not one.
std::optional<quint32> word(const rtattr *a)
{
    if (RTA_PAYLOAD(a) < sizeof(quint32))
        return std::nullopt;
    quint32 value;
    std::memcpy(&value, RTA_DATA(a), sizeof value);
    return value;
}

} // namespace

LinkRoute LinkMap::route(Ipv4 target)
{
    LinkRoute result;
    if (m_readAt < 0 || monotonicNs() - m_readAt > FreshNs)
        refresh();
    const auto inside = [target](const std::pair<Ipv4, Ipv4> &p) { return (target & p.second) == p.first; };
    if (m_netlink.fd() < 0 || std::none_of(m_linkPrefixes.begin(), m_linkPrefixes.end(), inside))
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
    request.header.nlmsg_seq = m_netlink.nextSequence();
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    request.destination.rta_type = RTA_DST;
    request.destination.rta_len = RTA_LENGTH(sizeof(quint32));
    request.address = htonl(target);
    if (::send(m_netlink.fd(), &request, sizeof request, 0) != ssize_t(sizeof request))
        return result;

    alignas(nlmsghdr) char answer[4096];
    for (;;) {
        const ssize_t length = ::recv(m_netlink.fd(), answer, sizeof answer, 0);
        if (length <= 0)
            return result;
        const auto *header = reinterpret_cast<const nlmsghdr *>(answer);
        if (!NLMSG_OK(header, quint32(length)))
            return result;
        if (header->nlmsg_seq != m_netlink.sequence())
            continue; // the answer to an earlier question that timed out
        if (header->nlmsg_type != RTM_NEWROUTE || header->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
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
                result.interfaceIndex = int(word(a).value_or(0));
            else if (a->rta_type == RTA_PREFSRC)
                result.source = ntohl(word(a).value_or(0));
        }
        if (gateway || result.interfaceIndex <= 0 || result.source == 0)
            return LinkRoute{};
        break;
    }
    result.onLink = true;
    result.arp = link(result.interfaceIndex).arp;
    result.known = m_neighbours.knows(result.interfaceIndex, target);
    return result;
}

const LinkMap::Link &LinkMap::link(int interfaceIndex)
{
    auto found = m_links.find(interfaceIndex);
    if (found != m_links.end())
        return found->second;
    Link &link = m_links[interfaceIndex];
    link.holdNs = entryHold(30'000);
    char name[IF_NAMESIZE] = {};
    if (!::if_indextoname(unsigned(interfaceIndex), name))
        return link;
    long reachableMs = 0;
    std::ifstream(std::string("/proc/sys/net/ipv4/neigh/") + name + "/base_reachable_time_ms") >> reachableMs;
    if (reachableMs > 0)
        link.holdNs = entryHold(reachableMs);
    ifreq request{};
    std::memcpy(request.ifr_name, name, sizeof request.ifr_name);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::ioctl(fd, SIOCGIFHWADDR, &request) == 0 && request.ifr_hwaddr.sa_family == ARPHRD_ETHER) {
        std::memcpy(link.address.data(), request.ifr_hwaddr.sa_data, link.address.size());
        link.arp = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 && !(request.ifr_flags & IFF_NOARP);
    }
    if (fd >= 0)
        ::close(fd);
    return link;
}

qint64 LinkMap::entryHoldNs(int interfaceIndex)
{
    return link(interfaceIndex).holdNs;
}

std::optional<HardwareAddress> LinkMap::hardwareAddress(int interfaceIndex)
{
    if (m_readAt < 0 || monotonicNs() - m_readAt > FreshNs)
        refresh();
    const Link &found = link(interfaceIndex);
    return found.arp ? std::optional(found.address) : std::nullopt;
}

void LinkMap::refresh()
{
    m_readAt = monotonicNs();
    // Links are asked again when next needed, the routes read now.
    m_links.clear();
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
            && std::strtoul(gateway.c_str(), nullptr, 16) == 0)
            m_linkPrefixes.emplace_back(ntohl(quint32(std::strtoul(destination.c_str(), nullptr, 16))),
                                        ntohl(quint32(std::strtoul(mask.c_str(), nullptr, 16))));
    }
}

} // namespace vexal
