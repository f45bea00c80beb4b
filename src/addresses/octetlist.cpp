#include "addresses/octetlist.h"

namespace vexal {

QString OctetList::entryText(int position)
{
    return QString::number(position);
}

OctetList OctetList::matchingPrefix(QStringView prefix)
{
    OctetList list;
    for (int p = 0; p < EntryCount; ++p)
        list.setSelected(p, entryText(p).startsWith(prefix));
    return list;
}

OctetList OctetList::all()
{
    OctetList list;
    list.m_selected.set();
    return list;
}

int OctetList::highestSelected() const
{
    for (int p = EntryCount - 1; p >= 0; --p) {
        if (isSelected(p))
            return p;
    }
    return -1;
}

} // namespace vexal
