#include "common/systemerrors.h"

#include <cerrno>

namespace vexal {

bool isLackOfSpace(int systemError)
{
    // A full quota is a full disk as far as the user can tell.
    return systemError == ENOSPC || systemError == EDQUOT;
}

} // namespace vexal
