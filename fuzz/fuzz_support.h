#pragma once
// Helpers shared by the fuzz targets: scratch files and a plain Intel HEX
// reader written straight from the record rules, to check the fast one.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillon::fuzz {

// A scratch file of this process, rewritten for every input.
inline std::string scratchPath(const char* name)
{
    static std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string d = std::string(base && *base ? base : "/tmp") + "/quillon-fuzz-" + std::to_string(::getpid());
        ::mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir + "/" + name;
}

inline void writeFile(const std::string& path, std::string_view bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
}

inline std::string readFile(const std::string& path)
{
    std::string out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

inline int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The pieces a reader with a 254-character buffer sees, with whether each
// starts a line.
struct Piece {
    std::string text;
    bool startsLine;
};

inline std::vector<Piece> pieces(std::string_view data, size_t max = 254)
{
    std::vector<Piece> out;
    bool atStart = true;
    size_t i = 0;
    while (i < data.size()) {
        size_t j = i;
        while (j < data.size() && j - i < max) {
            if (data[j++] == '\n') break;
        }
        out.push_back({std::string(data.substr(i, j - i)), atStart});
        atStart = data[j - 1] == '\n';
        i = j;
    }
    return out;
}

enum class RefCheck { Skip, End, Data, Unknown, BadSum };

struct RefRecord {
    int type = -1;
    unsigned length = 0;
    unsigned address = 0;
    std::vector<uint8_t> data;
    std::string digits; // the data digits as typed
};

// One piece, line end removed.
inline RefCheck refCheck(const std::string& p, bool extended, RefRecord& r)
{
    if (p.empty() || p[0] != ':') return RefCheck::Skip;
    auto byteAt = [&](size_t i) -> int {
        if (i + 1 >= p.size()) return -1;
        int hi = hexDigit(p[i]), lo = hexDigit(p[i + 1]);
        return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
    };
    r.type = byteAt(7);
    if (r.type == 1) return RefCheck::End;
    if (!(r.type == 0 || (extended && r.type >= 2 && r.type <= 5))) return RefCheck::Unknown;
    // Sum of the digit run from position 1: odd digits high nibbles.
    unsigned sum = 0;
    std::vector<uint8_t> bytes;
    size_t i = 1;
    for (; i < p.size() && hexDigit(p[i]) >= 0; ++i) {
        const int d = hexDigit(p[i]);
        sum += ((i - 1) % 2 == 0) ? unsigned(d) * 16 : unsigned(d);
        if ((i - 1) % 2 == 1) bytes.push_back(uint8_t(hexDigit(p[i - 1]) * 16 + d));
    }
    if (sum % 256 != 0) return RefCheck::BadSum;
    if (bytes.size() < 4 || bytes.size() < 4 + size_t(bytes[0])) return RefCheck::BadSum;
    r.length = bytes[0];
    r.address = unsigned(bytes[1]) << 8 | bytes[2];
    r.data.assign(bytes.begin() + 4, bytes.begin() + 4 + r.length);
    r.digits = p.substr(9, 2 * r.length);
    return RefCheck::Data;
}

// Removes one final line feed (and, with `cr`, a carriage return instead).
inline std::string withoutLineEnd(std::string p, bool cr)
{
    if (!p.empty() && (p.back() == '\n' || (cr && p.back() == '\r'))) p.pop_back();
    return p;
}

} // namespace quillon::fuzz
