#pragma once

#include "common/ipv4.h"
#include "sweep/arppacket.h"

#include <QtGlobal>

#include <optional>
#include <unordered_map>

namespace vexal {

// What a sweep knows of one host that answered.
struct HostState
{
    bool up = true;
    // When it last came up or went down, and its last reply (milliseconds
    // since the epoch).
    qint64 sinceMs = 0;
    qint64 lastReplyMs = 0;
    quint32 lastRoundTripUs = 0;
    quint32 minRoundTripUs = 0;
    quint32 maxRoundTripUs = 0;
    quint32 replies = 0;
    // Requests in a row that ended without a reply.
    quint32 misses = 0;
    quint64 roundTripSumUs = 0;
    std::optional<HardwareAddress> hardware;

    quint32 meanRoundTripUs() const { return replies ? quint32(roundTripSumUs / replies) : 0; }
};

// A host came up (its first reply, or a reply after it went down) or went
// down.
struct HostChange
{
    Ipv4 address = 0;
    bool up = true;
    qint64 atMs = 0;
    // The reply's round trip, when it came up.
    quint32 roundTripUs = 0;
};

// The hosts of a sweep across its cycles. A host is up from its first reply.
// It is down once two requests to it in a row have ended without a reply
// (each after its full timeout, or refused by the system), and up again at
// its next reply. Only hosts that answered are kept: a silent /8 costs
// nothing, and each answering host about 100 bytes.
class HostMonitor final
{
public:
    static constexpr quint32 MissesForDown = 2;

    std::optional<HostChange> reply(Ipv4 address, quint32 roundTripUs, qint64 nowMs);
    std::optional<HostChange> miss(Ipv4 address, qint64 nowMs);
    // An on-link host answered ARP from this address; kept for its first
    // reply if it has not replied yet.
    void learnHardware(Ipv4 address, const HardwareAddress &hardware);

    const HostState *find(Ipv4 address) const;
    std::size_t size() const { return m_hosts.size(); }
    void clear();
    // Room for this many hosts without growing the table on the way.
    void reserve(std::size_t hosts) { m_hosts.reserve(hosts); }

private:
    std::unordered_map<Ipv4, HostState> m_hosts;
    std::unordered_map<Ipv4, HardwareAddress> m_hardwareBeforeReply;
};

} // namespace vexal
