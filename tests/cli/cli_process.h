#pragma once
// quillon-cli run as a separate process whose standard output and error the
// test reads as they come (pipes), and can close or signal while it runs.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace quillon::test {

class CliProcess {
public:
    // `stdoutPath` empty: standard output is a pipe the test reads.
    CliProcess(const std::string& program, std::vector<std::string> args, const std::string& stdoutPath = {})
    {
        int out[2] = {-1, -1}, err[2] = {-1, -1};
        if (::pipe2(err, O_CLOEXEC) != 0) return;
        if (stdoutPath.empty() && ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdoutPath.empty())
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        else
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0644);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(err[1]);
        err_ = err[0];
        if (stdoutPath.empty()) {
            ::close(out[1]);
            out_ = out[0];
        }
    }
    ~CliProcess()
    {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeStdout();
        if (err_ >= 0) ::close(err_);
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Reads standard output until it holds `lines` CR LF lines or `ms` pass.
    const std::string& readLines(size_t lines, int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (countLines(out) < lines && std::chrono::steady_clock::now() < until)
            if (readSome(out_, out, 20) < 0) break;
        return out;
    }
    // Reads standard error until it holds `text` or `ms` pass.
    bool waitForStderr(const std::string& text, int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (err.find(text) == std::string::npos && std::chrono::steady_clock::now() < until)
            if (readSome(err_, err, 20) < 0) break;
        return err.find(text) != std::string::npos;
    }
    // The reader goes away, as `head` does after its lines.
    void closeStdout()
    {
        if (out_ >= 0) ::close(out_);
        out_ = -1;
    }

    // The exit code, or -1 after a signal, or -2 if it is still running after `ms`.
    int wait(int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!exited_) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                termSignal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
                break;
            }
            if (std::chrono::steady_clock::now() >= until) return -2;
            // Keep the pipes drained so the program never waits on us.
            if (out_ >= 0) readSome(out_, out, 5);
            readSome(err_, err, 5);
        }
        if (out_ >= 0)
            while (readSome(out_, out, 0) > 0) {}
        while (readSome(err_, err, 0) > 0) {}
        return code_;
    }
    int termSignal() const { return termSignal_; }

    std::string out, err;

private:
    static size_t countLines(const std::string& s)
    {
        size_t n = 0;
        for (size_t at = s.find("\r\n"); at != std::string::npos; at = s.find("\r\n", at + 2)) ++n;
        return n;
    }
    // 1 when bytes came, 0 when none came within `ms`, -1 at end of file.
    static int readSome(int fd, std::string& into, int ms)
    {
        if (fd < 0) return -1;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return 0;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return -1;
        into.append(buf, static_cast<size_t>(n));
        return 1;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool exited_ = false;
    int code_ = -1, termSignal_ = 0;
};

} // namespace quillon::test
