// splitAddress against the stricter address rules and a plain reading of
// its own rule.
#include "common/ipv4.h"
#include "common/numerictext.h"
#include "common/procedures.h"
#include "fuzzcheck.h"

#include <QStringList>

using namespace vexal;
using vexal::fuzz::require;

namespace {

// Four parts between dots, each numeric text whose nearest whole number
// (halves to even) is a byte.
std::optional<Octets> reference(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    Octets octets{};
    for (int k = 0; k < 4; ++k) {
        const auto value = numericValue(parts.at(k));
        if (!value || *value < -0.5 || *value > 255.5)
            return std::nullopt;
        const long long whole = roundHalfEven(*value);
        if (whole < 0 || whole > 255)
            return std::nullopt;
        octets[std::size_t(k)] = quint8(whole);
    }
    return octets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, std::size_t size)
{
    const QString text = fuzz::inputText(data, size);
    const std::optional<Octets> octets = splitAddress(text);
    require(octets == reference(text), "splitAddress follows its rule");
    if (const auto valid = ipOctets(text))
        require(octets == valid, "an address the lists hold splits to the same octets");
    if (const auto strict = parseIpv4(text))
        require(octets && makeIpv4((*octets)[0], (*octets)[1], (*octets)[2], (*octets)[3]) == *strict,
                "a plain dotted quad splits to its own octets");
    if (octets) {
        const Ipv4 address = makeIpv4((*octets)[0], (*octets)[1], (*octets)[2], (*octets)[3]);
        require(splitAddress(ipv4Text(address)) == octets, "an address written out splits back the same");
    }
    return 0;
}
