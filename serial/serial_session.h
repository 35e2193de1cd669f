#pragma once
// One serial session: the open connection, its reader and writer threads,
// the sink that carries their reports to the window, the receive state with
// its data-mode step, the byte counters and the communication log. It holds
// no widget; the serial page shows what it does.

#include "app/sessions.h"
#include "platform/comm_port.h"
#include "serial/comm_messages.h"
#include "serial/receive_state.h"
#include "vars/var_list.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon {

struct CommTimeouts;
class TPortConnection;
class TRead;
class TWrite;
class QtCommSink;

// What the session tells the page, always on the window's thread.
class SerialSessionEvents {
public:
    virtual ~SerialSessionEvents() = default;
    // A received chunk once its data mode has seen it.
    virtual void chunkProcessed(const ReceiveResult& result) = 0;
    virtual void threadFailed(CommFailure failure) = 0;
    // The log was closed from outside the page (the window closing).
    virtual void logClosed() = 0;
};

struct LineSettings {
    int32_t baudRate = 0;
    int parityIndex = 0;
    int dataBits = 8;
    int stopBitsIndex = 0;
};

class SerialSession : public QObject, public SerialSessionControl {
    Q_OBJECT
public:
    enum class OpenResult { Opened, OpenFailed, SetupFailed, ThreadFailed };

    // Thread notifications are posted to `window` (its Dispatch routes them
    // back to the page's handlers).
    SerialSession(QObject* window, SerialSessionEvents& events);
    ~SerialSession() override;

    // Opens the port, applies the timeouts (asked for once the device is
    // open) and the line settings, and starts the reader. Nothing stays open
    // unless it returns Opened.
    OpenResult open(const std::string& path, const LineSettings& line, const std::function<CommTimeouts()>& timeouts);
    // Why the last open gave OpenFailed, for the message.
    const PortOpenFailure& openFailure() const { return openFailure_; }
    // Stops and joins the threads, then restores the port and closes it.
    void close();

    // SerialSessionControl
    bool portOpen() const override { return PortOpen; }
    long long receivedTotal() const override;
    long long sentTotal() const override;
    std::string portName() const override;
    int baudRate() const override;
    bool logActive() const override { return receive_.LogActive; }
    void closeLog() override;
    void closeForExit() override { close(); }

    // Sending: each send is a writer thread of its own.
    void send(bool hexMode, std::vector<uint8_t> bytes);
    void sendFile(const std::string& path);
    // Bytes already handed to the device stay sent; the rest is dropped and
    // the stopped send's reports no longer count.
    void stopSend();

    // Counting the threads' reports. None when the report belongs to no
    // connection (a late one after a close) or to a stopped send.
    std::optional<long long> countReceived(intptr_t count);
    std::optional<long long> countSendProgress(intptr_t count);
    std::optional<long long> countSendEnd(intptr_t count);
    // False when no connection has counters to reset.
    bool resetReceived();
    bool resetSent();
    bool connected() const { return connection_ != nullptr; }

    // The receive road: the reader's chunk through the data-mode step to the page.
    void DeliverChunk(std::span<const uint8_t> chunk);
    void lineWentIdle() { receive_.LineIdle = true; }
    ReceiveState& receiveState() { return receive_; }
    const ReceiveState& receiveState() const { return receive_; }
    void setDataModeStep(std::unique_ptr<DataModeStep> step) { receive_.modeStep = std::move(step); }
    // The watched variables: shown by the variable group, filled by the decoding step.
    vars::VarList& watchedVariables() { return variables_; }

    // The communication log. `path` as the system takes it; false when the
    // file can't be created.
    bool openLog(const std::string& path, const std::string& name);
    void log(std::string_view word, std::string_view text) { receive_.log(word, text); }

protected:
    bool event(QEvent* event) override;

private:
    void stopThreads();
    void startWriter(bool hexMode, bool fromFile, std::vector<uint8_t> data);
    void reapWriters();

    QObject* window_;
    SerialSessionEvents& events_;
    bool PortOpen = false;
    std::unique_ptr<TPortConnection> connection_;
    PortOpenFailure openFailure_;
    std::shared_ptr<QtCommSink> sink_;
    std::unique_ptr<TRead> reader_;
    std::vector<std::unique_ptr<TWrite>> writers_;
    TWrite* currentWriter_ = nullptr; // the newest writer while it runs
    bool writerRegistered_ = false;   // its reports are counted
    vars::VarList variables_;
    // After the list: the decoding step in it reads the list.
    ReceiveState receive_;
};

} // namespace quillon
