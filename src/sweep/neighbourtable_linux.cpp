#include "sweep/neighbourtable_linux.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

// Entries the room leaves for others beyond those seen (a host that begins
// talking to us, a process starting elsewhere).
constexpr qint64 TableMargin = 16;
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

quint64 neighbourKey(int interfaceIndex, Ipv4 address) { return (quint64(quint32(interfaceIndex)) << 32) | address; }

} // namespace

RouteSocket::RouteSocket()
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    const timeval wait{0, 200'000};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

RouteSocket::~RouteSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool NeighbourTable::knows(int interfaceIndex, Ipv4 address)
{
    if (m_readAt < 0 || monotonicNs() - m_readAt > qint64(NeighboursFreshMs) * 1'000'000)
        read();
    return m_known.count(neighbourKey(interfaceIndex, address)) > 0;
}

bool NeighbourTable::takeUnresolvedRoom()
{
    if (m_room <= 0 && monotonicNs() - m_readAt >= qint64(RoomFreshMs) * 1'000'000)
        read();
    if (m_room <= 0)
        return false;
    --m_room;
    ++m_taken;
    return true;
}

std::optional<HardwareAddress> kernelHardwareAddress(Ipv4 address)
{
    // "IP address  HW type  Flags  HW address  Mask  Device"; flag 0x2 marks
    // an entry that holds an address.
    std::ifstream table("/proc/net/arp");
    std::string line;
    std::getline(table, line);
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xff, (address >> 8) & 0xff,
                  address & 0xff);
    while (std::getline(table, line)) {
        char ip[64] = {}, type[16] = {}, flags[16] = {}, hardware[64] = {};
        if (std::sscanf(line.c_str(), "%63s %15s %15s %63s", ip, type, flags, hardware) != 4
            || std::strcmp(wanted, ip) != 0 || !(std::strtoul(flags, nullptr, 16) & 0x2))
            continue;
        HardwareAddress found{};
        unsigned b[6];
        if (std::sscanf(hardware, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
            continue;
        for (int i = 0; i < 6; ++i)
            found[std::size_t(i)] = quint8(b[i]);
        if (isStationAddress(found))
            return found;
    }
    return std::nullopt;
}

void NeighbourTable::read()
{
    m_readAt = monotonicNs();
    m_known.clear();
    if (m_limit == 0) {
        std::ifstream("/proc/sys/net/ipv4/neigh/default/gc_thresh3") >> m_limit;
        if (m_limit <= 0)
            m_limit = 1024;
    }
    // A table that cannot be read must not stop the sweep: then the room is
    // what entries living the default 3 s leave until the next reading.
    m_room = std::max<qint64>(1, (m_limit - TableMargin) * RoomFreshMs / 3000);
    struct
    {
        nlmsghdr header;
        ndmsg neighbour;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = m_netlink.nextSequence();
    request.neighbour.ndm_family = AF_INET;
    if (m_netlink.fd() < 0 || ::send(m_netlink.fd(), &request, sizeof request, 0) != ssize_t(sizeof request))
        return;

    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK) > 0 ? ::sysconf(_SC_CLK_TCK) : 100;
    qint64 dumped = 0;
    qint64 held = 0;
    m_dump.resize(64 * 1024);
    for (bool done = false; !done;) {
        const ssize_t length = ::recv(m_netlink.fd(), m_dump.data(), m_dump.size(), 0);
        if (length <= 0)
            return;
        int left = int(length);
        for (const auto *h = reinterpret_cast<const nlmsghdr *>(m_dump.data()); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != m_netlink.sequence())
                continue; // the rest of an answer that timed out
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (h->nlmsg_type != RTM_NEWNEIGH || h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
                continue;
            const auto *n = static_cast<const ndmsg *>(NLMSG_DATA(h));
            ++dumped;
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
            // Permanent and externally learned entries are exempt from the
            // limit: they count neither here nor among the others' below.
            // Failed ones, and stale ones left alone for a while, are what
            // the kernel's forced collection frees first.
            if ((state & (NUD_PERMANENT | NUD_NOARP)) || (n->ndm_flags & NTF_EXT_LEARNED))
                continue;
            const bool reclaimable = state == NUD_FAILED || (state == NUD_STALE && updatedMs > StaleReclaimedAfterMs);
            if (!reclaimable)
                ++held;
        }
    }
    // The limit is the host's, over every namespace. Only the first one can
    // read how many entries they hold together; elsewhere the margin stands
    // for the others. That total counts exempt entries too: ours are taken
    // off it, the other namespaces' cannot be told apart.
    qint64 elsewhere = 0;
    std::ifstream statistics("/proc/net/stat/arp_cache");
    std::string header;
    std::string total;
    if (std::getline(statistics, header) && statistics >> total) {
        const qint64 all = qint64(std::strtoull(total.c_str(), nullptr, 16));
        elsewhere = std::max<qint64>(0, all - dumped);
    }
    m_room = m_limit - TableMargin - held - elsewhere - m_taken;
}

} // namespace vexal
