#pragma once

#include "addresses/octetlist.h"

#include <QListWidget>

namespace vexal {

// One octet list of the main window: the 256 entries "0" .. "255" with
// extended multiple selection. The widget holds the selection; the address
// logic reads and writes it as an OctetList.
class OctetListBox final : public QListWidget
{
    Q_OBJECT

public:
    explicit OctetListBox(QWidget *parent = nullptr);

    // Appends the 256 entries once.
    void fill();
    OctetList selection() const;
    // Replaces the whole selection in one change.
    void setSelection(const OctetList &selection);
    // Deselects and selects the entry again, bringing it into view.
    void reselect(int position);
};

} // namespace vexal
