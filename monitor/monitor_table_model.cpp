#include "monitor/monitor_table_model.h"

#include "app/qt_text.h"

namespace quillon::monitor {

QVariant MonitorTableModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shownRows_) return {};
    // A message box shown in the middle of a poll may paint before the view has caught up.
    if (static_cast<size_t>(index.row()) >= rows_.size()) return {};
    return fromStd(rows_.rows()[static_cast<size_t>(index.row())].columns[static_cast<size_t>(index.column())]);
}

QVariant MonitorTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const kHeaders[monitor::kColumns] = {"序号", "时间", "应用程序", "命令", "设备", "结果", "其他"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= static_cast<int>(monitor::kColumns))
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kHeaders[section]);
}

void MonitorTableModel::refresh(const monitor::RowChanges& changes)
{
    const int now = static_cast<int>(rows_.size());
    if (changes.emptied || now < shownRows_) {
        reset();
        return;
    }
    if (changes.firstUpdated != SIZE_MAX)
        emit dataChanged(index(static_cast<int>(changes.firstUpdated), 0),
                         index(static_cast<int>(changes.lastUpdated), columnCount() - 1));
    if (now > shownRows_) {
        beginInsertRows({}, shownRows_, now - 1);
        shownRows_ = now;
        endInsertRows();
    }
}

void MonitorTableModel::reset()
{
    beginResetModel();
    shownRows_ = static_cast<int>(rows_.size());
    endResetModel();
}

} // namespace quillon::monitor
