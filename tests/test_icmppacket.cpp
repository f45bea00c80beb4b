#include "sweep/arppacket.h"
#include "sweep/helperprotocol.h"
#include "sweep/icmppacket.h"
#include "sweep/sequencemap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>
#include <vector>

using namespace vexal;

// Field by field, so that a field the decoder drops or misplaces shows.
namespace vexal::helper {
bool operator==(const Configure &a, const Configure &b)
{
    return std::tie(a.timeoutMs, a.dataBytes) == std::tie(b.timeoutMs, b.dataBytes);
}
bool operator==(const Send &a, const Send &b) { return a.targets == b.targets; }
bool operator==(const Cancel &a, const Cancel &b) { return a.epoch == b.epoch; }
bool operator==(const Collect &a, const Collect &b) { return a.token == b.token; }
bool operator==(const Hello &a, const Hello &b)
{
    return std::tie(a.version, a.rawError, a.packetError) == std::tie(b.version, b.rawError, b.packetError);
}
bool operator==(const Refusal &a, const Refusal &b) { return std::tie(a.index, a.error) == std::tie(b.index, b.error); }
bool operator==(const Reply &a, const Reply &b)
{
    return std::tie(a.address, a.roundTripMicroseconds) == std::tie(b.address, b.roundTripMicroseconds);
}
bool operator==(const Hardware &a, const Hardware &b) { return std::tie(a.address, a.hardware) == std::tie(b.address, b.hardware); }
bool operator==(const Report &a, const Report &b)
{
    return std::tie(a.epoch, a.dealt, a.refusals, a.replies, a.unanswered, a.hardware, a.outstanding, a.drainMs,
                    a.settled)
        == std::tie(b.epoch, b.dealt, b.refusals, b.replies, b.unanswered, b.hardware, b.outstanding, b.drainMs,
                    b.settled);
}
bool operator==(const Collected &a, const Collected &b)
{
    return std::tie(a.epoch, a.token) == std::tie(b.epoch, b.token);
}
bool operator==(const Resolve &a, const Resolve &b) { return a.targets == b.targets; }
bool operator==(const Resolution &a, const Resolution &b)
{
    return std::tie(a.target, a.address) == std::tie(b.target, b.address);
}
bool operator==(const Resolved &a, const Resolved &b)
{
    return std::tie(a.epoch, a.answered, a.silent) == std::tie(b.epoch, b.answered, b.silent);
}
} // namespace vexal::helper

namespace {

using Bytes = std::vector<quint8>;

// The reply to a request of identifier 0x1234, sequence 0xfffe and data
// "abcd\xff" (checksum summed by hand); with ihlWords, behind an IPv4 header
// of that many words (options zero) from 198.51.100.2, as raw sockets get it.
Bytes sampleReply(int ihlWords = 0)
{
    const Bytes reply = {0, 0, 0x2a, 0x05, 0x12, 0x34, 0xff, 0xfe, 'a', 'b', 'c', 'd', 0xff};
    Bytes packet = {quint8(0x40 | ihlWords), 0, 0, quint8(ihlWords * 4 + 13), 0, 0, 0, 0,
                    64, 1, 0, 0, 198, 51, 100, 2};
    packet.resize(std::size_t(ihlWords) * 4);
    packet.insert(packet.end(), reply.begin(), reply.end());
    return packet;
}

} // namespace

TEST(IcmpPacket, ChecksumAndReplyParsingWithOrWithoutIpHeader)
{
    const std::pair<Bytes, quint16> sums[] = {
        {{}, 0xffff},
        {{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, 0x220d}, // RFC 1071, section 3
        {{0x00, 0x01, 0xf2}, 0x0dfe}, // odd length: the last byte is a high byte, unsigned
        {{0xff, 0xff, 0x80}, 0x7fff}, // a sign-extended last byte would wrap the sum
        {{0xff, 0xff, 0xff, 0xff, 0x00, 0x01}, 0xfffe}, // needs a second fold
    };
    for (const auto &[bytes, sum] : sums)
        EXPECT_EQ(internetChecksum(bytes), sum) << ::testing::PrintToString(bytes);

    for (int ihl : {0, 5, 6}) { // an option word must be skipped whole
        const Bytes datagram = sampleReply(ihl); // the parsed reply views these bytes
        const auto reply = parseEchoReply(datagram, ihl > 0);
        ASSERT_TRUE(reply) << "ihl " << ihl;
        EXPECT_EQ(std::tuple(reply->source, reply->identifier, reply->sequence),
                  std::tuple(ihl ? makeIpv4(198, 51, 100, 2) : 0u, 0x1234, 0xfffe));
        EXPECT_EQ(Bytes(reply->data.begin(), reply->data.end()), (Bytes{'a', 'b', 'c', 'd', 0xff}));
    }
    const std::tuple<const char *, bool, std::function<void(Bytes &)>> rows[] = {
        {"empty", false, [](Bytes &b) { b.clear(); }},
        {"shorter than a header", false, [](Bytes &b) { b.resize(7); }},
        // These two with their checksum mended by hand, so that only type or code is wrong.
        {"echo request", false, [](Bytes &b) { b[0] = 8; b[2] = 0x22; }},
        {"code 1", false, [](Bytes &b) { b[1] = 1; b[3] = 0x04; }},
        {"bad checksum", false, [](Bytes &b) { b.back() ^= 0x01; }},
        {"truncated data", false, [](Bytes &b) { b.pop_back(); }},
        {"IPv6 version", true, [](Bytes &b) { b[0] = 0x65; }},
        {"ihl below 5", true, [](Bytes &b) { b[0] = 0x44; }},
        {"ihl past the end", true, [](Bytes &b) { b.resize(22); b[0] = 0x46; b[3] = 22; }},
        {"total length past the end", true, [](Bytes &b) { b.pop_back(); }},
        {"total length inside the header", true, [](Bytes &b) { b[3] = 12; }},
        {"not ICMP", true, [](Bytes &b) { b[9] = 6; }},
    };
    for (const auto &[name, withIp, damage] : rows) {
        Bytes datagram = sampleReply(withIp ? 5 : 0);
        damage(datagram);
        EXPECT_FALSE(parseEchoReply(datagram, withIp)) << name;
    }
}

TEST(SequenceMap, TakesTimelyMatchingRepliesOnceAndReusesNumbersOnlyWhenFree)
{
    const Ipv4 target = 0x7f000002;
    const std::tuple<const char *, quint16, Ipv4, quint64, qint64> rows[] = {
        {"other sequence", 1, target, 42, 50},      {"other source", 0, 0x7f000003, 42, 50},
        {"other tag", 0, target, 43, 50},           {"arrived at the deadline", 0, target, 42, 100},
        {"arrived after the deadline", 0, target, 42, 101},
    };
    SequenceMap map;
    map.add(target, 100, 42);
    for (const auto &[name, sequence, source, tag, arrival] : rows)
        EXPECT_FALSE(map.take(sequence, source, tag, arrival).has_value()) << name;
    EXPECT_TRUE(map.take(0, target, 42, 99).has_value()) << "arrived in time, however late it is read";
    EXPECT_FALSE(map.take(0, target, 42, 99).has_value()) << "a duplicate";
    map.add(target, 200, 7);
    map.clear(150);
    EXPECT_FALSE(map.take(1, target, 7, 150).has_value()) << "after clear()";
    EXPECT_EQ(map.nextDeadline(), std::nullopt);

    // Every number pending: nothing is cut short to make room. Only
    // unanswered requests expire, in send order; after 65535 comes 0.
    SequenceMap full;
    for (int i = 0; i < SequenceMap::Capacity; ++i)
        full.add(Ipv4(i), 1000 + i, quint64(i));
    EXPECT_EQ(full.roomFor(64, 0, 0), 0);
    EXPECT_EQ(full.roomAt(0), 1000) << "the oldest frees at its deadline";
    EXPECT_EQ(full.roomAt(300), 1300) << "and then rests, for untagged messages";
    EXPECT_EQ(full.expire(999), 0);
    EXPECT_TRUE(full.take(0, 0, 0, 999).has_value()) << "the oldest is still answerable";
    EXPECT_TRUE(full.take(2, 2, 2, 999).has_value());
    EXPECT_EQ(full.roomFor(64, 999, 0), 1);
    EXPECT_EQ(full.nextDeadline(), 1001) << "the first was answered";
    EXPECT_EQ(full.expire(1002), 1);
    EXPECT_EQ(full.nextDeadline(), 1003) << "the third was answered";
    EXPECT_EQ(full.expire(1003), 1);
    EXPECT_EQ(full.roomFor(64, 1003, 0), 4);
    EXPECT_TRUE(full.take(65535, 65535, 65535, 1003).has_value());
    full.add(7, 5000, 0);
    EXPECT_TRUE(full.take(0, 7, 0, 1003).has_value());
    EXPECT_EQ(full.nextDeadline(), 1004);
    EXPECT_EQ(full.pending(), SequenceMap::Capacity - 5);

    // Untagged: a number that ended at t is free again at t + rest.
    SequenceMap resting;
    resting.add(7, 50, 0);  // sequence 0 expires at 50: rests until 150
    resting.add(7, 500, 0); // sequence 1 is answered at 250: rests until 350
    ASSERT_TRUE(resting.take(1, 7, 0, 250).has_value());
    ASSERT_EQ(resting.expire(60), 1);
    for (int i = 2; i < SequenceMap::Capacity; ++i)
        resting.addRefused(10);
    const std::tuple<const char *, qint64, qint64, int> restRows[] = {
        {"tagged: no rest", 60, 0, 5}, {"resting", 60, 100, 0}, {"first one rested", 150, 100, 1},
        {"all rested", 400, 100, 5}};
    for (const auto &[name, now, rest, room] : restRows)
        EXPECT_EQ(resting.roomFor(5, now, rest), room) << name;
}

TEST(ArpPacket, RequestBytesAndWhichRepliesAreTaken)
{
    const HardwareAddress ours = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    const auto request = arpRequest(ours, makeIpv4(192, 0, 2, 1), makeIpv4(192, 0, 2, 7));
    EXPECT_EQ(Bytes(request.begin(), request.end()),
              (Bytes{0, 1, 8, 0, 6, 4, 0, 1, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 192, 0, 2, 1,
                     0, 0, 0, 0, 0, 0, 192, 0, 2, 7}));

    // 192.0.2.7 at 02:00:5e:10:20:30 (a locally administered station) answers us.
    const Bytes reply = {0, 1, 8, 0, 6, 4, 0, 2, 0x02, 0x00, 0x5e, 0x10, 0x20, 0x30, 192, 0, 2, 7,
                         0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 192, 0, 2, 1};
    const auto answer = parseArpReply(reply);
    ASSERT_TRUE(answer);
    EXPECT_EQ(std::tuple(answer->sender, answer->address, answer->target),
              std::tuple(makeIpv4(192, 0, 2, 7), HardwareAddress{0x02, 0x00, 0x5e, 0x10, 0x20, 0x30},
                         makeIpv4(192, 0, 2, 1)));
    const auto sender = [](HardwareAddress mac) {
        return [mac](Bytes &b) { std::copy(mac.begin(), mac.end(), b.begin() + 8); };
    };
    const std::tuple<const char *, bool, std::function<void(Bytes &)>> rows[] = {
        {"padded to Ethernet's shortest frame", true, [](Bytes &b) { b.resize(46); }},
        {"group bit only in a later byte", true, sender({0, 0, 0, 0, 0, 1})},
        {"a request", false, [](Bytes &b) { b[7] = 1; }},
        {"operation 0x0102", false, [](Bytes &b) { b[6] = 1; }},
        {"hardware type 6", false, [](Bytes &b) { b[1] = 6; }},
        {"protocol IPv6", false, [](Bytes &b) { b[2] = 0x86; b[3] = 0xdd; }},
        {"hardware length 8", false, [](Bytes &b) { b[4] = 8; }},
        {"protocol length 16", false, [](Bytes &b) { b[5] = 16; }},
        {"truncated", false, [](Bytes &b) { b.pop_back(); }},
        {"empty", false, [](Bytes &b) { b.clear(); }},
        {"zero sender", false, sender({0, 0, 0, 0, 0, 0})},
        {"broadcast sender", false, sender({0xff, 0xff, 0xff, 0xff, 0xff, 0xff})},
        {"multicast sender", false, sender({0x01, 0x00, 0x5e, 0x10, 0x20, 0x30})},
    };
    for (const auto &[name, taken, change] : rows) {
        Bytes message = reply;
        change(message);
        EXPECT_EQ(parseArpReply(message).has_value(), taken) << name;
    }
}

namespace {

// Messages by hand, little-endian as on the wire, to be damaged at will.
struct Wire
{
    Bytes b;
    Wire &u8(quint8 v) { b.push_back(v); return *this; }
    Wire &u16(quint16 v) { return u8(quint8(v)).u8(quint8(v >> 8)); }
    Wire &u32(quint32 v) { return u16(quint16(v)).u16(quint16(v >> 16)); }
    Wire &targets(int n) { for (int i = 0; i < n; ++i) u32(makeIpv4(10, 0, i >> 8, i)); return *this; }
};
Bytes configure(quint32 timeout, quint16 data) { return Wire().u8(0x01).u32(timeout).u16(data).b; }
Bytes sendWith(quint16 count, int targets) { return Wire().u8(0x02).u16(count).targets(targets).b; }
// A report of `dealt` targets with these (index, error) refusals and `replies` replies;
// the counts it declares may differ.
// A report with one unanswered target and one hardware address after its
// replies; `hardware` is that address's first byte.
Bytes report(quint32 dealt, std::vector<std::pair<quint32, qint32>> refusals, int replies = 1,
             int saysRefusals = -1, int saysReplies = -1, quint8 flags = 1, quint32 roundTrip = 500,
             quint8 hardware = 0x02)
{
    Wire w;
    w.u8(0x82).u8(flags).u32(9).u32(dealt).u32(2).u32(300);
    w.u16(quint16(saysRefusals < 0 ? int(refusals.size()) : saysRefusals));
    w.u16(quint16(saysReplies < 0 ? replies : saysReplies));
    w.u16(1).u16(1);
    for (const auto &[index, error] : refusals)
        w.u32(index).u32(quint32(error));
    for (int i = 0; i < replies; ++i)
        w.u32(makeIpv4(10, 0, 0, 9)).u32(roundTrip);
    w.u32(makeIpv4(10, 0, 0, 8));
    return w.u32(makeIpv4(10, 0, 0, 7)).u8(hardware).u8(0).u8(0).u8(0).u8(0).u8(1).b;
}
Bytes longer(Bytes b) { b.push_back(0); return b; }
Bytes shorter(Bytes b) { b.pop_back(); return b; }

} // namespace

TEST(HelperProtocol, EveryMessageRoundTripsAndHostileOnesAreRefused)
{
    using namespace helper;
    const std::vector<Ipv4> most(MaxTargetsPerMessage, makeIpv4(203, 0, 113, 9));
    const ToHelper toHelper[] = {Configure{300, 64}, Send{{makeIpv4(10, 0, 0, 1), makeIpv4(10, 0, 0, 2)}},
                                 Send{most}, Cancel{0xfffffffe}, Collect{0x01020304}, Resolve{most}};
    const FromHelper fromHelper[] = {
        Hello{ProtocolVersion, 0, 13},
        Report{7, 5, {{0, 1}, {4, 101}}, {{makeIpv4(10, 0, 0, 3), 32000000}}, {makeIpv4(10, 0, 0, 4)},
               {{makeIpv4(10, 0, 0, 5), {2, 0, 0, 0, 0, 5}}}, 3, 32000, false},
        Report{1, 0, {}, {}, {}, {}, 0, 0, true}, Collected{0xfffffffe, 42},
        Resolved{9, {{makeIpv4(10, 0, 0, 4), {2, 0, 0, 0, 0, 4}}, {makeIpv4(10, 0, 0, 5), {}}}, {makeIpv4(10, 0, 0, 6)}}};
    for (const ToHelper &message : toHelper) {
        Bytes wire;
        encode(message, wire);
        EXPECT_EQ(decodeToHelper(wire), message) << ::testing::PrintToString(wire);
    }
    for (const FromHelper &message : fromHelper) {
        Bytes wire;
        encode(message, wire);
        EXPECT_EQ(decodeFromHelper(wire), message) << ::testing::PrintToString(wire);
    }

    enum Reader { ToIt, FromIt };
    const Bytes hello = Wire().u8(0x81).u16(1).u32(0).u32(1).b;
    const std::tuple<const char *, Reader, Bytes, bool> rows[] = {
        {"timeout 1", ToIt, configure(1, 64), true},             {"timeout 32000", ToIt, configure(32000, 64), true},
        {"data 1", ToIt, configure(300, 1), true},               {"data 512", ToIt, configure(300, 512), true},
        {"timeout 0", ToIt, configure(0, 64), false},            {"timeout 32001", ToIt, configure(32001, 64), false},
        {"data 0", ToIt, configure(300, 0), false},              {"data 513", ToIt, configure(300, 513), false},
        {"Configure a byte short", ToIt, shorter(configure(300, 64)), false},
        {"Configure a byte long", ToIt, longer(configure(300, 64)), false},
        {"the most targets", ToIt, sendWith(MaxTargetsPerMessage, MaxTargetsPerMessage), true},
        {"a target too many", ToIt, sendWith(MaxTargetsPerMessage + 1, MaxTargetsPerMessage + 1), false},
        {"no targets", ToIt, sendWith(0, 0), false},
        {"Send a byte long", ToIt, longer(sendWith(1, 1)), false},
        {"count over its targets", ToIt, sendWith(3, 2), false},
        {"count under its targets", ToIt, sendWith(1, 2), false},
        {"Cancel a byte short", ToIt, Bytes{0x03, 1, 2, 3}, false},
        {"Collect a byte long", ToIt, Bytes{0x04, 1, 2, 3, 4, 5}, false},
        {"empty", ToIt, {}, false},                              {"empty", FromIt, {}, false},
        {"unknown type", ToIt, Bytes{0x06, 0, 0, 0, 0}, false},
        {"unknown type", FromIt, Bytes{0x85, 0, 0, 0, 0}, false},
        {"Resolve, no targets", ToIt, Bytes{0x05, 0, 0}, false},
        {"Resolved, nothing", FromIt, Wire().u8(0x84).u32(1).u16(0).u16(0).b, false},
        {"Resolved, a group address", FromIt,
         Wire().u8(0x84).u32(1).u16(1).u16(0).u32(1).u8(1).u8(0).u8(0x5e).u8(0).u8(0).u8(1).b, false},
        {"helper's own message", ToIt, Bytes{0x83, 0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"Vexal's own message", FromIt, Bytes{0x03, 0, 0, 0, 0}, false},
        {"Hello", FromIt, hello, true},
        {"Hello a byte short", FromIt, shorter(hello), false},   {"Hello a byte long", FromIt, longer(hello), false},
        {"Hello, negative errno", FromIt, Wire().u8(0x81).u16(1).u32(0xffffffff).u32(0).b, false},
        {"Hello, negative packet errno", FromIt, Wire().u8(0x81).u16(1).u32(1).u32(0x80000000).b, false},
        {"refusals in order", FromIt, report(3, {{0, 1}, {2, 13}}), true},
        {"refusals out of order", FromIt, report(3, {{2, 1}, {1, 13}}), false},
        {"a refusal repeated", FromIt, report(3, {{1, 1}, {1, 13}}), false},
        {"a refusal beyond dealt", FromIt, report(3, {{0, 1}, {3, 13}}), false},
        {"refusals with nothing dealt", FromIt, report(0, {{0, 1}}), false},
        {"refusal error 0", FromIt, report(3, {{1, 0}}), false},
        {"refusal error negative", FromIt, report(3, {{1, -1}}), false},
        {"refusals counted over", FromIt, report(3, {{1, 1}}, 1, 2), false},
        {"refusals counted under", FromIt, report(3, {{1, 1}, {2, 1}}, 1, 1), false},
        {"replies counted over", FromIt, report(3, {}, 2, -1, 3), false},
        {"replies counted under", FromIt, report(3, {}, 2, -1, 1), false},
        {"the most replies", FromIt, report(3, {}, MaxRepliesPerMessage), true},
        {"a reply too many", FromIt, report(3, {}, MaxRepliesPerMessage + 1), false},
        {"settled neither 0 nor 1", FromIt, report(3, {}, 1, -1, -1, 2), false},
        {"a round trip of the longest timeout", FromIt, report(3, {}, 1, -1, -1, 1, 32000000), true},
        {"a round trip past it", FromIt, report(3, {}, 1, -1, -1, 1, 32000001), false},
        {"a group hardware address", FromIt, report(3, {}, 1, -1, -1, 1, 500, 0x03), false},
        {"Report a byte long", FromIt, longer(report(3, {})), false},
        {"Collected a byte short", FromIt, Bytes{0x83, 0, 0, 0, 0, 0, 0, 0}, false},
    };
    for (const auto &[name, reader, wire, taken] : rows)
        EXPECT_EQ((reader == ToIt ? decodeToHelper(wire).has_value() : decodeFromHelper(wire).has_value()), taken)
            << name;
}
