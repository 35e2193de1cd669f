// quillon-cli led: the LED page's code table from a segment map given as a
// pattern string or by the name of a pattern the page stored.

#include "cli/commands.h"
#include "common/settings_file.h"
#include "tools/led/led_codes.h"
#include "tools/led/pattern_list.h"

#include <filesystem>
#include <memory>
#include <unistd.h>

namespace quillon::cli {

namespace {

struct LedOptions {
    int type = 7;
    std::string segments, pattern, settings;
    bool invert = false, assembler = false, prefix = false, lf = false;
    int bits = 8;
    std::string directive = "DB", marker = "H";
    std::string output;
};

// The program's settings file, found as the program finds it (the program is
// installed beside us): beside it in a build, in the user's folder once installed.
std::string defaultSettingsPath()
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto dir = ec ? std::filesystem::current_path() : self.parent_path();
    return SettingsFile::locationFor((dir / "quillon").string());
}

int run(const LedOptions& o)
{
    const led::LedType type = o.type == 7    ? led::LedType::Seg7
                              : o.type == 14 ? led::LedType::Seg14
                                             : led::LedType::Seg16;
    const size_t length = static_cast<size_t>(led::segmentCount(type));
    if (o.segments.empty() == o.pattern.empty()) return usageError("give either --segments or --pattern");

    std::string patternText = o.segments;
    if (!o.pattern.empty()) {
        const SettingsFile settings(o.settings.empty() ? defaultSettingsPath() : o.settings);
        if (::access(settings.path().c_str(), R_OK) != 0) return fail("cannot read settings file " + settings.path());
        led::PatternList patterns;
        patterns.load(settings, type);
        const auto* entry = patterns.find(o.pattern);
        if (!entry)
            return fail("no pattern \"" + o.pattern + "\" in [" + led::patternSection(type) + "] of " +
                        settings.path());
        patternText = entry->pattern;
    } else if (o.segments.size() != length) {
        // A string meant for another display type would otherwise be read in part.
        return usageError("请正确填写各段位置信息! (--segments needs " + std::to_string(length) + " hex digits for " +
                          std::to_string(o.type) + " segments)");
    }
    const auto positions = led::patternPositions(type, patternText);
    if (!positions) return fail("请正确填写各段位置信息! (" + patternText + ")");

    led::EmitOptions e;
    e.assembler = o.assembler;
    e.fourBits = o.bits == 4;
    e.dataDefine = o.directive;
    e.hexMarker = o.marker;
    e.prefix = o.prefix;
    std::string text;
    for (const auto& line : led::encodeTable(type, *positions, o.invert, e)) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return writeOutput(o.output, withLineEnds(text, o.lf));
}

} // namespace

Command addLedCommand(CLI::App& app)
{
    auto o = std::make_shared<LedOptions>();
    auto* cmd = app.add_subcommand("led", "LED segment code table of the digits (and letters) in C or assembler");
    cmd->footer("The segment string has one hex digit per segment, the bit that drives it, in the\n"
                "order of the page's boxes: G F E D C B A (7), N M L K J H G2 G1 F E D C B A (14),\n"
                "N M L K J H G2 G1 F E D2 D1 C B A2 A1 (16).\n"
                "Examples:\n"
                "  quillon-cli led --segments 6543210 -o led7.c\n"
                "  quillon-cli led --type 16 --pattern Board2 --asm --bits 4");
    cmd->add_option("--type", o->type, "display: 7, 14 or 16 segments")
        ->check(CLI::IsMember({7, 14, 16}))
        ->capture_default_str();
    cmd->add_option("-s,--segments", o->segments, "segment positions as a pattern string, such as 6543210");
    cmd->add_option("-p,--pattern", o->pattern, "name of a pattern stored by the page");
    cmd->add_option("--settings", o->settings, "settings file to read --pattern from (default: the program's)");
    cmd->add_flag("--invert", o->invert, "invert every code (common anode)");
    cmd->add_option("--bits", o->bits, "bits per line: 8, or 4 for one line per nibble")
        ->check(CLI::IsMember({4, 8}))
        ->capture_default_str();
    cmd->add_flag("--asm", o->assembler, "assembler data lines instead of C arrays");
    cmd->add_option("--db", o->directive, "data directive (assembler)")->capture_default_str();
    cmd->add_option("--marker", o->marker, "hexadecimal marker (assembler)")->capture_default_str();
    cmd->add_flag("--prefix", o->prefix, "marker before the digits instead of after them (assembler)");
    cmd->add_flag("--lf", o->lf, "end lines with LF instead of CR LF");
    cmd->add_option("-o,--output", o->output, "file to write (default: standard output)");
    return {cmd, [o] { return run(*o); }};
}

} // namespace quillon::cli
