#include "cli/commands.h"
#include "common/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::cli {

namespace {

bool cannotWrite(const std::string& path, int err)
{
    failed("cannot write " + path + ": " + std::strerror(err));
    return false;
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

int failed(const std::string& text)
{
    std::cerr << "quillon-cli: " << text << "\n";
    return 1;
}

int usageError(const std::string& text)
{
    failed(text);
    return 2;
}

std::string withLineEnds(const std::string& memoText, bool lf)
{
    if (lf) return memoText;
    std::string out;
    out.reserve(memoText.size() + memoText.size() / 16);
    for (char ch : memoText) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

bool writeOutput(const std::string& path, const std::string& text)
{
    namespace fs = std::filesystem;
    if (path.empty() || path == "-") {
        std::cout.flush();
        if (!writeAll(STDOUT_FILENO, text)) return cannotWrite("standard output", errno);
        return true;
    }

    // A symlink stays a symlink: its target is what gets written.
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(fs::path(path), ec);
    const std::string t = ec ? path : target.string();

    struct stat st {};
    const bool exists = ::stat(t.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return cannotWrite(path, EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        // Devices and FIFOs are written in place; renaming over them would replace them.
        const int fd = ::open(t.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return cannotWrite(path, errno);
        const bool ok = writeAll(fd, text);
        const int err = errno;
        if (::close(fd) != 0 && ok) return cannotWrite(path, errno);
        return ok ? true : cannotWrite(path, err);
    }

    const fs::path dir = fs::path(t).parent_path();
    std::string tmp = (dir.empty() ? fs::path(".") : dir).string() + "/." + fs::path(t).filename().string() + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return cannotWrite(path, errno);
    bool ok = ::fchmod(fd, exists ? (st.st_mode & 07777) : newFileMode()) == 0 && writeAll(fd, text);
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(tmp.c_str(), t.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return cannotWrite(path, err);
    }
    return true;
}

} // namespace quillon::cli
