#include "common/systemerrors.h"

#include <windows.h>

namespace vexal {

bool isLackOfSpace(int systemError)
{
    // The handle's flavour is what a write to an open file reports.
    return systemError == ERROR_DISK_FULL || systemError == ERROR_HANDLE_DISK_FULL;
}

} // namespace vexal
