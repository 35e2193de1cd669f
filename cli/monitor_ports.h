#pragma once
// The ports quillon-cli monitor is given: each as the capture helper is to
// be given it, and what the user's side can tell when one is refused.

#include <string>
#include <vector>

namespace quillon::cli {

// A port as the helper is to be given it: a path beneath /dev. A name
// without a leading "/", "./" or "../" is one under /dev (ttyUSB0,
// serial/by-id/...); a path inside /dev is passed on as written, so the
// helper resolves its links there and the record shows the name the user
// knows; a path elsewhere (a link such as socat's pty link) is followed here,
// with the user's own rights, and must lead into /dev.
struct PortName {
    std::string arg, path, error;
};

PortName portNameOf(const std::string& arg);

// The port the output would write to, if it is one of those watched (the
// terminal the command runs in, given as a port).
const PortName* monitoredOutput(int fd, const std::vector<PortName>& ports);

// Why the helper may have refused a port, as far as the user's side can tell.
std::string refusalReason(const std::string& path);

} // namespace quillon::cli
