// The echo reply parser, with and without an IPv4 header, and the echo
// request builders whose messages it must read back.
#include "fuzzcheck.h"
#include "sweep/icmppacket.h"

#include <algorithm>
#include <vector>

using namespace vexal;
using vexal::fuzz::require;

namespace {

// A request turned into its reply: type 0, checksum adjusted.
void makeReply(std::span<quint8> message)
{
    message[0] = 0;
    message[2] = message[3] = 0;
    const quint16 sum = internetChecksum(message);
    message[2] = quint8(sum >> 8);
    message[3] = quint8(sum);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, std::size_t size)
{
    const std::span<const quint8> input(data, size);
    for (const bool withIpHeader : {false, true}) {
        if (const auto reply = parseEchoReply(input, withIpHeader)) {
            require(reply->data.data() >= data && reply->data.data() + reply->data.size() <= data + size,
                    "the echo data lies inside the datagram");
            require(withIpHeader || reply->source == 0, "no source without an IP header");
            echoTag(reply->data);
        }
    }
    if (size < 5)
        return 0;

    // The rest of the input as echo data, sent and answered.
    const quint16 identifier = quint16(data[0] << 8 | data[1]);
    const quint16 sequence = quint16(data[2] << 8 | data[3]);
    const quint8 headerWords = std::max(5, data[4] & 0x0f);
    const auto echoData = input.subspan(5).first(std::min<std::size_t>(size - 5, EchoMaxData));
    const std::size_t headerSize = headerWords * 4u;
    std::vector<quint8> datagram(headerSize + IcmpHeaderSize + echoData.size());
    const auto message = std::span(datagram).subspan(headerSize);
    require(buildEchoRequest(message, identifier, sequence, echoData) == message.size(),
            "a request fits a buffer of its size");
    require(internetChecksum(message) == 0, "a built request sums to zero");
    makeReply(message);

    datagram[0] = quint8(0x40 | headerWords);
    datagram[2] = quint8(datagram.size() >> 8);
    datagram[3] = quint8(datagram.size());
    datagram[9] = 1;
    std::copy_n(data, 4, &datagram[12]);
    for (const bool withIpHeader : {false, true}) {
        const auto reply = parseEchoReply(withIpHeader ? std::span(datagram) : message, withIpHeader);
        require(reply && reply->identifier == identifier && reply->sequence == sequence
                    && std::ranges::equal(reply->data, echoData),
                "a reply to a built request reads back whole");
        require(!withIpHeader || reply->source == (quint32(identifier) << 16 | sequence),
                "the source is the header's");
    }

    // The prepared builder stamps the same message a whole build would.
    EchoRequestBuilder builder;
    builder.reset(identifier, int(echoData.size()));
    quint64 tag = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(echoData.size(), 8); ++i)
        tag = tag << 8 | echoData[i];
    std::vector<quint8> stamped(builder.blank().begin(), builder.blank().end());
    builder.stamp(stamped, quint16(~identifier), sequence, tag);
    const auto built = builder.build(sequence, tag);
    require(internetChecksum(stamped) == 0 && internetChecksum(built) == 0,
            "stamped and prepared requests sum to zero");
    std::vector<quint8> answer(built.begin(), built.end());
    makeReply(answer);
    const auto reply = parseEchoReply(answer, false);
    require(reply && reply->sequence == sequence && (!builder.carriesTag() || echoTag(reply->data) == tag),
            "a prepared request carries its sequence and tag");
    return 0;
}
