#include "vars/map_import.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace quillon::vars;
using quillon::test::TempDir;

namespace {

std::vector<MapSymbol> symbolsOf(const std::string& text)
{
    std::istringstream in(text);
    std::vector<MapSymbol> out;
    readIccMap(in, [&](const MapSymbol& s) { out.push_back(s); });
    return out;
}

std::string listing(const std::vector<MapSymbol>& symbols)
{
    std::string out;
    for (const auto& s : symbols) out += s.name + "@" + std::to_string(s.address) + "+" + std::to_string(s.size) + " ";
    return out;
}

const char* const kExample = "Area                               Addr   Size   Decimal Bytes (Attributes)\r\n"
                             "  data                               0060   0000 =      0. bytes (rel,con,ram)\r\n"
                             " 0100 __bss_start\r\n"
                             " 0100 _a\r\n"
                             " 0101 _b\r\n"
                             " 0103 _buf\r\n"
                             " 0113 __bss_end\r\n"
                             " 0200 _after\r\n"
                             " 0210 _late\r\n";

} // namespace

TEST(IccMap, SymbolsOfTheWindowSizedByTheNext)
{
    EXPECT_EQ(listing(symbolsOf(kExample)), "a@256+1 b@257+2 buf@259+16 ");
    const VarRow a = rowForSymbol({"a", 0x100, 1});
    EXPECT_EQ(savedColumns(a), (std::vector<std::string>{"a", "0", "char", "0100", "1", "Hex"}));
    EXPECT_EQ(rowForSymbol({"b", 0x101, 2}).def.type, VarType::Int);
    EXPECT_EQ(rowForSymbol({"l", 0x101, 4}).def.type, VarType::Long);
    // Eight bytes is an array, never a double; long arrays keep their length.
    const VarRow eight = rowForSymbol({"d", 0x200, 8});
    EXPECT_EQ(eight.def.type, VarType::Array);
    EXPECT_EQ(eight.length, 8);
    const VarRow big = rowForSymbol({"big", 0x200, 300});
    EXPECT_EQ(big.length, 300);
    EXPECT_EQ(big.def.maskOrLength, 44);
}

TEST(IccMap, OddWindowsAndLines)
{
    // No window: nothing.
    EXPECT_EQ(listing(symbolsOf(" 0100 _a\n 0102 _b\n")), "");
    // Address 0 is no previous symbol; headings and blank lines inside are skipped;
    // LF-only lines and trailing blanks are fine.
    EXPECT_EQ(listing(symbolsOf("__bss_start\n0000 _zero\n\nSymbol table\n0004 _x  \n0006 _y\n0008 __bss_end\n")),
              "x@4+2 y@6+2 ");
    // Symbols out of order: the zero and negative sizes are dropped, the others kept.
    EXPECT_EQ(listing(symbolsOf("__bss_start\n0010 _p\n0010 _q\n0008 _r\n000C _s\n0010 __bss_end\n")), "r@8+4 s@12+4 ");
    // Without the end symbol the last one has no size and is not added.
    EXPECT_EQ(listing(symbolsOf("__bss_start\n0010 _p\n0012 _q\n")), "p@16+2 ");
}

TEST(IccMap, LongLinesAndGarbageAreReadInPieces)
{
    // A 100 KB line is read as pieces; the symbol after it still counts.
    std::string text = "__bss_start\n0010 _p\n" + std::string(100 * 1024, 'Z') + "\n0014 _q\n0015 __bss_end\n";
    EXPECT_EQ(listing(symbolsOf(text)), "p@16+4 q@20+1 ");
    // A line of exactly one piece; then a line whose second piece opens the window.
    std::string exact = "__bss_start\n" + std::string(kMapPieceBytes, 'Q') + "\n0020 _a\n0021 __bss_end\n";
    EXPECT_EQ(listing(symbolsOf(exact)), "a@32+1 ");
    std::string late = std::string(kMapPieceBytes, ' ') + "__bss_start\n0020 _a\n0022 __bss_end\n";
    EXPECT_EQ(listing(symbolsOf(late)), "a@32+2 ");
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131) & 0xFF);
    EXPECT_NO_THROW(symbolsOf("__bss_start\n" + binary));
}

TEST(IccMap, ImportAddsAtTheFirstFreeNumberEveryTime)
{
    TempDir dir;
    const std::string path = dir.file("app.map");
    TempDir::writeFile(path, kExample);
    VarList list;
    VarRow first;
    first.def.number = 1;
    list.insert(first);
    EXPECT_EQ(importIccMap(path, list), 3u);
    EXPECT_EQ(importIccMap(path, list), 3u);
    ASSERT_EQ(list.size(), 7u);
    std::string order;
    for (const auto& r : list.rows()) order += std::to_string(r.def.number) + r.def.name + " ";
    EXPECT_EQ(order, "0a 1 2b 3buf 4a 5b 6buf ");
    EXPECT_EQ(importIccMap(dir.file("missing.map"), list), std::nullopt);
}
