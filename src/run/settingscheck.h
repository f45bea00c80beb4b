#pragma once

#include "common/complaint.h"

#include <QString>

#include <optional>

namespace vexal {

// The three ping settings as typed.
struct PingSettingsText
{
    QString packetSize;
    QString timeout;
    QString delay;
};

// Accepted ranges, both ends included.
constexpr double MinPacketSize = 1, MaxPacketSize = 512;
constexpr double MinTimeout = 1, MaxTimeout = 32000;
constexpr double MinDelay = 0, MaxDelay = 60;

// The first fault of the settings: every numeric test comes before any range
// test, so a missing delay is reported before an oversized packet.
std::optional<Complaint> pingSettingsFault(const PingSettingsText &settings);

} // namespace vexal
