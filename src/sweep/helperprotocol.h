#pragma once

#include "common/ipv4.h"
#include "sweep/arppacket.h"

#include <QtGlobal>

#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace vexal {

// The messages between Vexal and its privileged helper program, which sends
// the echo requests when the system refuses this user the ICMP datagram
// socket. They travel over a SOCK_SEQPACKET socket pair, one message per
// packet, so the packet's own length bounds each one. Every field is
// little-endian; a message is a type byte and its fields, and a decoder takes
// nothing that is not exactly one well-formed message with values in range.
//
// Vexal forwards the targets it is offered; the helper reports back, in
// order, how many it has dealt with (sent, or refused for good, and why),
// the addresses that answered and how many requests are still outstanding.
// Where Vexal sends its echo requests itself (an ICMP datagram socket), it
// asks the helper only to resolve on-link targets with ARP, and sends to
// those that answered.
// Every report carries the number of the last Cancel it saw, so that Vexal
// drops whatever answers requests it has cancelled.
namespace helper {

constexpr quint16 ProtocolVersion = 1;
constexpr int MaxTargetsPerMessage = 1024;
constexpr int MaxRefusalsPerMessage = 1024;
constexpr int MaxRepliesPerMessage = 2048;
constexpr int MaxUnansweredPerMessage = 2048;
constexpr int MaxHardwarePerMessage = 256;
constexpr int MaxResolvedPerMessage = 1024;
// Room for the largest message either side sends.
constexpr std::size_t MaxMessageBytes = 32 + 8 * MaxRefusalsPerMessage + 8 * MaxRepliesPerMessage
    + 4 * MaxUnansweredPerMessage + 10 * MaxHardwarePerMessage;
static_assert(MaxMessageBytes >= 16 + 14 * std::size_t(MaxResolvedPerMessage));

// Bounds of what the helper agrees to do: what ping lets every user do.
constexpr int MinTimeoutMs = 1;
constexpr int MaxTimeoutMs = 32000;
constexpr int MinDataBytes = 1;
constexpr int MaxDataBytes = 512;

enum class Type : quint8 {
    // To the helper.
    Configure = 0x01,
    Send = 0x02,
    Cancel = 0x03,
    Collect = 0x04,
    Resolve = 0x05,
    // From the helper.
    Hello = 0x81,
    Report = 0x82,
    Collected = 0x83,
    Resolved = 0x84,
};

// --- to the helper ---------------------------------------------------------

// Applies to requests sent afterwards.
struct Configure
{
    quint32 timeoutMs = 0;
    quint16 dataBytes = 0;
};
// One echo request to each address, in order.
struct Send
{
    std::vector<Ipv4> targets;
};
// Forgets every request; reports from now on carry `epoch`.
struct Cancel
{
    quint32 epoch = 0;
};
// Reads every reply that has arrived and reports it, then answers
// Collected with the same token.
struct Collect
{
    quint32 token = 0;
};
// Asks each target's hardware address with ARP, at the helper's pace; each
// is answered once in a Resolved message.
struct Resolve
{
    std::vector<Ipv4> targets;
};
using ToHelper = std::variant<Configure, Send, Cancel, Collect, Resolve>;

// --- from the helper -------------------------------------------------------

// The first message: what the helper could open. 0, or the errno that
// refused the socket.
struct Hello
{
    quint16 version = ProtocolVersion;
    qint32 rawError = 0;
    qint32 packetError = 0;
};
struct Refusal
{
    // Among the targets this report deals with.
    quint32 index = 0;
    qint32 error = 0;
};
struct Reply
{
    Ipv4 address = 0;
    quint32 roundTripMicroseconds = 0;
};
struct Hardware
{
    Ipv4 address = 0;
    // A station's: never zero or a group address.
    HardwareAddress hardware{};
};
struct Report
{
    quint32 epoch = 0;
    // Targets dealt with since the previous report, in the order sent.
    quint32 dealt = 0;
    std::vector<Refusal> refusals;
    std::vector<Reply> replies;
    // Requests that ended without a reply.
    std::vector<Ipv4> unanswered;
    // On-link hosts whose ARP answers gave these addresses.
    std::vector<Hardware> hardware;
    // Requests neither answered nor ended after all of the above.
    quint32 outstanding = 0;
    // How long the last of them may still take, in milliseconds.
    quint32 drainMs = 0;
    // Outstanding dropped to zero because the last one was answered or ended.
    bool settled = false;
};
struct Collected
{
    quint32 epoch = 0;
    quint32 token = 0;
};
struct Resolution
{
    Ipv4 target = 0;
    // The station that answered; zero when the target needed no question
    // (its neighbour is known, or it is not on a link that does ARP).
    HardwareAddress address{};
};
struct Resolved
{
    quint32 epoch = 0;
    std::vector<Resolution> answered;
    // Targets that answered none of the questions.
    std::vector<Ipv4> silent;
};
using FromHelper = std::variant<Hello, Report, Collected, Resolved>;

// Encoders append one message to `out`.
void encode(const ToHelper &message, std::vector<quint8> &out);
void encode(const FromHelper &message, std::vector<quint8> &out);
// Decoders take one whole message, or nothing.
std::optional<ToHelper> decodeToHelper(std::span<const quint8> message);
std::optional<FromHelper> decodeFromHelper(std::span<const quint8> message);

} // namespace helper

} // namespace vexal
