#include "windows/responselistmodel.h"

namespace vexal {

ResponseListModel::ResponseListModel(const QList<Ipv4> &addresses, QObject *parent)
    : QAbstractListModel(parent)
    , m_addresses(addresses)
{
}

void ResponseListModel::showFirst(qsizetype count)
{
    const int rows = int(qMin(count, m_addresses.size()));
    if (rows < m_rows) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    } else if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
}

QModelIndex ResponseListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || row >= m_rows || column != 0 || parent.isValid())
        return QModelIndex();
    return createIndex(row, column);
}

int ResponseListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant ResponseListModel::data(const QModelIndex &index, int role) const
{
    // The run empties its list at Start a moment before it tells the view.
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_addresses.size())
        return QVariant();
    return ipv4Text(m_addresses.at(index.row()));
}

} // namespace vexal
