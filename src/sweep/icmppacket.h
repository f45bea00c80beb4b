#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace vexal {

// ICMP echo messages as plain bytes. Nothing here touches the operating
// system, so the byte work is the same on every platform and unit-testable.

constexpr int IcmpHeaderSize = 8;
constexpr int EchoMaxData = 512;
// Echo data that starts with this many bytes carries a tag (big-endian) that
// tells our own replies from anybody else's.
constexpr int EchoTagSize = 8;

// RFC 1071 one's complement sum of bytes taken as big-endian 16-bit words;
// an odd last byte is the high byte of a final word. `sum` carries a partial
// result, so a message may be summed in pieces, each but the last of even
// length.
quint32 onesComplementAdd(std::span<const quint8> bytes, quint32 sum = 0);
// Folds the carries of a partial sum and complements it: the value of the
// checksum field, to be stored big-endian.
quint16 foldChecksum(quint32 sum);
// The Internet checksum of bytes; 0 over a message whose checksum is right.
quint16 internetChecksum(std::span<const quint8> bytes);

// Writes an echo request (type 8, code 0) with a correct checksum into out.
// Returns its length, or 0 when out is too small.
std::size_t buildEchoRequest(std::span<quint8> out, quint16 identifier, quint16 sequence,
                             std::span<const quint8> data);

struct EchoReply
{
    quint16 identifier = 0;
    quint16 sequence = 0;
    // Host order, from the IPv4 header; 0 when the datagram had none.
    quint32 source = 0;
    // Points into the parsed datagram.
    std::span<const quint8> data;
};

// Parses an echo reply (type 0, code 0) whose ICMP checksum is right, with or
// without a leading IPv4 header. Anything else, or anything truncated, is
// nullopt.
std::optional<EchoReply> parseEchoReply(std::span<const quint8> datagram, bool withIpHeader);

// The tag at the start of echo data, or 0 when the data is too short for one.
quint64 echoTag(std::span<const quint8> data);

// An echo request kept ready between sends. The fixed part (type, identifier
// and the data after the tag) is summed once, so a new message costs a few
// word additions instead of a pass over up to 520 bytes.
class EchoRequestBuilder final
{
public:
    // dataSize is clamped to 1..EchoMaxData.
    void reset(quint16 identifier, int dataSize);
    // Sets sequence, tag (ignored when it does not fit) and checksum. The
    // bytes stay valid until the next call.
    std::span<const quint8> build(quint16 sequence, quint64 tag);
    // The message with identifier, sequence, tag and checksum still to be
    // set: copy it once into each buffer of a batch, then stamp() each copy
    // per request (the identifier may differ from reset()'s).
    std::span<const quint8> blank() const { return {m_bytes.data(), size()}; }
    void stamp(std::span<quint8> message, quint16 identifier, quint16 sequence, quint64 tag) const;
    std::size_t size() const { return std::size_t(IcmpHeaderSize + m_dataSize); }

    int dataSize() const { return m_dataSize; }
    bool carriesTag() const { return m_dataSize >= EchoTagSize; }

private:
    std::array<quint8, IcmpHeaderSize + EchoMaxData> m_bytes{};
    int m_dataSize = 0;
    quint16 m_identifier = 0;
    // Everything but identifier, sequence, tag and checksum.
    quint32 m_fixedSum = 0;
};

} // namespace vexal
