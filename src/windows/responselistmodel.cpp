#include "windows/responselistmodel.h"

#include "common/datetimetext.h"
#include "run/sweeprun.h"
#include "windows/hostnames.h"
#include "windows/vendorregistry.h"

#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <QPalette>
#include <QtMath>

namespace vexal {

namespace {

constexpr int FrameMs = 40;
constexpr int MarkSize = 10;

QString dateTimeText(qint64 msSinceEpoch)
{
    return generalDateTimeText(QDateTime::fromMSecsSinceEpoch(msSinceEpoch));
}

// To the microsecond the round trips are measured in: a link on the desk
// answers in a few hundredths of a millisecond.
QString millisecondsText(quint32 microseconds)
{
    return QLocale().toString(microseconds / 1000.0, 'f', 3) + QStringLiteral(" ms");
}

} // namespace

ResponseListModel::ResponseListModel(const SweepRun &run, const QString &vendorRegistry, QObject *parent)
    : QAbstractListModel(parent)
    , m_run(run)
    , m_addresses(run.listedAddresses())
    , m_names(new HostNames(this))
    , m_vendors(new VendorRegistry(vendorRegistry, this))
{
    m_changeFrame.setSingleShot(true);
    m_changeFrame.setInterval(FrameMs);
    connect(&m_changeFrame, &QTimer::timeout, this, &ResponseListModel::emitChanged);
    connect(&run, &SweepRun::hostChanged, this, &ResponseListModel::onHostChanged);
    // A name or the registry arrives once per tooltip at most: its rows'
    // tooltips change at once, so one on screen can follow.
    connect(m_names, &HostNames::found, this, [this](Ipv4 address) {
        if (const auto row = m_rowOf.constFind(address); row != m_rowOf.constEnd())
            emit dataChanged(index(*row), index(*row), {Qt::ToolTipRole});
    });
    connect(m_vendors, &VendorRegistry::loaded, this, [this] {
        if (m_rows > 0)
            emit dataChanged(index(0), index(m_rows - 1), {Qt::ToolTipRole});
    });
}

void ResponseListModel::showFirst(qsizetype count)
{
    const int rows = int(qMin(count, m_addresses.size()));
    if (rows < m_rows) {
        beginResetModel();
        m_rowOf.clear();
        m_changedFirst = m_changedLast = -1;
        for (int row = 0; row < rows; ++row)
            m_rowOf.insert(m_addresses.at(row), row);
        m_rows = rows;
        endResetModel();
    } else if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        for (int row = m_rows; row < rows; ++row)
            m_rowOf.insert(m_addresses.at(row), row);
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
    if (!index.isValid() || index.row() >= m_addresses.size())
        return QVariant();
    const Ipv4 address = m_addresses.at(index.row());
    const auto down = [&] {
        const HostState *host = m_run.hosts().find(address);
        return host && !host->up;
    };
    switch (role) {
    case Qt::DisplayRole:
        return ipv4Text(address);
    case Qt::ForegroundRole:
        return down() ? QVariant(QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text))
                      : QVariant();
    case Qt::DecorationRole:
        return mark(down());
    case Qt::ToolTipRole:
        return toolTip(address);
    default:
        return QVariant();
    }
}

void ResponseListModel::onHostChanged(const HostChange &change)
{
    // A host's first reply comes before its row: that row is drawn new.
    if (const auto row = m_rowOf.constFind(change.address); row != m_rowOf.constEnd())
        noteChanged(*row, *row);
}

void ResponseListModel::noteChanged(int first, int last)
{
    m_changedFirst = m_changedFirst < 0 ? first : qMin(m_changedFirst, first);
    m_changedLast = qMax(m_changedLast, last);
    if (!m_changeFrame.isActive())
        m_changeFrame.start();
}

void ResponseListModel::emitChanged()
{
    if (m_changedFirst < 0)
        return;
    const int first = m_changedFirst;
    const int last = qMin(m_changedLast, m_rows - 1);
    m_changedFirst = m_changedLast = -1;
    if (first <= last)
        emit dataChanged(index(first), index(last),
                         {Qt::ForegroundRole, Qt::DecorationRole, Qt::ToolTipRole});
}

QString ResponseListModel::toolTip(Ipv4 address) const
{
    const HostState *host = m_run.hosts().find(address);
    if (!host)
        return QString();
    // Qt takes a tooltip for rich text by its first line alone, and that
    // line is always this one: a name or vendor with markup in it shows as
    // it is spelt.
    QStringList lines{(host->up ? QStringLiteral("Up since ") : QStringLiteral("Down since "))
                      + dateTimeText(m_run.wallMilliseconds(host->sinceMs))};
    if (host->replies > 0) {
        lines << QStringLiteral("Last reply %1, round trip %2")
                     .arg(dateTimeText(m_run.wallMilliseconds(host->lastReplyMs)),
                          millisecondsText(host->lastRoundTripUs));
        lines << QStringLiteral("Round trip min %1, mean %2, max %3 over %4")
                     .arg(millisecondsText(host->minRoundTripUs), millisecondsText(host->meanRoundTripUs()),
                          millisecondsText(host->maxRoundTripUs),
                          host->replies == 1 ? QStringLiteral("1 reply")
                                             : QStringLiteral("%1 replies").arg(host->replies));
    }
    if (const std::optional<HardwareAddress> hardware = m_run.hardwareAddress(address)) {
        QString line = QStringLiteral("Hardware address ") + hardwareAddressText(*hardware);
        if (const std::optional<QString> vendor = m_vendors->vendor(*hardware))
            line += QStringLiteral(" (%1)").arg(*vendor);
        lines << line;
    }
    const std::optional<QString> name = m_names->name(address);
    if (!name)
        lines << QStringLiteral("Name being looked up…");
    else if (!name->isEmpty())
        lines << QStringLiteral("Name ") + *name;
    return lines.join(QLatin1Char('\n'));
}

const QPixmap &ResponseListModel::mark(bool down) const
{
    if (m_noMark.isNull()) {
        const qreal ratio = qApp->devicePixelRatio();
        const int side = qCeil(MarkSize * ratio);
        m_noMark = QPixmap(side, side);
        m_noMark.setDevicePixelRatio(ratio);
        m_noMark.fill(Qt::transparent);
        m_downMark = m_noMark;
        // A triangle pointing down: down reads from its shape, not from a
        // colour alone.
        QPainter painter(&m_downMark);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xb0, 0x30, 0x30));
        painter.drawPolygon(QPolygonF({QPointF(0.5, 1.5), QPointF(MarkSize - 0.5, 1.5),
                                       QPointF(MarkSize / 2.0, MarkSize - 1.0)}));
    }
    return down ? m_downMark : m_noMark;
}

} // namespace vexal
