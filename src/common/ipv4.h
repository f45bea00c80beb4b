#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace vexal {

// An IPv4 address in host byte order. Sweeps handle tens of thousands of
// these per second, so the hot paths carry numbers and only the window and
// the logs turn them into text.
using Ipv4 = quint32;

constexpr Ipv4 makeIpv4(int a, int b, int c, int d)
{
    return (Ipv4(a & 0xff) << 24) | (Ipv4(b & 0xff) << 16) | (Ipv4(c & 0xff) << 8) | Ipv4(d & 0xff);
}

// Dotted-quad text without leading zeros or blanks, e.g. "10.0.0.7".
QString ipv4Text(Ipv4 address);
// The same text as ASCII into out, which has room for Ipv4TextMax bytes;
// returns the end. For the logs, which write it a hundred thousand times a
// second and need no string for it.
constexpr int Ipv4TextMax = 15;
char *writeIpv4Text(Ipv4 address, char *out);

// Strict dotted-quad parse: four decimal parts 0..255, nothing else.
std::optional<Ipv4> parseIpv4(const QString &text);

} // namespace vexal
