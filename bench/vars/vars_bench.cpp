// Times what grows with the user's data in the variable box: reading a large
// settings section, importing a large linker map, and saving many watched
// variables, each in the core and, for the import and the save, through the
// variable box's own buttons. Prints seconds per step (best of `runs`).
//
//   vars_bench [work-folder [map-symbols [section-lines]]]
//
// The work folder defaults to a new one under /tmp; saving syncs the file,
// so the figure depends on the disk under it.

#include "app/page_host.h"
#include "bench/bench_dialogs.h"
#include "common/settings_file.h"
#include "vars/map_import.h"
#include "vars/var_group.h"
#include "vars/var_settings.h"

#include <QApplication>
#include <QPushButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

template <typename F>
double seconds(F&& f)
{
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

template <typename F>
double best(int runs, F&& f)
{
    double b = 1e30;
    for (int i = 0; i < runs; ++i) b = std::min(b, seconds(f));
    return b;
}

void writeSection(const std::string& path, const std::string& name, long lines)
{
    std::ofstream out(path, std::ios::binary);
    out << "[Other]\r\nk=v\r\n[" << name << "]\r\n";
    for (long i = 0; i < lines; ++i) out << "Key" << i << "=value of line " << i << "\r\n";
}

void writeVarList(const std::string& path, long rows)
{
    std::ofstream out(path, std::ios::binary);
    out << "[Var Count]\r\nCount=" << rows << "\r\n[VAR List]\r\n";
    for (long i = 0; i < rows; ++i)
        out << i << "=Var" << i << ",0,long," << std::hex << 0x100 + 4 * i << std::dec << ",4,Hex\r\n";
}

// An ICC map of `symbols` globals of 1, 2, 4 and 8 bytes in turn.
void writeMap(const std::string& path, long symbols)
{
    std::ofstream out(path, std::ios::binary);
    out << "Area                               Addr  Size   Decimal Bytes (Attributes)\r\n";
    out << "        bss                        0100  xxxx = ... bytes (rel,con)\r\n\r\n";
    out << "      Addr  Global Symbol\r\n     -----  --------------------------------\r\n";
    long address = 0x100;
    out << std::hex << std::uppercase;
    out << "      " << address << "  __bss_start\r\n";
    const long sizes[] = {1, 2, 4, 8};
    for (long i = 0; i < symbols; ++i) {
        out << "      " << address << "  _global_" << std::dec << i << std::hex << "\r\n";
        address += sizes[i % 4];
    }
    out << "      " << address << "  __bss_end\r\n";
}

vars::VarList variables(long rows)
{
    vars::VarList list;
    for (long i = 0; i < rows; ++i) {
        vars::VarDefinition def;
        def.number = static_cast<int32_t>(i);
        def.name = "Var" + std::to_string(i);
        def.type = vars::VarType::Long;
        def.offset = static_cast<int32_t>(0x100 + 4 * i);
        vars::VarRow row = vars::rowFor(def);
        row.value = std::to_string(i * 7919);
        list.insert(std::move(row));
    }
    return list;
}

class BenchHost : public PageHost {
public:
    explicit BenchHost(std::string settings) : settings_(std::move(settings)) {}
    void setStatusText(int, const QString&) override {}
    QString statusText(int) const override { return {}; }
    void repaintStatus() override {}
    Dialogs& dialogs() override { return dialogs_; }
    std::string settingsPath() const override { return settings_; }
    QTimer* timer2() override { return nullptr; }
    QWidget* mainWindow() override { return nullptr; }

    struct MapDialogs : bench::BenchDialogs {
        QString mapPath;
        std::optional<QString> openFile(const QString&, const QString&) override { return mapPath; }
    } dialogs_;

private:
    std::string settings_;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    std::string dir = argc > 1 ? argv[1] : "";
    const bool ownFolder = dir.empty();
    if (ownFolder) {
        char name[] = "/tmp/quillon-vars-bench-XXXXXX";
        if (!::mkdtemp(name)) return 1;
        dir = name;
    }
    const long symbols = argc > 2 ? std::atol(argv[2]) : 1000000;
    const long lines = argc > 3 ? std::atol(argv[3]) : 100000;
    const long saved = 3000;
    std::printf("work folder %s\n", dir.c_str());

    // Settings section: one read of a section of `lines` keys, and the
    // variable rows of a Var List that long.
    const std::string ini = dir + "/section.INI";
    writeSection(ini, "Big", lines);
    size_t entries = 0;
    const double section = best(3, [&] { entries = SettingsFile(ini).readSection("Big").size(); });
    std::printf("section load, %ld lines: %.3f s (%zu entries)\n", lines, section, entries);
    writeVarList(ini, lines);
    vars::VarList loaded;
    const double varLoad = best(3, [&] { vars::loadVariables(SettingsFile(ini), loaded); });
    std::printf("variable load, %ld rows: %.3f s (%zu rows)\n", lines, varLoad, loaded.size());

    // Map import: the core, then the box's 读取 button (import and rows shown).
    const std::string map = dir + "/big.map";
    writeMap(map, symbols);
    vars::VarList imported;
    size_t added = 0;
    const double importCore = seconds([&] { added = vars::importIccMap(map, imported).value_or(0); });
    std::printf("map import, %ld symbols: %.3f s (%zu rows)\n", symbols, importCore, added);

    const std::string boxIni = dir + "/box.INI";
    BenchHost host(boxIni);
    host.dialogs_.mapPath = QString::fromStdString(map);
    vars::VarList boxList;
    {
        vars::VarGroup box(host, boxList);
        const double importBox = seconds([&] { box.btnReadMapClick(); });
        std::printf("map import on the variable box (读取), %ld symbols: %.3f s (%zu rows)\n", symbols, importBox,
                    boxList.size());
    }

    // Saving: `saved` rows into a new file, then again over the saved ones.
    const std::string saveIni = dir + "/save.INI";
    std::filesystem::remove(saveIni);
    vars::VarList many = variables(saved);
    const double firstSave = seconds([&] {
        SettingsFile s(saveIni);
        vars::saveVariables(s, many);
    });
    const double reSave = best(3, [&] {
        SettingsFile s(saveIni);
        vars::saveVariables(s, many);
    });
    std::printf("variable save, %ld rows: %.3f s new file, %.3f s over the saved rows\n", saved, firstSave, reSave);

    std::filesystem::remove(boxIni);
    vars::VarList boxRows = variables(saved);
    {
        vars::VarGroup box(host, boxRows);
        auto* button = box.findChild<QPushButton*>(QStringLiteral("btnSaveVars"));
        const double saveBox = seconds([&] { button->click(); });
        std::printf("variable save on the variable box (保存), %ld rows: %.3f s\n", saved, saveBox);
    }
    if (ownFolder) std::filesystem::remove_all(dir);
    return 0;
}
