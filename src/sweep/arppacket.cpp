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

quint64 packHardwareAddress(const HardwareAddress &address)
{
    quint64 packed = 0;
    for (const quint8 b : address)
        packed = (packed << 8) | b;
    return packed;
}

HardwareAddress unpackHardwareAddress(quint64 packed)
{
    HardwareAddress address;
    for (int i = 5; i >= 0; --i, packed >>= 8)
        address[std::size_t(i)] = quint8(packed & 0xff);
    return address;
}

QString hardwareAddressText(const HardwareAddress &address)
{
    QString text;
    for (const quint8 b : address)
        text += QStringLiteral("%1:").arg(b, 2, 16, QLatin1Char('0'));
    text.chop(1);
    return text;
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
