#include "sweep/octettable.h"

namespace vexal {

void OctetTable::clear()
{
    for (auto &column : m_rows)
        column.fill(0);
    m_selectedCount.fill(0);
}

void OctetTable::fill(const AddressSet &lists)
{
    clear();
    for (int k = 0; k < Columns; ++k) {
        const OctetList &list = lists[std::size_t(k)];
        for (int p = 0; p < OctetList::EntryCount; ++p) {
            if (list.isSelected(p))
                m_rows[std::size_t(k)][std::size_t(m_selectedCount[std::size_t(k)]++)] = qint16(p);
        }
    }
}

qint64 OctetTable::totalToPing() const
{
    qint64 total = 1;
    for (int count : m_selectedCount)
        total *= count;
    return total;
}

} // namespace vexal
