#pragma once
// A stream buffer onto a file descriptor, so a large export is written as it
// is made instead of being built in memory first.

#include <cerrno>
#include <streambuf>
#include <unistd.h>

namespace quillon {

// A stream onto a file descriptor, so a large export is written as it is
// made instead of being built in memory first.
class FdStreamBuf : public std::streambuf {
public:
    explicit FdStreamBuf(int fd) : fd_(fd) { setp(buf_, buf_ + sizeof buf_); }
    bool ok() const { return ok_; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        const char* p = pbase();
        while (ok_ && p < pptr()) {
            const ssize_t n = ::write(fd_, p, static_cast<size_t>(pptr() - p));
            if (n > 0)
                p += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                ok_ = false;
        }
        setp(buf_, buf_ + sizeof buf_);
        return ok_;
    }
    int fd_;
    bool ok_ = true;
    char buf_[1 << 16];
};

} // namespace quillon
