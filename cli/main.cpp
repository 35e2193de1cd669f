// quillon-cli: the HEX/BIN conversions, checksums and source arrays of the
// desktop tool, for firmware build scripts. Same core, same output bytes.

#include "tools/hexbin/bin_to_hex.h"
#include "tools/hexbin/crc.h"
#include "tools/hexbin/intel_hex.h"
#include "tools/hexbin/source_array.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <map>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace quillon::hexbin;

namespace {

const std::map<std::string, CrcKind> kCrcNames = {
    {"ccitt", CrcKind::Ccitt}, {"crc16", CrcKind::Crc16}, {"crc32", CrcKind::Crc32}};

int fail(const std::string& text)
{
    std::cerr << "quillon-cli: " << text << "\n";
    return 1;
}

std::string atLine(std::size_t line) { return line ? " (line " + std::to_string(line) + ")" : std::string(); }

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Scripts hand us pipes and devices as well as files. The converters read
// regular files only, so such an input is first copied into memory, with a
// bound on its size (a device like /dev/zero never ends) and on the wait for
// the writer of a FIFO.
struct StreamLimits {
    uint64_t maxSize = HexToBinOptions::kDefaultMaxImageSize;
    int waitSeconds = 30;
};

std::string sizeText(uint64_t bytes)
{
    if (bytes != 0 && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes != 0 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// Replaces `path` by a /proc/self/fd name of an in-memory copy when it names
// a FIFO, device or socket; leaves it as it is otherwise. False with `error`
// set when the input can't be taken.
bool takeStream(std::string& path, const StreamLimits& limits, std::string& error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        return true; // the converter reports what is wrong with it
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0)
        return true;
    auto failWith = [&](const std::string& text) {
        ::close(in);
        error = text;
        return false;
    };
    if (S_ISFIFO(st.st_mode)) {
        // Opened without waiting; now wait, bounded, for a writer's data or its close.
        pollfd p{in, POLLIN, 0};
        int n;
        do
            n = ::poll(&p, 1, limits.waitSeconds * 1000);
        while (n < 0 && errno == EINTR);
        if (n == 0)
            return failWith("nothing written to " + path + " within " + std::to_string(limits.waitSeconds) +
                            " s (--wait gives more time)");
    }
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
    const int copy = ::memfd_create("quillon-input", MFD_CLOEXEC);
    if (copy < 0)
        return failWith(std::string("cannot hold the input: ") + std::strerror(errno));
    std::vector<char> buf(1 << 16);
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0) {
            ::close(copy);
            return failWith("cannot read " + path + ": " + std::strerror(errno));
        }
        if (n == 0)
            break;
        total += static_cast<uint64_t>(n);
        if (total > limits.maxSize) {
            ::close(copy);
            return failWith(path + " is longer than " + sizeText(limits.maxSize) + " (--max-size raises the limit)");
        }
        if (!writeAll(copy, std::string_view(buf.data(), static_cast<std::size_t>(n)))) {
            ::close(copy);
            return failWith(std::string("cannot hold the input: ") + std::strerror(errno));
        }
    }
    ::close(in);
    // Kept open for the life of the process; the converter opens it by name.
    path = "/proc/self/fd/" + std::to_string(copy);
    return true;
}

struct Hex2Bin {
    std::string input, output, fill = "FF", crc = "ccitt";
    bool extended = false;

    int run(const StreamLimits& limits) const
    {
        HexToBinOptions options;
        options.fill = fill == "00" ? 0x00 : 0xFF;
        options.extended = extended;
        options.maxImageSize = limits.maxSize;
        std::string source = input, error;
        if (!takeStream(source, limits, error))
            return fail(error);
        const HexToBinResult r = hexToBin(source, output, options);
        switch (r.outcome) {
        case HexToBinOutcome::SourceOpenFailed: return fail("cannot open HEX file " + input);
        case HexToBinOutcome::TargetOpenFailed: return fail("cannot create binary file " + output + " (or it is the input file)");
        case HexToBinOutcome::UnknownType:
            return fail("unrecognised HEX record type" + atLine(r.line) +
                        (extended ? "" : "; --extended reads address records 02 to 05"));
        case HexToBinOutcome::BadChecksum: return fail("HEX checksum error" + atLine(r.line));
        case HexToBinOutcome::NoEndRecord: return fail("HEX file ends without an end-of-file record");
        case HexToBinOutcome::ImageTooLarge:
            return fail("the image would be " + std::to_string(r.neededSize) + " bytes" + atLine(r.line) +
                        ", more than " + sizeText(limits.maxSize) + " (--max-size raises the limit)");
        case HexToBinOutcome::Done: break;
        }
        const CrcKind kind = kCrcNames.at(crc);
        const auto value = crcOfFile(output, kind);
        if (!value)
            return fail("cannot read back " + output + " for the CRC");
        std::cout << crcText(kind, *value) << "\n";
        return 0;
    }
};

struct Bin2Hex {
    std::string input, output, start = "0000";

    int run(const StreamLimits& limits) const
    {
        // Checked first so that a bad address leaves no file behind.
        const auto address = parseStartAddress(start);
        if (!address)
            return fail("start address is not hexadecimal: '" + start + "'");
        std::string source = input, error;
        if (!takeStream(source, limits, error))
            return fail(error);
        switch (binToHex(source, output, address)) {
        case BinToHexOutcome::SourceOpenFailed: return fail("cannot open binary file " + input);
        case BinToHexOutcome::TargetOpenFailed: return fail("cannot create HEX file " + output + " (or it is the input file)");
        case BinToHexOutcome::BadAddress:
            std::filesystem::remove(output);
            return fail("image runs past address 0xFFFFFFFF");
        case BinToHexOutcome::Done: break;
        }
        return 0;
    }
};

struct CrcCommand {
    std::vector<std::string> files;
    std::string type = "ccitt";

    int run(const StreamLimits& limits) const
    {
        const CrcKind kind = kCrcNames.at(type);
        int rc = 0;
        for (const auto& f : files) {
            std::string source = f, error;
            if (!takeStream(source, limits, error)) {
                rc = fail(error);
                continue;
            }
            const auto value = crcOfFile(source, kind);
            if (!value) {
                rc = fail("cannot open data file " + f);
                continue;
            }
            std::cout << crcText(kind, *value);
            if (files.size() > 1)
                std::cout << "  " << f;
            std::cout << "\n";
        }
        return rc;
    }
};

struct ArrayCommand {
    std::string input, output;
    bool hex = false, assembler = false, prefix = false, lf = false;
    std::string directive = "DB", marker = "H";

    int run(const StreamLimits& limits) const
    {
        std::string source = input, error;
        if (!takeStream(source, limits, error))
            return fail(error);
        ArrayStyle style;
        style.assembler = assembler;
        style.directive = directive;
        style.marker = marker;
        style.prefix = prefix;
        const std::string nl = lf ? "\n" : "\r\n";

        // A file output is written under a temporary name and renamed at the
        // end, so a failed run leaves no half table behind.
        const bool toStdout = output.empty() || output == "-";
        const std::string tmp = toStdout ? std::string() : output + ".tmp-quillon";
        std::FILE* sink = toStdout ? stdout : std::fopen(tmp.c_str(), "wb");
        if (!sink)
            return fail("cannot create " + output);
        bool writeOk = true;
        auto flush = [&](std::string& text) {
            if (text.size() >= (1u << 20)) {
                writeOk = writeOk && writeAll(fileno(sink), text);
                text.clear();
            }
        };
        if (toStdout)
            std::fflush(stdout);
        std::string text;
        text.reserve((1u << 20) + 4096);
        ArrayOutcome outcome;
        std::size_t line = 0;
        if (hex) {
            const auto r = arrayFromHex(source, style, nl, text, flush);
            outcome = r.outcome;
            line = r.line;
        } else {
            outcome = arrayFromBinary(source, style, nl, text, flush);
        }
        if (outcome == ArrayOutcome::Done || toStdout)
            writeOk = writeOk && writeAll(fileno(sink), text);
        if (!toStdout) {
            writeOk = (std::fclose(sink) == 0) && writeOk;
            if (outcome != ArrayOutcome::Done || !writeOk)
                std::filesystem::remove(tmp);
            else
                std::filesystem::rename(tmp, output);
        }
        switch (outcome) {
        case ArrayOutcome::OpenFailed: return fail("cannot open " + input);
        case ArrayOutcome::UnknownType: return fail("unrecognised HEX record type" + atLine(line));
        case ArrayOutcome::BadChecksum: return fail("HEX checksum error" + atLine(line));
        case ArrayOutcome::Done: break;
        }
        if (!writeOk)
            return fail("cannot write " + (toStdout ? std::string("standard output") : output));
        return 0;
    }
};

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Intel HEX / binary conversions, CRCs and source arrays"};
    app.name("quillon-cli");
    app.require_subcommand(1);
    // Options of the main command may also follow the command's own.
    app.fallthrough();
    StreamLimits limits;
    app.add_option("--max-size", limits.maxSize,
                   "largest image hex2bin writes, and largest input taken from a pipe or device (K, M, G suffixes)")
        ->transform(CLI::AsSizeValue(false))
        ->default_str("256M");
    app.add_option("--wait", limits.waitSeconds, "seconds to wait for the writer of a FIFO given as input")
        ->check(CLI::Range(0, 86400))
        ->capture_default_str();

    Hex2Bin h2b;
    auto* cmdH2B = app.add_subcommand("hex2bin", "Intel HEX to a flat binary image starting at address 0; prints its CRC");
    cmdH2B->add_option("input", h2b.input, "Intel HEX file")->required();
    cmdH2B->add_option("output", h2b.output, "binary image to write")->required();
    cmdH2B->add_option("--fill", h2b.fill, "byte for the gaps: FF or 00")
        ->check(CLI::IsMember({"FF", "00", "ff"}))
        ->capture_default_str();
    cmdH2B->add_option("--crc", h2b.crc, "CRC to print: ccitt (CRC-16/XMODEM), crc16 (CRC-16/UMTS) or crc32")
        ->check(CLI::IsMember({"ccitt", "crc16", "crc32"}))
        ->capture_default_str();
    cmdH2B->add_flag("--extended", h2b.extended,
                     "also read extended segment/linear address records (02, 04) and skip start records (03, 05)");

    Bin2Hex b2h;
    auto* cmdB2H = app.add_subcommand("bin2hex", "flat binary to Intel HEX (16-byte records)");
    cmdB2H->add_option("input", b2h.input, "binary file")->required();
    cmdB2H->add_option("output", b2h.output, "Intel HEX file to write")->required();
    cmdB2H->add_option("--start", b2h.start, "load address of the first byte, hexadecimal (0x prefix optional)")
        ->capture_default_str();

    CrcCommand crc;
    auto* cmdCrc = app.add_subcommand("crc", "CRC of whole files");
    cmdCrc->add_option("files", crc.files, "files to check")->required();
    cmdCrc->add_option("--type", crc.type, "ccitt (CRC-16/XMODEM), crc16 (CRC-16/UMTS) or crc32")
        ->check(CLI::IsMember({"ccitt", "crc16", "crc32"}))
        ->capture_default_str();

    ArrayCommand arr;
    auto* cmdArr = app.add_subcommand("array", "byte table in C or assembler source, one byte per line");
    cmdArr->add_option("input", arr.input, "binary file, or Intel HEX file with --hex")->required();
    cmdArr->add_option("-o,--output", arr.output, "file to write (default: standard output)");
    cmdArr->add_flag("--hex", arr.hex, "input is Intel HEX: data bytes in file order, digits kept as typed");
    cmdArr->add_flag("--asm", arr.assembler, "assembler data lines instead of a C array");
    cmdArr->add_option("--db", arr.directive, "data-definition directive (assembler)")->capture_default_str();
    cmdArr->add_option("--marker", arr.marker, "hexadecimal marker (assembler)")->capture_default_str();
    cmdArr->add_flag("--prefix", arr.prefix, "marker before the digits instead of after them (assembler)");
    cmdArr->add_flag("--lf", arr.lf, "end lines with LF instead of CR LF");

    // The parser reads "--marker=" (an empty value) as a missing value and
    // takes the next argument instead; hand it over as an explicit "".
    std::vector<std::string> args(argv, argv + argc);
    for (std::size_t i = args.size(); i-- > 1;) {
        const std::string& a = args[i];
        if (a.size() > 3 && a.compare(0, 2, "--") == 0 && a.find('=') == a.size() - 1) {
            args[i].pop_back();
            args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::string());
        }
    }
    std::vector<char*> argPtrs;
    for (auto& a : args)
        argPtrs.push_back(a.data());
    CLI11_PARSE(app, static_cast<int>(argPtrs.size()), argPtrs.data());
    if (h2b.fill == "ff")
        h2b.fill = "FF";
    try {
        if (*cmdH2B)
            return h2b.run(limits);
        if (*cmdB2H)
            return b2h.run(limits);
        if (*cmdCrc)
            return crc.run(limits);
        return arr.run(limits);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
