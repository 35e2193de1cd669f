#pragma once
// Opening a file the user picked as input. A FIFO with no writer would block
// open() and a device such as /dev/zero never ends, so the offline tools take
// regular files only.

#include <string>

namespace quillon {

// Read-only descriptor (close-on-exec, blocking reads) of a regular file, or
// -1 with errno set: EINVAL when the path names anything else (directory,
// FIFO, device, socket). Never blocks in open().
int openRegularFile(const std::string& path);

} // namespace quillon
