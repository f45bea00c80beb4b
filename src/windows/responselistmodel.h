#pragma once

#include "common/ipv4.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QTimer>

namespace vexal {

class HostNames;
class SweepRun;
class VendorRegistry;
struct HostChange;

// The rows of the unique list: a view of the run's list of answering
// addresses, which holds them as numbers. A row's text is made when the row
// is painted, so 32,000 entries cost 128 KB and no item or string each, and
// a frame's new entries arrive as one insertion at the end.
//
// A continuous sweep makes the list a monitor: a host that is down is drawn
// dimmed with a mark, and each row's tooltip tells what the run knows of
// its host, with the vendor of its network card and its name, both looked
// up in the background when a tooltip first asks.
class ResponseListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    // `vendorRegistry`: the IEEE OUI registry file (VendorRegistry).
    ResponseListModel(const SweepRun &run, const QString &vendorRegistry, QObject *parent = nullptr);

    // Shows the first `count` addresses: the rows past the ones shown are
    // inserted at the end; a smaller count (a new run) starts afresh.
    void showFirst(qsizetype count);

    // The view lays out every row again after each insertion, asking for
    // each row's index; this one answers without the virtual calls of the
    // general range check.
    QModelIndex index(int row, int column = 0, const QModelIndex &parent = QModelIndex()) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    void onHostChanged(const HostChange &change);
    // Rows whose look or tooltip changed are repainted together once per
    // display frame: a /16 may change thousands of hosts a cycle.
    void noteChanged(int first, int last);
    void emitChanged();
    QString toolTip(Ipv4 address) const;
    const QPixmap &mark(bool down) const;

    const SweepRun &m_run;
    const QList<Ipv4> &m_addresses;
    int m_rows = 0;
    // The row of each address shown, so that a host's change repaints its
    // row alone.
    QHash<Ipv4, int> m_rowOf;
    int m_changedFirst = -1;
    int m_changedLast = -1;
    QTimer m_changeFrame;
    HostNames *m_names = nullptr;
    VendorRegistry *m_vendors = nullptr;
    // Drawn once, at the first row painted: the same size up and down, so
    // that an address never moves when its host changes.
    mutable QPixmap m_downMark;
    mutable QPixmap m_noMark;
};

} // namespace vexal
