#include "run/monitorline.h"

#include "common/ipv4.h"
#include "run/hostmonitor.h"

#include <QDateTime>

#include <cstdio>
#include <cstdlib>

namespace vexal {

QByteArray monitorLine(const HostChange &change)
{
    // The seconds are cut, not rounded: a change at 13:06:02.999 is one of
    // 13:06:02, as a clock would have shown it.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(change.atMs);
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);

    QByteArray line = local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + zone;
    line += change.up ? " up " : " down ";
    char address[Ipv4TextMax];
    line.append(address, writeIpv4Text(change.address, address) - address);
    if (change.up) {
        const quint64 hundredths = (quint64(change.roundTripUs) + 5) / 10;
        char roundTrip[32];
        std::snprintf(roundTrip, sizeof roundTrip, " %llu.%02llu ms", static_cast<unsigned long long>(hundredths / 100),
                      static_cast<unsigned long long>(hundredths % 100));
        line += roundTrip;
    }
    line += '\n';
    return line;
}

} // namespace vexal
