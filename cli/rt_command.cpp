// quillon-cli rt: the thermistor page's look-up table from a ".dat" table or
// from a Beta / Steinhart-Hart model, and ".dat" files from a model.

#include "cli/commands.h"
#include "common/numbers.h"
#include "common/text.h"
#include "tools/thermistor/rt_codegen.h"
#include "tools/thermistor/rt_model.h"
#include "tools/thermistor/rt_table.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

namespace quillon::cli {

namespace {

struct RtOptions {
    std::string table;
    std::string resistor = "22";
    int bits = 8;
    int circuit = 1;
    bool assembler = false, prefix = false, lf = false;
    std::string directive = "DB", marker = "H";
    std::string output, writeDat;
    // Model rows instead of a table file.
    std::string beta, r25, t25 = "25", steinhart, fit;
    std::string from, to, step = "1";
    // Options that would go unused.
    bool betaOptionsAlone = false, rangeWithTable = false;
};

// Splits "a,b,c" into exactly `n` decimal numbers.
std::optional<std::vector<long double>> numberList(const std::string& text, size_t n, char separator = ',')
{
    std::vector<long double> values;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        const auto v = parseDecimal(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!v) return std::nullopt;
        values.push_back(*v);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (values.size() != n) return std::nullopt;
    return values;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return !a.empty() && !b.empty() && a != "-" && b != "-" && std::filesystem::equivalent(a, b, ec);
}

// The one model the options name, or the exit status of why there is none.
int modelOf(const RtOptions& o, thermistor::Model& model)
{
    if (!o.beta.empty()) {
        if (!o.steinhart.empty() || !o.fit.empty()) return usageError("give only one model");
        const auto b = parseDecimal(o.beta);
        const auto r25 = parseDecimal(o.r25);
        const auto t25 = parseDecimal(o.t25);
        if (!b || !r25 || !t25) return usageError("--beta needs numbers for B, --r25 (kΩ) and --t25 (°C)");
        model = thermistor::BetaModel{*b, *r25, *t25};
    } else if (!o.steinhart.empty()) {
        if (!o.fit.empty()) return usageError("give only one model");
        const auto abc = numberList(o.steinhart, 3);
        if (!abc) return usageError("--steinhart takes three numbers A,B,C");
        model = thermistor::SteinhartHart{(*abc)[0], (*abc)[1], (*abc)[2]};
    } else {
        std::array<thermistor::Point, 3> points;
        size_t start = 0;
        for (size_t i = 0; i < 3; ++i) {
            const size_t end = o.fit.find(',', start);
            const auto pair = numberList(o.fit.substr(start, end == std::string::npos ? end : end - start), 2, ':');
            if (!pair || (i < 2) == (end == std::string::npos))
                return usageError("--fit takes three points T:R,T:R,T:R (°C and kΩ)");
            points[i] = {(*pair)[0], (*pair)[1]};
            start = end + 1;
        }
        try {
            model = thermistor::fitSteinhartHart(points);
        } catch (const thermistor::ModelError& e) {
            return usageError(std::string("--fit: ") + e.what());
        }
    }
    return 0;
}

int run(const RtOptions& o)
{
    const bool modelGiven = !o.beta.empty() || !o.steinhart.empty() || !o.fit.empty();
    if (modelGiven == !o.table.empty())
        return usageError("give either a .dat table or one model (--beta, --steinhart or --fit)");
    if (o.betaOptionsAlone) return usageError("--r25 and --t25 belong to --beta");
    if (o.rangeWithTable) return usageError("--from, --to and --step make rows from a model, not from a table");
    if (sameFile(o.table, o.writeDat)) return usageError("--write-dat names the input table");
    if (sameFile(o.table, o.output)) return usageError("the output file is the input table");

    // The divider resistor is checked as the page checks its box, before any row.
    const std::string rText = trim(o.resistor);
    if (rText.empty()) return usageError("请选择分压电阻值!");
    const auto r = parseDecimal(rText);
    if (!r) return usageError("请正确填写分压电阻值! (" + o.resistor + ")");

    std::vector<thermistor::Row> rows;
    if (!o.table.empty()) {
        const auto table = takeInput(o.table);
        if (!table) return kExitFailure;
        const auto bytes = thermistor::readFileBytes(*table);
        if (!bytes) return fail("打开文件时出错! (" + o.table + ")");
        rows = thermistor::parseDat(*bytes);
    } else {
        thermistor::Model model;
        if (const int rc = modelOf(o, model)) return rc;
        const auto from = parseDecimal(o.from);
        const auto to = parseDecimal(o.to);
        const auto step = parseDecimal(o.step);
        if (!from || !to || !step) return usageError("a model needs --from and --to, and --step, in °C");
        try {
            rows = thermistor::modelRows(model, thermistor::temperatureRange(*from, *to, *step));
        } catch (const thermistor::ModelError& e) {
            return fail(e.what());
        }
    }

    if (!o.writeDat.empty()) {
        if (const int rc = writeOutput(o.writeDat, thermistor::formatDat(rows))) return rc;
        if (o.output.empty()) return 0;
    }

    thermistor::EmitOptions e;
    e.r = *r;
    e.tenBits = o.bits == 10;
    e.circuit = o.circuit == 1 ? thermistor::Circuit::Rt_Above_R : thermistor::Circuit::R_Above_Rt;
    e.asmStyle = o.assembler;
    e.prefix = o.prefix;
    e.directive = o.directive;
    e.marker = o.marker;
    const thermistor::EmitResult res = thermistor::emitTable(rows, e);
    const std::string where = " (table row " + std::to_string(res.failedRow + 1) + ")";
    switch (res.status) {
    case thermistor::EmitResult::Status::Ok: break;
    case thermistor::EmitResult::Status::BadNumber: return fail("请正确填写电阻值!" + where);
    case thermistor::EmitResult::Status::Arithmetic: return fail("程序产生异常！请检查输入数据的合理性！" + where);
    }
    if (res.lines.size() == 1) std::cerr << "quillon-cli: warning: the table has no complete row\n";
    return writeOutput(o.output, withLineEnds(res.text(), o.lf));
}

} // namespace

Command addRtCommand(CLI::App& app)
{
    auto o = std::make_shared<RtOptions>();
    auto* cmd =
        app.add_subcommand("rt", "thermistor ADC look-up table, from a .dat table or a Beta / Steinhart-Hart model");
    cmd->footer("Examples:\n"
                "  quillon-cli rt ntc10k.dat -r 10 --bits 10 -o rt_table.c\n"
                "  quillon-cli rt --beta 3950 --r25 10 --from -40 --to 125 --step 5 -r 10\n"
                "  quillon-cli rt --beta 3950 --r25 10 --from -40 --to 125 --write-dat ntc10k.dat");
    auto* table =
        cmd->add_option("table", o->table, ".dat file: temperature,resistance (kΩ) per line, as the page saves it");
    cmd->add_option("-r,--resistor", o->resistor, "divider resistor R in kΩ")->capture_default_str();
    cmd->add_option("--bits", o->bits, "ADC resolution: 8 (full scale 255) or 10 (1023)")
        ->check(CLI::IsMember({8, 10}))
        ->capture_default_str();
    cmd->add_option("--circuit", o->circuit, "1: Vcc-Rt-ADC-R-GND, 2: Vcc-R-ADC-Rt-GND")
        ->check(CLI::IsMember({1, 2}))
        ->capture_default_str();
    cmd->add_flag("--asm", o->assembler, "assembler data lines instead of a C array");
    cmd->add_option("--db", o->directive, "data directive (assembler; empty gives DB)")->capture_default_str();
    cmd->add_option("--marker", o->marker, "hexadecimal marker (assembler)")->capture_default_str();
    cmd->add_flag("--prefix", o->prefix, "marker before the digits instead of after them (assembler)");
    cmd->add_flag("--lf", o->lf, "end lines with LF instead of CR LF");
    cmd->add_option("-o,--output", o->output, "file to write the table to (default: standard output)");
    cmd->add_option("--write-dat", o->writeDat,
                    "write the rows as a .dat file the page loads; the table then goes only to -o, if given");
    auto* group = cmd->add_option_group("model", "temperature-resistance rows from a model instead of a table");
    auto* beta = group->add_option("--beta", o->beta, "Beta constant B (K) of R = R25 exp(B (1/T - 1/T25))");
    auto* r25 = group->add_option("--r25", o->r25, "resistance at T25, kΩ (with --beta)");
    auto* t25 = group->add_option("--t25", o->t25, "reference temperature, °C (with --beta)")->capture_default_str();
    group->add_option("--steinhart", o->steinhart, "A,B,C of 1/T = A + B ln R + C (ln R)^3 (T in K, R in Ω)");
    group->add_option("--fit", o->fit, "Steinhart-Hart through three points T:R,T:R,T:R (°C, kΩ)");
    auto* from = group->add_option("--from", o->from, "first temperature, °C");
    auto* to = group->add_option("--to", o->to, "last temperature, °C");
    auto* step = group->add_option("--step", o->step, "temperature step, °C")->capture_default_str();
    return {cmd, [=] {
                o->betaOptionsAlone = (r25->count() || t25->count()) && !beta->count();
                o->rangeWithTable = (from->count() || to->count() || step->count()) && table->count();
                return run(*o);
            }};
}

} // namespace quillon::cli
