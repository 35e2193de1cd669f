// quillon-cli bands: resistance and tolerance of a 4- or 5-band colour code,
// printed as the colour-band page shows them.

#include "cli/commands.h"
#include "common/text.h"
#include "tools/resistor/color_bands.h"

#include <memory>

namespace quillon::cli {

namespace {

struct BandsOptions {
    std::vector<std::string> colors;
    std::string unit = "ohm";
};

const char* role(size_t band, bool fiveBand)
{
    const size_t count = fiveBand ? 5 : 4;
    if (band + 1 == count) return "tolerance";
    if (band + 2 == count) return "multiplier";
    return "digit";
}

int run(const BandsOptions& o)
{
    if (o.colors.size() != 4 && o.colors.size() != 5) return usageError("give the colours of 4 or 5 bands");
    const bool fiveBand = o.colors.size() == 5;
    const std::vector<int> columns = resistor::bandColumns(fiveBand);
    resistor::Decoder decoder;
    for (size_t i = 0; i < o.colors.size(); ++i) {
        const auto color = resistor::colorByName(o.colors[i]);
        if (!color) return usageError("unknown colour \"" + o.colors[i] + "\"");
        // Only the colours the page offers for that band: no gold digit, no black tolerance.
        if (!resistor::hasButton(columns[i], *color))
            return usageError("band " + std::to_string(i + 1) + " (" + role(i, fiveBand) + ") cannot be " +
                              o.colors[i]);
        decoder.select(columns[i], *color);
    }
    const std::string unit = toLowerAscii(o.unit);
    const resistor::Unit u = unit == "kohm"   ? resistor::Unit::KOhm
                             : unit == "mohm" ? resistor::Unit::MOhm
                                              : resistor::Unit::Ohm;
    return writeOutput("-", decoder.valueText(fiveBand, u) + "\n" + decoder.precisionText() + "\n");
}

} // namespace

Command addBandsCommand(CLI::App& app)
{
    auto o = std::make_shared<BandsOptions>();
    auto* cmd = app.add_subcommand("bands", "resistance and tolerance of a 4- or 5-band colour code");
    cmd->footer("Colours: black brown red orange yellow green blue purple gray white gold silver none,\n"
                "or the page's names 黑 棕 红 橙 黄 绿 蓝 紫 灰 白 金 银 无. The last band is the\n"
                "tolerance (none: no band, ±20%), the one before it the multiplier.\n"
                "Prints the value in the unit, then the tolerance line of the page.\n"
                "Examples:\n"
                "  quillon-cli bands brown black red gold          (1000, 精度: ±5%)\n"
                "  quillon-cli bands 棕 黑 绿 棕 棕 --unit kohm");
    cmd->add_option("colors", o->colors, "band colours, first band first")->required();
    cmd->add_option("--unit", o->unit, "unit of the value: ohm, kohm or mohm (megaohm)")
        ->check(CLI::IsMember({"ohm", "kohm", "mohm"}, CLI::ignore_case))
        ->capture_default_str();
    return {cmd, [o] { return run(*o); }};
}

} // namespace quillon::cli
