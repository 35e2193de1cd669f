#include "monitor/monitor_session.h"

#include "app/handler.h"
#include "app/qt_text.h"
#include "monitor/record_walk.h"

#include <QElapsedTimer>

namespace quillon::monitor {

namespace {

const QString kCommError = QStringLiteral("驱动程序通讯错!");

// A poll reads for at most this long before it lets the event loop run;
// records still waiting are read in a follow-up slice a moment later (a
// timer, not a posted call, so other timers get their turn in between).
constexpr qint64 kPollSliceMs = 10;
constexpr int kFollowUpMs = 1;

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

MonitorSession::MonitorSession(CaptureService* capture)
    : own_(capture ? nullptr : makeSystemCaptureService()), service_(capture ? capture : own_.get()), driver_(service_)
{
    followUp_.setSingleShot(true);
    followUp_.setTimerType(Qt::PreciseTimer);
    followUp_.setInterval(kFollowUpMs);
    QObject::connect(&followUp_, &QTimer::timeout, [this] { runGuarded([this] { poll(); }); });
}

MonitorSession::~MonitorSession()
{
    cancelLoad();
    if (worker_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    // No capture outlives the session.
    if (driver_.handleValid()) driver_.removeDriverService();
}

void MonitorSession::loadInBackground(Post post, Loaded done)
{
    loading_ = true;
    const unsigned generation = ++generation_;
    if (service_) service_->setLoadCancelled(false);
    if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
    std::lock_guard lock(mutex_);
    busy_ = true;
    job_ = [this, generation, post = std::move(post), done = std::move(done)] {
        const bool ok = driver_.loadDriverService();
        const LoadFailure why = driver_.lastLoadFailure();
        post([this, generation, done, ok, why] {
            if (generation != generation_) return;
            loading_ = false;
            done(ok, why);
        });
    };
    wake_.notify_all();
}

void MonitorSession::run()
{
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return quit_ || job_; });
        if (!job_) return;
        auto job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        job();
        lock.lock();
        busy_ = false;
        wake_.notify_all();
    }
}

void MonitorSession::cancelLoad()
{
    if (!loading_) return;
    if (service_) service_->setLoadCancelled(true);
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !busy_; });
}

void MonitorSession::unloadDriver()
{
    // Ended from outside (the window closing): as if the page had closed it.
    if (loading_ || driver_.handleValid()) closeMonitor();
}

void MonitorSession::setPortTables(PortKind kind, const platform::PortTables& tables)
{
    (kind == PortKind::Serial ? serialTables_ : parallelTables_) = tables;
}

const platform::PortTables& MonitorSession::portTables(PortKind kind) const
{
    return kind == PortKind::Serial ? serialTables_ : parallelTables_;
}

// ------------------------------------------------------------ loading

void MonitorSession::toggleLoad()
{
    if (loading_) return;
    if (loaded()) {
        if (driver_.handleValid() && !driver_.send(kStopCapture)) view_->showError(kCommError);
        closeMonitor();
        return;
    }
    // A component still answering is used as it is.
    if (driver_.handleValid()) {
        loadEnded(true, LoadFailure::None);
        return;
    }
    // Starting it may wait for a password: the window goes on meanwhile, the
    // page's controls wait for the answer. Until then nothing is sent to the
    // component (it belongs to the loading thread); what the controls say by
    // then is sent by the set-up.
    state_ = MonitorState::Loading;
    view_->showLoading(true);
    loadInBackground(
        [this](std::function<void()> f) {
            QMetaObject::invokeMethod(
                &followUp_, [f = std::move(f)] { runGuarded(f); }, Qt::QueuedConnection);
        },
        [this](bool ok, LoadFailure why) { loadEnded(ok, why); });
}

void MonitorSession::loadEnded(bool ok, LoadFailure why)
{
    if (state_ == MonitorState::Loading) view_->showLoading(false);
    state_ = MonitorState::Loaded;
    if (!ok) {
        failed(QStringLiteral("加载驱动程序时出错!请检查Sermon.sys是否在当前目录\n") + loadFailureReason(why));
        return;
    }
    if (setUp()) view_->showLoaded(true);
}

bool MonitorSession::setUp()
{
    // The component is gone after any failure: nothing further is sent.
    if (!hookChecked(PortKind::Serial) || !hookChecked(PortKind::Parallel)) return false;
    const CaptureSettings settings = view_->captureSettings();
    if (driver_.setUpCapture(settings) != SetUpStep::None) return commFailed();
    state_ = settings.start ? MonitorState::Capturing : MonitorState::Loaded;
    return true;
}

void MonitorSession::closeMonitor()
{
    const bool wasLoading = loading_;
    if (loading_) {
        // The answer posted for the page is dropped: the monitor ends here.
        cancelLoad();
        loading_ = false;
        ++generation_;
    }
    state_ = MonitorState::Unloaded;
    driver_.closeMonitor();
    if (!view_) return;
    if (wasLoading) view_->showLoading(false); // a load given up leaves the page as before it
    // The button always offers what it will do: a monitor that failed is unloaded.
    view_->showLoaded(false);
}

bool MonitorSession::failed(const QString& text)
{
    view_->showError(text);
    closeMonitor();
    return false;
}

bool MonitorSession::commFailed() { return failed(kCommError); }

// ------------------------------------------------------------ requests

bool MonitorSession::hookChecked(PortKind kind)
{
    const std::vector<bool> checked = view_->checkedPorts(kind);
    uint32_t mask = 0;
    for (size_t i = 0; i < checked.size() && i < kHookablePorts; ++i)
        if (checked[i]) mask |= 1u << i;
    const auto granted = driver_.hook(kind, mask, portTables(kind));
    if (!granted) return commFailed();
    for (size_t i = 0; i < checked.size(); ++i) {
        if (!checked[i] || (i < kHookablePorts && (*granted & (1u << i)))) continue;
        view_->portRefused(kind, static_cast<int>(i));
    }
    return true;
}

bool MonitorSession::hookPorts(PortKind kind) { return !loaded() || hookChecked(kind); }

bool MonitorSession::sendFilter(const FilterSettings& filter)
{
    const auto block = buildFilterBlock(filter);
    if (!loaded()) return true;
    return driver_.send(kSetFilter, block) || commFailed();
}

void MonitorSession::setCapturing(bool on)
{
    // A component found gone while loaded has failed like any request: the
    // monitor closes, rather than saying it was never loaded and staying so.
    if (loaded() && !driver_.handleValid()) {
        commFailed();
        return;
    }
    if (on) {
        if (!driver_.handleValid())
            view_->showError(QStringLiteral("尚未安装驱动程序，请先安装驱动！"));
        else if (!driver_.send(kStartCapture))
            commFailed();
        else if (loaded())
            state_ = MonitorState::Capturing;
    } else if (driver_.handleValid()) {
        if (!driver_.send(kStopCapture))
            commFailed();
        else if (loaded())
            state_ = MonitorState::Loaded;
    }
}

void MonitorSession::discardRecords()
{
    if (loaded() && !driver_.send(kDiscardRecords))
        failed(QStringLiteral("驱动程序通讯错!请检查Sermon.sys是否在当前目录"));
    rows_.clear();
}

void MonitorSession::setHexDisplay(bool on)
{
    if (loaded() && !driver_.sendValue(kHexDisplay, on ? 1 : 0)) commFailed();
}

void MonitorSession::setMaxDataBytes(uint32_t bytes)
{
    if (loaded() && !driver_.sendValue(kMaxDataBytes, bytes)) commFailed();
}

// ------------------------------------------------------------ polling

void MonitorSession::poll()
{
    if (polling_ || followUp_.isActive() || loading_) return;
    if (state_ != MonitorState::Capturing || !driver_.handleValid() || !driver_.anyPortHooked()) return;
    pollSlice();
}

void MonitorSession::openLogForPoll()
{
    const std::optional<std::string> path = view_->logPath();
    if (!path || log_.isOpen()) return;
    if (log_.open(*path)) return;
    view_->logOpenFailed();
    view_->showError(QStringLiteral("打开Log文件时出错!"));
}

void MonitorSession::readBuffer(std::span<const uint8_t> buffer, RowChanges& changes, bool& writeFailed)
{
    const bool logging = log_.isOpen();
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

void MonitorSession::logWritten(bool failed)
{
    // One message per run of failing writes: a full disk must not bury the
    // user under a box for every record.
    if (!failed || logWriteFailing_) return;
    logWriteFailing_ = true;
    view_->showError(QStringLiteral("写入文件时出错!"));
}

void MonitorSession::pollSlice()
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
    view_->rowsChanged(changes);
    logWritten(writeFailed);
    if (end == ReadEnd::ChannelLost)
        commFailed();
    else if (end == ReadEnd::OutOfTime)
        followUp_.start();
}

} // namespace quillon::monitor
