#include "serial/interactive_group.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "serial/serial_session.h"
#include "ui_interactive_group.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSignalBlocker>

namespace quillon::serial {

InteractiveGroup::InteractiveGroup(PageHost& host, SerialSession& session, SendArea sendArea, QWidget* parent)
    : QGroupBox(parent), host_(host), session_(session), send_(std::move(sendArea)),
      ui(std::make_unique<Ui::InteractiveGroup>())
{
    ui->setupUi(this);
    QTableWidget* table = ui->vleInteractive;
    table->setColumnCount(2);
    table->setHorizontalHeaderLabels({QStringLiteral("收到的指令"), QStringLiteral("应答数据")});
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(20);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    showSlaveTable();

    connectHandler(ui->cbInteractive, &QCheckBox::clicked, this, &InteractiveGroup::cbInteractiveClick);
    connectHandler(ui->cbMaster, &QCheckBox::clicked, this, &InteractiveGroup::cbMasterClick);
    connectHandler(ui->clbInteractive, &QListWidget::currentRowChanged, this, &InteractiveGroup::clbInteractiveClick);
    connectHandler(ui->clbInteractive, &QListWidget::itemClicked, this, &InteractiveGroup::clbInteractiveClick);
    connectHandler(ui->clbInteractive, &QListWidget::itemChanged, this,
                   [this](QListWidgetItem* item) { commandEdited(ui->clbInteractive->row(item)); });
    connectHandler(table, &QTableWidget::cellClicked, this, &InteractiveGroup::vleInteractiveClick);
    connectHandler(table, &QTableWidget::currentCellChanged, this, &InteractiveGroup::vleInteractiveClick);
    connectHandler(table, &QTableWidget::cellChanged, this,
                   [this](int row, int column) { slaveCellEdited(row, column); });
    connectHandler(ui->sbInterAdd, &QToolButton::clicked, this, &InteractiveGroup::sbInterAddClick);
    connectHandler(ui->sbInterEdit, &QToolButton::clicked, this, &InteractiveGroup::sbInterEditClick);
    connectHandler(ui->sbInterDel, &QToolButton::clicked, this, &InteractiveGroup::sbInterDelClick);
    connectHandler(ui->sbInterSave, &QToolButton::clicked, this, &InteractiveGroup::sbInterSaveClick);
}

InteractiveGroup::~InteractiveGroup() = default;

// ------------------------------------------------------------------ showing

void InteractiveGroup::showMasterList()
{
    const QSignalBlocker block(ui->clbInteractive);
    ui->clbInteractive->clear();
    for (const auto& command : master_.commands()) {
        auto* item = new QListWidgetItem(fromStd(command.text), ui->clbInteractive);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(command.checked ? Qt::Checked : Qt::Unchecked);
    }
    ui->clbInteractive->setCurrentRow(-1);
}

void InteractiveGroup::showSlaveTable()
{
    const QSignalBlocker block(ui->vleInteractive);
    ui->vleInteractive->setRowCount(static_cast<int>(slave_.size()));
    for (size_t i = 0; i < slave_.size(); ++i) {
        const int row = static_cast<int>(i);
        ui->vleInteractive->setItem(row, 0, new QTableWidgetItem(fromStd(slave_.row(i).key)));
        ui->vleInteractive->setItem(row, 1, new QTableWidgetItem(fromStd(slave_.row(i).answer)));
    }
}

void InteractiveGroup::commandEdited(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= master_.size()) return;
    master_.setChecked(static_cast<size_t>(row), ui->clbInteractive->item(row)->checkState() == Qt::Checked);
}

void InteractiveGroup::slaveCellEdited(int row, int column)
{
    if (row < 0 || static_cast<size_t>(row) >= slave_.size()) return;
    const QTableWidgetItem* item = ui->vleInteractive->item(row, column);
    const std::string text = item ? toStd(item->text()) : std::string();
    SlaveRow& r = slave_.row(static_cast<size_t>(row));
    (column == 0 ? r.key : r.answer) = text;
}

void InteractiveGroup::commitSlaveEdit()
{
    // A cell being typed into holds text the rows do not have yet. Buttons of
    // the group take no focus, so nothing else would end the edit before they
    // read the rows or rebuild the cells.
    QTableWidget* table = ui->vleInteractive;
    // The open editor of a cell is the index widget of that cell.
    QWidget* editor = table->indexWidget(table->currentIndex());
    if (!editor) return;
    QAbstractItemDelegate* delegate = table->itemDelegateForIndex(table->currentIndex());
    emit delegate->commitData(editor);
    emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
}

std::optional<size_t> InteractiveGroup::selectedCommand() const
{
    const int row = ui->clbInteractive->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= master_.size()) return std::nullopt;
    return static_cast<size_t>(row);
}

// ----------------------------------------------------------------- handlers

void InteractiveGroup::cbInteractiveClick()
{
    const bool on = ui->cbInteractive->isChecked();
    // The data-mode group follows the role: a slave answers from Normal
    // mode's bursts, so the block modes are taken away while it does.
    session_.setInteractiveRole(on, ui->cbMaster->isChecked());
    ui->cbMaster->setEnabled(on);
    ui->clbInteractive->setEnabled(on);
    ui->vleInteractive->setEnabled(on);
    if (!on) {
        for (QWidget* w : {static_cast<QWidget*>(ui->sbInterAdd), static_cast<QWidget*>(ui->sbInterEdit),
                           static_cast<QWidget*>(ui->sbInterDel), static_cast<QWidget*>(ui->sbInterSave),
                           static_cast<QWidget*>(ui->cbInterLoop)})
            w->setEnabled(false);
        return;
    }
    ui->sbInterAdd->setEnabled(true);
    ui->sbInterSave->setEnabled(true);
    ui->cbInterLoop->setEnabled(ui->cbMaster->isChecked());
    if (!ui->cbMaster->isChecked()) {
        ui->sbInterDel->setEnabled(true);
    } else if (selectedCommand()) {
        ui->sbInterEdit->setEnabled(true);
        ui->sbInterDel->setEnabled(true);
    }
}

void InteractiveGroup::cbMasterClick()
{
    commitSlaveEdit();
    const bool master = ui->cbMaster->isChecked();
    ui->clbInteractive->setVisible(master);
    ui->vleInteractive->setVisible(!master);
    ui->cbInterLoop->setEnabled(master);
    session_.setInteractiveRole(ui->cbInteractive->isChecked(), master);
}

void InteractiveGroup::clbInteractiveClick()
{
    const auto selected = selectedCommand();
    if (selected) send_.text->setPlainText(fromStd(master_.at(*selected).text));
    ui->sbInterEdit->setEnabled(selected.has_value());
    ui->sbInterDel->setEnabled(selected.has_value());
}

void InteractiveGroup::vleInteractiveClick()
{
    const int row = ui->vleInteractive->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= slave_.size()) return;
    send_.text->setPlainText(fromStd(slave_.answerOf(slave_.row(static_cast<size_t>(row)).key)));
    ui->sbInterDel->setEnabled(true);
}

void InteractiveGroup::askForCommands(const QString& text)
{
    host_.dialogs().error(text);
    send_.text->setFocus();
}

void InteractiveGroup::sbInterAddClick()
{
    if (!ui->cbMaster->isChecked()) {
        commitSlaveEdit();
        slave_.addEmpty();
        showSlaveTable();
        return;
    }
    const QString text = send_.text->toPlainText();
    if (text.isEmpty()) {
        askForCommands(QStringLiteral("请在发送数据区键入要添加的命令（每行对应一个命令），然后点击“添加”。"));
        return;
    }
    if (master_.addLines(toStd(text)) == 0) return;
    const auto selected = selectedCommand();
    showMasterList();
    const QSignalBlocker block(ui->clbInteractive);
    if (selected) ui->clbInteractive->setCurrentRow(static_cast<int>(*selected));
}

void InteractiveGroup::sbInterEditClick()
{
    if (!ui->cbMaster->isChecked()) return;
    const QString text = send_.text->toPlainText();
    if (text.isEmpty()) {
        askForCommands(QStringLiteral("请在发送数据区键入要添加的命令（每行对应一个命令），然后点击“替换”。"));
        return;
    }
    const auto lines = splitLines(toStd(text));
    const auto selected = selectedCommand();
    if (lines.empty() || lines.front().empty() || !selected) return;
    master_.replace(*selected, lines.front());
    const QSignalBlocker block(ui->clbInteractive);
    ui->clbInteractive->item(static_cast<int>(*selected))->setText(fromStd(lines.front()));
}

void InteractiveGroup::sbInterDelClick()
{
    if (ui->cbMaster->isChecked()) {
        const auto selected = selectedCommand();
        if (!selected) return;
        master_.remove(*selected);
        showMasterList();
        ui->sbInterEdit->setEnabled(false);
        ui->sbInterDel->setEnabled(false);
        return;
    }
    commitSlaveEdit();
    const int row = ui->vleInteractive->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= slave_.size()) return;
    slave_.remove(static_cast<size_t>(row));
    showSlaveTable();
}

void InteractiveGroup::sbInterSaveClick()
{
    commitSlaveEdit();
    SettingsFile settings(host_.settingsPath());
    master_.save(settings);
    slave_.save(settings);
}

void InteractiveGroup::loadSettings(const SettingsFile& settings)
{
    master_.load(settings);
    slave_.load(settings);
    showMasterList();
    showSlaveTable();
}

// ---------------------------------------------------------------- the hooks

void InteractiveGroup::masterLoopStep()
{
    if (!ui->cbInteractive->isChecked() || !ui->cbMaster->isChecked() || !ui->cbInterLoop->isChecked() ||
        master_.empty())
        return;
    const auto next = master_.nextLoopCommand(selectedCommand());
    if (!next) return;
    {
        const QSignalBlocker block(ui->clbInteractive);
        ui->clbInteractive->setCurrentRow(static_cast<int>(*next));
    }
    send_.text->setPlainText(fromStd(master_.at(*next).text));
}

void InteractiveGroup::slaveReply()
{
    const Accumulator& received = session_.receiveModes().burst.ReceiveAccumulator;
    if (!ui->cbInteractive->isChecked() || ui->cbMaster->isChecked() || slave_.empty() || received.count == 0) return;
    const auto row = slave_.matchingRow(received.bytes(), send_.binary->isChecked());
    if (!row) return;
    // Moving the current cell ends an edit under way; its text must reach
    // the rows before the table's signals are held back. An edit of the very
    // cell that answers stays open.
    QTableWidget* table = ui->vleInteractive;
    if (table->currentRow() != static_cast<int>(*row) || table->currentColumn() != 0) commitSlaveEdit();
    {
        const QSignalBlocker block(ui->vleInteractive);
        ui->vleInteractive->setCurrentCell(static_cast<int>(*row), 0);
    }
    send_.text->setPlainText(fromStd(slave_.answerOf(slave_.row(*row).key)));
    send_.send();
}

} // namespace quillon::serial
