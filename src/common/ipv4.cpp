#include "common/ipv4.h"

#include <QStringList>

namespace vexal {

char *writeIpv4Text(Ipv4 address, char *out)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        unsigned part = (address >> shift) & 0xffu;
        if (part >= 100)
            *out++ = char('0' + part / 100);
        if (part >= 10)
            *out++ = char('0' + (part / 10) % 10);
        *out++ = char('0' + part % 10);
        if (shift != 0)
            *out++ = '.';
    }
    return out;
}

QString ipv4Text(Ipv4 address)
{
    char buffer[Ipv4TextMax];
    return QString::fromLatin1(buffer, writeIpv4Text(address, buffer) - buffer);
}

std::optional<Ipv4> parseIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    Ipv4 result = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        int value = 0;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return std::nullopt;
        result = (result << 8) | Ipv4(value);
    }
    return result;
}

} // namespace vexal
