// quillon-cli: the offline tools of the desktop program (HEX/BIN conversions,
// checksums and source arrays here; thermistor, LED and colour-band commands
// in their own files), for firmware build scripts. Same core, same output bytes.
// The port monitor's capture (monitor_command.cpp) serves test rigs the same way.

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "tools/hexbin/bin_to_hex.h"
#include "tools/hexbin/crc.h"
#include "tools/hexbin/intel_hex.h"
#include "tools/hexbin/source_array.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace quillon;
using namespace quillon::cli;
using namespace quillon::hexbin;

namespace {

const std::map<std::string, CrcKind> kCrcNames = {
    {"ccitt", CrcKind::Ccitt}, {"crc16", CrcKind::Crc16}, {"crc32", CrcKind::Crc32}};

std::string atLine(std::size_t line) { return line ? " (line " + std::to_string(line) + ")" : std::string(); }

// An unnamed scratch file for an image bound for a target that cannot be
// written at any offset (a pipe, a device); gone when closed.
int scratchFile()
{
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env && *env ? env : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string name = dir + "/quillon-image-XXXXXX";
    fd = ::mkstemp(name.data());
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

struct Hex2Bin {
    std::string input, output, fill = "FF", crc = "ccitt";
    bool extended = false;

    int run() const
    {
        HexToBinOptions options;
        options.fill = fill == "00" ? 0x00 : 0xFF;
        options.extended = extended;
        options.maxImageSize = inputLimits().maxSize;
        const auto source = takeInput(input);
        if (!source) return kExitFailure;
        InputFile src;
        if (!src.open(*source)) return fail("cannot open HEX file " + input);
        SafeOutput target;
        if (!openOutput(target, output, input)) return kExitFailure;

        // Later records may overwrite earlier bytes, so the image is built
        // where any offset can be written: the temporary file that replaces a
        // regular target, or a scratch file copied to any other target.
        int imageFd = target.fd();
        struct Scratch {
            int fd = -1;
            ~Scratch()
            {
                if (fd >= 0) ::close(fd);
            }
        } scratch;
        if (!target.replaces()) {
            scratch.fd = scratchFile();
            if (scratch.fd < 0) return fail(std::string("cannot create a scratch file: ") + std::strerror(errno));
            imageFd = scratch.fd;
        }
        OutputFile image;
        image.adopt(imageFd, target.target(), true);
        const HexToBinResult r = hexToBin(src, image, options);
        if (const int rc = failureOf(r, options)) return rc;

        // The CRC is of the image as built, read back from the file that
        // holds it (which, for a pipe or device, is also the copy).
        const CrcKind kind = kCrcNames.at(crc);
        Crc sum(kind);
        if (const int rc = sumImage(imageFd, target, sum)) return rc;
        // With the image on standard output the CRC must not join it.
        struct stat mine {
        }, out{};
        const bool outKnown =
            target.replaces() ? ::stat(target.target().c_str(), &out) == 0 : ::fstat(target.fd(), &out) == 0;
        const bool toStdout =
            outKnown && ::fstat(STDOUT_FILENO, &mine) == 0 && mine.st_dev == out.st_dev && mine.st_ino == out.st_ino;
        if (const int rc = commitOutput(target); rc != kExitSuccess) return rc;
        std::ostream& report = toStdout ? std::cerr : std::cout;
        report << crcText(kind, sum.value()) << "\n";
        return kExitSuccess;
    }

    // Why the conversion stopped, as the exit status; 0 when it ran through.
    int failureOf(const HexToBinResult& r, const HexToBinOptions& options) const
    {
        switch (r.outcome) {
        case HexToBinOutcome::SourceOpenFailed: return fail("cannot open HEX file " + input);
        case HexToBinOutcome::TargetOpenFailed: return fail("cannot create binary file " + output);
        case HexToBinOutcome::UnknownType:
            return fail("unrecognised HEX record type" + atLine(r.line) +
                        (extended ? "" : "; --extended reads address records 02 to 05"));
        case HexToBinOutcome::BadChecksum: return fail("HEX checksum error" + atLine(r.line));
        case HexToBinOutcome::NoEndRecord: return fail("HEX file ends without an end-of-file record");
        case HexToBinOutcome::ImageTooLarge:
            return fail("the image would be " + std::to_string(r.neededSize) + " bytes" + atLine(r.line) +
                        ", more than " + sizeText(options.maxImageSize) + " (--max-size raises the limit)");
        case HexToBinOutcome::Done: break;
        }
        return kExitSuccess;
    }

    // Reads the image back for its CRC, copying it on the way to a target
    // that is not replaced (a pipe or a device).
    static int sumImage(int imageFd, SafeOutput& target, Crc& sum)
    {
        std::vector<char> buf(kBlockSize);
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(imageFd, buf.data(), buf.size(), at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail(std::string("cannot read back the image: ") + std::strerror(errno));
            if (n == 0) break;
            const std::string_view block(buf.data(), static_cast<std::size_t>(n));
            sum.update(block);
            if (!target.replaces() && !writeAll(target.fd(), block))
                return fail("cannot write " + target.target() + ": " + std::strerror(errno));
            at += n;
        }
        return kExitSuccess;
    }
};

struct Bin2Hex {
    std::string input, output, start = "0000";

    int run() const
    {
        const auto address = parseStartAddress(start);
        if (!address) {
            fail("start address is not hexadecimal: '" + start + "'");
            return kExitUsage;
        }
        const auto source = takeInput(input);
        if (!source) return kExitFailure;
        InputFile src;
        if (!src.open(*source)) return fail("cannot open binary file " + input);
        SafeOutput target;
        if (!openOutput(target, output, input)) return kExitFailure;
        OutputFile hex;
        hex.adopt(target.fd(), target.target(), false);
        switch (binToHex(src, hex, address)) {
        case BinToHexOutcome::SourceOpenFailed: return fail("cannot open binary file " + input);
        case BinToHexOutcome::TargetOpenFailed: return fail("cannot create HEX file " + output);
        case BinToHexOutcome::BadAddress: return fail("image runs past address 0xFFFFFFFF");
        case BinToHexOutcome::Done: break;
        }
        return commitOutput(target);
    }
};

struct CrcCommand {
    std::vector<std::string> files;
    std::string type = "ccitt";

    int run() const
    {
        const CrcKind kind = kCrcNames.at(type);
        int rc = kExitSuccess;
        for (const auto& f : files) {
            const auto source = takeInput(f);
            if (!source) {
                rc = kExitFailure;
                continue;
            }
            const auto value = crcOfFile(*source, kind);
            if (!value) {
                rc = fail("cannot open data file " + f);
                continue;
            }
            std::cout << crcText(kind, *value);
            if (files.size() > 1) std::cout << "  " << f;
            std::cout << "\n";
        }
        return rc;
    }
};

struct ArrayCommand {
    std::string input, output;
    bool hex = false, extended = false, assembler = false, prefix = false, lf = false;
    std::string directive = "DB", marker = "H";

    int run() const
    {
        const auto in = takeInput(input);
        if (!in) return kExitFailure;
        ArrayStyle style;
        style.assembler = assembler;
        style.directive = directive;
        style.marker = marker;
        style.prefix = prefix;
        const std::string nl = lf ? "\n" : "\r\n";

        SafeOutput sink;
        if (!openOutput(sink, output, input)) return kExitFailure;
        bool writeOk = true;
        int writeErr = 0;
        auto put = [&](std::string_view text) {
            if (writeOk && !writeAll(sink.fd(), text)) {
                writeOk = false;
                writeErr = errno;
            }
        };
        auto flush = [&](std::string& text) {
            if (text.size() >= (1u << 20)) {
                put(text);
                text.clear();
            }
        };
        std::string text;
        text.reserve((1u << 20) + 4096);
        ArrayOutcome outcome;
        std::size_t line = 0;
        if (hex) {
            const auto r = arrayFromHex(*in, style, nl, text, flush, extended);
            outcome = r.outcome;
            line = r.line;
        } else {
            outcome = arrayFromBinary(*in, style, nl, text, flush);
        }
        // A stream has had the table so far already; it gets its closing lines.
        if (outcome == ArrayOutcome::Done || !sink.replaces()) put(text);
        switch (outcome) {
        case ArrayOutcome::OpenFailed: return fail("cannot open " + input);
        case ArrayOutcome::UnknownType:
            return fail("unrecognised HEX record type" + atLine(line) +
                        (extended ? "" : "; --extended reads address records 02 to 05"));
        case ArrayOutcome::BadChecksum: return fail("HEX checksum error" + atLine(line));
        case ArrayOutcome::Done: break;
        }
        if (!writeOk) return fail("cannot write " + sink.target() + ": " + std::strerror(writeErr));
        return commitOutput(sink);
    }
};

} // namespace

namespace {

CLI::App* addHex2Bin(CLI::App& app, Hex2Bin& h2b)
{
    auto* cmdH2B =
        app.add_subcommand("hex2bin", "Intel HEX to a flat binary image starting at address 0; prints its CRC");
    cmdH2B->footer("Example:\n  quillon-cli hex2bin firmware.hex firmware.bin --fill 00 --crc crc32");
    cmdH2B->add_option("input", h2b.input, "Intel HEX file ('-': standard input)")->required();
    cmdH2B
        ->add_option("output", h2b.output,
                     "binary image to write ('-': standard output, the CRC then goes to standard error)")
        ->required();
    cmdH2B->add_option("--fill", h2b.fill, "byte for the gaps: FF or 00")
        ->check(CLI::IsMember({"FF", "00", "ff"}))
        ->capture_default_str();
    cmdH2B->add_option("--crc", h2b.crc, "CRC to print: ccitt (CRC-16/XMODEM), crc16 (CRC-16/UMTS) or crc32")
        ->check(CLI::IsMember({"ccitt", "crc16", "crc32"}))
        ->capture_default_str();
    cmdH2B->add_flag("--extended", h2b.extended,
                     "also read extended segment/linear address records (02, 04) and skip start records (03, 05)");
    return cmdH2B;
}

CLI::App* addBin2Hex(CLI::App& app, Bin2Hex& b2h)
{
    auto* cmdB2H = app.add_subcommand("bin2hex", "flat binary to Intel HEX (16-byte records)");
    cmdB2H->footer("Example:\n  quillon-cli bin2hex boot.bin boot.hex --start 8000");
    cmdB2H->add_option("input", b2h.input, "binary file ('-': standard input)")->required();
    cmdB2H->add_option("output", b2h.output, "Intel HEX file to write ('-': standard output)")->required();
    cmdB2H->add_option("--start", b2h.start, "load address of the first byte, hexadecimal (0x prefix optional)")
        ->capture_default_str();
    return cmdB2H;
}

CLI::App* addCrc(CLI::App& app, CrcCommand& crc)
{
    auto* cmdCrc = app.add_subcommand("crc", "CRC of whole files");
    cmdCrc->footer("Example:\n  quillon-cli crc --type crc32 firmware.bin");
    cmdCrc->add_option("files", crc.files, "files to check ('-': standard input)")->required();
    cmdCrc->add_option("--type", crc.type, "ccitt (CRC-16/XMODEM), crc16 (CRC-16/UMTS) or crc32")
        ->check(CLI::IsMember({"ccitt", "crc16", "crc32"}))
        ->capture_default_str();
    return cmdCrc;
}

CLI::App* addArray(CLI::App& app, ArrayCommand& arr)
{
    auto* cmdArr = app.add_subcommand("array", "byte table in C or assembler source, one byte per line");
    cmdArr->footer("Example:\n  quillon-cli array --hex firmware.hex --asm --db DB --marker H -o firmware.asm");
    cmdArr->add_option("input", arr.input, "binary file, or Intel HEX file with --hex ('-': standard input)")
        ->required();
    cmdArr->add_option("-o,--output", arr.output, "file to write (default or '-': standard output)");
    cmdArr->add_flag("--hex", arr.hex, "input is Intel HEX: data bytes in file order, digits kept as typed");
    cmdArr->add_flag("--extended", arr.extended,
                     "with --hex: also accept address records (02 to 05), as in files past 64 KiB, and skip them");
    cmdArr->add_flag("--asm", arr.assembler, "assembler data lines instead of a C array");
    cmdArr->add_option("--db", arr.directive, "data-definition directive (assembler)")->capture_default_str();
    cmdArr->add_option("--marker", arr.marker, "hexadecimal marker (assembler)")->capture_default_str();
    cmdArr->add_flag("--prefix", arr.prefix, "marker before the digits instead of after them (assembler)");
    cmdArr->add_flag("--lf", arr.lf, "end lines with LF instead of CR LF");
    return cmdArr;
}
} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"The offline tools for build scripts: HEX/BIN conversions, CRCs, source arrays,\n"
                 "thermistor tables, LED code tables and colour-band values; and the port monitor's capture"};
    setUpApp(app);
    app.require_subcommand(1);

    Hex2Bin h2b;
    auto* cmdH2B = addHex2Bin(app, h2b);
    Bin2Hex b2h;
    auto* cmdB2H = addBin2Hex(app, b2h);
    CrcCommand crc;
    auto* cmdCrc = addCrc(app, crc);
    ArrayCommand arr;
    addArray(app, arr);
    const auto offlineTools = addOfflineToolCommands(app);
    const Command monitor = addMonitorCommand(app);

    if (const auto early = parseArguments(app, argc, argv)) return finish(*early);
    if (h2b.fill == "ff") h2b.fill = "FF";
    try {
        if (*cmdH2B) return finish(h2b.run());
        if (*cmdB2H) return finish(b2h.run());
        if (*cmdCrc) return finish(crc.run());
        for (const auto& command : offlineTools)
            if (*command.sub) return finish(command.run());
        if (*monitor.sub) return finish(monitor.run());
        return finish(arr.run());
    } catch (const std::exception& e) {
        return finish(fail(e.what()));
    }
}
