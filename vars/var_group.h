#pragma once
// The "变量监视" box of the serial page: the watched-variable list with its
// add / edit / delete / save buttons and the map-file import. The rows live
// in the session's VarList; this box shows them and edits them.

#include "app/sessions.h"
#include "vars/sample_store.h"
#include "vars/var_list.h"
#include "vars/watched_rows_view.h"

#include <QGroupBox>
#include <memory>

class QTreeWidgetItem;

namespace Ui {
class VarGroup;
}

namespace quillon {
class PageHost;
}

namespace quillon::vars {

class ModemGroup;
class PlotWindow;

class VarGroup : public QGroupBox, public SettingsLoader, public WatchedRowsView {
    Q_OBJECT
public:
    VarGroup(PageHost& host, vars::VarList& list, const vars::SampleStore& samples, QWidget* parent = nullptr);
    ~VarGroup() override;

    // SettingsLoader: the saved rows, all watched.
    void loadSettings(const SettingsFile& settings) override;
    // WatchedRowsView: new values for these rows.
    void rowsChanged(const std::vector<size_t>& rows) override;

    void btnAddVarsClick();
    void btnEditVarsClick();
    void lvCOMVarsDblClick();
    void btnDelVarsClick();
    void btnSaveVarsClick();
    void btnReadMapClick();
    // Opens the plot window (one for the group), or brings it to the front.
    void btnPlotVarsClick();
    PlotWindow* plotWindow() const { return plot_; }

    // Rebuilds the shown rows from the list.
    void showRows();

private:
    void showRow(QTreeWidgetItem* item, const vars::VarRow& row);
    void watchedChanged(QTreeWidgetItem* item, int column);
    void setColumnWidths();

    PageHost& host_;
    vars::VarList& list_;
    const vars::SampleStore& samples_;
    std::unique_ptr<Ui::VarGroup> ui;
    PlotWindow* plot_ = nullptr; // a window of its own, made on first use
    ModemGroup* modem_ = nullptr;
    // Rows being written by the program, not ticked by the user.
    bool showing_ = false;
};

} // namespace quillon::vars
