#include "serial/serial_session.h"

#include "app/handler.h"
#include "common/codepage.h"
#include "common/text.h"
#include "serial/comm_threads.h"
#include "serial/hex_text.h"
#include "serial/port_connection.h"
#include "serial/qt_comm_sink.h"

#include <system_error>

namespace quillon::serial {

SerialSession::SerialSession(SerialSessionEvents& events) : events_(events) {}

SerialSession::~SerialSession()
{
    // Threads must be gone before the device and this object are.
    stopThreads();
    if (connection_) connection_->ClosePort();
}

bool SerialSession::event(QEvent* event)
{
    if (event->type() == QtCommSink::handoffEventType()) {
        runGuarded([&] { QtCommSink::handleEvent(event); });
        return true;
    }
    return QObject::event(event);
}

SerialSession::OpenResult SerialSession::open(const std::string& path, const LineSettings& line,
                                              const std::function<platform::CommTimeouts()>& timeouts)
{
    // On failure (or an exception from `timeouts`) the connection object
    // goes out of scope and takes the device with it.
    auto connection = std::make_unique<TPortConnection>();
    const auto result =
        connection->OpenPort(path, line.baudRate, line.parityIndex, line.dataBits, line.stopBitsIndex, timeouts);
    openFailure_ = connection->openFailure();
    if (result == TPortConnection::OpenResult::OpenFailed) return OpenResult::OpenFailed;
    if (result == TPortConnection::OpenResult::SetupFailed) return OpenResult::SetupFailed;
    connection_ = std::move(connection);

    sink_ = QtCommSink::create(
        this, [this](std::span<const uint8_t> chunk) { runGuarded([&] { DeliverChunk(chunk); }); },
        [this](CommFailure failure) { events_.threadFailed(failure); },
        [this](const CommSink& from, const CommReport& report) { runGuarded([&] { Dispatch(from, report); }); });
    reader_ = std::make_unique<TRead>(*connection_->port(), *sink_);
    try {
        reader_->start();
    } catch (const std::system_error&) {
        reader_.reset();
        close();
        return OpenResult::ThreadFailed;
    }
    PortOpen = true;
    return OpenResult::Opened;
}

void SerialSession::stopThreads()
{
    if (reader_) reader_->requestStop();
    for (auto& w : writers_) w->requestStop();
    // Releases a reader waiting for the window: it must not be waited for
    // while it waits for us.
    if (sink_) sink_->cancel();
    reader_.reset();
    writers_.clear();
    currentWriter_ = nullptr;
    stoppedSends_.clear();
    sink_.reset();
}

void SerialSession::close()
{
    stopThreads();
    // The threads have been joined: nothing uses the device any more.
    if (connection_) connection_->ClosePort();
    connection_.reset();
    PortOpen = false;
}

long long SerialSession::receivedTotal() const { return connection_ ? connection_->ReceivedTotal : 0; }

long long SerialSession::sentTotal() const { return connection_ ? connection_->SentTotal : 0; }

std::string SerialSession::portName() const { return connection_ ? connection_->PortName : std::string(); }

int SerialSession::baudRate() const { return connection_ ? connection_->BaudRate : 0; }

// ------------------------------------------------------------------- sending

void SerialSession::reapWriters()
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

void SerialSession::startWriter(bool hexMode, bool fromFile, std::vector<uint8_t> data)
{
    if (!connection_ || !sink_) return;
    reapWriters();
    auto writer =
        std::make_unique<TWrite>(*connection_->port(), hexMode, fromFile, std::move(data), *sink_, ++lastSend_);
    writer->start();
    currentWriter_ = writer.get();
    currentSend_ = lastSend_;
    writers_.push_back(std::move(writer));
}

void SerialSession::send(bool hexMode, const std::string& text)
{
    startWriter(hexMode, false, TextToSendBytes(text));
    if (!LogActive) return;
    for (const auto& line : splitLines(text)) log(kLogSend, utf8ToGbk(line));
}

void SerialSession::sendFile(const std::string& path, const std::string& shownPath)
{
    startWriter(false, true, std::vector<uint8_t>(path.begin(), path.end()));
    log(kLogSendFile, utf8ToGbk(shownPath));
}

void SerialSession::stopSend()
{
    if (currentWriter_) {
        currentWriter_->requestStop();
        stoppedSends_.insert(currentSend_);
    }
    currentWriter_ = nullptr;
}

// ------------------------------------------------------------------ counting

std::shared_ptr<CommSink> SerialSession::reportSink() const { return sink_; }

bool SerialSession::countSend(const CommReport& report)
{
    if (stoppedSends_.count(report.send)) return false;
    connection_->SentTotal += report.count;
    return true;
}

void SerialSession::Dispatch(const CommSink& from, const CommReport& report)
{
    // Each connection has a sink of its own: what its threads said after the
    // close says nothing about the port now, and is not counted into the next.
    if (!sink_ || &from != sink_.get() || !connection_) return;
    switch (report.kind) {
    case WM_COMM_RECEIVED:
        connection_->ReceivedTotal += report.count;
        emit bytesReceived(connection_->ReceivedTotal);
        break;
    case WM_COMM_SENDING:
        if (countSend(report)) emit sendProgress(connection_->SentTotal);
        break;
    case WM_COMM_SENT: {
        const bool counted = countSend(report);
        reapWriters();
        emit sendEnded(counted, connection_ ? connection_->SentTotal : 0);
        break;
    }
    case WM_COMM_ERROR: emit commError(); break;
    case WM_COMM_IDLE:
        emit lineIdle();
        modes_.burst.lineWentIdle();
        break;
    }
}

bool SerialSession::resetReceived()
{
    if (!connection_) return false;
    connection_->ReceivedTotal = 0;
    return true;
}

bool SerialSession::resetSent()
{
    if (!connection_) return false;
    connection_->SentTotal = 0;
    return true;
}

// ----------------------------------------------------------------- receiving

void SerialSession::DeliverChunk(std::span<const uint8_t> chunk)
{
    const ReceiveResult result =
        modes_.mode() == DataMode::Normal || !step_ ? modes_.passThrough(chunk) : step_->process(modes_, chunk);
    if (!result.samples.empty()) {
        // Deleted or redefined rows take their history with them.
        if (variables_.revision() != samplesRevision_) {
            samples_.keepOnly(variables_);
            samplesRevision_ = variables_.revision();
        }
        samples_.record(result.samples);
    }
    if (!result.changedRows.empty()) events_.rowsChanged(result.changedRows);
    std::optional<std::string> shown;
    if (!result.display.empty() && !refreshStopped_) shown = events_.showReceived(result.display);
    writeReceiveLog(result, shown);
    modes_.burst.chunkDelivered();
}

void SerialSession::writeReceiveLog(const ReceiveResult& result, const std::optional<std::string>& shown)
{
    // The one place received data reaches the log. The mode's own entries
    // (the raw chunk of string variables) are made whatever the display
    // does; what the display showed is logged as shown, so with 停止刷新
    // nothing is shown and nothing of it logged.
    if (!LogActive) return;
    for (const auto& entry : result.log) log(entry.word, entry.text);
    if (shown) log(kLogReceived, *shown);
}

DumpStart SerialSession::takeDumpStart()
{
    DumpStart start;
    start.lineIdle = modes_.burst.lineIdle();
    start.blockDecoded = modes_.settings.blockDecoded;
    modes_.settings.blockDecoded = false;
    start.freshAddress = modes_.mode() == DataMode::MemoryMap ? modes_.settings.startAddress : 0;
    return start;
}

vars::ApplyError SerialSession::applyDataMode(const vars::DataModeInput& input)
{
    return vars::ApplyDataModeSettings(modes_.settings, input);
}

void SerialSession::setInteractiveRole(bool interactive, bool master)
{
    modes_.role.interactive = interactive;
    modes_.role.master = master;
    emit interactiveRoleChanged(interactive, master);
}

// ----------------------------------------------------------------------- log

bool SerialSession::openLog(const std::string& path, const std::string& name)
{
    LogActive = true;
    LogFileName = name;
    if (!LogFile.open(path)) {
        LogActive = false;
        return false;
    }
    return true;
}

void SerialSession::closeLog()
{
    LogFile.close();
    LogActive = false;
    events_.logClosed();
}

void SerialSession::log(std::string_view word, std::string_view text)
{
    if (LogActive) LogFile.entry(word, text);
}

} // namespace quillon::serial
