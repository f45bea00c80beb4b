#pragma once

#include "common/ipv4.h"
#include "sweep/arppacket.h"

#include <QtGlobal>

#include <optional>
#include <unordered_set>
#include <vector>

namespace vexal {

// A netlink socket for the kernel's routing messages, whose answers are
// waited for briefly: a kernel that never answers must not hang a sweep.
class RouteSocket final
{
public:
    RouteSocket();
    ~RouteSocket();
    RouteSocket(const RouteSocket &) = delete;
    RouteSocket &operator=(const RouteSocket &) = delete;

    int fd() const { return m_fd; }
    // The sequence number of the next question; answers carry it.
    quint32 nextSequence() { return ++m_sequence; }
    quint32 sequence() const { return m_sequence; }

private:
    int m_fd = -1;
    quint32 m_sequence = 0;
};

// The kernel's IPv4 neighbour table as the pinger needs it: which neighbours
// it knows, and how many more unresolved entries it has room for before it
// overflows (Linux only).
//
// The room is gc_thresh3, less a margin, less the entries the kernel cannot
// reclaim for a new one (unresolved ones, those of hosts that answered a
// moment ago, those of other namespaces) as last read, less the unresolved
// sends since. The table is read again once that room is used up, at most
// every RoomFreshMs: entries leave it as they fail, whatever the timers'
// settings and slack, so it is watched rather than modelled.
class NeighbourTable final
{
public:
    NeighbourTable() = default;
    NeighbourTable(const NeighbourTable &) = delete;
    NeighbourTable &operator=(const NeighbourTable &) = delete;

    // A usable entry (permanent, static, reachable, stale) for the address on
    // the interface, as read at most NeighboursFreshMs ago.
    bool knows(int interfaceIndex, Ipv4 address);
    // Room for one more unresolved entry, which is then counted as taken.
    bool takeUnresolvedRoom();
    // The sends that took room have been made or given up. Until then a
    // reading cannot see their entries, so it leaves room for them: one may
    // come between taking room for a batch and sending it.
    void unresolvedSent() { m_taken = 0; }
    // The kernel said the table is full after all: no room until read again.
    void noUnresolvedRoom() { m_room = 0; }

    static constexpr int RoomFreshMs = 20;
    static constexpr int NeighboursFreshMs = 500;

private:
    void read();

    RouteSocket m_netlink;
    // (interface index << 32) | address of every usable entry.
    std::unordered_set<quint64> m_known;
    qint64 m_limit = 0;
    qint64 m_room = 0;
    qint64 m_taken = 0;
    std::vector<char> m_dump;
    qint64 m_readAt = -1;
};

// The hardware address the kernel's neighbour table holds for the address,
// on any link, when it holds one (read from /proc/net/arp, which every user
// may read).
std::optional<HardwareAddress> kernelHardwareAddress(Ipv4 address);

} // namespace vexal
