#pragma once
// Shows the captured-request rows in lvMonData. The rows change in batches
// (one poll); the view is told once per batch.

#include "monitor/monitor_rows.h"

#include <QAbstractTableModel>

namespace quillon::monitor {

class MonitorTableModel : public QAbstractTableModel {
public:
    explicit MonitorTableModel(const monitor::MonitorRows& rows, QObject* parent = nullptr)
        : QAbstractTableModel(parent), rows_(rows), shownRows_(static_cast<int>(rows.size()))
    {
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : shownRows_; }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(monitor::kColumns);
    }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Catches up with what a batch did to the rows.
    void refresh(const monitor::RowChanges& changes);
    // The rows were emptied outside a batch.
    void reset();

private:
    const monitor::MonitorRows& rows_;
    int shownRows_;
};

} // namespace quillon::monitor
