#include "addresses/selectioncheck.h"

namespace vexal {

std::optional<Complaint> listSelectionFault(const AddressSet &lists)
{
    static const char *const ordinals[] = {"first ", "second ", "third ", "fourth "};
    const QString title = QStringLiteral("List Box");

    for (std::size_t k = 0; k < lists.size(); ++k) {
        if (!lists[k].hasSelection()) {
            return Complaint{title,
                             QStringLiteral("The ") + QLatin1String(ordinals[k])
                                 + QStringLiteral("list box has no entries selected.  Please select at "
                                                  "least one entry to continue!")};
        }
    }

    // 0 in every position would let 0.0.0.0 into the sweep. Zeros in some
    // positions are ordinary (10.0.0.1).
    bool zeroEverywhere = true;
    for (const OctetList &list : lists)
        zeroEverywhere = zeroEverywhere && list.isSelected(0);
    if (zeroEverywhere) {
        return Complaint{title,
                         QStringLiteral("Each part of the IP address cannot contain a 0.  This will "
                                        "generate an invalid IP address.  Please correct this problem "
                                        "to continue")};
    }
    return std::nullopt;
}

} // namespace vexal
