#pragma once
// Builds Intel HEX records for tests.

#include <cstdint>
#include <cstdio>
#include <string>

namespace quillon::test {

inline std::string hexRecord(unsigned type, unsigned address, const std::string& data, bool lower = false)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::string s = ":";
    char buf[8];
    auto put = [&](unsigned v) {
        std::snprintf(buf, sizeof buf, lower ? "%02x" : "%02X", v & 0xFF);
        s += buf;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8);
    put(address);
    put(type);
    for (unsigned char c : data) {
        put(c);
        sum += c;
    }
    put(0x100 - (sum & 0xFF));
    return s;
}

} // namespace quillon::test
