#include "vars/var_group.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "common/settings_file.h"
#include "ui_var_group.h"
#include "vars/map_import.h"
#include "vars/modem_group.h"
#include "vars/plot_window.h"
#include "vars/var_settings.h"

#include <QAction>
#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>

namespace quillon::vars {

using vars::VarRow;

namespace {

enum Column { ColNumber, ColName, ColValue, ColType, ColOffset, ColMaskLength, ColFormat, ColumnCount };

const QString kMapFilter = QStringLiteral("Map files (*.map,*.mp)|*.map;*.mp|All files (*.*)|*.*");

} // namespace

VarGroup::VarGroup(PageHost& host, vars::VarList& list, const vars::SampleStore& samples, QWidget* parent)
    : QGroupBox(parent), host_(host), list_(list), samples_(samples), ui(std::make_unique<Ui::VarGroup>())
{
    ui->setupUi(this);
    setColumnWidths();
    // The modem box is part of the layout but not shown.
    modem_ = new ModemGroup(this);
    modem_->setGeometry(ui->lvCOMVars->geometry());
    modem_->hide();

    connectHandler(ui->btnAddVars, &QPushButton::clicked, this, &VarGroup::btnAddVarsClick);
    connectHandler(ui->btnEditVars, &QPushButton::clicked, this, &VarGroup::btnEditVarsClick);
    connectHandler(ui->btnDelVars, &QPushButton::clicked, this, &VarGroup::btnDelVarsClick);
    connectHandler(ui->btnSaveVars, &QPushButton::clicked, this, &VarGroup::btnSaveVarsClick);
    connectHandler(ui->btnReadMap, &QPushButton::clicked, this, &VarGroup::btnReadMapClick);
    connectHandler(ui->btnPlotVars, &QPushButton::clicked, this, &VarGroup::btnPlotVarsClick);
    auto* plotEntry = new QAction(QStringLiteral("显示曲线..."), ui->lvCOMVars);
    plotEntry->setObjectName(QStringLiteral("miPlotVars"));
    ui->lvCOMVars->addAction(plotEntry);
    ui->lvCOMVars->setContextMenuPolicy(Qt::ActionsContextMenu);
    connectHandler(plotEntry, &QAction::triggered, this, &VarGroup::btnPlotVarsClick);
    connectHandler(ui->lvCOMVars, &QTreeWidget::itemDoubleClicked, this, [this] { lvCOMVarsDblClick(); });
    connectHandler(ui->lvCOMVars, &QTreeWidget::itemChanged, this,
                   [this](QTreeWidgetItem* item, int column) { watchedChanged(item, column); });
    showRows();
}

VarGroup::~VarGroup() = default;

void VarGroup::setColumnWidths()
{
    QHeaderView* header = ui->lvCOMVars->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(20);
    const int fixed[] = {30, 60, 60, 40};
    for (int c = 0; c < 4; ++c) ui->lvCOMVars->setColumnWidth(c, fixed[c]);
    // The other columns are as wide as their captions need.
    for (int c = ColOffset; c < ColumnCount; ++c) {
        const int caption = header->fontMetrics().horizontalAdvance(ui->lvCOMVars->headerItem()->text(c));
        ui->lvCOMVars->setColumnWidth(c, std::max(50, caption + 16));
    }
}

void VarGroup::showRow(QTreeWidgetItem* item, const VarRow& row)
{
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(ColNumber, row.def.watched ? Qt::Checked : Qt::Unchecked);
    item->setText(ColNumber, QString::number(row.def.number));
    item->setText(ColName, fromStd(row.def.name));
    item->setText(ColValue, fromStd(row.value));
    item->setText(ColType, fromStd(vars::typeName(row.def.type)));
    item->setText(ColOffset, fromStd(vars::offsetText(row.def.offset)));
    item->setText(ColMaskLength, fromStd(vars::maskOrLengthText(row)));
    item->setText(ColFormat, fromStd(vars::formatName(row.def.format)));
}

void VarGroup::showRows()
{
    showing_ = true;
    QTreeWidget* lv = ui->lvCOMVars;
    lv->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(list_.size()));
    for (const VarRow& row : list_.rows()) {
        auto* item = new QTreeWidgetItem;
        showRow(item, row);
        items.append(item);
    }
    lv->addTopLevelItems(items);
    showing_ = false;
}

void VarGroup::rowsChanged(const std::vector<size_t>& rows)
{
    showing_ = true;
    for (size_t i : rows) {
        if (i >= list_.size()) continue;
        if (QTreeWidgetItem* item = ui->lvCOMVars->topLevelItem(static_cast<int>(i)))
            item->setText(ColValue, fromStd(list_.row(i).value));
    }
    showing_ = false;
}

void VarGroup::watchedChanged(QTreeWidgetItem* item, int column)
{
    if (showing_ || column != ColNumber) return;
    const int index = ui->lvCOMVars->indexOfTopLevelItem(item);
    if (index < 0 || static_cast<size_t>(index) >= list_.size()) return;
    list_.row(static_cast<size_t>(index)).def.watched = item->checkState(ColNumber) == Qt::Checked;
}

void VarGroup::loadSettings(const SettingsFile& settings)
{
    vars::loadVariables(settings, list_);
    showRows();
}

void VarGroup::btnAddVarsClick()
{
    vars::VarDefinition def;
    def.number = list_.nextNumber();
    def.name = "VarName" + std::to_string(def.number);
    if (!host_.dialogs().editVariable(def)) return;
    list_.insert(vars::rowFor(def));
    showRows();
}

void VarGroup::btnEditVarsClick()
{
    QTreeWidget* lv = ui->lvCOMVars;
    for (int i = 0; i < lv->topLevelItemCount() && static_cast<size_t>(i) < list_.size(); ++i) {
        QTreeWidgetItem* item = lv->topLevelItem(i);
        if (!item->isSelected()) continue;
        VarRow& row = list_.row(static_cast<size_t>(i));
        vars::VarDefinition def = row.def;
        if (!host_.dialogs().editVariable(def)) return;
        list_.redefine(static_cast<size_t>(i), def);
        showing_ = true;
        showRow(item, row);
        showing_ = false;
        return;
    }
}

void VarGroup::lvCOMVarsDblClick() { btnEditVarsClick(); }

void VarGroup::btnPlotVarsClick()
{
    if (!plot_) plot_ = new PlotWindow(host_.dialogs(), list_, samples_, this);
    plot_->show();
    plot_->raise();
    plot_->activateWindow();
}

void VarGroup::btnDelVarsClick()
{
    std::vector<size_t> selected;
    QTreeWidget* lv = ui->lvCOMVars;
    for (int i = 0; i < lv->topLevelItemCount(); ++i)
        if (lv->topLevelItem(i)->isSelected()) selected.push_back(static_cast<size_t>(i));
    if (selected.empty()) return;
    list_.remove(std::move(selected));
    showRows();
}

void VarGroup::btnSaveVarsClick()
{
    SettingsFile settings(host_.settingsPath());
    vars::saveVariables(settings, list_);
}

void VarGroup::btnReadMapClick()
{
    Dialogs& dialogs = host_.dialogs();
    const auto file = dialogs.openFile(kMapFilter, QStringLiteral("map"));
    if (!file) return;
    const auto added = vars::importIccMap(localPath(*file), list_);
    if (!added) {
        dialogs.error(QStringLiteral("打开MAP时出错!"));
        return;
    }
    showRows();
    const QString caption = QStringLiteral("变量添加");
    if (*added > 0)
        dialogs.message(caption, QString::number(*added) + QStringLiteral("条变量被添加! "), MsgIcon::Information);
    else
        dialogs.message(caption, QStringLiteral("0条变量被添加! 目前只支持由ImageCraft C (ICC) 编译器产生的map文件！"),
                        MsgIcon::Information);
}

} // namespace quillon::vars
