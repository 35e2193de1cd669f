#pragma once
// One serial session: the open connection, its reader and writer threads,
// the sink that carries their reports to the window, the receive state with
// its data-mode step, the byte counters and the communication log. It holds
// no widget; the serial page shows what it does.

#include "app/sessions.h"
#include "platform/comm_port.h"
#include "serial/comm_messages.h"
#include "serial/receive_display.h"
#include "serial/receive_state.h"
#include "vars/decoding.h"
#include "vars/sample_store.h"
#include "vars/var_list.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace quillon::platform {
struct CommTimeouts;
} // namespace quillon::platform

namespace quillon::serial {

class TPortConnection;
class TRead;
class TWrite;
class CommSink;
class QtCommSink;

// What the session tells the page, always on the window's thread.
class SerialSessionEvents {
public:
    virtual ~SerialSessionEvents() = default;
    // Watched-variable rows a received chunk gave new values.
    virtual void rowsChanged(const std::vector<size_t>& rows) = 0;
    // Bytes of a received chunk to show; returns the text the log takes for
    // what was shown (none: nothing to log).
    virtual std::optional<std::string> showReceived(std::span<const uint8_t> bytes) = 0;
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

class SerialSession : public QObject, public SerialSessionControl, public ReceiveSource {
    Q_OBJECT
public:
    enum class OpenResult { Opened, OpenFailed, SetupFailed, ThreadFailed };

    explicit SerialSession(SerialSessionEvents& events);
    ~SerialSession() override;

    // Opens the port, applies the timeouts (asked for once the device is
    // open) and the line settings, and starts the reader. Nothing stays open
    // unless it returns Opened.
    OpenResult open(const std::string& path, const LineSettings& line,
                    const std::function<platform::CommTimeouts()>& timeouts);
    // Why the last open gave OpenFailed, for the message.
    const platform::PortOpenFailure& openFailure() const { return openFailure_; }
    // Stops and joins the threads, then restores the port and closes it.
    void close();

    // SerialSessionControl
    bool portOpen() const override { return PortOpen; }
    long long receivedTotal() const override;
    long long sentTotal() const override;
    std::string portName() const override;
    int baudRate() const override;
    bool logActive() const override { return LogActive; }
    void closeLog() override;
    void closeForExit() override { close(); }

    // Sending: each send is a writer thread of its own, and is logged (the
    // text line by line, a file by its name) when it starts.
    void send(bool hexMode, const std::string& text);
    void sendFile(const std::string& path, const std::string& shownPath);
    // Bytes already handed to the device stay sent; the rest is dropped and
    // the stopped send's reports no longer count.
    void stopSend();

    // Routes a thread's report: counts its bytes and tells the page through
    // the signals below. A report that came through the sink of a connection
    // already closed, or from a stopped send, is not counted.
    void Dispatch(const CommSink& from, const CommReport& report);
    // Where the threads of the open connection report (null when closed).
    std::shared_ptr<CommSink> reportSink() const;
    // False when no connection has counters to reset.
    bool resetReceived();
    bool resetSent();
    bool connected() const { return connection_ != nullptr; }

    // The receive road: the reader's chunk through the data-mode step to the
    // page's list and display, and to the log.
    void DeliverChunk(std::span<const uint8_t> chunk);
    // The receive modes as they stand; they change only through the calls below.
    const ReceiveModes& receiveModes() const { return modes_; }
    // The data-mode group's Apply: fields up to the first bad one take effect.
    vars::ApplyError applyDataMode(const vars::DataModeInput& input);
    void setDataModeStep(std::unique_ptr<DataModeStep> step) { step_ = std::move(step); }
    // The interactive group's role: on or off, master or slave.
    void setInteractiveRole(bool interactive, bool master);
    // 停止刷新: received data is neither shown nor logged (still counted and decoded).
    void setRefreshStopped(bool stopped) { refreshStopped_ = stopped; }

    // ReceiveSource, for the display.
    bool stringVarMode() const override { return modes_.stringVarMode(); }
    bool interactive() const override { return modes_.role.interactive; }
    DumpStart takeDumpStart() override;
    // The watched variables: shown by the variable group, filled by the decoding step.
    vars::VarList& watchedVariables() { return variables_; }
    // The decoded numbers of the watched variables over time, for the plot.
    vars::SampleStore& samples() { return samples_; }

    // The communication log. `path` as the system takes it; false when the
    // file can't be created.
    bool openLog(const std::string& path, const std::string& name);

signals:
    // Each with the counter's new total.
    void bytesReceived(long long total);
    void sendProgress(long long total);
    // Every end of a send; `counted` is false for a stopped one.
    void sendEnded(bool counted, long long total);
    void commError();
    // 500 ms without reception. The line counts as idle (the next chunk
    // starts a new burst) once the receivers of this signal have run.
    void lineIdle();
    void interactiveRoleChanged(bool interactive, bool master);

protected:
    bool event(QEvent* event) override;

private:
    bool countSend(const CommReport& report);
    void writeReceiveLog(const ReceiveResult& result, const std::optional<std::string>& shown);
    void log(std::string_view word, std::string_view text);
    void stopThreads();
    void startWriter(bool hexMode, bool fromFile, std::vector<uint8_t> data);
    void reapWriters();

    SerialSessionEvents& events_;
    bool PortOpen = false;
    std::unique_ptr<TPortConnection> connection_;
    platform::PortOpenFailure openFailure_;
    std::shared_ptr<QtCommSink> sink_;
    std::unique_ptr<TRead> reader_;
    std::vector<std::unique_ptr<TWrite>> writers_;
    TWrite* currentWriter_ = nullptr; // the newest writer while it runs
    uint64_t currentSend_ = 0;        // its tag
    uint64_t lastSend_ = 0;
    std::set<uint64_t> stoppedSends_; // their reports are not counted
    vars::VarList variables_;
    vars::SampleStore samples_;
    uint64_t samplesRevision_ = 0; // of the list, when the store last followed it
    ReceiveModes modes_;
    // After the list: the decoding step reads the list.
    std::unique_ptr<DataModeStep> step_;
    bool refreshStopped_ = false;
    // The communication log.
    bool LogActive = false;
    std::string LogFileName;
    CommLog LogFile;
};

} // namespace quillon::serial
