#include "sweep/icmppacket.h"

#include <algorithm>

namespace vexal {

namespace {

constexpr quint8 EchoReplyType = 0;
constexpr quint8 EchoRequestType = 8;
constexpr quint8 IcmpProtocol = 1;
constexpr std::size_t MinIpHeaderSize = 20;

quint16 readBe16(const quint8 *p) { return quint16((p[0] << 8) | p[1]); }

quint32 readBe32(const quint8 *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

void writeBe16(quint8 *p, quint16 value)
{
    p[0] = quint8(value >> 8);
    p[1] = quint8(value);
}

} // namespace

quint32 onesComplementAdd(std::span<const quint8> bytes, quint32 sum)
{
    const std::size_t even = bytes.size() & ~std::size_t(1);
    for (std::size_t i = 0; i < even; i += 2)
        sum += quint32(readBe16(bytes.data() + i));
    // The bytes are unsigned: a last byte of 0x80 or more must not sign-extend.
    if (even != bytes.size())
        sum += quint32(bytes[even]) << 8;
    // End-around carries keep a running sum small however often it is fed.
    sum = (sum & 0xffffu) + (sum >> 16);
    return (sum & 0xffffu) + (sum >> 16);
}

quint16 foldChecksum(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xffffu) + (sum >> 16);
    return quint16(~sum);
}

quint16 internetChecksum(std::span<const quint8> bytes)
{
    return foldChecksum(onesComplementAdd(bytes));
}

std::size_t buildEchoRequest(std::span<quint8> out, quint16 identifier, quint16 sequence,
                             std::span<const quint8> data)
{
    const std::size_t size = IcmpHeaderSize + data.size();
    if (out.size() < size)
        return 0;
    out[0] = EchoRequestType;
    out[1] = 0;
    writeBe16(&out[2], 0);
    writeBe16(&out[4], identifier);
    writeBe16(&out[6], sequence);
    std::copy(data.begin(), data.end(), out.begin() + IcmpHeaderSize);
    writeBe16(&out[2], internetChecksum(out.first(size)));
    return size;
}

std::optional<EchoReply> parseEchoReply(std::span<const quint8> datagram, bool withIpHeader)
{
    EchoReply reply;
    std::span<const quint8> icmp = datagram;
    if (withIpHeader) {
        if (datagram.size() < MinIpHeaderSize || (datagram[0] >> 4) != 4)
            return std::nullopt;
        const std::size_t headerSize = std::size_t(datagram[0] & 0x0f) * 4;
        const std::size_t totalSize = readBe16(&datagram[2]);
        if (headerSize < MinIpHeaderSize || totalSize < headerSize || totalSize > datagram.size())
            return std::nullopt;
        if (datagram[9] != IcmpProtocol)
            return std::nullopt;
        reply.source = readBe32(&datagram[12]);
        icmp = datagram.subspan(headerSize, totalSize - headerSize);
    }
    if (icmp.size() < std::size_t(IcmpHeaderSize) || icmp[0] != EchoReplyType || icmp[1] != 0)
        return std::nullopt;
    if (internetChecksum(icmp) != 0)
        return std::nullopt;
    reply.identifier = readBe16(&icmp[4]);
    reply.sequence = readBe16(&icmp[6]);
    reply.data = icmp.subspan(IcmpHeaderSize);
    return reply;
}

quint64 echoTag(std::span<const quint8> data)
{
    if (data.size() < std::size_t(EchoTagSize))
        return 0;
    quint64 tag = 0;
    for (int i = 0; i < EchoTagSize; ++i)
        tag = (tag << 8) | data[std::size_t(i)];
    return tag;
}

void EchoRequestBuilder::reset(quint16 identifier, int dataSize)
{
    m_dataSize = std::clamp(dataSize, 1, EchoMaxData);
    m_identifier = identifier;
    m_bytes.fill(0);
    m_bytes[0] = EchoRequestType;
    for (int i = 0; i < m_dataSize; ++i)
        m_bytes[std::size_t(IcmpHeaderSize + i)] = quint8(i);
    // The varying fields are added per message; every piece summed here
    // starts at an even offset, so the partial sums combine exactly.
    const std::size_t fixedDataStart = IcmpHeaderSize + (carriesTag() ? EchoTagSize : 0);
    const std::span<const quint8> bytes(m_bytes.data(), size());
    m_fixedSum = onesComplementAdd(bytes.first(IcmpHeaderSize));
    m_fixedSum = onesComplementAdd(bytes.subspan(fixedDataStart), m_fixedSum);
}

std::span<const quint8> EchoRequestBuilder::build(quint16 sequence, quint64 tag)
{
    stamp(m_bytes, m_identifier, sequence, tag);
    return blank();
}

void EchoRequestBuilder::stamp(std::span<quint8> message, quint16 identifier, quint16 sequence,
                               quint64 tag) const
{
    quint32 sum = m_fixedSum + identifier + sequence;
    writeBe16(&message[4], identifier);
    writeBe16(&message[6], sequence);
    if (carriesTag()) {
        for (int i = 0; i < EchoTagSize; ++i)
            message[std::size_t(IcmpHeaderSize + i)] = quint8(tag >> (56 - 8 * i));
        for (int shift = 48; shift >= 0; shift -= 16)
            sum += quint32((tag >> shift) & 0xffffu);
    }
    writeBe16(&message[2], foldChecksum(sum));
}

} // namespace vexal
