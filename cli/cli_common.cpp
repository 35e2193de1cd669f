#include "cli/cli_common.h"

#include "common/file_io.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

namespace quillon::cli {

const char* version() { return QUILLON_VERSION; }

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
    for (auto& a : args)
        ptrs.push_back(a.data());
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

int finish(int status)
{
    std::cout.flush();
    const bool coutFailed = !std::cout;
    errno = 0;
    const bool flushFailed = std::fflush(stdout) != 0 || std::ferror(stdout);
    if (coutFailed || flushFailed) {
        const int err = errno;
        std::cerr << kProgramName << ": cannot write standard output" << (err ? std::string(": ") + std::strerror(err) : "")
                  << "\n";
        return kExitFailure;
    }
    return status;
}

std::string inputPath(const std::string& arg) { return arg == "-" ? std::string("/dev/stdin") : arg; }

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
    if (!out.commit())
        return fail(out.error());
    return kExitSuccess;
}

int writeOutput(const std::string& outputArg, std::string_view text, const std::string& input)
{
    SafeOutput out;
    if (!openOutput(out, outputArg, input))
        return kExitFailure;
    if (!writeAll(out.fd(), text)) {
        const int err = errno;
        out.abandon();
        return fail("cannot write " + out.target() + ": " + std::strerror(err));
    }
    return commitOutput(out);
}

} // namespace quillon::cli
