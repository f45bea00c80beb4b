#include "sweep/arppacket.h"

#include <QtEndian>

#include <algorithm>

namespace vexal {

namespace {

constexpr quint16 Ethernet = 1;
constexpr quint16 IPv4Protocol = 0x0800;
constexpr quint16 Request = 1;
constexpr quint16 Reply = 2;

} // namespace

bool isStationAddress(const HardwareAddress &address)
{
    // The group bit is the lowest bit of the first byte; broadcast has it too.
    return (address[0] & 0x01) == 0 && std::any_of(address.begin(), address.end(), [](quint8 b) { return b != 0; });
}

std::array<quint8, 28> arpRequest(const HardwareAddress &sender, Ipv4 source, Ipv4 target)
{
    std::array<quint8, 28> m{};
    qToBigEndian<quint16>(Ethernet, m.data());
    qToBigEndian<quint16>(IPv4Protocol, m.data() + 2);
    m[4] = 6;
    m[5] = 4;
    qToBigEndian<quint16>(Request, m.data() + 6);
    std::copy(sender.begin(), sender.end(), m.begin() + 8);
    qToBigEndian<quint32>(source, m.data() + 14);
    // The target's hardware address (18..23) is what is asked: zero.
    qToBigEndian<quint32>(target, m.data() + 24);
    return m;
}

std::optional<ArpAnswer> parseArpReply(std::span<const quint8> m)
{
    if (m.size() < 28 || qFromBigEndian<quint16>(m.data()) != Ethernet
        || qFromBigEndian<quint16>(m.data() + 2) != IPv4Protocol || m[4] != 6 || m[5] != 4
        || qFromBigEndian<quint16>(m.data() + 6) != Reply)
        return std::nullopt;
    ArpAnswer answer;
    std::copy(m.begin() + 8, m.begin() + 14, answer.address.begin());
    if (!isStationAddress(answer.address))
        return std::nullopt;
    answer.sender = qFromBigEndian<quint32>(m.data() + 14);
    answer.target = qFromBigEndian<quint32>(m.data() + 24);
    return answer;
}

} // namespace vexal
