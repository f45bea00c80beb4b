#pragma once

#include "sweep/pinger.h"
#include "sweep/preopenedsocket.h"

#include <QString>

#include <functional>
#include <memory>

namespace vexal {

// The Linux pingers behind createSystemPinger(), for the helper program, the
// tests and the benchmark, which choose one themselves.

// Opens a packet socket for ARP (openPacketSocket(), or the same with a
// capability raised for the moment).
using PacketSocketOpener = std::function<PreopenedSocket()>;

// In this process: ICMP datagram sockets where the system allows them, a raw
// socket where it refuses them (root). On-link targets are asked by ARP
// first, before their echo request goes through the kernel: with a raw
// socket through a packet socket, opened while they are asked and closed
// again; with datagram sockets by the helper program at `arpHelper`, when
// there is one that may.
std::unique_ptr<Pinger> createLocalPinger(const QString &arpHelper = {}, QObject *parent = nullptr);
// The raw socket alone, opened ahead, as the helper program holds it, and
// its packet sockets from `openPacket`. A request's book is closed
// `expiryGraceMs` after its deadline (a reply is still judged by the
// deadline): the helper's reports reach Vexal a little after each send, and
// Vexal must never see a request end before its full timeout.
std::unique_ptr<Pinger> createRawPinger(PreopenedSocket raw, PacketSocketOpener openPacket, int expiryGraceMs,
                                        QObject *parent = nullptr);
// Through the helper program at `program`, started when the pinger opens.
// `datagramError` is why this process may not have an ICMP datagram socket,
// for a refusal that says what to do; 0 when it was not asked for one.
std::unique_ptr<Pinger> createHelperPinger(const QString &program, int datagramError = 0, QObject *parent = nullptr);

// The helper program of this installation: found from this executable's
// own place, as installed, in the build tree and in a moved install alike,
// and never through PATH.
QString helperProgramPath();

// The one raw ICMP socket; it lets nothing in until a pinger takes it.
PreopenedSocket openRawIcmpSocket();
// A link-layer socket for ARP, filtered to ARP replies addressed to this
// host; it receives nothing until a pinger binds it. Once bound it cannot be
// unbound (binding to protocol 0 keeps the protocol it has), so it is closed
// when it is no longer needed.
PreopenedSocket openPacketSocket();

// The refusal Start shows when no socket could be had: the datagram socket
// refused with `datagramError`, the raw one with `rawError` (by the helper
// when `throughHelper`), and what to do about it: among others, grant the
// capability to `capabilityHolder`, the program that needs it.
QString icmpRefusedText(int datagramError, int rawError, const QString &capabilityHolder, bool throughHelper);

} // namespace vexal
