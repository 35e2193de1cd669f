#include "common/output_file.h"

#include "common/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

std::string dirOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a path that does not exist will be created: a dangling symlink is
// followed, so the new file appears where the link points.
std::string creationTarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n <= 0) return path;
        std::string link(buf, static_cast<std::size_t>(n));
        path = link[0] == '/' ? link : dirOf(path) + "/" + link;
    }
    return path;
}

std::string uniqueTempName(const std::string& target)
{
    static thread_local std::mt19937_64 rng(std::random_device{}() ^ (uint64_t(::getpid()) << 32));
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, 'x');
    for (char& c : suffix) c = digits[rng() % 36];
    return dirOf(target) + "/." + baseOf(target) + "." + suffix + ".tmp";
}

} // namespace

SafeOutput::~SafeOutput() { abandon(); }

bool SafeOutput::fail(const std::string& what, int err)
{
    error_ = what + " " + path_ + ": " + std::strerror(err);
    return false;
}

// The new content goes to a file beside the target that only commit() puts
// in its place.
bool SafeOutput::openTemporary(mode_t mode)
{
    const std::string dir = dirOf(target_);
    // An unnamed file vanishes by itself if the program dies before commit.
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    anonymous_ = fd_ >= 0;
    if (!anonymous_) {
        for (int tries = 0; tries < 100 && fd_ < 0; ++tries) {
            tempName_ = uniqueTempName(target_);
            fd_ = ::open(tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            const int err = errno;
            tempName_.clear();
            return fail("cannot create a temporary file beside", err);
        }
    }
    return true;
}

bool SafeOutput::open(const std::string& path)
{
    abandon();
    error_.clear();
    path_ = path;
    target_ = path;
    replaces_ = false;

    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return fail("cannot write", errno);
    if (exists && S_ISDIR(st.st_mode)) return fail("cannot write", EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        // Devices, FIFOs, terminals: written where they are.
        fd_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) return fail("cannot write", errno);
        ownsFd_ = true;
        return true;
    }
    if (exists) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) return fail("cannot write", errno);
        target_ = real;
        std::free(real);
        // Refuse now what the rename would be refused later.
        if (::access(target_.c_str(), W_OK) != 0) return fail("cannot write", errno);
    } else {
        target_ = creationTarget(path);
    }

    const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    if (!openTemporary(mode)) return false;
    ownsFd_ = true;
    replaces_ = true;
    if (exists) {
        // The umask may have cleared bits the old file had.
        (void)::fchmod(fd_, mode);
        // Without the right to give the file away, keep at least its group.
        if (::fchown(fd_, st.st_uid, st.st_gid) != 0) {
            [[maybe_unused]] const int kept = ::fchown(fd_, static_cast<uid_t>(-1), st.st_gid);
        }
    }
    return true;
}

void SafeOutput::openStdout()
{
    abandon();
    error_.clear();
    path_ = target_ = "standard output";
    fd_ = STDOUT_FILENO;
    ownsFd_ = false;
    replaces_ = false;
}

// Gives an unnamed temporary file a unique name beside the target, for the
// rename over it.
bool SafeOutput::nameTemporary()
{
    if (!anonymous_) return true;
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    for (int tries = 0; tries < 100; ++tries) {
        tempName_ = uniqueTempName(target_);
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, tempName_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            anonymous_ = false;
            return true;
        }
        const int err = errno;
        tempName_.clear();
        if (err != EEXIST) {
            abandon();
            return fail("cannot write", err);
        }
    }
    abandon();
    return fail("cannot write", EEXIST);
}

bool SafeOutput::publish()
{
    if (fd_ < 0) return fail("cannot write", EBADF);
    if (!replaces_) return true;
    // Once renamed, the open file is the target: writes go straight to it.
    return nameTemporary() && renameOverTarget();
}

bool SafeOutput::renameOverTarget()
{
    if (::rename(tempName_.c_str(), target_.c_str()) != 0) {
        const int err = errno;
        abandon();
        return fail("cannot write", err);
    }
    tempName_.clear();
    replaces_ = false;
    return true;
}

bool SafeOutput::commit(bool sync)
{
    if (fd_ < 0) return fail("cannot write", EBADF);
    if (!replaces_) {
        bool ok = true;
        int err = 0;
        if (ownsFd_ && ::close(fd_) != 0) {
            ok = false;
            err = errno;
        }
        fd_ = -1;
        return ok || fail("cannot write", err);
    }
    if (sync && ::fsync(fd_) != 0) {
        const int err = errno;
        abandon();
        return fail("cannot write", err);
    }
    if (!nameTemporary()) return false;
    if (::close(fd_) != 0) {
        fd_ = -1;
        const int err = errno;
        abandon();
        return fail("cannot write", err);
    }
    fd_ = -1;
    return renameOverTarget();
}

void SafeOutput::abandon()
{
    if (fd_ >= 0 && ownsFd_) ::close(fd_);
    fd_ = -1;
    if (!tempName_.empty()) ::unlink(tempName_.c_str());
    tempName_.clear();
    anonymous_ = false;
    replaces_ = false;
}

bool writeWholeFile(const std::string& path, std::string_view bytes, std::string& error, bool sync)
{
    SafeOutput out;
    if (!out.open(path)) {
        error = out.error();
        return false;
    }
    if (!writeAll(out.fd(), bytes)) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!out.commit(sync)) {
        error = out.error();
        return false;
    }
    return true;
}

bool sameRegularFile(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return S_ISREG(sa.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace quillon
