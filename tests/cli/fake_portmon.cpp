// A stand-in for quillon-portmon that speaks its channel without touching
// the kernel, so the monitor command's own rules are tested on any machine.
// Put beside a copy of quillon-cli under the helper's name; steered by:
//   FAKE_PORTMON_LOG      file that gets one line per request it answers
//   FAKE_PORTMON_FAIL     the handshake fails with this reason
//   FAKE_PORTMON_REFUSE   hook mask bits it does not grant (decimal)
//   FAKE_PORTMON_RECORDS  file of record texts (one a line, fields tab-separated)
//                         handed over by the first read
//   FAKE_PORTMON_FLOOD    every read hands over a record
//   FAKE_PORTMON_DIE      exits without a word at this read (1 = the first)

#include "monitor/capture/channel.h"
#include "monitor/capture/record_text.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using namespace quillon::capture;

namespace {

std::ofstream logFile;

bool writeAll(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string text(const std::vector<uint8_t>& input, size_t at, size_t size)
{
    std::string s(reinterpret_cast<const char*>(input.data()) + at, size);
    return s.substr(0, s.find('\0'));
}

// What a test wants to know of a request, in one line.
std::string describe(const Request& r)
{
    std::ostringstream line;
    line << std::hex << r.code << std::dec;
    if (r.code == kHookSerial || r.code == kHookParallel) {
        line << " mask " << getU32(r.input.data());
        for (size_t i = 0; i < kHookablePorts; ++i)
            if (r.input[4 + i * kHookNameSize]) line << " " << text(r.input, 4 + i * kHookNameSize, kHookNameSize);
    } else if (r.code == kSetFilter && r.input.size() == kFilterBlockSize) {
        line << " include '" << text(r.input, 0, kFilterFieldSize) << "' exclude '"
             << text(r.input, kFilterFieldSize, kFilterFieldSize) << "' reads " << int(r.input[256]) << " writes "
             << int(r.input[257]);
    } else if (r.input.size() == 4) {
        line << " value " << getU32(r.input.data());
    }
    return line.str();
}

} // namespace

int main()
{
    if (const char* log = std::getenv("FAKE_PORTMON_LOG")) logFile.open(log, std::ios::app);
    std::vector<uint8_t> hello;
    putU32(hello, kHelloMagic);
    if (const char* why = std::getenv("FAKE_PORTMON_FAIL")) {
        Answer a{false, ENOSYS, std::vector<uint8_t>(why, why + std::string(why).size())};
        const auto body = encodeAnswer(a);
        hello.insert(hello.end(), body.begin(), body.end());
        writeAll(hello);
        return 2;
    }
    const std::string version = "fake-portmon";
    const auto body = encodeAnswer(Answer::success({version.begin(), version.end()}));
    hello.insert(hello.end(), body.begin(), body.end());
    if (!writeAll(hello)) return 1;

    const uint32_t refuse = std::getenv("FAKE_PORTMON_REFUSE") ? std::atoi(std::getenv("FAKE_PORTMON_REFUSE")) : 0;
    const int dieAt = std::getenv("FAKE_PORTMON_DIE") ? std::atoi(std::getenv("FAKE_PORTMON_DIE")) : 0;
    const bool flood = std::getenv("FAKE_PORTMON_FLOOD") != nullptr;
    std::vector<std::string> texts;
    if (const char* path = std::getenv("FAKE_PORTMON_RECORDS")) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) texts.push_back(line);
    }

    RequestParser parser;
    std::vector<Request> requests;
    std::vector<uint8_t> buf(65536);
    int reads = 0;
    int32_t sequence = 0;
    while (true) {
        const ssize_t got = ::read(STDIN_FILENO, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return 0;
        parser.feed({buf.data(), static_cast<size_t>(got)}, requests);
        for (const Request& r : requests) {
            if (r.code != kReadRecords) logFile << describe(r) << std::endl;
            Answer a = Answer::success();
            if (r.code == kHookSerial || r.code == kHookParallel) {
                const uint32_t mask = getU32(r.input.data()) & ~refuse;
                putU32(a.output, mask);
            } else if (r.code == kReadRecords) {
                if (++reads == dieAt) return 3;
                if (reads == 1)
                    for (const auto& t : texts) appendRecord(a.output, ++sequence, 0x01DB000000000000ull, t);
                if (flood)
                    appendRecord(a.output, ++sequence, 0x01DB000000000000ull, "flood:1\tIRP_MJ_WRITE\tx\tSUCCESS\t");
            }
            if (!writeAll(encodeAnswer(a))) return 1;
            if (r.code == kHelperQuit) return 0;
        }
        requests.clear();
    }
}
