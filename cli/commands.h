#pragma once
// The commands for the thermistor, LED and colour-band tools. Each adds its
// subcommand to the parser; main runs the one the user named.

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

namespace quillon::cli {

struct Command {
    CLI::App* sub = nullptr;
    std::function<int()> run; // exit code: 0 done, 1 failed, 2 usage error
};

Command addRtCommand(CLI::App& app);
Command addLedCommand(CLI::App& app);
Command addBandsCommand(CLI::App& app);

inline std::vector<Command> addOfflineToolCommands(CLI::App& app)
{
    return {addRtCommand(app), addLedCommand(app), addBandsCommand(app)};
}

// "quillon-cli: TEXT" on standard error; they return the exit code.
int failed(const std::string& text);
int usageError(const std::string& text);

// The page's memo text with its line breaks made CR LF, or left LF.
std::string withLineEnds(const std::string& memoText, bool lf);

// Writes `text` to `path` ("-" or empty: standard output). A regular file is
// written under a temporary name beside it and renamed over it only when
// complete; a device or FIFO is written in place. Returns false on failure
// and leaves a message on standard error.
bool writeOutput(const std::string& path, const std::string& text);

} // namespace quillon::cli
