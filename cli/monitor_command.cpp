// quillon-cli monitor: the port monitor's capture for terminals and scripts.
// The same helper the monitor page loads hooks the named ports; every record
// it hands over is printed as it comes, as the line the page's capture log
// writes for it. Ends on Ctrl-C, SIGTERM or SIGHUP, after --duration or
// --count, or when standard output goes away; the helper is always stopped.

#include "cli/commands.h"
#include "cli/monitor_ports.h"
#include "common/file_io.h"
#include "common/numbers.h"
#include "monitor/capture_device.h"
#include "monitor/monitor_driver.h"
#include "monitor/monitor_requests.h"
#include "monitor/monitor_rows.h"
#include "monitor/record_walk.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace quillon::monitor;

// How long the command waits between reads when the helper had nothing: a
// line reaches its reader, and the output file, well within 100 ms.
constexpr int kIdleWaitMs = 50;
// One pass of reads gives way to the stop checks after this long.
constexpr int kReadSliceMs = 50;
// Longer than any run anyone means; keeps the deadline arithmetic finite.
constexpr double kLongestDuration = 100.0 * 365 * 24 * 3600;

volatile sig_atomic_t stopSignal = 0;

void onStopSignal(int signo) { stopSignal = signo; }

struct MonitorOptions {
    std::vector<std::string> ports;
    std::string include, exclude;
    bool noReads = false, noWrites = false, hex = false;
    std::string maxData = std::to_string(kLimitDefault);
    int32_t maxDataBytes = kLimitDefault;
    double duration = 0; // seconds; 0: no limit
    uint64_t count = 0;  // records; 0: no limit
    std::string output;
};

// Occupies closed standard descriptors, so the helper's channel can never
// become "standard output" and get the records written into it.
bool standardDescriptorsOpen()
{
    bool stdoutOpen = true;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        if (fd == STDOUT_FILENO) stdoutOpen = false;
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return stdoutOpen;
}

// The stop signals are held back except while the command waits, so they
// never cut a request to the helper short; while waiting they end the run.
class StopSignals {
public:
    StopSignals()
    {
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        // A signal ignored by whoever started us stays ignored: under nohup a
        // hangup must not end the capture, nor Ctrl-C a background job.
        sigemptyset(&handled_);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
            ::sigaction(s, &sa, nullptr);
            sigaddset(&handled_, s);
        }
        // A reader that went away shows as EPIPE on the write, not as death.
        ::signal(SIGPIPE, SIG_IGN);
    }
    void hold()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &waiting_);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waiting_, s);
    }
    // Waits for `fds` (may be none) for up to `ms`, stop signals let through.
    int wait(pollfd* fds, nfds_t n, int ms) const
    {
        const timespec ts{ms / 1000, (ms % 1000) * 1000000L};
        return ::ppoll(fds, n, &ts, &waiting_);
    }
    // A stop signal came, or is held back waiting to come.
    bool requested() const
    {
        if (stopSignal) return true;
        sigset_t pending;
        sigemptyset(&pending);
        ::sigpending(&pending);
        // An ignored signal sent while held back stays pending all the same;
        // it must not end the run.
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            if (sigismember(&handled_, s) && sigismember(&pending, s)) return true;
        return false;
    }

private:
    sigset_t waiting_{};
    sigset_t handled_{};
};

enum class WriteEnd { Written, ReaderGone, Stopped, Failed };

// Standard output or the -o file, written straight to its descriptor.
class RecordSink {
public:
    RecordSink(SafeOutput& out, bool toStdout, const StopSignals& signals)
        : out_(out), toStdout_(toStdout), signals_(signals)
    {
    }

    // A stdout pipe whose reader left, or a terminal hung up.
    bool readerGone() const
    {
        if (!toStdout_) return false;
        pollfd p{out_.fd(), 0, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL));
    }
    // Waits up to `ms` for a stop signal, or for standard output to go away.
    void idle(int ms) const
    {
        pollfd p{out_.fd(), 0, 0};
        signals_.wait(&p, toStdout_ ? 1 : 0, ms);
    }

    // Writes every byte of `text`. A reader that does not read (a paused
    // pager) is waited for with the stop signals let through, so Ctrl-C
    // still ends the run (Stopped: the text may be cut short).
    WriteEnd write(std::string_view text)
    {
        struct stat st {};
        const bool regular = ::fstat(out_.fd(), &st) == 0 && S_ISREG(st.st_mode);
        const off_t before = regular ? ::lseek(out_.fd(), 0, SEEK_CUR) : -1;
        while (!text.empty()) {
            pollfd p{out_.fd(), POLLOUT, 0};
            if (::poll(&p, 1, 0) == 0) {
                // Full: only while waiting for room does a stop signal end the run.
                const int ready = signals_.wait(&p, 1, 1000);
                if (stopSignal) return WriteEnd::Stopped;
                if (ready <= 0) continue;
            }
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL) && toStdout_ && !(p.revents & POLLOUT))
                return WriteEnd::ReaderGone;
            // No more than a pipe takes at once without blocking.
            const ssize_t n = ::write(out_.fd(), text.data(), std::min<size_t>(text.size(), PIPE_BUF));
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n < 0 && errno == EPIPE && toStdout_) return WriteEnd::ReaderGone;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                // A full disk leaves no half line at the end of the file.
                if (before >= 0 && ::ftruncate(out_.fd(), before) == 0) ::lseek(out_.fd(), before, SEEK_SET);
                return WriteEnd::Failed;
            }
            text.remove_prefix(static_cast<size_t>(n));
        }
        return WriteEnd::Written;
    }
    int error() const { return error_; }

private:
    SafeOutput& out_;
    bool toStdout_;
    const StopSignals& signals_;
    int error_ = 0;
};

class MonitorRun {
public:
    explicit MonitorRun(const MonitorOptions& o) : o_(o), driver_(&helper_) {}

    int run()
    {
        std::vector<PortName> ports;
        for (const auto& arg : o_.ports) {
            ports.push_back(portNameOf(arg));
            if (!ports.back().error.empty()) return fail(ports.back().error);
        }
        const bool toStdout = o_.output.empty() || o_.output == "-";
        if (!standardDescriptorsOpen() && toStdout) return fail("standard output is closed");
        SafeOutput out;
        if (!openOutput(out, o_.output)) return kExitFailure;
        if (const PortName* port = monitoredOutput(out.fd(), ports))
            return fail((toStdout ? std::string("standard output") : o_.output) + " is the monitored port " +
                        port->arg + ": every line written would be captured again, without end");
        RecordSink sink(out, toStdout, signals_);

        // Loaded as the page loads it: directly as root, through pkexec otherwise.
        if (!driver_.loadDriverService()) {
            if (signals_.requested()) return fail("interrupted before capture started");
            const monitor::HelperStart& why = helper_.lastStart();
            const bool bare = why.message.find(':') == std::string::npos && why.error;
            return fail("cannot start capture: " + why.message +
                        (bare ? std::string(": ") + std::strerror(why.error) : ""));
        }
        signals_.hold();
        const int rc = capture(ports, out, sink);
        stop();
        return rc;
    }

private:
    int capture(const std::vector<PortName>& ports, SafeOutput& out, RecordSink& sink)
    {
        platform::PortTables tables;
        for (const auto& p : ports) tables.portNames[tables.count++] = p.path;
        const uint32_t mask = tables.count == 32 ? ~0u : (1u << tables.count) - 1;
        const auto granted = driver_.hook(PortKind::Serial, mask, tables);
        if (!granted) return helperFailed("to hook the ports");
        bool refused = false;
        for (size_t i = 0; i < ports.size(); ++i) {
            if (*granted & (1u << i)) continue;
            refused = true;
            fail("cannot monitor " + ports[i].arg + ": " + refusalReason(ports[i].path));
        }
        if (refused) return kExitFailure;
        const CaptureSettings settings{{o_.include, o_.exclude, !o_.noReads, !o_.noWrites},
                                       [this] { return static_cast<uint32_t>(o_.maxDataBytes); },
                                       o_.hex,
                                       true};
        switch (driver_.setUpCapture(settings)) {
        case SetUpStep::None: break;
        case SetUpStep::Discard: return helperFailed("to discard old records");
        case SetUpStep::Filter: return helperFailed("to set the filter");
        case SetUpStep::MaxBytes: return helperFailed("to set the data bytes");
        case SetUpStep::Hex: return helperFailed("to set hexadecimal data");
        case SetUpStep::Start: return helperFailed("to start capture");
        }
        // Only now, with capture running, does the output take the place of the file it names.
        if (!out.publish()) return fail(out.error());

        std::string names;
        for (const auto& p : ports) names += (names.empty() ? "" : ", ") + p.path;
        std::cerr << kProgramName << ": monitoring " << names << (::isatty(STDERR_FILENO) ? " (Ctrl-C ends)" : "")
                  << std::endl;
        const auto deadline = o_.duration > 0 ? Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(std::ceil(
                                                                   std::min(o_.duration, kLongestDuration) * 1000)))
                                              : Clock::time_point::max();

        int rc = follow(sink, deadline);
        // What was captured before a stop signal or the end of the time is still shown.
        if (rc == kExitSuccess && ending_ == Ending::Asked) rc = drain(sink);
        if (!out.commit() && rc == kExitSuccess) rc = fail(out.error());
        return rc;
    }

    // Why the run ends: asked to (a signal, the time), enough records, the output.
    enum class Ending { None, Asked, Count, Output };

    int follow(RecordSink& sink, Clock::time_point deadline)
    {
        while (true) {
            if (signals_.requested() || Clock::now() >= deadline) {
                ending_ = Ending::Asked;
                return kExitSuccess;
            }
            if (sink.readerGone()) return kExitSuccess;
            const auto sliceEnd = Clock::now() + std::chrono::milliseconds(kReadSliceMs);
            const ReadEnd end = readInto(sink, [&] { return Clock::now() < sliceEnd; });
            if (ending_ != Ending::None) return writeStatus();
            if (end == ReadEnd::ChannelLost)
                return signals_.requested() ? kExitSuccess : helperFailed("to read records");
            if (end == ReadEnd::OutOfTime) continue;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            sink.idle(static_cast<int>(std::clamp<int64_t>(left, 0, kIdleWaitMs)));
        }
    }

    int drain(RecordSink& sink)
    {
        if (!driver_.send(kStopCapture)) return kExitSuccess; // gone with the signal: nothing left to show
        // The signal that ended the run is taken now; only a second one ends
        // a drain that waits for a reader.
        signals_.wait(nullptr, 0, 0);
        stopSignal = 0;
        ending_ = Ending::None;
        const auto until = Clock::now() + std::chrono::milliseconds(500);
        readInto(sink, [&] { return Clock::now() < until; });
        return writeStatus();
    }

    // Reads what the helper holds and writes its records; sets ending_ when
    // the count is reached or the output ends the run.
    ReadEnd readInto(RecordSink& sink, const std::function<bool()>& inTime)
    {
        lines_.clear();
        const ReadEnd end =
            driver_.readRecords([&] { return inTime() && ending_ == Ending::None; },
                                [&](std::span<const uint8_t> buffer) {
                                    walkRecords(buffer, buffer.size(), [&](const CapturedRecord& record) {
                                        if (record.fieldCount == 0 || ending_ == Ending::Count) return;
                                        appendLogLine(lines_, record);
                                        if (o_.count && ++printed_ >= o_.count) ending_ = Ending::Count;
                                    });
                                });
        if (!lines_.empty()) {
            writeEnd_ = sink.write(lines_);
            // Stopped while the output was full: nothing more can follow a line cut short.
            if (writeEnd_ != WriteEnd::Written) ending_ = Ending::Output;
            if (writeEnd_ == WriteEnd::Failed) writeError_ = sink.error();
        }
        return end;
    }

    int writeStatus() const
    {
        if (writeEnd_ != WriteEnd::Failed) return kExitSuccess;
        const std::string target = o_.output.empty() || o_.output == "-" ? "standard output" : o_.output;
        return fail("cannot write " + target + ": " + std::strerror(writeError_));
    }

    int helperFailed(const std::string& what)
    {
        if (!driver_.handleValid()) return fail("the capture helper stopped answering when asked " + what);
        return fail("the capture helper refused " + what);
    }

    // Capture off and the helper gone, whatever ended the run.
    void stop()
    {
        if (driver_.handleValid()) driver_.send(kStopCapture);
        driver_.closeMonitor();
    }

    const MonitorOptions& o_;
    StopSignals signals_;
    monitor::HelperCaptureDevice helper_;
    MonitorDriver driver_;
    std::string lines_;
    uint64_t printed_ = 0;
    Ending ending_ = Ending::None;
    WriteEnd writeEnd_ = WriteEnd::Written;
    int writeError_ = 0;
};

int checkedRun(MonitorOptions& o)
{
    const auto maxData = parseWholeNumber(o.maxData);
    if (!maxData || *maxData < 0 || *maxData > kMaxBytesLimit)
        return usageError("--max-data takes a whole number from 0 to " + std::to_string(kMaxBytesLimit) + ", not '" +
                          o.maxData + "'");
    o.maxDataBytes = *maxData;
    if (o.ports.size() > kHookablePorts)
        return usageError("at most " + std::to_string(kHookablePorts) + " ports at once");
    for (const auto* terms : {&o.include, &o.exclude})
        if (terms->size() >= kFilterFieldSize)
            return usageError("--include and --exclude take at most " + std::to_string(kFilterFieldSize - 1) +
                              " bytes each");
    if (!std::isfinite(o.duration) || o.duration < 0)
        return usageError("--duration must be a positive number of seconds");
    MonitorRun run(o);
    return run.run();
}

} // namespace

Command addMonitorCommand(CLI::App& app)
{
    auto o = std::make_shared<MonitorOptions>();
    auto* cmd = app.add_subcommand(
        "monitor", "capture what programs do on serial and parallel ports (needs root, or pkexec to become it)");
    cmd->footer("Each record is printed as it comes, as the monitor page's capture log writes it: program, request,\n"
                "device, result and other, separated by tabs, CR LF after each. A line with an empty first field\n"
                "completes a request that blocked; an OVERFLOW line says how many records were dropped.\n"
                "Runs until Ctrl-C or SIGTERM, --duration, --count, or until standard output is closed, and exits 0\n"
                "on each of these; 1 when capture cannot start (the -o file is then left as it was) or the helper\n"
                "fails while capturing (the -o file keeps what was captured); 2 on a usage error.\n"
                "Example:\n"
                "  quillon-cli monitor /dev/ttyUSB0 --include 'IRP_MJ_READ;IRP_MJ_WRITE' --count 100\n"
                "  quillon-cli monitor ttyACM0 /dev/serial/by-id/usb-FTDI_FT232R-if00 --duration 60 -o bench.log");
    cmd->add_option("ports", o->ports,
                    "ports to watch: /dev paths (links included), names under /dev (ttyS0), or links to a port")
        ->type_name("PORT")
        ->required();
    cmd->add_option("--include", o->include,
                    "only records whose program, request or device matches one of these ';'-separated terms "
                    "('*' and '?' wildcards, any case)")
        ->type_name("TERMS");
    cmd->add_option("--exclude", o->exclude, "no records that match one of these terms")->type_name("TERMS");
    cmd->add_flag("--no-reads", o->noReads, "do not capture reads");
    cmd->add_flag("--no-writes", o->noWrites, "do not capture writes");
    cmd->add_flag("--hex", o->hex, "data as hexadecimal bytes instead of text");
    cmd->add_option("--max-data", o->maxData, "data bytes shown per request, 0 to 8192")
        ->type_name("N")
        ->capture_default_str();
    cmd->add_option("--duration", o->duration, "stop after this many seconds (fractions allowed)")
        ->type_name("SECONDS")
        ->check(CLI::PositiveNumber);
    cmd->add_option("--count", o->count, "stop after this many records (lines)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    cmd->add_option("-o,--output", o->output,
                    "file to write instead of standard output; it grows as records come (tail -f follows it)")
        ->type_name("FILE");
    return {cmd, [o] { return checkedRun(*o); }};
}

} // namespace quillon::cli
