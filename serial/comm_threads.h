#pragma once
// The threads that serve an open port: one reader for the life of the
// connection, one writer per send. They never touch the window; they talk
// to it through a CommSink.

#include "platform/comm_port.h"
#include "serial/comm_messages.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace quillon::serial {

class CommSink {
public:
    virtual ~CommSink() = default;
    // Queues a report for the session and returns at once.
    virtual void report(const CommReport& report) = 0;

    void bytesReceived(intptr_t count) { report({WM_COMM_RECEIVED, count}); }
    void receiveIdle() { report({WM_COMM_IDLE}); }
    void commError() { report({WM_COMM_ERROR}); }
    void sendProgress(uint64_t send, intptr_t count) { report({WM_COMM_SENDING, count, send}); }
    void sendDone(uint64_t send, intptr_t count) { report({WM_COMM_SENT, count, send}); }

    // Has the window take the chunk and returns once it has been shown.
    // False when the connection is closing and takes no more chunks.
    virtual bool deliver(std::span<const uint8_t> chunk) = 0;
    // Something the user must be told, shown by the window's thread.
    virtual void reportFailure(CommFailure failure) = 0;
};

// Interval of the idle report, of the progress reports and of the retries
// on a failing device.
inline constexpr int kCommTickMs = 500;

// A thread serving the port: started once, asked to stop through its
// signal, joined. The thread runs the owner's Execute() on the owner's
// members, so the owner's destructor stops and joins it.
class CommThread {
public:
    virtual ~CommThread() = default;
    CommThread(const CommThread&) = delete;
    CommThread& operator=(const CommThread&) = delete;

    // Throws std::system_error when the thread can't be created.
    void start()
    {
        thread_ = std::thread([this] { Execute(); });
    }
    void requestStop() { stop_.request(); }
    void join()
    {
        if (thread_.joinable()) thread_.join();
    }

protected:
    CommThread() = default;
    void stopAndJoin()
    {
        requestStop();
        join();
    }
    virtual void Execute() = 0;

    platform::StopSignal stop_;

private:
    std::thread thread_;
};

class TRead : public CommThread {
public:
    static constexpr size_t kBufferSize = 2048;

    TRead(platform::CommPort& port, CommSink& window);
    ~TRead() override { stopAndJoin(); }

private:
    void Execute() override;

    platform::CommPort& PortHandle;
    CommSink& Window;
    std::array<uint8_t, kBufferSize> Buffer{};
    uint32_t Count = 0;
};

class TWrite : public CommThread {
public:
    static constexpr size_t kBlockSize = 512;

    // `data` is the text to send, or the file's path when `fromFile`;
    // `sendId` tags the writer's reports.
    TWrite(platform::CommPort& port, bool hexMode, bool fromFile, std::vector<uint8_t> data, CommSink& window,
           uint64_t sendId = 0);
    ~TWrite() override { stopAndJoin(); }

    bool finished() const { return finished_.load(std::memory_order_acquire); }

private:
    void Execute() override;
    void run();
    void sendText();
    void sendFile();
    enum class BlockResult { Written, Stopped, Failed, TimedOut };
    // Hands all of `bytes` to the device; `done` counts what it took.
    // A failure has been reported when this returns Failed. TimedOut: the
    // device took nothing for `stallLimitMs` (0: wait as long as it takes).
    BlockResult writeBlock(const uint8_t* bytes, size_t size, size_t& done, int32_t& reported, int64_t stallLimitMs);

    platform::CommPort& PortHandle;
    CommSink& Window;
    std::vector<uint8_t> Data;
    bool FromFile;
    bool HexMode;
    int32_t Length;
    std::atomic<bool> finished_{false};
    int64_t lastReportMs_ = 0;
    uint64_t sendId_;
};

} // namespace quillon::serial
