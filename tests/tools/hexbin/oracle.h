#pragma once
// Runs the independent HEX tools (srec_cat, objcopy) for cross-checks.

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace quillon::test {

inline bool haveTool(const char* name)
{
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Exit status of a shell command.
inline int run(const std::string& cmd)
{
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

} // namespace quillon::test
