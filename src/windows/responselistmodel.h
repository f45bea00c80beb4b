#pragma once

#include "common/ipv4.h"

#include <QAbstractListModel>
#include <QList>

namespace vexal {

// The rows of the unique list: a view of the run's list of answering
// addresses, which holds them as numbers. A row's text is made when the row
// is painted, so 32,000 entries cost 128 KB and no item or string each, and
// a frame's new entries arrive as one insertion at the end.
class ResponseListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit ResponseListModel(const QList<Ipv4> &addresses, QObject *parent = nullptr);

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
    const QList<Ipv4> &m_addresses;
    int m_rows = 0;
};

} // namespace vexal
