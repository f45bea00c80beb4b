#include "app/privileges.h"

namespace vexal {

// Echo requests through the IP Helper API need no administrator, and the
// program is not installed with any right of its own to give up.
PrivilegeDrop dropPrivileges()
{
    return {};
}

} // namespace vexal
