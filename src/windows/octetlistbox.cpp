#include "windows/octetlistbox.h"

#include <QItemSelection>

namespace vexal {

OctetListBox::OctetListBox(QWidget *parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setSortingEnabled(false);
}

void OctetListBox::fill()
{
    QStringList entries;
    entries.reserve(OctetList::EntryCount);
    for (int p = 0; p < OctetList::EntryCount; ++p)
        entries.append(OctetList::entryText(p));
    addItems(entries);
}

OctetList OctetListBox::selection() const
{
    OctetList list;
    const QItemSelectionModel *model = selectionModel();
    const QModelIndex root = rootIndex();
    for (int p = 0; p < count(); ++p)
        list.setSelected(p, model->isRowSelected(p, root));
    return list;
}

void OctetListBox::setSelection(const OctetList &selection)
{
    QItemSelection ranges;
    int first = -1;
    for (int p = 0; p < count(); ++p) {
        if (!selection.isSelected(p))
            continue;
        int last = p;
        while (last + 1 < count() && selection.isSelected(last + 1))
            ++last;
        ranges.select(model()->index(p, 0), model()->index(last, 0));
        if (first < 0)
            first = p;
        p = last;
    }
    selectionModel()->select(ranges, QItemSelectionModel::ClearAndSelect);
    // Show where the new selection begins: typing 19 shows 19 and its kin.
    if (first >= 0)
        scrollToItem(item(first));
}

void OctetListBox::reselect(int position)
{
    QListWidgetItem *entry = item(position);
    if (!entry)
        return;
    entry->setSelected(false);
    entry->setSelected(true);
    scrollToItem(entry);
}

} // namespace vexal
