#pragma once

#include "common/ipv4.h"
#include "sweep/arppacket.h"
#include "sweep/neighbourtable_linux.h"

#include <QtGlobal>

#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vexal {

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
// handling (Linux only; each pinger has its own). What it knows of a link
// (its hardware address, whether it does ARP) is read again with the
// routes, every half second while a sweep asks: a link's address changes
// (a random address per network, a bond's failover) and must not go stale.
class LinkMap final
{
public:
    LinkMap() = default;
    LinkMap(const LinkMap &) = delete;
    LinkMap &operator=(const LinkMap &) = delete;

    // One RTM_GETROUTE round trip for a target inside a prefix the main
    // table has on a link; none for any other (loopback, behind a gateway),
    // so sweeps off the LAN pay nothing. An answer the map cannot read is
    // "not on link", which sends as the kernel would anyway.
    LinkRoute route(Ipv4 target);
    // The link's own hardware address, when it does ARP.
    std::optional<HardwareAddress> hardwareAddress(int interfaceIndex);
    // How long a neighbour entry of the link can hold its place in the
    // table: reachable for up to 1.5 x base_reachable_time, then stale and
    // reclaimable only 5 s later. A wait for room that lasts longer than
    // this waits for entries that are not the live hosts'.
    qint64 entryHoldNs(int interfaceIndex);
    NeighbourTable &neighbours() { return m_neighbours; }

private:
    struct Link
    {
        bool arp = false;
        HardwareAddress address{};
        qint64 holdNs = 0;
    };
    const Link &link(int interfaceIndex);
    void refresh();

    RouteSocket m_netlink;
    NeighbourTable m_neighbours;
    std::unordered_map<int, Link> m_links;
    // (network, mask) of the main table's routes without a gateway.
    std::vector<std::pair<Ipv4, Ipv4>> m_linkPrefixes;
    qint64 m_readAt = -1;
};

} // namespace vexal
