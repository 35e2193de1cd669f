#pragma once
// Writing a file the user named without ever destroying what the name stands
// for. A regular file (or a path that does not exist yet) is written under a
// temporary name beside it and renamed over it only when everything was
// written, keeping its mode; a symlink is followed to its target, which is
// what gets replaced; a device node, FIFO or terminal is written in place,
// since renaming over it would turn it into a plain file.

#include <string>
#include <string_view>

namespace quillon {

class SafeOutput {
public:
    SafeOutput() = default;
    ~SafeOutput(); // abandons an output that was not committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Opens `path` for writing; false (and error()) for a directory, a
    // missing folder, no permission and the like. Nothing of the target is
    // touched until commit().
    bool open(const std::string& path);
    // Standard output, written in place and never closed.
    void openStdout();

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // True when the bytes go to a temporary file that replaces the target at
    // commit (a regular file, open for reading too, that can be written at
    // any offset); false when they go straight to the target.
    bool replaces() const { return replaces_; }
    // The file that is written or replaced: the path with symlinks followed.
    const std::string& target() const { return target_; }

    // Puts the output in place. With `sync`, the data reach the disk before
    // the rename. False (and error()) if anything failed; the target is then
    // as it was and no temporary file is left.
    bool commit(bool sync = false);
    // Puts what was written so far in place of the target now and keeps the
    // output open: later writes go straight to the target, for a log that
    // grows while the program runs and is followed by name (tail -f), and
    // that keeps what it holds if the program is killed. commit() then only
    // closes it. False (and error()) if that fails; the target is then as it was.
    bool publish();
    // Drops what was written to a temporary file; the target stays as it was.
    void abandon();

    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& what, int err);
    bool openTemporary(mode_t mode);
    bool nameTemporary();
    bool renameOverTarget();
    int fd_ = -1;
    bool replaces_ = false;
    bool ownsFd_ = false;
    bool anonymous_ = false; // temporary file without a name until commit
    std::string path_;       // as given, for messages
    std::string target_;
    std::string tempName_; // named temporary file, when one exists
    std::string error_;
};

// Writes `bytes` as the whole new content of `path` through SafeOutput.
// Returns false with `error` set when it fails; the file is then unchanged.
bool writeWholeFile(const std::string& path, std::string_view bytes, std::string& error, bool sync = false);

// True if both paths name the same existing regular file, so writing one
// would replace the other.
bool sameRegularFile(const std::string& a, const std::string& b);

} // namespace quillon
