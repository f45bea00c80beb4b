#pragma once

#include "addresses/octetlist.h"
#include "common/ipv4.h"

#include <array>

namespace vexal {

// The selected values of the four lists, column k for list k, in list order.
// Targets are produced from it one at a time; the target list is never
// materialised (a full sweep would be 2^32 addresses).
class OctetTable
{
public:
    static constexpr int Columns = 4;
    static constexpr int Rows = 257;

    // Zeroes every row and count.
    void clear();
    // Copies the selections: row SelectedCount(k) of column k gets the next
    // selected value of list k.
    void fill(const AddressSet &lists);

    int selectedCount(int column) const { return m_selectedCount[std::size_t(column)]; }
    int value(int column, int row) const { return m_rows[std::size_t(column)][std::size_t(row)]; }
    // Targets in one cycle: the product of the four counts.
    qint64 totalToPing() const;

    Ipv4 address(int a, int b, int c, int d) const
    {
        return makeIpv4(value(0, a), value(1, b), value(2, c), value(3, d));
    }

private:
    std::array<std::array<qint16, Rows>, Columns> m_rows{};
    std::array<int, Columns> m_selectedCount{};
};

} // namespace vexal
