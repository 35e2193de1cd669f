#pragma once
// Manners every quillon-cli command shares, so build scripts can rely on
// them: exit status 0 success, 1 failure, 2 usage error; every message on
// standard error starts with the program name; outputs named on the command
// line are written completely or not at all ("-" is standard output).

#include "common/output_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace quillon::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr const char* kProgramName = "quillon-cli";

// The program's version, from the build.
const char* version();

// Scripts hand us pipes and devices as well as files. The readers take
// regular files only, so such an input is first copied into memory, with a
// bound on its size (a device like /dev/zero never ends) and on the wait for
// the writer of a FIFO. Set by --max-size and --wait.
struct InputLimits {
    uint64_t maxSize = uint64_t(256) << 20;
    int waitSeconds = 30;
};
InputLimits& inputLimits();

// "64 KiB", "256 MiB" or "1000 bytes", for messages about limits.
std::string sizeText(uint64_t bytes);

// Sets the program name, --version, the exit-status footer of --help, the
// usage-error message format and the input limits on the top-level app.
void setUpApp(CLI::App& app);

// Parses the command line. nullopt when the command should run; otherwise the
// exit status to return at once: 0 after --help or --version, kExitUsage
// after a usage error (its message already printed).
std::optional<int> parseArguments(CLI::App& app, int argc, char** argv);

// Prints "quillon-cli: <text>" on standard error and returns kExitFailure.
int fail(std::string_view text);
// The same for a command line that can't be run as given: kExitUsage.
int usageError(std::string_view text);

// To be returned from main: flushes standard output and turns success into
// failure (with a message) when the output could not be written, so a full
// disk or a closed pipe never passes for a good run.
int finish(int status);

// The path to open for an input argument: "-" is standard input.
std::string inputPath(const std::string& arg);

// The path a reader opens for an input argument: inputPath(arg), or, when
// that names a pipe, FIFO, device or socket, the name of an in-memory copy
// taken within inputLimits(). nullopt, with the message printed, when the
// input can't be taken (no writer within the wait, longer than the limit).
std::optional<std::string> takeInput(const std::string& arg);

// Opens the output argument: "-" (or empty) is standard output, anything else
// goes through SafeOutput. Refuses (message printed) an output that is the
// input file itself; `input` may be empty when there is none.
bool openOutput(SafeOutput& out, const std::string& outputArg, const std::string& input = {});

// Commits `out`, printing the error if that fails; returns the exit status.
int commitOutput(SafeOutput& out);

// The whole of `text` to the output argument, as one commit.
int writeOutput(const std::string& outputArg, std::string_view text, const std::string& input = {});

} // namespace quillon::cli
