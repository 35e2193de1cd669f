// quillon-portmon: loads the port monitor's eBPF programs and answers the
// program's device requests over standard input and output. Runs with
// privilege, so it trusts nothing it reads: it runs nothing for the client,
// opens no file but what libbpf needs, and looks at a port only beneath
// /dev and only if its user could open it (port_access.h).

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "monitor/capture/capture_engine.h"
#include "monitor/capture/ioctl_decode.h"
#include "monitor/capture/port_access.h"
#include "monitor/capture/syscall_table.h"
#include "portmon.skel.h"

using namespace quillon::capture;

namespace {

std::string libbpfLog;

int collectLibbpfLog(enum libbpf_print_level level, const char* fmt, va_list args)
{
    if (getenv("QUILLON_PORTMON_DEBUG")) return vfprintf(stderr, fmt, args);
    if (level == LIBBPF_DEBUG || libbpfLog.size() > 4096) return 0;
    char buf[512];
    vsnprintf(buf, sizeof buf, fmt, args);
    libbpfLog += buf;
    return 0;
}

uint64_t clockNs(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000 + uint64_t(ts.tv_nsec);
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool sendAnswer(const Answer& a) { return writeAll(STDOUT_FILENO, encodeAnswer(a)); }

bool sendHello(bool ok, int error, const std::string& text)
{
    std::vector<uint8_t> f;
    putU32(f, kHelloMagic);
    Answer a{ok, error, std::vector<uint8_t>(text.begin(), text.end())};
    std::vector<uint8_t> body = encodeAnswer(a);
    f.insert(f.end(), body.begin(), body.end());
    return writeAll(STDOUT_FILENO, f);
}

class BpfKernel : public KernelControl {
public:
    explicit BpfKernel(portmon_bpf* skel) : skel_(skel) {}

    int setCapture(bool on) override
    {
        config_.capture = on ? 1 : 0;
        return writeConfig();
    }
    int setMaxBytes(uint32_t bytes) override
    {
        config_.max_bytes = bytes;
        return writeConfig();
    }
    int setHooks(const std::map<uint64_t, uint32_t>& nodeSlots) override
    {
        const int fd = bpf_map__fd(skel_->maps.hooked);
        for (uint64_t node : current_) {
            if (nodeSlots.count(node)) continue;
            const qpm_node_key key = keyOf(node);
            bpf_map_delete_elem(fd, &key);
        }
        current_.clear();
        int err = 0;
        for (const auto& [dev, slot] : nodeSlots) {
            const qpm_node_key key = keyOf(dev);
            if (bpf_map_update_elem(fd, &key, &slot, BPF_ANY) != 0)
                err = errno;
            else
                current_.push_back(dev);
        }
        config_.hooks = static_cast<uint32_t>(current_.size());
        if (int e = writeConfig(); e && !err) err = e;
        return err;
    }
    int writeConfig()
    {
        uint32_t zero = 0;
        return bpf_map_update_elem(bpf_map__fd(skel_->maps.config), &zero, &config_, BPF_ANY) == 0 ? 0 : errno;
    }
    uint64_t lostEvents()
    {
        uint32_t zero = 0;
        uint64_t n = 0;
        bpf_map_lookup_elem(bpf_map__fd(skel_->maps.lost), &zero, &n);
        return n;
    }

    qpm_config config_{0, 64, 0, 0};

private:
    static qpm_node_key keyOf(uint64_t node)
    {
        return {static_cast<uint32_t>(node >> 32), static_cast<uint32_t>(node)};
    }

    portmon_bpf* skel_;
    std::vector<uint64_t> current_;
};

// Events taken from the kernel's ring buffer at one go. A writer as fast as
// we are keeps the buffer from ever running empty, and a read answered only
// once it has would keep the program waiting for seconds; what is left over
// is taken on the next pass, without waiting.
constexpr size_t kEventsPerTake = 4096;

struct RingTake {
    CaptureEngine* engine;
    size_t left = 0;
    bool cut = false; // the last pass ended with events still waiting
};

int onRingEvent(void* ctx, void* data, size_t size)
{
    auto* take = static_cast<RingTake*>(ctx);
    take->engine->onEvent({static_cast<const uint8_t*>(data), size});
    // The event is consumed either way; a negative answer only ends the pass.
    if (--take->left > 0) return 0;
    take->cut = true;
    return -1;
}

void takeEvents(ring_buffer* rb, RingTake& take)
{
    take.left = kEventsPerTake;
    take.cut = false;
    ring_buffer__consume(rb);
}

// Loads and attaches, or says why not.
portmon_bpf* load(int& error, std::string& reason)
{
    if (access("/sys/kernel/btf/vmlinux", R_OK) != 0) {
        error = errno ? errno : ENOENT;
        reason = "no BTF: /sys/kernel/btf/vmlinux is missing, this kernel cannot run the capture programs";
        return nullptr;
    }
    if (syscallTable().empty()) {
        error = ENOSYS;
        reason = "no system call table for this architecture";
        return nullptr;
    }
    libbpf_set_print(collectLibbpfLog);
    portmon_bpf* skel = portmon_bpf__open();
    if (!skel) {
        error = errno;
        reason = "cannot open the capture programs: " + libbpfLog;
        return nullptr;
    }
    if (portmon_bpf__load(skel) != 0) {
        error = errno;
        reason = (error == EPERM || error == EACCES)
                     ? "no privilege: loading eBPF needs root or CAP_BPF and CAP_PERFMON"
                     : "no BPF: the kernel refused the capture programs: " + libbpfLog;
        portmon_bpf__destroy(skel);
        return nullptr;
    }
    const std::pair<int, std::span<const SyscallEntry>> tables[] = {
        {bpf_map__fd(skel->maps.kinds), syscallTable()}, {bpf_map__fd(skel->maps.kinds32), compatSyscallTable()}};
    for (const auto& [map, table] : tables)
        for (const SyscallEntry& e : table) {
            uint32_t kind = e.kind;
            if (e.number < QPM_MAX_SYSCALL) bpf_map_update_elem(map, &e.number, &kind, BPF_ANY);
        }
    const int copies = bpf_map__fd(skel->maps.ioctl_copy);
    for (const IoctlCopy& c : ioctlCopyTable()) {
        qpm_ioctl_copy v{c.inLen, c.outLen};
        bpf_map_update_elem(copies, &c.command, &v, BPF_ANY);
    }
    if (portmon_bpf__attach(skel) != 0) {
        error = errno;
        reason = "cannot attach the capture programs: " + libbpfLog;
        portmon_bpf__destroy(skel);
        return nullptr;
    }
    return skel;
}

// The signals that end the helper, taken as readable events of one descriptor.
int stopSignalsFd()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    return signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Answers requests until the program asks us to quit, goes away, or a stop
// signal comes; between requests the kernel's events are taken in.
void serve(CaptureEngine& engine, BpfKernel& kernel, ring_buffer* rb, RingTake& take, int sigFd)
{
    fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    RequestParser parser;
    std::vector<Request> requests;
    uint64_t lostSeen = 0;
    bool running = true;
    std::vector<uint8_t> buf(65536);
    while (running) {
        pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {sigFd, POLLIN, 0}, {ring_buffer__epoll_fd(rb), POLLIN, 0}};
        // Events left over from a cut pass are taken at once.
        int n = ::poll(fds, 3, take.cut ? 0 : 10);
        if (n < 0 && errno != EINTR) break;
        takeEvents(rb, take);
        engine.setClockOffset(int64_t(clockNs(CLOCK_REALTIME)) - int64_t(clockNs(CLOCK_MONOTONIC)));
        if (uint64_t lost = kernel.lostEvents(); lost > lostSeen) {
            engine.addLost(lost - lostSeen);
            lostSeen = lost;
        }
        engine.flushPending(clockNs(CLOCK_MONOTONIC));
        if (fds[1].revents) break;
        if (fds[0].revents) {
            ssize_t got = ::read(STDIN_FILENO, buf.data(), buf.size());
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break; // the program is gone
            if (got > 0) parser.feed({buf.data(), static_cast<size_t>(got)}, requests);
        }
        for (const Request& r : requests) {
            if (r.code == kHelperQuit) {
                sendAnswer(Answer::success());
                running = false;
                break;
            }
            if (r.code == kReadRecords) {
                // Hand over what the kernel has passed so far (one take at most).
                takeEvents(rb, take);
                engine.flushPending(clockNs(CLOCK_MONOTONIC));
            }
            if (!sendAnswer(engine.handle(r))) {
                running = false;
                break;
            }
        }
        requests.clear();
    }
}

} // namespace

int main(int argc, char** argv)
{
    // No capture may outlive the program that started us.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    signal(SIGPIPE, SIG_IGN);
    const int sigFd = stopSignalsFd();
    if (getppid() == 1) return 1; // the parent is already gone

    int error = 0;
    std::string reason;
    portmon_bpf* skel = load(error, reason);
    if (!skel) {
        sendHello(false, error, reason);
        return 2;
    }
    BpfKernel kernel(skel);
    kernel.config_.self_pid = static_cast<uint32_t>(getpid());
    kernel.writeConfig();

    // Names are resolved beneath this descriptor only, for the user who started us.
    const int devDir = ::open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const Invoker invoker = invokingUser(::getuid(), getenv("PKEXEC_UID"));
    CaptureEngine engine(kernel, [devDir, &invoker](const std::string& path) -> std::optional<uint64_t> {
        std::optional<PortNode> node = resolvePort(devDir, path, invoker);
        if (!node) return std::nullopt;
        return node->key();
    });
    RingTake take{&engine};
    ring_buffer* rb = ring_buffer__new(bpf_map__fd(skel->maps.events), onRingEvent, &take, nullptr);
    if (!rb) {
        sendHello(false, errno, "cannot open the capture ring buffer");
        portmon_bpf__destroy(skel);
        return 2;
    }
    if (!sendHello(true, 0, "quillon-portmon 1")) {
        ring_buffer__free(rb);
        portmon_bpf__destroy(skel);
        return 1;
    }

    serve(engine, kernel, rb, take, sigFd);
    // Destroying the skeleton detaches every program it attached.
    ring_buffer__free(rb);
    portmon_bpf__destroy(skel);
    return 0;
}
