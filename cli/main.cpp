// quillon-cli: the offline tools of the desktop program (HEX/BIN conversions,
// checksums and source arrays here; thermistor, LED and colour-band commands
// in their own files), for firmware build scripts. Same core, same output bytes.

#include "cli/commands.h"
#include "common/file_io.h"
#include "tools/hexbin/bin_to_hex.h"
#include "tools/hexbin/crc.h"
#include "tools/hexbin/intel_hex.h"
#include "tools/hexbin/source_array.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quillon;
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

struct Hex2Bin {
    std::string input, output, fill = "FF", crc = "ccitt";
    bool extended = false;

    int run() const
    {
        HexToBinOptions options;
        options.fill = fill == "00" ? 0x00 : 0xFF;
        options.extended = extended;
        const HexToBinResult r = hexToBin(input, output, options);
        switch (r.outcome) {
        case HexToBinOutcome::SourceOpenFailed: return fail("cannot open HEX file " + input);
        case HexToBinOutcome::TargetOpenFailed: return fail("cannot create binary file " + output + " (or it is the input file)");
        case HexToBinOutcome::UnknownType:
            return fail("unrecognised HEX record type" + atLine(r.line) +
                        (extended ? "" : "; --extended reads address records 02 to 05"));
        case HexToBinOutcome::BadChecksum: return fail("HEX checksum error" + atLine(r.line));
        case HexToBinOutcome::NoEndRecord: return fail("HEX file ends without an end-of-file record");
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

    int run() const
    {
        // Checked first so that a bad address leaves no file behind.
        const auto address = parseStartAddress(start);
        if (!address)
            return fail("start address is not hexadecimal: '" + start + "'");
        switch (binToHex(input, output, address)) {
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

    int run() const
    {
        const CrcKind kind = kCrcNames.at(type);
        int rc = 0;
        for (const auto& f : files) {
            const auto value = crcOfFile(f, kind);
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

    int run() const
    {
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
            const auto r = arrayFromHex(input, style, nl, text, flush);
            outcome = r.outcome;
            line = r.line;
        } else {
            outcome = arrayFromBinary(input, style, nl, text, flush);
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
    CLI::App app{"The offline tools for build scripts: HEX/BIN conversions, CRCs, source arrays,\n"
                 "thermistor tables, LED code tables and colour-band values"};
    app.name("quillon-cli");
    app.require_subcommand(1);

    Hex2Bin h2b;
    auto* cmdH2B = app.add_subcommand("hex2bin", "Intel HEX to a flat binary image starting at address 0; prints its CRC");
    cmdH2B->footer("Example:\n  quillon-cli hex2bin firmware.hex firmware.bin --fill 00 --crc crc32");
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
    cmdB2H->footer("Example:\n  quillon-cli bin2hex boot.bin boot.hex --start 8000");
    cmdB2H->add_option("input", b2h.input, "binary file")->required();
    cmdB2H->add_option("output", b2h.output, "Intel HEX file to write")->required();
    cmdB2H->add_option("--start", b2h.start, "load address of the first byte, hexadecimal (0x prefix optional)")
        ->capture_default_str();

    CrcCommand crc;
    auto* cmdCrc = app.add_subcommand("crc", "CRC of whole files");
    cmdCrc->footer("Example:\n  quillon-cli crc --type crc32 firmware.bin");
    cmdCrc->add_option("files", crc.files, "files to check")->required();
    cmdCrc->add_option("--type", crc.type, "ccitt (CRC-16/XMODEM), crc16 (CRC-16/UMTS) or crc32")
        ->check(CLI::IsMember({"ccitt", "crc16", "crc32"}))
        ->capture_default_str();

    ArrayCommand arr;
    auto* cmdArr = app.add_subcommand("array", "byte table in C or assembler source, one byte per line");
    cmdArr->footer("Example:\n  quillon-cli array --hex firmware.hex --asm --db DB --marker H -o firmware.asm");
    cmdArr->add_option("input", arr.input, "binary file, or Intel HEX file with --hex")->required();
    cmdArr->add_option("-o,--output", arr.output, "file to write (default: standard output)");
    cmdArr->add_flag("--hex", arr.hex, "input is Intel HEX: data bytes in file order, digits kept as typed");
    cmdArr->add_flag("--asm", arr.assembler, "assembler data lines instead of a C array");
    cmdArr->add_option("--db", arr.directive, "data-definition directive (assembler)")->capture_default_str();
    cmdArr->add_option("--marker", arr.marker, "hexadecimal marker (assembler)")->capture_default_str();
    cmdArr->add_flag("--prefix", arr.prefix, "marker before the digits instead of after them (assembler)");
    cmdArr->add_flag("--lf", arr.lf, "end lines with LF instead of CR LF");

    const auto offlineTools = quillon::cli::addOfflineToolCommands(app);

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
            return h2b.run();
        if (*cmdB2H)
            return b2h.run();
        if (*cmdCrc)
            return crc.run();
        for (const auto& command : offlineTools)
            if (*command.sub)
                return command.run();
        return arr.run();
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
