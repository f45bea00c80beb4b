#pragma once

#include "addresses/octetlist.h"
#include "common/complaint.h"

#include <optional>

namespace vexal {

// Whether the four lists form a usable address set; the first fault found,
// or nothing when they do.
std::optional<Complaint> listSelectionFault(const AddressSet &lists);

} // namespace vexal
