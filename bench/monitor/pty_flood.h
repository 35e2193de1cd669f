#pragma once
// The monitor benchmarks' load: a pseudo-terminal whose master end is
// drained by a thread, and a separate writer process (this same program,
// run in a child mode) doing 64-byte writes to its slave.
//
// Child modes, checked first thing in main():
//   PROGRAM --writer SLAVE SECONDS        as fast as it can
//   PROGRAM --paced SLAVE RATE SECONDS    RATE writes a second
// Both print "WRITES WALL-RATE CPU-RATE" on standard output.

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace quillon::bench {

double nowSeconds();

// True when argv asks for one of the writer modes above.
bool isWriterChild(int argc, char** argv);
int runWriterChild(int argc, char** argv);

// What a writer did: its writes, writes per second of wall time, and per
// second of its own CPU time (less swayed by whatever else runs on a shared machine).
struct WriterResult {
    long long writes = 0;
    double wall = 0;
    double cpu = 0;
};

// A child process with its standard output on a pipe.
class Child {
public:
    Child() = default;
    explicit Child(std::vector<std::string> args, const std::vector<std::string>& prefix = {});
    Child(Child&& other) noexcept;
    Child& operator=(Child&&) = delete;
    ~Child();

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Reaps the child if it has ended; never waits.
    bool exited();
    // Waits for the end, then hands out all it printed.
    std::string finish();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
};

// The writer, started on `slave`: `rate` 0 writes as fast as it can.
// `prefix` runs it under another program (strace ...).
Child startWriter(const std::string& slave, double seconds, long rate = 0, const std::vector<std::string>& prefix = {});
WriterResult writerResult(const std::string& printed);

// A raw pty whose master end takes everything, so a writer never waits for room.
class DrainedPty {
public:
    DrainedPty();
    ~DrainedPty();
    DrainedPty(const DrainedPty&) = delete;
    DrainedPty& operator=(const DrainedPty&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& slavePath() const { return slave_; }
    long long drainedBytes() const { return drained_; }

private:
    int master_ = -1;
    int slaveFd_ = -1;
    std::string slave_;
    std::atomic<bool> draining_{true};
    std::atomic<long long> drained_{0};
    std::thread drain_;
};

} // namespace quillon::bench
