#include "serial/serial_session.h"

#include "app/handler.h"
#include "serial/comm_threads.h"
#include "serial/port_connection.h"
#include "serial/qt_comm_sink.h"

#include <system_error>

namespace quillon {

SerialSession::SerialSession(QObject* window, SerialSessionEvents& events) : window_(window), events_(events) {}

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
                                              const std::function<CommTimeouts()>& timeouts)
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
        window_, this, [this](std::span<const uint8_t> chunk) { runGuarded([&] { DeliverChunk(chunk); }); },
        [this](CommFailure failure) { events_.threadFailed(failure); });
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
    writerRegistered_ = false;
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
    auto writer = std::make_unique<TWrite>(*connection_->port(), hexMode, fromFile, std::move(data), *sink_);
    writer->start();
    currentWriter_ = writer.get();
    writerRegistered_ = true;
    writers_.push_back(std::move(writer));
}

void SerialSession::send(bool hexMode, std::vector<uint8_t> bytes) { startWriter(hexMode, false, std::move(bytes)); }

void SerialSession::sendFile(const std::string& path)
{
    startWriter(false, true, std::vector<uint8_t>(path.begin(), path.end()));
}

void SerialSession::stopSend()
{
    if (currentWriter_) currentWriter_->requestStop();
    currentWriter_ = nullptr;
    writerRegistered_ = false;
}

// ------------------------------------------------------------------ counting

std::optional<long long> SerialSession::countReceived(intptr_t count)
{
    if (!reader_ || !connection_) return std::nullopt;
    connection_->ReceivedTotal += count;
    return connection_->ReceivedTotal;
}

std::optional<long long> SerialSession::countSendProgress(intptr_t count)
{
    if (!writerRegistered_ || !connection_) return std::nullopt;
    connection_->SentTotal += count;
    return connection_->SentTotal;
}

std::optional<long long> SerialSession::countSendEnd(intptr_t count)
{
    auto total = countSendProgress(count);
    reapWriters();
    return total;
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
    const ReceiveResult result = receive_.applyDataMode(chunk);
    if (!result.logText.empty()) receive_.log(result.logWord, result.logText);
    if (!result.display.empty() || !result.changedRows.empty()) events_.chunkProcessed(result);
    receive_.LineIdle = false;
}

// ----------------------------------------------------------------------- log

bool SerialSession::openLog(const std::string& path, const std::string& name)
{
    receive_.LogActive = true;
    receive_.LogFileName = name;
    if (!receive_.LogFile.open(path)) {
        receive_.LogActive = false;
        return false;
    }
    return true;
}

void SerialSession::closeLog()
{
    receive_.LogFile.close();
    receive_.LogActive = false;
    events_.logClosed();
}

} // namespace quillon
