#include "monitor/serialmon_page.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "monitor/monitor_table_model.h"
#include "monitor/record_walk.h"
#include "ui_serialmon_page.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QTimer>

namespace quillon {

using namespace monitor;

namespace {

const QString kLoadCaption = QStringLiteral("安装驱动");
const QString kUnloadCaption = QStringLiteral("卸载驱动");
const QString kCommError = QStringLiteral("驱动程序通讯错!");
const QString kLogFilter = QStringLiteral("Log files (*.log)|*.log|All files (*.*)|*.*");
const QString kLogExt = QStringLiteral("log");
const QString kDefaultSaveName = QStringLiteral("Portmon.log");
const QString kDataOnlyInclude = QStringLiteral("IRP_MJ_READ;IRP_MJ_WRITE");

const int kColumnWidths[kColumns] = {40, 60, 100, 200, 70, 50, 500};
// A poll reads for at most this long before it lets the event loop run;
// records still waiting are read in a follow-up slice a moment later (a
// timer, not a posted call, so other timers get their turn in between).
constexpr qint64 kPollSliceMs = 10;
constexpr int kFollowUpMs = 1;

void fillChecklist(QListWidget* list, const PortListing& listing)
{
    list->clear();
    for (const auto& line : listing.monitorLines) {
        auto* item = new QListWidgetItem(fromStd(line), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

} // namespace

SerialMonPage::SerialMonPage(PageHost& host, CaptureService* capture, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::SerialMonPage>()), session_(capture),
      driver_(session_.driver())
{
    ui->setupUi(this);
    session_.setClosedHandler([this] {
        setEnabled(true); // a load given up leaves the page as before it
        showUnloaded();
    });
    setUpList();
    connectHandlers();
}

SerialMonPage::~SerialMonPage() = default;

void SerialMonPage::setUpList()
{
    model_ = new MonitorTableModel(rows_, this);
    ui->lvMonData->setModel(model_);
    QHeaderView* header = ui->lvMonData->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    for (int c = 0; c < static_cast<int>(kColumns); ++c) header->resizeSection(c, kColumnWidths[c]);
}

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

void SerialMonPage::fillSerialList(const PortListing& listing)
{
    settingChecks_ = true;
    fillChecklist(ui->clbSerialList, listing);
    settingChecks_ = false;
    serialTables_ = listing.tables;
}

void SerialMonPage::fillParallelList(const PortListing& listing)
{
    settingChecks_ = true;
    fillChecklist(ui->clbParallelList, listing);
    settingChecks_ = false;
    parallelTables_ = listing.tables;
}

// ------------------------------------------------------------ loading

namespace {

// The second line of a failed load: why, in the user's words.
QString loadFailureReason(LoadFailure why)
{
    switch (why) {
    case LoadFailure::NoPrivilege:
        return QStringLiteral("端口监视需要管理员权限：请以 root 身份运行本程序，或安装 pkexec。");
    case LoadFailure::NoBpf: return QStringLiteral("内核拒绝加载端口监视所需的 eBPF 程序。");
    case LoadFailure::NoBtf: return QStringLiteral("内核缺少 BTF 类型信息，无法运行端口监视程序。");
    case LoadFailure::HelperMissing: return QStringLiteral("程序所在目录中找不到 quillon-portmon。");
    case LoadFailure::PasswordRefused: return QStringLiteral("没有输入管理员密码，或授权被拒绝。");
    case LoadFailure::None:
    case LoadFailure::Cancelled: return {};
    case LoadFailure::Other: break;
    }
    return QStringLiteral("端口监视程序没有应答。");
}

} // namespace

void SerialMonPage::btnStartParMonClick()
{
    if (session_.loading()) return;
    const bool wasLoaded = driver_.driverLoaded;
    driver_.driverLoaded = !wasLoaded;
    if (wasLoaded) {
        if (driver_.handleValid() && !driver_.send(kStopCapture)) host_.dialogs().error(kCommError);
        CloseMonitor();
        return;
    }
    // A component still answering is used as it is.
    if (driver_.handleValid()) {
        driverReady(true, LoadFailure::None);
        return;
    }
    // Starting it may wait for a password: the window goes on meanwhile, the
    // page's controls wait for the answer. Until then nothing is sent to the
    // component (it belongs to the loading thread); what the controls say by
    // then is sent by the set-up.
    driver_.driverLoaded = false;
    setEnabled(false);
    session_.loadInBackground(
        [this](std::function<void()> f) {
            QMetaObject::invokeMethod(
                this, [f = std::move(f)] { runGuarded(f); }, Qt::QueuedConnection);
        },
        [this](bool ok, LoadFailure why) {
            setEnabled(true);
            driverReady(ok, why);
        });
}

void SerialMonPage::driverReady(bool ok, LoadFailure why)
{
    driver_.driverLoaded = true;
    if (!ok) {
        host_.dialogs().error(QStringLiteral("加载驱动程序时出错!请检查Sermon.sys是否在当前目录\n") +
                              loadFailureReason(why));
        CloseMonitor();
        return;
    }
    if (!StartCapture()) return;
    ui->cbStartMoniter->setEnabled(true);
    ui->btnStartSerMon->setText(kUnloadCaption);
}

void SerialMonPage::CloseMonitor()
{
    if (session_.loading()) session_.unloadDriver(); // gives the load up
    driver_.closeMonitor();
    // The button always offers what it will do: a monitor that failed is unloaded.
    showUnloaded();
}

void SerialMonPage::showUnloaded()
{
    ui->cbStartMoniter->setEnabled(false);
    ui->btnStartSerMon->setText(kLoadCaption);
}

bool SerialMonPage::commFailed()
{
    host_.dialogs().error(kCommError);
    CloseMonitor();
    return false;
}

bool SerialMonPage::StartCapture()
{
    // The component is gone after any failure: nothing further is sent.
    if (!HookSerialPorts() || !HookParallelPorts()) return false;
    const CaptureSettings settings{filterSettings(), [this] { return static_cast<uint32_t>(maxBytesValue()); },
                                   ui->cbMonShowHex->isChecked(), ui->cbStartMoniter->isChecked()};
    return driver_.setUpCapture(settings) == SetUpStep::None || commFailed();
}

QString SerialMonPage::hookName(PortKind kind, int item) const
{
    const PortTables& tables = kind == PortKind::Serial ? serialTables_ : parallelTables_;
    if (static_cast<size_t>(item) < tables.count) return pathFromLocal(tables.portNames[static_cast<size_t>(item)]);
    const QListWidget* list = kind == PortKind::Serial ? ui->clbSerialList : ui->clbParallelList;
    return list->item(item)->text().section(QStringLiteral(": "), 0, 0);
}

bool SerialMonPage::hookPorts(PortKind kind)
{
    QListWidget* list = kind == PortKind::Serial ? ui->clbSerialList : ui->clbParallelList;
    uint32_t mask = 0;
    for (int i = 0; i < list->count() && i < static_cast<int>(kHookablePorts); ++i)
        if (list->item(i)->checkState() == Qt::Checked) mask |= 1u << i;
    const auto granted = driver_.hook(kind, mask, kind == PortKind::Serial ? serialTables_ : parallelTables_);
    if (!granted) return commFailed();
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->checkState() != Qt::Checked) continue;
        if (i < static_cast<int>(kHookablePorts) && (*granted & (1u << i))) continue;
        host_.dialogs().error(QStringLiteral("无法监视端口") + hookName(kind, i));
        settingChecks_ = true;
        list->item(i)->setCheckState(Qt::Unchecked);
        settingChecks_ = false;
    }
    return true;
}

bool SerialMonPage::HookSerialPorts() { return hookPorts(PortKind::Serial); }

bool SerialMonPage::HookParallelPorts() { return hookPorts(PortKind::Parallel); }

void SerialMonPage::clbSerialListClickCheck()
{
    if (!settingChecks_ && driver_.driverLoaded) HookSerialPorts();
}

void SerialMonPage::clbParallelListClickCheck()
{
    if (!settingChecks_ && driver_.driverLoaded) HookParallelPorts();
}

FilterSettings SerialMonPage::filterSettings() const
{
    return {toStd(ui->edMonInclude->text()), toStd(ui->edMonExclude->text()), ui->cbLogReads->isChecked(),
            ui->cbLogWrites->isChecked()};
}

bool SerialMonPage::SendFilter()
{
    const auto block = buildFilterBlock(filterSettings());
    if (!driver_.driverLoaded) return true;
    return driver_.send(kSetFilter, block) || commFailed();
}

// ------------------------------------------------------------ switches, filters, limits

void SerialMonPage::cbStartMoniterClick()
{
    if (ui->cbStartMoniter->isChecked()) {
        if (!driver_.handleValid())
            host_.dialogs().error(QStringLiteral("尚未安装驱动程序，请先安装驱动！"));
        else if (!driver_.send(kStartCapture))
            commFailed();
    } else if (driver_.handleValid() && !driver_.send(kStopCapture)) {
        commFailed();
    }
}

void SerialMonPage::sbClearMonClick()
{
    if (driver_.driverLoaded && !driver_.send(kDiscardRecords)) {
        host_.dialogs().error(QStringLiteral("驱动程序通讯错!请检查Sermon.sys是否在当前目录"));
        CloseMonitor();
    }
    rows_.clear();
    model_->reset();
}

void SerialMonPage::cbMonShowHexClick()
{
    if (driver_.driverLoaded && !driver_.sendValue(kHexDisplay, ui->cbMonShowHex->isChecked() ? 1 : 0)) commFailed();
}

int32_t SerialMonPage::maxBytesValue()
{
    const LimitValue v = limitFrom(wholeNumberIn(ui->edMaxBytes), kMaxBytesLimit);
    if (v.unreadable) host_.dialogs().error(QStringLiteral("非法的缓冲长度!请重新设置或用默认值：64"));
    if (v.fieldReset) ui->edMaxBytes->setText(QString::number(v.value));
    return v.value;
}

void SerialMonPage::btnMaxBytesClick()
{
    const int32_t value = maxBytesValue();
    if (driver_.driverLoaded && !driver_.sendValue(kMaxDataBytes, static_cast<uint32_t>(value))) commFailed();
}

void SerialMonPage::edMaxBytesExit() { maxBytesValue(); }

void SerialMonPage::btnMaxLinesClick()
{
    const LimitValue v = limitFrom(wholeNumberIn(ui->edMaxLines), kMaxLinesLimit);
    if (v.unreadable) host_.dialogs().error(QStringLiteral("请填入正确的数值!"));
    if (v.fieldReset) ui->edMaxLines->setText(QString::number(v.value));
    rows_.setMaxLines(v.value);
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
    if (!ui->cbLogReads->isChecked() && !ui->cbLogWrites->isChecked()) {
        ui->cbDataOnly->setChecked(false);
        ui->cbDataOnly->setEnabled(false);
    } else {
        ui->cbDataOnly->setEnabled(true);
    }
    SendFilter();
}

void SerialMonPage::btnFilterApplyClick() { SendFilter(); }

// ------------------------------------------------------------ log file and saving

void SerialMonPage::btnLogFileClick()
{
    if (auto path = host_.dialogs().saveFile(kLogFilter, kLogExt, ui->edLogFile->text())) ui->edLogFile->setText(*path);
}

void SerialMonPage::edLogFileChange()
{
    ui->cbLogToFile->setChecked(false);
    ui->cbLogToFile->setEnabled(!ui->edLogFile->text().isEmpty());
}

bool SerialMonPage::confirmOverwrite(const QString& path)
{
    return !QFileInfo::exists(path) ||
           host_.dialogs().confirm(QStringLiteral("文件覆盖"), QStringLiteral("文件已经存在，要覆盖它吗?"),
                                   MsgIcon::Warning);
}

void SerialMonPage::writeList(const QString& path)
{
    switch (saveList(localPath(path), rows_.rows())) {
    case SaveStatus::Ok: break;
    case SaveStatus::OpenFailed: host_.dialogs().error(QStringLiteral("打开文件时出错!")); break;
    case SaveStatus::WriteFailed: host_.dialogs().error(QStringLiteral("写入文件时出错!")); break;
    }
}

void SerialMonPage::btnMonSaveClick()
{
    if (savePath_.isEmpty()) {
        const auto path = host_.dialogs().saveFile(kLogFilter, kLogExt, kDefaultSaveName);
        if (!path || !confirmOverwrite(*path)) return;
        savePath_ = *path;
    }
    writeList(savePath_);
}

void SerialMonPage::btnMonSaveAsClick()
{
    const auto path = host_.dialogs().saveFile(kLogFilter, kLogExt, savePath_.isEmpty() ? kDefaultSaveName : savePath_);
    if (!path || !confirmOverwrite(*path)) return;
    savePath_ = *path;
    writeList(savePath_);
}

// ------------------------------------------------------------ polling

void SerialMonPage::PollMonitor()
{
    if (polling_ || sliceQueued_ || session_.loading()) return;
    if (!driver_.driverLoaded || !driver_.handleValid() || !ui->cbStartMoniter->isChecked() || !driver_.anyPortHooked())
        return;
    pollSlice();
}

void SerialMonPage::openLogForPoll()
{
    if (!ui->cbLogToFile->isChecked() || log_.isOpen()) return;
    if (log_.open(localPath(ui->edLogFile->text()))) return;
    ui->cbLogToFile->setChecked(false);
    host_.dialogs().error(QStringLiteral("打开Log文件时出错!"));
}

void SerialMonPage::readBuffer(std::span<const uint8_t> buffer, RowChanges& changes, bool& writeFailed)
{
    const bool logging = log_.isOpen() && ui->cbLogToFile->isChecked();
    logText_.clear();
    walkRecords(buffer, buffer.size(), [&](const CapturedRecord& record) {
        if (record.fieldCount == 0) return;
        rows_.apply(record, changes);
        if (logging) appendLogLine(logText_, record);
    });
    if (logging && !logText_.empty()) {
        const bool failed = !log_.append(logText_);
        writeFailed = writeFailed || failed;
        if (!failed) logWriteFailing_ = false;
    }
}

void SerialMonPage::logWritten(bool failed)
{
    // One message per run of failing writes: a full disk must not bury the
    // user under a box for every record.
    if (!failed || logWriteFailing_) return;
    logWriteFailing_ = true;
    host_.dialogs().error(QStringLiteral("写入文件时出错!"));
}

void SerialMonPage::pollSlice()
{
    polling_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{polling_};
    QElapsedTimer clock;
    clock.start();
    RowChanges changes = rows_.begin();
    bool first = true;
    bool writeFailed = false;
    const ReadEnd end = driver_.readRecords([&] { return clock.elapsed() < kPollSliceMs; },
                                            [&](std::span<const uint8_t> buffer) {
                                                if (first) openLogForPoll();
                                                first = false;
                                                readBuffer(buffer, changes, writeFailed);
                                            });
    log_.close();
    model_->refresh(changes);
    if (ui->cbMonAutoScroll->isChecked() && (changes.any() || changes.rowsBefore != rows_.size()))
        ui->lvMonData->scrollToBottom();
    logWritten(writeFailed);
    if (end == ReadEnd::ChannelLost) {
        commFailed();
    } else if (end == ReadEnd::OutOfTime) {
        sliceQueued_ = true;
        QTimer::singleShot(kFollowUpMs, Qt::PreciseTimer, this, [this] {
            sliceQueued_ = false;
            runGuarded([this] { PollMonitor(); });
        });
    }
}

} // namespace quillon
