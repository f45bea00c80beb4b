#include "sweep/pinger.h"

namespace vexal {

bool Pinger::send(Ipv4 target)
{
    SendRefusals refusals;
    return send(std::span<const Ipv4>(&target, 1), refusals) == 1 && refusals.empty();
}

} // namespace vexal
