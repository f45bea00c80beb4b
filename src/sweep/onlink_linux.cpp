#include "sweep/onlink_linux.h"

#include "sweep/icmppacket.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

// The table is read again at most this often while a sweep asks.
constexpr qint64 NeighboursFreshNs = 500'000'000;
// Entries the pacing leaves for others beyond those seen (a host that
// begins talking to us, a process starting elsewhere).
constexpr int TableMargin = 16;
// The kernel's forced collection reclaims a stale entry not updated for
// this long, whenever a new entry needs room.
constexpr long StaleReclaimedAfterMs = 5000;
// The states whose entry holds a hardware address (the kernel's NUD_VALID).
constexpr int HoldsAddress = NUD_PERMANENT | NUD_NOARP | NUD_REACHABLE | NUD_PROBE | NUD_STALE | NUD_DELAY;

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
    if (m_neighboursReadAt < 0 || now - m_neighboursReadAt > NeighboursFreshNs)
        readNeighbours();
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

std::optional<HardwareAddress> LinkMap::hardwareAddress(int interfaceIndex)
{
    const Link &found = link(interfaceIndex);
    return found.arp ? std::optional(found.address) : std::nullopt;
}

bool LinkMap::takeUnresolvedRoom()
{
    if (m_room <= 0 && monotonicNs() - m_neighboursReadAt >= qint64(RoomFreshMs) * 1'000'000)
        readNeighbours();
    if (m_room <= 0)
        return false;
    --m_room;
    ++m_taken;
    return true;
}

void LinkMap::readNeighbours()
{
    m_neighboursReadAt = monotonicNs();
    m_known.clear();
    if (m_limit == 0)
        m_limit = int(readNumber("/proc/sys/net/ipv4/neigh/default/gc_thresh3", 1024));
    // A table that cannot be read must not stop the sweep: then the room is
    // what entries living the default 3 s leave until the next reading.
    m_room = std::max(1, (m_limit - TableMargin) * RoomFreshMs / 3000);
    struct
    {
        nlmsghdr header;
        ndmsg neighbour;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++m_sequence;
    request.neighbour.ndm_family = AF_INET;
    if (m_netlink < 0 || ::send(m_netlink, &request, sizeof request, 0) != ssize_t(sizeof request))
        return;

    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK) > 0 ? ::sysconf(_SC_CLK_TCK) : 100;
    int entries = 0;
    int held = 0;
    m_dump.resize(64 * 1024);
    for (bool done = false; !done;) {
        const ssize_t length = ::recv(m_netlink, m_dump.data(), m_dump.size(), 0);
        if (length <= 0)
            return;
        int left = int(length);
        for (const auto *h = reinterpret_cast<const nlmsghdr *>(m_dump.data()); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != m_sequence)
                continue; // the rest of an answer that timed out
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (h->nlmsg_type != RTM_NEWNEIGH)
                continue;
            const auto *n = static_cast<const ndmsg *>(NLMSG_DATA(h));
            ++entries;
            Ipv4 address = 0;
            long updatedMs = 0;
            int attributesLength = int(h->nlmsg_len) - int(NLMSG_LENGTH(sizeof *n));
            for (auto *a = reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(n) + NLMSG_ALIGN(sizeof *n));
                 RTA_OK(a, attributesLength); a = RTA_NEXT(a, attributesLength)) {
                if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == sizeof(quint32)) {
                    quint32 raw;
                    std::memcpy(&raw, RTA_DATA(a), sizeof raw);
                    address = ntohl(raw);
                } else if (a->rta_type == NDA_CACHEINFO && RTA_PAYLOAD(a) >= sizeof(nda_cacheinfo)) {
                    nda_cacheinfo info;
                    std::memcpy(&info, RTA_DATA(a), sizeof info);
                    updatedMs = long(info.ndm_updated) * 1000 / ticksPerSecond;
                }
            }
            const int state = n->ndm_state;
            if (state & HoldsAddress)
                m_known.insert(neighbourKey(n->ndm_ifindex, address));
            // What the kernel's forced collection would not free for a new
            // entry. Permanent and externally learned entries do not count
            // against the limit at all; failed ones, and stale ones left
            // alone for a while, are freed first.
            const bool uncounted = (state & (NUD_PERMANENT | NUD_NOARP)) || (n->ndm_flags & NTF_EXT_LEARNED);
            const bool reclaimable = state == NUD_FAILED || (state == NUD_STALE && updatedMs > StaleReclaimedAfterMs);
            if (!uncounted && !reclaimable)
                ++held;
        }
    }
    // The limit is the host's, over every namespace. Only the first one can
    // read how many entries they hold together; elsewhere the margin stands
    // for the others.
    int elsewhere = 0;
    std::ifstream statistics("/proc/net/stat/arp_cache");
    std::string header;
    std::string total;
    if (std::getline(statistics, header) && statistics >> total)
        elsewhere = std::max(0, int(std::stoul(total, nullptr, 16)) - entries);
    m_room = m_limit - TableMargin - held - elsewhere - m_taken;
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
