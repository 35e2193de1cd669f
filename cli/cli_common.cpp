#include "cli/cli_common.h"

#include "common/file_io.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillon::cli {

const char* version() { return QUILLON_VERSION; }

InputLimits& inputLimits()
{
    static InputLimits limits;
    return limits;
}

std::string sizeText(uint64_t bytes)
{
    if (bytes != 0 && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes != 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

void setUpApp(CLI::App& app)
{
    app.name(kProgramName);
    app.set_version_flag("--version", std::string(kProgramName) + " " + version());
    app.footer("Exit status: 0 success, 1 failure (nothing written to a named output file), 2 usage error.\n"
               "A file argument of '-' means standard input or standard output.\n");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string(kProgramName) + ": " + e.what() + "\nRun '" + kProgramName +
               " --help' for more information.\n";
    });
    // Options of the main command may also follow the command's own.
    app.fallthrough();
    InputLimits& limits = inputLimits();
    app.add_option("--max-size", limits.maxSize,
                   "largest image hex2bin writes, and largest input taken from a pipe or device (K, M, G suffixes)")
        ->transform(CLI::AsSizeValue(false))
        ->default_str("256M");
    app.add_option("--wait", limits.waitSeconds, "seconds to wait for the writer of a FIFO given as input")
        ->check(CLI::Range(0, 86400))
        ->capture_default_str();
}

std::optional<int> parseArguments(CLI::App& app, int argc, char** argv)
{
    // The parser reads "--opt=" (an empty value) as a missing value and takes
    // the next argument instead; hand it over as an explicit "".
    std::vector<std::string> args(argv, argv + argc);
    for (std::size_t i = args.size(); i-- > 1;) {
        const std::string& a = args[i];
        if (a.size() > 3 && a.compare(0, 2, "--") == 0 && a.find('=') == a.size() - 1) {
            args[i].pop_back();
            args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::string());
        }
    }
    std::vector<char*> ptrs;
    for (auto& a : args) ptrs.push_back(a.data());
    try {
        app.parse(static_cast<int>(ptrs.size()), ptrs.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitSuccess : kExitUsage;
    }
    return std::nullopt;
}

int fail(std::string_view text)
{
    std::cout.flush();
    std::cerr << kProgramName << ": " << text << "\n";
    return kExitFailure;
}

int usageError(std::string_view text)
{
    fail(text);
    return kExitUsage;
}

int finish(int status)
{
    std::cout.flush();
    const bool coutFailed = !std::cout;
    errno = 0;
    const bool flushFailed = std::fflush(stdout) != 0 || std::ferror(stdout);
    if (coutFailed || flushFailed) {
        const int err = errno;
        std::cerr << kProgramName << ": cannot write standard output"
                  << (err ? std::string(": ") + std::strerror(err) : "") << "\n";
        return kExitFailure;
    }
    return status;
}

std::string inputPath(const std::string& arg) { return arg == "-" ? std::string("/dev/stdin") : arg; }

std::optional<std::string> takeInput(const std::string& arg)
{
    const std::string path = inputPath(arg);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        return path; // the reader reports what is wrong with it
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) return path;
    const InputLimits& limits = inputLimits();
    const std::string name = arg == "-" ? std::string("standard input") : arg;
    auto failWith = [&](const std::string& text) -> std::optional<std::string> {
        ::close(in);
        fail(text);
        return std::nullopt;
    };
    if (S_ISFIFO(st.st_mode)) {
        // Opened without waiting; now wait, bounded, for a writer's data or its close.
        pollfd p{in, POLLIN, 0};
        int n;
        do n = ::poll(&p, 1, limits.waitSeconds * 1000);
        while (n < 0 && errno == EINTR);
        if (n == 0)
            return failWith("nothing written to " + name + " within " + std::to_string(limits.waitSeconds) +
                            " s (--wait gives more time)");
    }
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
    const int copy = ::memfd_create("quillon-input", MFD_CLOEXEC);
    if (copy < 0) return failWith(std::string("cannot hold the input: ") + std::strerror(errno));
    std::vector<char> buf(1 << 16);
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) {
            const int err = errno;
            ::close(copy);
            return failWith("cannot read " + name + ": " + std::strerror(err));
        }
        if (n == 0) break;
        total += static_cast<uint64_t>(n);
        if (total > limits.maxSize) {
            ::close(copy);
            return failWith(name + " is longer than " + sizeText(limits.maxSize) + " (--max-size raises the limit)");
        }
        if (!writeAll(copy, std::string_view(buf.data(), static_cast<std::size_t>(n)))) {
            const int err = errno;
            ::close(copy);
            return failWith(std::string("cannot hold the input: ") + std::strerror(err));
        }
    }
    ::close(in);
    // Kept open for the life of the process; the reader opens it by name.
    return "/proc/self/fd/" + std::to_string(copy);
}

bool openOutput(SafeOutput& out, const std::string& outputArg, const std::string& input)
{
    if (outputArg.empty() || outputArg == "-") {
        std::cout.flush();
        std::fflush(stdout);
        out.openStdout();
        return true;
    }
    if (!input.empty() && sameRegularFile(inputPath(input), outputArg)) {
        fail("output " + outputArg + " is the input file");
        return false;
    }
    if (!out.open(outputArg)) {
        fail(out.error());
        return false;
    }
    return true;
}

int commitOutput(SafeOutput& out)
{
    if (!out.commit()) return fail(out.error());
    return kExitSuccess;
}

int writeOutput(const std::string& outputArg, std::string_view text, const std::string& input)
{
    SafeOutput out;
    if (!openOutput(out, outputArg, input)) return kExitFailure;
    if (!writeAll(out.fd(), text)) {
        const int err = errno;
        out.abandon();
        return fail("cannot write " + out.target() + ": " + std::strerror(err));
    }
    return commitOutput(out);
}

} // namespace quillon::cli
