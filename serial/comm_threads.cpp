#include "serial/comm_threads.h"

#include "serial/hex_text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace quillon::serial {

namespace {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

// ---------------------------------------------------------------------- TRead

TRead::TRead(platform::CommPort& port, CommSink& window) : PortHandle(port), Window(window) {}

void TRead::Execute()
{
    // Within a failure burst the error is reported once and the device is
    // only tried again every tick: a vanished adapter must not flood the
    // window with messages or spin this thread.
    bool failing = false;
    auto fail = [&] {
        if (!failing) Window.commError();
        failing = true;
        stop_.sleepFor(kCommTickMs);
    };

    while (!stop_.requested()) {
        const platform::WaitResult w = PortHandle.waitReadable(kCommTickMs, stop_);
        if (w == platform::WaitResult::Stopped) break;
        if (w == platform::WaitResult::Timeout) {
            failing = false;
            Window.receiveIdle();
            continue;
        }
        if (w == platform::WaitResult::Failed) {
            fail();
            continue;
        }
        // Read what is queued, at most one buffer; a steady stream is read
        // back to back without waiting for the next wake-up.
        const int queued = PortHandle.queued();
        if (queued < 0) {
            fail();
            continue;
        }
        const size_t want = queued == 0 ? kBufferSize : std::min<size_t>(static_cast<size_t>(queued), kBufferSize);
        const ssize_t k = PortHandle.read(Buffer.data(), want);
        if (k > 0) {
            failing = false;
            Count = static_cast<uint32_t>(k);
            if (!Window.deliver(std::span<const uint8_t>(Buffer.data(), Count))) break;
            Window.bytesReceived(static_cast<intptr_t>(Count));
            continue;
        }
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Woken with nothing to read: don't spin if a driver keeps doing that.
            stop_.sleepFor(1);
            continue;
        }
        // A terminal that hung up reads 0 bytes; anything else is a failure too.
        fail();
    }
}

// --------------------------------------------------------------------- TWrite

TWrite::TWrite(platform::CommPort& port, bool hexMode, bool fromFile, std::vector<uint8_t> data, CommSink& window,
               uint64_t sendId)
    : PortHandle(port), Window(window), Data(std::move(data)), FromFile(fromFile), HexMode(hexMode),
      Length(static_cast<int32_t>(Data.size())), sendId_(sendId)
{
}

void TWrite::Execute()
{
    run();
    finished_.store(true, std::memory_order_release);
}

TWrite::BlockResult TWrite::writeBlock(const uint8_t* bytes, size_t size, size_t& done, int32_t& reported,
                                       int64_t stallLimitMs)
{
    done = 0;
    int64_t lastProgress = nowMs();
    // A slow line that is still sending is not stalled: the device's queue
    // shrinking counts as progress as much as it taking new bytes.
    int lastOut = stallLimitMs > 0 ? PortHandle.outQueued() : -1;
    while (done < size) {
        if (stop_.requested()) return BlockResult::Stopped;
        const ssize_t n = PortHandle.write(bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            lastProgress = nowMs();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Window.commError();
            return BlockResult::Failed;
        }
        if (stallLimitMs > 0) {
            const int out = PortHandle.outQueued();
            if (out != lastOut) lastProgress = nowMs();
            lastOut = out;
            if (nowMs() - lastProgress >= stallLimitMs) return BlockResult::TimedOut;
        }
        // The device's queue is full: wait for room, reporting progress
        // every tick while the line is slow.
        int64_t wait = lastReportMs_ + kCommTickMs - nowMs();
        if (stallLimitMs > 0) wait = std::min(wait, lastProgress + stallLimitMs - nowMs());
        const platform::WaitResult w = PortHandle.waitWritable(wait > 0 ? static_cast<int>(wait) : 0, stop_);
        if (w == platform::WaitResult::Stopped) return BlockResult::Stopped;
        if (w == platform::WaitResult::Failed) {
            Window.commError();
            return BlockResult::Failed;
        }
        if (nowMs() - lastReportMs_ >= kCommTickMs) {
            Window.sendProgress(sendId_, reported);
            reported = 0;
            lastReportMs_ = nowMs();
        }
    }
    return BlockResult::Written;
}

void TWrite::run()
{
    lastReportMs_ = nowMs();
    if (FromFile)
        sendFile();
    else
        sendText();
}

void TWrite::sendText()
{
    if (HexMode) {
        HexTextToBytes(Data);
        Length = static_cast<int32_t>(Data.size());
    }
    // The port's write timeout ends a text send the device stops taking
    // (a stalled handshake, a halted target): timed sending and replies
    // start a writer on every tick and must not pile them up behind it.
    platform::CommTimeouts t;
    PortHandle.getTimeouts(t);
    const int64_t stallLimit = int64_t{t.WriteTotalTimeoutMultiplier} * Length + t.WriteTotalTimeoutConstant;
    size_t done = 0;
    int32_t reported = 0;
    switch (writeBlock(Data.data(), static_cast<size_t>(Length), done, reported, stallLimit)) {
    case BlockResult::Written: Window.sendDone(sendId_, Length); break;
    // A send that failed or timed out still ends: count what the device
    // took and give the buttons back.
    case BlockResult::TimedOut:
    case BlockResult::Failed: Window.sendDone(sendId_, static_cast<intptr_t>(done)); break;
    case BlockResult::Stopped: break;
    }
}

void TWrite::sendFile()
{
    int32_t reported = 0;
    const std::string path(Data.begin(), Data.end());
    // Non-blocking, so a pipe or device picked as the file can't hold this
    // thread (and a close of the port waiting for it) beyond a stop request.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        Window.reportFailure(CommFailure::SendFileOpen);
        Window.sendDone(sendId_, 0);
        return;
    }
    Data.assign(kBlockSize + 1, 0);
    while (!stop_.requested()) {
        ssize_t n;
        do n = ::read(fd, Data.data(), kBlockSize);
        while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p[2] = {{fd, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
            ::poll(p, stop_.fd() >= 0 ? 2 : 1, kCommTickMs);
            continue;
        }
        if (n < 0) {
            // The rest of the file can't be read: say so, and end the send.
            Window.commError();
            Window.sendDone(sendId_, reported);
            break;
        }
        if (n == 0) {
            Window.sendDone(sendId_, reported);
            break;
        }
        Length = static_cast<int32_t>(n);
        size_t done = 0;
        // A file goes out whole or until stopped, however slowly the line takes it.
        const BlockResult r = writeBlock(Data.data(), static_cast<size_t>(Length), done, reported, 0);
        if (r == BlockResult::Stopped) break;
        if (r == BlockResult::Failed) {
            Window.sendDone(sendId_, reported + static_cast<int32_t>(done));
            break;
        }
        reported += Length;
        // Between blocks too, so a fast line still shows progress.
        if (nowMs() - lastReportMs_ >= kCommTickMs) {
            Window.sendProgress(sendId_, reported);
            reported = 0;
            lastReportMs_ = nowMs();
        }
    }
    ::close(fd);
}

} // namespace quillon::serial
