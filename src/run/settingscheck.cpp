#include "run/settingscheck.h"

#include "common/numerictext.h"

namespace vexal {

std::optional<Complaint> pingSettingsFault(const PingSettingsText &settings)
{
    const auto packetSize = numericValue(settings.packetSize);
    if (!packetSize)
        return Complaint{QStringLiteral("Packet Size"),
                         QStringLiteral("The value entered for the Packet Size is not valid.  Please "
                                        "reenter and try again!")};
    const auto timeout = numericValue(settings.timeout);
    if (!timeout)
        return Complaint{QStringLiteral("Timeout"),
                         QStringLiteral("The value entered for the Timeout is not valid.  Please "
                                        "reenter and try again!")};
    const auto delay = numericValue(settings.delay);
    if (!delay)
        return Complaint{QStringLiteral("Delay"),
                         QStringLiteral("The value entered for the Delay is not valid.  Please reenter "
                                        "and try again!")};

    if (*packetSize < MinPacketSize || *packetSize > MaxPacketSize)
        return Complaint{QStringLiteral("Packet Size"),
                         QStringLiteral("The value entered for Packet Size is out of range.  Please "
                                        "reenter a valid number between 1 and 512!")};
    if (*timeout < MinTimeout || *timeout > MaxTimeout)
        return Complaint{QStringLiteral("Timeout"),
                         QStringLiteral("The value entered for the timeout is out of range.  Please "
                                        "reenter a valid number between 1 and 32000!")};
    if (*delay < MinDelay || *delay > MaxDelay)
        return Complaint{QStringLiteral("Delay"),
                         QStringLiteral("The value entered for the delay is out of range.  Please "
                                        "reenter a valid number between 0 and 60!")};
    return std::nullopt;
}

} // namespace vexal
