#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <bitset>

namespace vexal {

// The selection state of one octet list. The entries themselves never
// change: entry p is the text of p ("0" .. "255"), so an entry's value is its
// position; only the selected flags vary.
class OctetList
{
public:
    static constexpr int EntryCount = 256;

    static QString entryText(int position);
    // Every entry whose text begins with prefix, character by character.
    static OctetList matchingPrefix(QStringView prefix);
    static OctetList all();

    bool isSelected(int position) const { return m_selected.test(std::size_t(position)); }
    void setSelected(int position, bool selected) { m_selected.set(std::size_t(position), selected); }
    void clear() { m_selected.reset(); }

    int selectedCount() const { return int(m_selected.count()); }
    bool hasSelection() const { return m_selected.any(); }
    // Highest selected position, or -1.
    int highestSelected() const;

    bool operator==(const OctetList &other) const = default;

private:
    std::bitset<EntryCount> m_selected;
};

// The four lists, index 0 for the leftmost octet.
using AddressSet = std::array<OctetList, 4>;

} // namespace vexal
