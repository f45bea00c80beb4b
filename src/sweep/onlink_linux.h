#pragma once

#include "common/ipv4.h"

#include <QtGlobal>

#include <array>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vexal {

using HardwareAddress = std::array<quint8, 6>;

// How the kernel sends to one target, as its routing decision says.
struct LinkRoute
{
    // Unicast to a neighbour on the link itself: no gateway, not one of our
    // own or a broadcast address.
    bool onLink = false;
    // The link resolves neighbours with ARP over Ethernet-style addresses.
    bool arp = false;
    // The neighbour table holds a usable entry (permanent, static, reachable,
    // stale): sending creates no unresolved one.
    bool known = false;
    int interfaceIndex = 0;
    Ipv4 source = 0;

    // Sending would have the kernel resolve the neighbour with ARP first.
    bool unresolved() const { return onLink && arp && !known; }
};

// The kernel's routes, links and neighbours, for the system pinger's LAN
// handling (Linux only; opened by that pinger, never shared).
class LinkMap final
{
public:
    LinkMap();
    ~LinkMap();
    LinkMap(const LinkMap &) = delete;
    LinkMap &operator=(const LinkMap &) = delete;

    // One RTM_GETROUTE round trip for a target inside a prefix the main
    // table has on a link; none for any other (loopback, behind a gateway),
    // so sweeps off the LAN pay nothing. An answer the map cannot read is
    // "not on link", which sends as the kernel would anyway.
    LinkRoute route(Ipv4 target);
    std::optional<HardwareAddress> hardwareAddress(int interfaceIndex);
    // Whether the kernel's neighbour table has room for one more unresolved
    // entry, which it then counts as taken: gc_thresh3 less a margin, less
    // the entries the kernel cannot reclaim (unresolved ones, those of hosts
    // that answered a moment ago, those of other namespaces) as last read,
    // less the unresolved sends since. The table is read again once that room
    // is used up, at most every RoomFreshMs: entries leave it as they fail,
    // whatever the timers' settings and slack, so it is watched rather than
    // modelled.
    bool takeUnresolvedRoom();
    // The sends that took room have been made or given up. Until then a
    // reading cannot see their entries, so it leaves room for them: one may
    // come between taking room for a batch and sending it.
    void unresolvedSent() { m_taken = 0; }
    // The kernel said the table is full after all: no room until read again.
    void noUnresolvedRoom() { m_room = 0; }

    static constexpr int RoomFreshMs = 20;

private:
    struct Link
    {
        bool arp = false;
        HardwareAddress address{};
    };
    Link &link(int interfaceIndex);
    void readNeighbours();
    void readLinkPrefixes();

    int m_netlink = -1;
    quint32 m_sequence = 0;
    std::unordered_map<int, Link> m_links;
    // (interface index << 32) | address of every usable neighbour entry.
    std::unordered_set<quint64> m_known;
    int m_limit = 0;
    int m_room = 0;
    int m_taken = 0; // room taken since unresolvedSent()
    std::vector<char> m_dump;
    qint64 m_neighboursReadAt = -1;
    // (network, mask) of the main table's routes without a gateway.
    std::vector<std::pair<Ipv4, Ipv4>> m_linkPrefixes;
    qint64 m_prefixesReadAt = -1;
};

// The 28 bytes of an ARP request over Ethernet for IPv4.
std::array<quint8, 28> arpRequest(const HardwareAddress &sender, Ipv4 source, Ipv4 target);
// The sender of an ARP message for IPv4 over Ethernet (a reply, or a request
// a host broadcasts: both tell its address), or nothing.
std::optional<std::pair<Ipv4, HardwareAddress>> arpSender(std::span<const quint8> message);
// A 20-byte IPv4 header for an ICMP message of `payload` bytes.
void writeIpv4Header(std::span<quint8, 20> header, Ipv4 source, Ipv4 target, quint16 identification,
                     std::size_t payload);

} // namespace vexal
