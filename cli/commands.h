#pragma once
// The commands for the thermistor, LED and colour-band tools. Each adds its
// subcommand to the parser; main runs the one the user named.

#include "cli/cli_common.h"

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
// Capture on serial and parallel ports through the monitor's helper.
Command addMonitorCommand(CLI::App& app);

inline std::vector<Command> addOfflineToolCommands(CLI::App& app)
{
    return {addRtCommand(app), addLedCommand(app), addBandsCommand(app)};
}

// The page's memo text with its line breaks made CR LF, or left LF.
std::string withLineEnds(const std::string& memoText, bool lf);

} // namespace quillon::cli
