#pragma once

#include "common/ipv4.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>
#include <span>

namespace vexal {

// ARP for IPv4 over Ethernet as plain bytes, as the ICMP code is: nothing
// here touches the system, so every check is unit-tested and fuzzed.

using HardwareAddress = std::array<quint8, 6>;

// Neither zero nor a group address (multicast, broadcast): one station's.
bool isStationAddress(const HardwareAddress &address);
// The six bytes in the low 48 bits of a number, first byte highest, for
// signals that carry one per host without an allocation; and back.
quint64 packHardwareAddress(const HardwareAddress &address);
HardwareAddress unpackHardwareAddress(quint64 packed);
// "02:00:5e:10:00:01"
QString hardwareAddressText(const HardwareAddress &address);

// The 28 bytes of a request from `sender` at `source` for `target`.
std::array<quint8, 28> arpRequest(const HardwareAddress &sender, Ipv4 source, Ipv4 target);

struct ArpAnswer
{
    Ipv4 sender = 0;
    HardwareAddress address{};
    // Whom it answers: the source of the request.
    Ipv4 target = 0;
};

// A reply (operation 2) for IPv4 over Ethernet whose sender is a station.
// A request, a zero, multicast or broadcast sender, or anything malformed
// is nullopt: such an answer would have echo requests sent to everybody, or
// to nobody.
std::optional<ArpAnswer> parseArpReply(std::span<const quint8> message);

} // namespace vexal
