#include "sweep/icmppacket.h"
#include "sweep/sequencemap.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace vexal;

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
        EXPECT_FALSE(map.take(sequence, source, tag, arrival)) << name;
    EXPECT_TRUE(map.take(0, target, 42, 99)) << "arrived in time, however late it is read";
    EXPECT_FALSE(map.take(0, target, 42, 99)) << "a duplicate";
    map.add(target, 200, 7);
    map.clear(150);
    EXPECT_FALSE(map.take(1, target, 7, 150)) << "after clear()";
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
    EXPECT_TRUE(full.take(0, 0, 0, 999)) << "the oldest is still answerable";
    EXPECT_TRUE(full.take(2, 2, 2, 999));
    EXPECT_EQ(full.roomFor(64, 999, 0), 1);
    EXPECT_EQ(full.nextDeadline(), 1001) << "the first was answered";
    EXPECT_EQ(full.expire(1002), 1);
    EXPECT_EQ(full.nextDeadline(), 1003) << "the third was answered";
    EXPECT_EQ(full.expire(1003), 1);
    EXPECT_EQ(full.roomFor(64, 1003, 0), 4);
    EXPECT_TRUE(full.take(65535, 65535, 65535, 1003));
    full.add(7, 5000, 0);
    EXPECT_TRUE(full.take(0, 7, 0, 1003));
    EXPECT_EQ(full.nextDeadline(), 1004);
    EXPECT_EQ(full.pending(), SequenceMap::Capacity - 5);

    // Untagged: a number that ended at t is free again at t + rest.
    SequenceMap resting;
    resting.add(7, 50, 0);  // sequence 0 expires at 50: rests until 150
    resting.add(7, 500, 0); // sequence 1 is answered at 250: rests until 350
    ASSERT_TRUE(resting.take(1, 7, 0, 250));
    ASSERT_EQ(resting.expire(60), 1);
    for (int i = 2; i < SequenceMap::Capacity; ++i)
        resting.addRefused(10);
    const std::tuple<const char *, qint64, qint64, int> restRows[] = {
        {"tagged: no rest", 60, 0, 5}, {"resting", 60, 100, 0}, {"first one rested", 150, 100, 1},
        {"all rested", 400, 100, 5}};
    for (const auto &[name, now, rest, room] : restRows)
        EXPECT_EQ(resting.roomFor(5, now, rest), room) << name;
}
