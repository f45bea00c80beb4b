#include "run/hostmonitor.h"

#include <algorithm>

namespace vexal {

std::optional<HostChange> HostMonitor::reply(Ipv4 address, quint32 roundTripUs, qint64 nowMs)
{
    const auto [entry, first] = m_hosts.try_emplace(address);
    HostState &host = entry->second;
    if (first) {
        host.minRoundTripUs = roundTripUs;
        host.maxRoundTripUs = roundTripUs;
        if (const auto hardware = m_hardwareBeforeReply.find(address); hardware != m_hardwareBeforeReply.end()) {
            host.hardware = hardware->second;
            m_hardwareBeforeReply.erase(hardware);
        }
    }
    host.lastReplyMs = nowMs;
    host.lastRoundTripUs = roundTripUs;
    host.minRoundTripUs = std::min(host.minRoundTripUs, roundTripUs);
    host.maxRoundTripUs = std::max(host.maxRoundTripUs, roundTripUs);
    host.roundTripSumUs += roundTripUs;
    ++host.replies;
    host.misses = 0;
    if (!first && host.up)
        return std::nullopt;
    host.up = true;
    host.sinceMs = nowMs;
    return HostChange{address, true, nowMs, roundTripUs};
}

std::optional<HostChange> HostMonitor::miss(Ipv4 address, qint64 nowMs)
{
    const auto entry = m_hosts.find(address);
    if (entry == m_hosts.end())
        return std::nullopt; // never answered: no host to lose
    HostState &host = entry->second;
    ++host.misses;
    if (!host.up || host.misses < MissesForDown)
        return std::nullopt;
    host.up = false;
    host.sinceMs = nowMs;
    return HostChange{address, false, nowMs, 0};
}

void HostMonitor::learnHardware(Ipv4 address, const HardwareAddress &hardware)
{
    if (const auto entry = m_hosts.find(address); entry != m_hosts.end())
        entry->second.hardware = hardware;
    else
        m_hardwareBeforeReply[address] = hardware;
}

const HostState *HostMonitor::find(Ipv4 address) const
{
    const auto entry = m_hosts.find(address);
    return entry == m_hosts.end() ? nullptr : &entry->second;
}

void HostMonitor::clear()
{
    m_hosts.clear();
    m_hardwareBeforeReply.clear();
}

} // namespace vexal
