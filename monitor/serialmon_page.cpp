#include "monitor/serialmon_page.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "monitor/monitor_table_model.h"
#include "ui_serialmon_page.h"

#include <QFileInfo>
#include <QHeaderView>

namespace quillon::monitor {

namespace {

const QString kLoadCaption = QStringLiteral("安装驱动");
const QString kUnloadCaption = QStringLiteral("卸载驱动");
const QString kLogFilter = QStringLiteral("Log files (*.log)|*.log|All files (*.*)|*.*");
const QString kLogExt = QStringLiteral("log");
const QString kDefaultSaveName = QStringLiteral("Portmon.log");
const QString kDataOnlyInclude = QStringLiteral("IRP_MJ_READ;IRP_MJ_WRITE");

const int kColumnWidths[kColumns] = {40, 60, 100, 200, 70, 50, 500};

} // namespace

SerialMonPage::SerialMonPage(PageHost& host, CaptureService* capture, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::SerialMonPage>()), session_(capture)
{
    ui->setupUi(this);
    session_.setView(this);
    model_ = new MonitorTableModel(session_.rows(), this);
    ui->lvMonData->setModel(model_);
    QHeaderView* header = ui->lvMonData->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    for (int c = 0; c < static_cast<int>(kColumns); ++c) header->resizeSection(c, kColumnWidths[c]);
    connectHandlers();
}

SerialMonPage::~SerialMonPage() = default;

void SerialMonPage::connectHandlers()
{
    connectHandler(ui->btnStartSerMon, &QPushButton::clicked, this, &SerialMonPage::btnStartParMonClick);
    connectHandler(ui->clbSerialList, &QListWidget::itemChanged, this, [this] { clbSerialListClickCheck(); });
    connectHandler(ui->clbParallelList, &QListWidget::itemChanged, this, [this] { clbParallelListClickCheck(); });
    connectHandler(ui->cbStartMoniter, &QCheckBox::clicked, this, &SerialMonPage::cbStartMoniterClick);
    connectHandler(ui->sbClearMon, &QToolButton::clicked, this, &SerialMonPage::sbClearMonClick);
    connectHandler(ui->cbMonShowHex, &QCheckBox::clicked, this, &SerialMonPage::cbMonShowHexClick);
    connectHandler(ui->btnMaxBytes, &QPushButton::clicked, this, &SerialMonPage::btnMaxBytesClick);
    leaveChecks_.add(ui->edMaxBytes, [this] { edMaxBytesExit(); });
    connectHandler(ui->btnMaxLines, &QPushButton::clicked, this, &SerialMonPage::btnMaxLinesClick);
    connectHandler(ui->cbMonShowClock, &QCheckBox::clicked, this, &SerialMonPage::cbMonShowClockClick);
    connectHandler(ui->cbMonShowIRP, &QCheckBox::clicked, this, &SerialMonPage::cbMonShowIRPClick);
    connectHandler(ui->cbMonShowResult, &QCheckBox::clicked, this, &SerialMonPage::cbMonShowResultClick);
    connectHandler(ui->cbDataOnly, &QCheckBox::clicked, this, &SerialMonPage::cbDataOnlyClick);
    connectHandler(ui->cbLogReads, &QCheckBox::clicked, this, &SerialMonPage::cbLogReadsClick);
    connectHandler(ui->cbLogWrites, &QCheckBox::clicked, this, &SerialMonPage::cbLogReadsClick);
    connectHandler(ui->btnFilterApply, &QPushButton::clicked, this, &SerialMonPage::btnFilterApplyClick);
    connectHandler(ui->btnLogFile, &QPushButton::clicked, this, &SerialMonPage::btnLogFileClick);
    connectHandler(ui->edLogFile, &QLineEdit::textChanged, this, [this] { edLogFileChange(); });
    connectHandler(ui->btnMonSave, &QPushButton::clicked, this, &SerialMonPage::btnMonSaveClick);
    connectHandler(ui->btnMonSaveAs, &QPushButton::clicked, this, &SerialMonPage::btnMonSaveAsClick);
}

void SerialMonPage::fillPorts(PortKind kind, const platform::PortListing& listing)
{
    QListWidget* list = portList(kind);
    settingChecks_ = true;
    list->clear();
    for (const auto& line : listing.monitorLines) {
        auto* item = new QListWidgetItem(fromStd(line), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    settingChecks_ = false;
    session_.setPortTables(kind, listing.tables);
}

void SerialMonPage::showError(const QString& text) { host_.dialogs().error(text); }

void SerialMonPage::showLoaded(bool loaded)
{
    ui->cbStartMoniter->setEnabled(loaded);
    ui->btnStartSerMon->setText(loaded ? kUnloadCaption : kLoadCaption);
}

CaptureSettings SerialMonPage::captureSettings()
{
    return {filterSettings(), [this] { return static_cast<uint32_t>(maxBytesValue()); }, ui->cbMonShowHex->isChecked(),
            ui->cbStartMoniter->isChecked()};
}

QListWidget* SerialMonPage::portList(PortKind kind) const
{
    return kind == PortKind::Serial ? ui->clbSerialList : ui->clbParallelList;
}

QString SerialMonPage::hookName(PortKind kind, int item) const
{
    const platform::PortTables& tables = session_.portTables(kind);
    const auto i = static_cast<size_t>(item);
    if (i < tables.count) return pathFromLocal(tables.portNames[i]);
    return portList(kind)->item(item)->text().section(QStringLiteral(": "), 0, 0);
}

std::vector<bool> SerialMonPage::checkedPorts(PortKind kind)
{
    const QListWidget* list = portList(kind);
    std::vector<bool> checked(static_cast<size_t>(list->count()));
    for (int i = 0; i < list->count(); ++i)
        checked[static_cast<size_t>(i)] = list->item(i)->checkState() == Qt::Checked;
    return checked;
}

void SerialMonPage::portRefused(PortKind kind, int item)
{
    host_.dialogs().error(QStringLiteral("无法监视端口") + hookName(kind, item));
    settingChecks_ = true;
    portList(kind)->item(item)->setCheckState(Qt::Unchecked);
    settingChecks_ = false;
}

FilterSettings SerialMonPage::filterSettings() const
{
    return {toStd(ui->edMonInclude->text()), toStd(ui->edMonExclude->text()), ui->cbLogReads->isChecked(),
            ui->cbLogWrites->isChecked()};
}

void SerialMonPage::cbStartMoniterClick() { session_.setCapturing(ui->cbStartMoniter->isChecked()); }

void SerialMonPage::sbClearMonClick()
{
    session_.discardRecords();
    model_->reset();
}

void SerialMonPage::cbMonShowHexClick() { session_.setHexDisplay(ui->cbMonShowHex->isChecked()); }

int32_t SerialMonPage::limitIn(QLineEdit* field, int32_t limit, const QString& unreadable)
{
    const LimitValue v = limitFrom(wholeNumberIn(field), limit);
    if (v.unreadable) host_.dialogs().error(unreadable);
    if (v.fieldReset) field->setText(QString::number(v.value));
    return v.value;
}

int32_t SerialMonPage::maxBytesValue()
{
    return limitIn(ui->edMaxBytes, kMaxBytesLimit, QStringLiteral("非法的缓冲长度!请重新设置或用默认值：64"));
}

void SerialMonPage::btnMaxBytesClick() { session_.setMaxDataBytes(static_cast<uint32_t>(maxBytesValue())); }

void SerialMonPage::btnMaxLinesClick()
{
    session_.rows().setMaxLines(limitIn(ui->edMaxLines, kMaxLinesLimit, QStringLiteral("请填入正确的数值!")));
}

void SerialMonPage::setColumnShown(int column, bool shown)
{
    // A hidden column has no width the user could drag open.
    QHeaderView* header = ui->lvMonData->header();
    header->setSectionHidden(column, !shown);
    if (shown) header->resizeSection(column, kColumnWidths[column]);
}

void SerialMonPage::cbMonShowClockClick() { setColumnShown(ColTime, ui->cbMonShowClock->isChecked()); }

void SerialMonPage::cbMonShowIRPClick() { setColumnShown(ColRequest, ui->cbMonShowIRP->isChecked()); }

void SerialMonPage::cbMonShowResultClick() { setColumnShown(ColResult, ui->cbMonShowResult->isChecked()); }

void SerialMonPage::cbDataOnlyClick()
{
    ui->edMonInclude->setText(ui->cbDataOnly->isChecked() ? kDataOnlyInclude : QStringLiteral("*"));
    btnFilterApplyClick();
}

void SerialMonPage::cbLogReadsClick()
{
    const bool logsAny = ui->cbLogReads->isChecked() || ui->cbLogWrites->isChecked();
    if (!logsAny) ui->cbDataOnly->setChecked(false);
    ui->cbDataOnly->setEnabled(logsAny);
    SendFilter();
}

void SerialMonPage::btnLogFileClick()
{
    if (auto path = host_.dialogs().saveFile(kLogFilter, kLogExt, ui->edLogFile->text())) ui->edLogFile->setText(*path);
}

void SerialMonPage::edLogFileChange()
{
    ui->cbLogToFile->setChecked(false);
    ui->cbLogToFile->setEnabled(!ui->edLogFile->text().isEmpty());
}

void SerialMonPage::writeList(const QString& path)
{
    switch (saveList(localPath(path), session_.rows().rows())) {
    case SaveStatus::Ok: break;
    case SaveStatus::OpenFailed: host_.dialogs().error(QStringLiteral("打开文件时出错!")); break;
    case SaveStatus::WriteFailed: host_.dialogs().error(QStringLiteral("写入文件时出错!")); break;
    }
}

void SerialMonPage::saveAs(const QString& proposed)
{
    const auto path = host_.dialogs().saveFile(kLogFilter, kLogExt, proposed);
    if (!path || (QFileInfo::exists(*path) &&
                  !host_.dialogs().confirm(QStringLiteral("文件覆盖"), QStringLiteral("文件已经存在，要覆盖它吗?"),
                                           MsgIcon::Warning)))
        return;
    savePath_ = *path;
    writeList(savePath_);
}

void SerialMonPage::btnMonSaveClick()
{
    if (savePath_.isEmpty())
        saveAs(kDefaultSaveName);
    else
        writeList(savePath_);
}

void SerialMonPage::btnMonSaveAsClick() { saveAs(savePath_.isEmpty() ? kDefaultSaveName : savePath_); }

std::optional<std::string> SerialMonPage::logPath()
{
    if (!ui->cbLogToFile->isChecked()) return std::nullopt;
    return localPath(ui->edLogFile->text());
}

void SerialMonPage::logOpenFailed() { ui->cbLogToFile->setChecked(false); }

void SerialMonPage::rowsChanged(const RowChanges& changes)
{
    model_->refresh(changes);
    if (ui->cbMonAutoScroll->isChecked() && (changes.any() || changes.rowsBefore != session_.rows().size()))
        ui->lvMonData->scrollToBottom();
}

} // namespace quillon::monitor
