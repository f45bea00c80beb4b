// What either end of the helper's socket pair may be sent, and what the
// packet socket may bring: the helper runs privileged for whoever starts it,
// so its decoders must take nothing but well-formed messages in range.
#include "fuzzcheck.h"
#include "sweep/arppacket.h"
#include "sweep/helperprotocol.h"

#include <algorithm>
#include <vector>

using namespace vexal;
using namespace vexal::helper;
using vexal::fuzz::require;

namespace {

// One encoding per message: anything taken must be exactly what the encoder
// writes for it, and no shorter input may pass for the same message.
template <typename Message, typename Decode>
void requireOneEncoding(const Message &message, std::span<const quint8> input, Decode decode)
{
    std::vector<quint8> again;
    encode(message, again);
    require(std::ranges::equal(again, input), "a message taken encodes back to its very bytes");
    require(!decode(input.first(input.size() - 1)), "a message cut short is refused");
}

void requireInRange(const ToHelper &message)
{
    if (const auto *configure = std::get_if<Configure>(&message))
        require(configure->timeoutMs >= quint32(MinTimeoutMs) && configure->timeoutMs <= quint32(MaxTimeoutMs)
                    && configure->dataBytes >= MinDataBytes && configure->dataBytes <= MaxDataBytes,
                "a configuration within what ping allows");
    if (const auto *send = std::get_if<Send>(&message))
        require(!send->targets.empty() && send->targets.size() <= std::size_t(MaxTargetsPerMessage),
                "a send of one target up to the most");
}

void requireInRange(const FromHelper &message)
{
    if (const auto *hello = std::get_if<Hello>(&message))
        require(hello->rawError >= 0 && hello->packetError >= 0, "no negative errno");
    const auto *report = std::get_if<Report>(&message);
    if (!report)
        return;
    require(report->refusals.size() <= std::size_t(MaxRefusalsPerMessage)
                && report->replies.size() <= std::size_t(MaxRepliesPerMessage),
            "no more refusals or replies than a report holds");
    for (std::size_t i = 0; i < report->refusals.size(); ++i) {
        const Refusal &refusal = report->refusals[i];
        require(refusal.index < report->dealt && refusal.error > 0, "a refusal of a target dealt, with its errno");
        require(i == 0 || report->refusals[i - 1].index < refusal.index, "refusals in order, each once");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, std::size_t size)
{
    const std::span<const quint8> input(data, size);
    const auto toHelper = decodeToHelper(input);
    const auto fromHelper = decodeFromHelper(input);
    require(!toHelper || !fromHelper, "no message is read both ways");
    if (toHelper) {
        requireInRange(*toHelper);
        requireOneEncoding(*toHelper, input, decodeToHelper);
    }
    if (fromHelper) {
        requireInRange(*fromHelper);
        requireOneEncoding(*fromHelper, input, decodeFromHelper);
    }

    if (const auto answer = parseArpReply(input)) {
        require(isStationAddress(answer->address), "an answer names one station");
        // The request that would ask the same question the other way round
        // shares every byte with the reply but the operation and the
        // target's hardware address; anything after 28 bytes is padding.
        const auto request = arpRequest(answer->address, answer->sender, answer->target);
        require(input.size() >= request.size() && input[6] == 0 && input[7] == 2
                    && std::equal(request.begin(), request.begin() + 6, input.begin())
                    && std::equal(request.begin() + 8, request.begin() + 18, input.begin() + 8)
                    && std::equal(request.begin() + 24, request.end(), input.begin() + 24),
                "a reply's fields are read from their places");
    }
    return 0;
}
