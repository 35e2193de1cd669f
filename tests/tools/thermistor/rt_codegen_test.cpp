#include "tools/thermistor/rt_codegen.h"

#include <gtest/gtest.h>

using namespace quillon::thermistor;

namespace {

EmitOptions asmOptions(bool prefix, std::string directive, std::string marker)
{
    EmitOptions o;
    o.asmStyle = true;
    o.prefix = prefix;
    o.directive = std::move(directive);
    o.marker = std::move(marker);
    return o;
}

const std::vector<Row> kExample = {{"25", "10"}, {"30", "8"}};

} // namespace

TEST(RTCodegen, AssemblerLineForms)
{
    EXPECT_EQ(emitTable(kExample, asmOptions(false, "DB", "H")).text(),
              "rtTable:\n\tDB\t0afH\t; 25.00\t\t10.0000\n\tDB\t0bbH\t; 30.00\t\t8.0000\n\n");
    EXPECT_EQ(emitTable(kExample, asmOptions(true, "DB", "0x")).lines[1], "\tDB\t0x0af\t; 25.00\t\t10.0000");
    // An empty directive means DB; one of blanks is kept as typed, and so is the marker.
    EXPECT_EQ(emitTable(kExample, asmOptions(true, "", "$")).lines[1], "\tDB\t$0af\t; 25.00\t\t10.0000");
    EXPECT_EQ(emitTable(kExample, asmOptions(false, " ", " h")).lines[1], "\t \t0af h\t; 25.00\t\t10.0000");
    EXPECT_EQ(emitTable(kExample, asmOptions(false, ".byte", "%d")).lines[2], "\t.byte\t0bb%d\t; 30.00\t\t8.0000");
}

TEST(RTCodegen, CommaLooksOnlyAtTheNextGridRow)
{
    const std::vector<Row> rows = {{"0", "30"}, {"10", "20"}, {"15", ""}, {"20", "12"}, {" ", " "}};
    const EmitResult res = emitTable(rows, EmitOptions{});
    ASSERT_EQ(res.lines.size(), 4u);
    EXPECT_EQ(res.lines[1], "\t0x06b,\t// 0.00\t\t30.0000");
    EXPECT_EQ(res.lines[2], "\t0x085\t// 10.00\t\t20.0000"); // gap below: no comma
    EXPECT_EQ(res.lines[3], "\t0x0a5\t// 20.00\t\t12.0000"); // incomplete last row
}

TEST(RTCodegen, TenBitsCircuitTwoAndNegativeCodes)
{
    EmitOptions o;
    o.tenBits = true;
    o.circuit = Circuit::R_Above_Rt;
    o.r = 10;
    EmitResult res = emitTable({{"-40.5", "90"}}, o);
    EXPECT_EQ(res.text(), "unsigned int rtTable[] = {\n\t0x0398\t// -40.50\t\t90.0000\n};\n"); // 1023*90/100 = 920.7

    EXPECT_EQ(adcCode(255, 22, -11, Circuit::Rt_Above_R), 510);
    EXPECT_EQ(adcCode(255, 22, -44, Circuit::Rt_Above_R), -255);
    res = emitTable({{"0", "-44"}}, EmitOptions{});
    EXPECT_EQ(res.lines[1], "\t0x0ffffff01\t// 0.00\t\t-44.0000");
    // Truncation is toward zero on both sides.
    EXPECT_EQ(adcCode(255, 22, -23, Circuit::R_Above_Rt), 5865);
    EXPECT_EQ(adcCode(255, 1, 2, Circuit::R_Above_Rt), 170);
    EXPECT_EQ(adcCode(1023, 1, 2, Circuit::Rt_Above_R), 341);
}

TEST(RTCodegen, WidthsOfTemperatureAndResistance)
{
    EXPECT_EQ(tableLine(EmitOptions{}, 5, -0.5L, 123456.78L, false), "\t0x05\t// -0.50\t\t123456.7800");
    EXPECT_EQ(tableLine(asmOptions(false, "DB", "H"), 0, 0, 0, true), "\tDB\t00H\t; 0.00\t\t0.0000");
}

TEST(RTCodegen, StopsAtBadNumberOrArithmeticFailure)
{
    EmitResult res = emitTable({{"25", "10"}, {"30", "8k"}, {"35", "6"}}, EmitOptions{});
    EXPECT_EQ(res.status, EmitResult::Status::BadNumber);
    EXPECT_EQ(res.failedRow, 1);
    EXPECT_EQ(res.text(), "unsigned char rtTable[] = {\n\t0x0af,\t// 25.00\t\t10.0000"); // no closing

    res = emitTable({{"t", "10"}}, EmitOptions{});
    EXPECT_EQ(res.status, EmitResult::Status::BadNumber);

    res = emitTable({{"25", "10"}, {"30", "-22"}}, EmitOptions{});
    EXPECT_EQ(res.status, EmitResult::Status::Arithmetic);
    EXPECT_EQ(res.lines.size(), 2u);
    EXPECT_THROW(adcCode(255, 22, -22, Circuit::R_Above_Rt), ArithmeticError);
    // Readings that overflow the 32-bit code are failures too, not wrapped values.
    EXPECT_THROW(adcCode(255, 22, -21.9999999999L, Circuit::Rt_Above_R), ArithmeticError);
    EXPECT_THROW(adcCode(255, 1e4931L, 1e4931L, Circuit::Rt_Above_R), ArithmeticError);
}

TEST(RTCodegen, EmptyTableAndUsageText)
{
    EXPECT_EQ(emitTable({{"", ""}}, EmitOptions{}).text(), "unsigned char rtTable[] = {\n};\n");
    EXPECT_EQ(emitTable({}, asmOptions(false, "DB", "H")).text(), "rtTable:\n\n");
    const std::string usage = usageText();
    EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 10);
    EXPECT_EQ(usage.substr(usage.rfind('\n') + 1), "6. 单击\"复制\"将编码结果拷贝到粘贴板, 一切OK！");
}
