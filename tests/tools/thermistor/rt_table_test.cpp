#include "tools/thermistor/rt_table.h"

#include "tests/support/temp_dir.h"
#include <csignal>
#include <filesystem>
#include <sys/resource.h>

#include <gtest/gtest.h>

using namespace quillon;
using namespace quillon::thermistor;

namespace {
using E = EnterOutcome::Error;
}

TEST(RTTable, RowIsCompleteOnlyWithBothCellsFilled)
{
    EXPECT_TRUE(isComplete({"25", "10"}));
    EXPECT_TRUE(isComplete({" x ", "abc"})); // not checked to be numbers
    EXPECT_FALSE(isComplete({"25", "  "}));
    EXPECT_FALSE(isComplete({"", "10"}));
}

TEST(RTTableEnter, SteppingFillsNextTemperatureAndMovesToResistance)
{
    std::vector<Row> rows = {{"25", "10"}};
    auto out = enterKey(rows, 0, 1, true, "1");
    EXPECT_EQ(out.error, E::None);
    EXPECT_TRUE(out.appendRow);
    EXPECT_EQ(out.nextTemperature, "26");
    EXPECT_EQ(out.row, 1);
    EXPECT_EQ(out.col, 1);

    rows = {{"25", "10"}, {"99", "8"}};
    out = enterKey(rows, 0, 0, true, " 0.5 ");
    EXPECT_FALSE(out.appendRow);
    EXPECT_EQ(out.nextTemperature, "25.5");
    EXPECT_EQ(enterKey(rows, 0, 1, true, "-2.5").nextTemperature, "22.5");
    EXPECT_EQ(enterKey({{"0.1", "1"}}, 0, 1, true, "0.2").nextTemperature, "0.3");
    EXPECT_EQ(enterKey({{"0", "1"}}, 0, 1, true, "1e-6").nextTemperature, "1E-6");
}

TEST(RTTableEnter, SteppingOnIncompleteRowOnlyMovesColumn)
{
    auto out = enterKey({{"25", ""}}, 0, 0, true, "1");
    EXPECT_EQ(out.error, E::None);
    EXPECT_FALSE(out.appendRow);
    EXPECT_EQ(out.row, 0);
    EXPECT_EQ(out.col, 1);
    EXPECT_EQ(enterKey({{" ", "5"}}, 0, 1, true, "1").col, 0);
}

TEST(RTTableEnter, SteppingErrors)
{
    auto out = enterKey({{"25", "10"}}, 0, 1, true, "abc");
    EXPECT_EQ(out.error, E::BadStep);
    EXPECT_TRUE(out.focusStep);
    EXPECT_EQ(out.col, 1);

    out = enterKey({{"25", "1O"}}, 0, 1, true, "1");
    EXPECT_EQ(out.error, E::BadResistance);
    EXPECT_FALSE(out.appendRow);

    // The row appended before the temperature is read stays.
    out = enterKey({{"2x", "10"}}, 0, 1, true, "1");
    EXPECT_EQ(out.error, E::BadTemperature);
    EXPECT_TRUE(out.appendRow);
    EXPECT_EQ(out.row, 0);
    EXPECT_EQ(out.col, 0);
}

TEST(RTTableEnter, WithoutSteppingWalksTemperatureThenResistance)
{
    // Unchecked box, or an empty step, both mean no stepping.
    for (bool box : {false, true}) {
        const char* step = box ? "  " : "1";
        EXPECT_EQ(enterKey({{"", "10"}}, 0, 1, box, step).col, 0);
        auto out = enterKey({{"25", ""}}, 0, 0, box, step);
        EXPECT_EQ(out.col, 1);
        EXPECT_FALSE(out.appendRow);
        out = enterKey({{"25", "10"}}, 0, 0, box, step); // column 0: just moves right
        EXPECT_EQ(out.col, 1);
        EXPECT_EQ(out.row, 0);
        out = enterKey({{"25", "10"}}, 0, 1, box, step);
        EXPECT_TRUE(out.appendRow);
        EXPECT_FALSE(out.nextTemperature);
        EXPECT_EQ(out.row, 1);
        EXPECT_EQ(out.col, 0);
        out = enterKey({{"25", "ten"}}, 0, 1, box, step);
        EXPECT_EQ(out.error, E::BadResistance);
        EXPECT_FALSE(out.appendRow);
    }
    EXPECT_FALSE(enterKey({{"25", "10"}, {"", ""}}, 0, 1, false, "").appendRow);
}

TEST(RTDat, ParsesFieldsByTheCommaAndLineRules)
{
    const auto rows = parseDat("25,10.5,extra\r\n"
                               "25\r\n"
                               "25,\r\n"
                               ",,30,,8\r\n"
                               " 35 , 7 \n"
                               "\r\n"
                               "40,\r\n6\r\n"
                               "45,5");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].temperature, "25");
    EXPECT_EQ(rows[0].resistance, "10.5");
    EXPECT_EQ(rows[1].temperature, "30");
    EXPECT_EQ(rows[1].resistance, "8");
    EXPECT_EQ(rows[2].temperature, " 35 "); // blanks kept as read
    EXPECT_EQ(rows[2].resistance, " 7 ");
    EXPECT_EQ(rows[3].temperature, "45"); // last line without a line end
    EXPECT_EQ(rows[3].resistance, "5");
}

TEST(RTDat, LongLinesAreCutIn249BytePieces)
{
    // The first piece ends right after "1"; the rest "2,\r\n" has no second field.
    std::string line = std::string(247, '7') + ",12,\r\n";
    auto rows = parseDat(line);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].temperature, std::string(247, '7'));
    EXPECT_EQ(rows[0].resistance, "1");

    line = std::string(300, 'a') + "\r\n5,6\r\n";
    rows = parseDat(line);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].temperature, "5");
}

TEST(RTDat, GbkTextAndRoundTrip)
{
    std::vector<Row> rows = {{" 25 ", "10.5"}, {"30", ""}, {"温", "8"}, {"", ""}, {"-5", "1e3"}};
    const std::string image = formatDat(rows);
    EXPECT_EQ(image, "25,10.5\r\n\xCE\xC2,8\r\n-5,1e3\r\n"); // gap and incomplete rows vanish
    const auto back = parseDat(image);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[1].temperature, "温");
    EXPECT_EQ(formatDat(back), image);
}

TEST(RTDat, FileErrors)
{
    test::TempDir dir;
    EXPECT_FALSE(readFileBytes(dir.file("missing.dat")));
    EXPECT_EQ(writeDatFile(dir.file("no/such/dir.dat"), {{"1", "2"}}), FileStatus::OpenFailed);
    const std::string path = dir.file("t.dat");
    EXPECT_EQ(writeDatFile(path, {{"1", "2"}}), FileStatus::Ok);
    EXPECT_EQ(readFileBytes(path), "1,2\r\n");
#ifdef __linux__
    EXPECT_EQ(writeDatFile("/dev/full", {{"1", "2"}}), FileStatus::WriteFailed);
#endif
}

#ifdef __linux__
// A save that fails half way (here: the file size limit stands in for a full
// disk) leaves the table saved before intact.
TEST(RtFiles, FailedSaveKeepsThePreviousFile)
{
    test::TempDir dir;
    const std::string path = dir.file("t.dat");
    ASSERT_EQ(writeDatFile(path, {{"25", "10"}}), FileStatus::Ok);
    std::vector<Row> big(200, Row{"100", "3.3"});
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 256;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const FileStatus status = writeDatFile(path, big);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(status, FileStatus::WriteFailed);
    EXPECT_EQ(readFileBytes(path), "25,10\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}
#endif
