#include "serial/comtest_page.h"

#include "app/comm_events.h"
#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "common/codepage.h"
#include "common/numbers.h"
#include "common/text.h"
#include "platform/device_map.h"
#include "platform/port_list.h"
#include "serial/comm_threads.h"
#include "serial/port_connection.h"
#include "serial/port_combo_box.h"
#include "serial/qt_comm_sink.h"
#include "ui_comtest_page.h"

#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <functional>
#include <stdexcept>
#include <system_error>

namespace quillon {

namespace {

// How long received text may wait before it is shown (one display refresh).
constexpr int kDisplayFlushMs = 25;

const QString kOpenCaption = QStringLiteral("打开串口");
const QString kCloseCaption = QStringLiteral("关闭串口");
const QString kComGroupCaption = QStringLiteral("通讯内容");

std::string toGbk(const QString& s) { return utf8ToGbk(s.toStdString()); }

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Whole-number text of a line edit, as the user typed it.
std::optional<int32_t> wholeNumberOf(const QString& text) { return parseWholeNumber(text.toStdString()); }

// Runs a box's check every time focus leaves it for another control, edited
// or not: a box left holding a bad number must complain again, not only the
// first time (editingFinished stays silent for unchanged text). Switching to
// another window is not leaving the box.
class ExitWatcher : public QObject {
public:
    ExitWatcher(QLineEdit* box, std::function<void()> check) : QObject(box), check_(std::move(check))
    {
        box->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn) {
            entered_ = true;
        } else if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return false;
            // A box that focus only passed through while another box's check
            // sent it back (its message box in between) checks nothing.
            const bool check = entered_ && !checking_;
            entered_ = false;
            if (check) {
                checking_ = true;
                runGuarded(check_);
                checking_ = false;
            }
        }
        return false;
    }

private:
    std::function<void()> check_;
    bool entered_ = false;
    static inline bool checking_ = false;
};

// Ctrl+Enter in the send box presses the send button, as in other
// terminals; while sending is not possible the key does what it did before.
class SendKeyFilter : public QObject {
public:
    SendKeyFilter(QWidget* box, QAbstractButton* send) : QObject(box), send_(send) { box->installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || !(key->modifiers() & Qt::ControlModifier) || !send_->isEnabled()) return false;
        send_->click();
        return true;
    }

private:
    QAbstractButton* send_;
};

} // namespace

ComTestPage::ComTestPage(PageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::ComTestPage>())
{
    ui->setupUi(this);
    applyDisplayFont();
    applyDisplayLimit();
    displayFlush_ = new QTimer(this);
    displayFlush_->setObjectName(QStringLiteral("tmDisplayFlush"));
    displayFlush_->setSingleShot(true);
    displayFlush_->setInterval(kDisplayFlushMs);
    connectHandler(displayFlush_, &QTimer::timeout, this, &ComTestPage::flushDisplay);
    // The interactive mode's switch, once its group is on the page.
    interactiveBox_ = findChild<QAbstractButton*>(QStringLiteral("cbInteractive"));
    connectHandlers();
}

ComTestPage::~ComTestPage()
{
    // The boxes outlive this object by a moment; their focus leaving then
    // must not reach the checks.
    qDeleteAll(exitWatchers_);
    // Threads must be gone before the device and this page are.
    stopThreads();
    if (connection_) connection_->ClosePort();
}

void ComTestPage::connectHandlers()
{
    connectHandler(ui->COMList, &PortComboBox::popupAboutToShow, this, &ComTestPage::refreshPortList);
    connectHandler(ui->btnOpenPort, &QPushButton::clicked, this, &ComTestPage::btnOpenPortClick);
    exitWatchers_.push_back(new ExitWatcher(ui->edRDTimeout, [this] { edRDTimeoutExit(); }));
    exitWatchers_.push_back(new ExitWatcher(ui->edWRTimeout, [this] { edWRTimeoutExit(); }));

    connectHandler(ui->btnSend, &QPushButton::clicked, this, &ComTestPage::btnSendClick);
    new SendKeyFilter(ui->mDataSend, ui->btnSend);
    // Only a change of choice counts: clicking the choice already made must
    // not relabel "停  止" while timed sending runs.
    connectHandler(ui->rbTimedSend, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbTimedSendClick();
    });
    connectHandler(ui->rbManualSend, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbManualSendClick();
    });
    exitWatchers_.push_back(new ExitWatcher(ui->edTimer, [this] { edTimerExit(); }));
    connectHandler(ui->btnGetFile, &QPushButton::clicked, this, &ComTestPage::btnGetFileClick);
    connectHandler(ui->btnSendFile, &QPushButton::clicked, this, &ComTestPage::btnSendFileClick);
    connectHandler(ui->sbStopSend, &QToolButton::clicked, this, &ComTestPage::sbStopSendClick);
    connectHandler(ui->sbTxFlush, &QToolButton::clicked, this, &ComTestPage::sbTxFlushClick);
    connectHandler(ui->sbSndReset, &QToolButton::clicked, this, &ComTestPage::sbSndResetClick);

    connectHandler(ui->sbRxFlush, &QToolButton::clicked, this, &ComTestPage::sbRxFlushClick);
    connectHandler(ui->sbRcvReset, &QToolButton::clicked, this, &ComTestPage::sbRcvResetClick);
    connectHandler(ui->cbRcvBinary, &QCheckBox::clicked, this, &ComTestPage::cbRcvBinaryClick);
    connectHandler(ui->cbAutoSave, &QCheckBox::clicked, this, &ComTestPage::cbAutoSaveClick);
    exitWatchers_.push_back(new ExitWatcher(ui->edRDDispMax, [this] { edRDDispMaxExit(); }));
}

void ComTestPage::applyDisplayFont()
{
    // Fixed pitch keeps the dump's columns aligned; the CJK mono face gives
    // Chinese text exactly two columns.
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("DejaVu Sans Mono"),
                      QStringLiteral("Monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(12);
    ui->mCOMRx->setFont(font);
}

void ComTestPage::applyDisplayLimit()
{
    // The display keeps the newest lines only; a capture that runs all day
    // must not make every update slower.
    auto lines = wholeNumberOf(ui->edRDDispMax->text());
    ui->mCOMRx->setMaximumBlockCount(lines && *lines >= 10 ? *lines : 10);
}

bool ComTestPage::event(QEvent* event)
{
    if (event->type() == QtCommSink::handoffEventType()) {
        runGuarded([&] { QtCommSink::handleEvent(event); });
        return true;
    }
    return QWidget::event(event);
}

bool ComTestPage::interactiveChecked() const { return interactiveBox_ && interactiveBox_->isChecked(); }

// ------------------------------------------------------------------ start-up

void ComTestPage::fillPortList(const PortListing& listing)
{
    ui->COMList->clear();
    for (const auto& name : listing.comList) ui->COMList->addItem(QString::fromStdString(name));
    ui->COMList->setCurrentIndex(listing.comList.empty() ? -1 : 0);
}

void ComTestPage::refreshPortList()
{
    if (!portSource_) return;
    const auto entries = portSource_->serialPorts();
    if (!entries) return;
    const PortListing listing = buildSerialListing(*entries);
    std::vector<std::string> shown;
    for (int i = 0; i < ui->COMList->count(); ++i) shown.push_back(ui->COMList->itemText(i).toStdString());
    if (shown == listing.comList) return;
    const int keep = selectionAfterRefresh(listing.comList, ui->COMList->currentText().toStdString());
    ui->COMList->clear();
    for (const auto& name : listing.comList) ui->COMList->addItem(QString::fromStdString(name));
    ui->COMList->setCurrentIndex(keep);
}

void ComTestPage::loadVariables(const SettingsFile&) {}

void ComTestPage::loadCommandLists(const SettingsFile&) {}

// ---------------------------------------------------------------- connection

long long ComTestPage::receivedTotal() const { return connection_ ? connection_->ReceivedTotal : 0; }

long long ComTestPage::sentTotal() const { return connection_ ? connection_->SentTotal : 0; }

std::string ComTestPage::portName() const { return connection_ ? connection_->PortName : std::string(); }

int ComTestPage::baudRate() const { return connection_ ? connection_->BaudRate : 0; }

void ComTestPage::setLineControlsEnabled(bool enabled)
{
    ui->COMList->setEnabled(enabled);
    ui->cbBaudRate->setEnabled(enabled);
    ui->cbDataBits->setEnabled(enabled);
    ui->cbStopBits->setEnabled(enabled);
    ui->cbVerify->setEnabled(enabled);
}

void ComTestPage::btnOpenPortClick()
{
    if (PortOpen) {
        closeConnection();
        return;
    }
    Dialogs& dialogs = host_.dialogs();
    if (ui->COMList->currentIndex() < 0) {
        dialogs.error(QStringLiteral("无可用串口!"));
        return;
    }
    const QString name = ui->COMList->currentText();
    const int32_t baud = ui->cbBaudRate->currentText().toInt();
    const int parity = ui->cbVerify->currentIndex();
    const int dataBits = ui->cbDataBits->currentText().toInt();
    const int stopBits = ui->cbStopBits->currentIndex();

    // On failure (or an exception from the timeout boxes) the connection
    // object goes out of scope and takes the device with it.
    auto connection = std::make_unique<TPortConnection>();
    const auto result = connection->OpenPort(localPath(name), baud, parity, dataBits, stopBits, [this] {
        const auto rd = wholeNumberOf(ui->edRDTimeout->text());
        const auto wr = wholeNumberOf(ui->edWRTimeout->text());
        if (!rd || !wr) throw std::invalid_argument("timeout is not a whole number");
        CommTimeouts t;
        t.ReadTotalTimeoutConstant = static_cast<uint32_t>(*rd);
        t.WriteTotalTimeoutConstant = static_cast<uint32_t>(*wr);
        return t;
    });
    if (result == TPortConnection::OpenResult::OpenFailed) {
        dialogs.error(QStringLiteral("打开串口时出错!"));
        return;
    }
    if (result == TPortConnection::OpenResult::SetupFailed) {
        dialogs.error(QStringLiteral("设置串口时出错!"));
        return;
    }
    connection_ = std::move(connection);

    setLineControlsEnabled(false);
    ui->btnSend->setEnabled(true);
    ui->btnSendFile->setEnabled(true);
    host_.setStatusText(3, name + QStringLiteral(": ") + QString::number(baud));

    sink_ = QtCommSink::create(
        host_.mainWindow(), this, [this](std::span<const uint8_t> chunk) { runGuarded([&] { DeliverChunk(chunk); }); },
        [this](const QString& text) { host_.dialogs().error(text); });
    reader_ = std::make_unique<TRead>(*connection_->port(), *sink_);
    try {
        reader_->start();
    } catch (const std::system_error&) {
        reader_.reset();
        dialogs.error(QStringLiteral("创建线程时错!"));
        PortOpen = true;
        closeConnection();
        return;
    }
    ui->btnOpenPort->setText(kCloseCaption);
    PortOpen = true;
}

void ComTestPage::stopThreads()
{
    if (reader_) reader_->requestStop();
    for (auto& w : writers_) w->requestStop();
    // Releases a reader waiting for the window: it must not be waited for
    // while it waits for us.
    if (sink_) sink_->cancel();
    reader_.reset();
    writers_.clear();
    currentWriter_ = nullptr;
    writerRegistered_ = false;
    sink_.reset();
}

void ComTestPage::closeConnection()
{
    stopThreads();
    ui->btnSend->setEnabled(false);
    ui->btnSendFile->setEnabled(false);
    // The threads have been joined: nothing uses the device any more.
    if (connection_) connection_->ClosePort();
    connection_.reset();
    setLineControlsEnabled(true);
    host_.setStatusText(3, QStringLiteral("关闭"));
    host_.setStatusText(1, QStringLiteral("接收: 0"));
    host_.setStatusText(2, QStringLiteral("发送: 0"));
    host_.repaintStatus();
    ui->btnOpenPort->setText(kOpenCaption);
    PortOpen = false;
}

void ComTestPage::closeForExit()
{
    stopThreads();
    if (connection_) connection_->ClosePort();
    connection_.reset();
    PortOpen = false;
}

void ComTestPage::checkMillisecondsBox(QLineEdit* box)
{
    auto v = wholeNumberOf(box->text());
    if (!v) {
        host_.dialogs().error(QStringLiteral("请填入正确的毫秒数"));
        box->setFocus();
        return;
    }
    if (*v < 100) box->setText(QStringLiteral("100"));
}

void ComTestPage::edRDTimeoutExit() { checkMillisecondsBox(ui->edRDTimeout); }

void ComTestPage::edWRTimeoutExit() { checkMillisecondsBox(ui->edWRTimeout); }

// ------------------------------------------------------------------- sending

void ComTestPage::reapWriters()
{
    for (auto it = writers_.begin(); it != writers_.end();) {
        if ((*it)->finished()) {
            if (it->get() == currentWriter_) currentWriter_ = nullptr;
            it = writers_.erase(it); // joins at once: its run is over
        } else {
            ++it;
        }
    }
}

void ComTestPage::startWriter(bool hexMode, bool fromFile, std::vector<uint8_t> data)
{
    reapWriters();
    auto writer = std::make_unique<TWrite>(*connection_->port(), hexMode, fromFile, std::move(data), *sink_);
    writer->start();
    currentWriter_ = writer.get();
    writerRegistered_ = true;
    writers_.push_back(std::move(writer));
}

void ComTestPage::SendData()
{
    const QString text = ui->mDataSend->toPlainText();
    if (text.isEmpty() || !PortOpen || !connection_) return;
    if (ui->cbInterClear->isChecked()) clearDisplay();
    ui->btnSend->setEnabled(false);
    ui->btnSendFile->setEnabled(false);
    ui->sbStopSend->setEnabled(true);

    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const std::string bytes = toGbk(crlf);
    startWriter(ui->cbSendBinary->isChecked(), false, std::vector<uint8_t>(bytes.begin(), bytes.end()));

    if (receive_.LogActive) {
        for (const auto& line : splitLines(text.toStdString())) receive_.log(kLogSend, utf8ToGbk(line));
    }
}

void ComTestPage::btnSendClick()
{
    QTimer* timer2 = host_.timer2();
    if (ui->rbTimedSend->isChecked()) {
        if (TimedSendRunning) {
            timer2->stop();
            ui->rbManualSend->setEnabled(true);
            ui->edTimer->setEnabled(true);
            ui->lTimer->setEnabled(true);
            ui->btnSend->setText(QStringLiteral("开  始"));
            TimedSendRunning = false;
        } else {
            auto interval = wholeNumberOf(ui->edTimer->text());
            if (!interval) {
                host_.dialogs().error(QStringLiteral("请正确设置间隔时间!"));
                ui->edTimer->setFocus();
                return;
            }
            // The box is held at 100 ms or more when left; a zero interval
            // slipping through would send without pause.
            timer2->setInterval(std::max<int32_t>(*interval, 100));
            ui->rbManualSend->setEnabled(false);
            ui->edTimer->setEnabled(false);
            ui->lTimer->setEnabled(false);
            ui->btnSend->setText(QStringLiteral("停  止"));
            timer2->start();
            TimedSendRunning = true;
        }
    }
    SendData();
}

void ComTestPage::rbTimedSendClick()
{
    ui->edTimer->setEnabled(true);
    ui->lTimer->setEnabled(true);
    ui->btnSend->setText(QStringLiteral("开  始"));
}

void ComTestPage::rbManualSendClick()
{
    ui->edTimer->setEnabled(false);
    ui->lTimer->setEnabled(false);
    ui->btnSend->setText(QStringLiteral("发  送"));
}

void ComTestPage::edTimerExit()
{
    auto v = wholeNumberOf(ui->edTimer->text());
    if (!v) {
        host_.dialogs().error(QStringLiteral("请设置正确的间隔时间!"));
        ui->edTimer->setFocus();
        return;
    }
    if (*v < 100) ui->edTimer->setText(QStringLiteral("100"));
}

void ComTestPage::Timer1Timer() {}

void ComTestPage::Timer2Timer()
{
    masterLoopStep();
    SendData();
}

void ComTestPage::btnGetFileClick()
{
    if (auto file = host_.dialogs().openFile(QStringLiteral("All files (*.*)|*.*"), QStringLiteral("*")))
        ui->edFileSend->setText(*file);
}

void ComTestPage::btnSendFileClick()
{
    const QString path = ui->edFileSend->text();
    if (path.isEmpty()) {
        host_.dialogs().error(QStringLiteral("请先选择要发送的文件!"));
        return;
    }
    if (!PortOpen || !connection_) return;
    ui->btnSend->setEnabled(false);
    ui->btnSendFile->setEnabled(false);
    ui->sbStopSend->setEnabled(true);
    const std::string local = localPath(path);
    startWriter(false, true, std::vector<uint8_t>(local.begin(), local.end()));
    receive_.log(kLogSendFile, toGbk(path));
}

void ComTestPage::sbStopSendClick()
{
    // Bytes already handed to the device stay sent; what the writer still
    // holds is dropped.
    if (currentWriter_) currentWriter_->requestStop();
    currentWriter_ = nullptr;
    writerRegistered_ = false;
    if (PortOpen) {
        ui->btnSend->setEnabled(true);
        ui->btnSendFile->setEnabled(true);
    }
    ui->sbStopSend->setEnabled(false);
}

void ComTestPage::sbTxFlushClick() { ui->mDataSend->clear(); }

void ComTestPage::sbSndResetClick()
{
    if (!connection_) return;
    connection_->SentTotal = 0;
    host_.setStatusText(2, QStringLiteral("发送: 0"));
    host_.repaintStatus();
}

// ----------------------------------------------------------------- receiving

void ComTestPage::DeliverChunk(std::span<const uint8_t> chunk)
{
    const auto display = receive_.applyDataMode(chunk);
    if (!display.empty()) ShowReceived(display);
    receive_.LineIdle = false;
}

void ComTestPage::appendToDisplay(const QString& text)
{
    if (text.isEmpty()) return;
    // Chunks arrive up to thousands of times a second; laying out and
    // painting the display once per chunk would starve the window. The
    // text is collected and shown a moment later, all at once.
    pendingDisplay_ += text;
    if (!displayFlush_->isActive()) displayFlush_->start();
}

void ComTestPage::flushDisplay()
{
    if (pendingDisplay_.isEmpty()) return;
    QString text;
    text.swap(pendingDisplay_);
    QPlainTextEdit* box = ui->mCOMRx;
    // Lines that the line limit would drop at once are not laid out at all.
    const int keep = box->maximumBlockCount();
    if (keep > 0 && text.count(QLatin1Char('\n')) >= keep) {
        qsizetype cut = text.size();
        for (int lines = 0; lines < keep; ++lines) cut = text.lastIndexOf(QLatin1Char('\n'), cut - 1);
        text.remove(0, cut + 1);
        box->clear();
    }
    QTextCursor cursor(box->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    cursor.insertText(text);
    cursor.endEditBlock();
    if (ui->cbCOMAutoScroll->isChecked()) {
        QScrollBar* bar = box->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

bool ComTestPage::displayEmpty() const { return pendingDisplay_.isEmpty() && ui->mCOMRx->document()->isEmpty(); }

void ComTestPage::clearDisplay()
{
    pendingDisplay_.clear();
    displayFlush_->stop();
    ui->mCOMRx->clear();
    textFeed_.displayCleared();
}

void ComTestPage::ShowReceived(std::span<const uint8_t> bytes)
{
    if (ui->cbStopFresh->isChecked()) return;
    const bool stringVars = receive_.stringVarMode();
    if (ui->cbRcvBinary->isChecked() && !stringVars) {
        DumpOutput out = dumpChunk(receive_, bytes, displayEmpty());
        if (out.replaceAll) clearDisplay();
        QString text = QString::fromLatin1(out.text.data(), static_cast<qsizetype>(out.text.size()));
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        appendToDisplay(text);
        // The log gets the whole dump of the chunk, not only its last line.
        std::string_view logged = out.text;
        if (logged.starts_with("\r\n")) logged.remove_prefix(2);
        receive_.log(kLogReceived, logged);
    } else {
        if (ui->cbInterClear->isChecked() && (interactiveChecked() || stringVars)) clearDisplay();
        const auto shown = TextFeed::shownPart(bytes);
        appendToDisplay(QString::fromStdString(textFeed_.feed(shown)));
        if (!stringVars)
            receive_.log(kLogReceived,
                         std::string_view(reinterpret_cast<const char*>(shown.data()), shown.size()));
    }
}

void ComTestPage::sbRxFlushClick() { clearDisplay(); }

void ComTestPage::cbRcvBinaryClick() { clearDisplay(); }

void ComTestPage::sbRcvResetClick()
{
    if (!connection_) return;
    connection_->ReceivedTotal = 0;
    host_.setStatusText(1, QStringLiteral("接收: 0"));
    host_.repaintStatus();
}

void ComTestPage::cbAutoSaveClick()
{
    if (ui->cbAutoSave->isChecked()) {
        receive_.LogActive = true;
        auto file = host_.dialogs().saveFile(QStringLiteral("Log files (*.log)|*.log|All files (*.*)|*.*"),
                                             QStringLiteral("log"), QStringLiteral("LogFile.log"));
        if (!file) {
            receive_.LogActive = false;
            ui->cbAutoSave->setChecked(false);
            return;
        }
        receive_.LogFileName = file->toStdString();
        if (!receive_.LogFile.open(localPath(*file))) {
            host_.dialogs().error(QStringLiteral("打开记录文件时出错!请重新设置"));
            receive_.LogActive = false;
            ui->cbAutoSave->setChecked(false);
            return;
        }
        ui->gbCOM->setTitle(kComGroupCaption + QStringLiteral("/保存到: ") + QFileInfo(*file).fileName());
    } else {
        receive_.LogFile.close();
        receive_.LogActive = false;
        ui->gbCOM->setTitle(kComGroupCaption);
    }
}

void ComTestPage::closeLog()
{
    receive_.LogFile.close();
    receive_.LogActive = false;
    // The box and the caption say what is true again.
    ui->cbAutoSave->setChecked(false);
    ui->gbCOM->setTitle(kComGroupCaption);
}

void ComTestPage::edRDDispMaxExit()
{
    auto v = wholeNumberOf(ui->edRDDispMax->text());
    if (!v) {
        host_.dialogs().error(QStringLiteral("请填入正确的行数"));
        ui->edRDDispMax->setFocus();
        return;
    }
    if (*v < 10) ui->edRDDispMax->setText(QStringLiteral("10"));
    applyDisplayLimit();
}

// ------------------------------------------------------------- notifications

void ComTestPage::handleCommEvent(QEvent* event)
{
    auto* e = static_cast<CommEvent*>(event);
    switch (e->message()) {
    case WM_COMM_RECEIVED: WMBytesReceived(e->wParam()); break;
    case WM_COMM_SENT: WMSendDone(e->wParam()); break;
    case WM_COMM_ERROR: WMCommError(); break;
    case WM_COMM_SENDING: WMSendProgress(e->wParam()); break;
    case WM_COMM_IDLE: WMReceiveIdle(); break;
    default: break;
    }
}

void ComTestPage::WMBytesReceived(intptr_t count)
{
    if (!reader_ || !connection_) return;
    connection_->ReceivedTotal += count;
    host_.setStatusText(1, QStringLiteral("接收: %1").arg(connection_->ReceivedTotal));
    // The panel is repainted at once, but not more often than the display:
    // a fast stream brings this message thousands of times a second.
    if (!statusPainted_.isValid() || statusPainted_.elapsed() >= kDisplayFlushMs) {
        host_.repaintStatus();
        statusPainted_.start();
    }
}

void ComTestPage::WMSendDone(intptr_t count)
{
    if (writerRegistered_ && connection_) {
        connection_->SentTotal += count;
        host_.setStatusText(2, QStringLiteral("发送: %1").arg(connection_->SentTotal));
        host_.repaintStatus();
    }
    if (ui->btnOpenPort->text() == kCloseCaption) {
        ui->btnSend->setEnabled(true);
        ui->btnSendFile->setEnabled(true);
    }
    ui->sbStopSend->setEnabled(false);
    reapWriters();
}

void ComTestPage::WMCommError()
{
    // A late report from the threads of a connection already closed says
    // nothing about the port now.
    if (!connection_) return;
    host_.setStatusText(3, QStringLiteral("通讯出错！"));
}

void ComTestPage::WMSendProgress(intptr_t count)
{
    if (!writerRegistered_ || !connection_) return;
    connection_->SentTotal += count;
    host_.setStatusText(2, QStringLiteral("发送: %1").arg(connection_->SentTotal));
    host_.repaintStatus();
}

void ComTestPage::WMReceiveIdle()
{
    slaveReply();
    receive_.LineIdle = true;
}

} // namespace quillon
