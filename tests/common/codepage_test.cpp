#include "common/codepage.h"

#include <gtest/gtest.h>

using namespace quillon;

namespace {
const std::string kUtf8 = "温度,阻值(K欧) ABC";
} // namespace

TEST(CodePage, RoundTripsChineseText)
{
    std::string gbk = utf8ToGbk(kUtf8);
    EXPECT_EQ(gbk.substr(0, 2), "\xCE\xC2"); // 温 in GBK
    EXPECT_EQ(gbkToUtf8(gbk), kUtf8);
}

TEST(CodePage, BadBytesAreReplacedNotDropped)
{
    EXPECT_EQ(gbkToUtf8("A\xFF"
                        "B"),
              "A\xEF\xBF\xBD"
              "B");
    EXPECT_EQ(gbkToUtf8("A\xCE"), "A\xEF\xBF\xBD"); // truncated character at the end
    EXPECT_EQ(utf8ToGbk("A\xC3"), "A?");
}

TEST(CodePage, CharacterWithoutGbkCodeBecomesOneQuestionMark)
{
    // U+E78D and U+E816 are private-use points GB18030 has no code for.
    EXPECT_EQ(utf8ToGbk("A\xEE\x9E\x8D"
                        "B\xEE\xA0\x96\xEE\xA0\x96"
                        "C"),
              "A?B??C");
    // Bad bytes still count one each, also next to such a character.
    EXPECT_EQ(utf8ToGbk("\xEE\x9E\x8D\xFF\xEE\x9E"), "????");
}

TEST(CodePage, StreamDecoderHoldsBackASplitCharacter)
{
    std::string gbk = utf8ToGbk("收到数据");
    GbkStreamDecoder dec;
    std::string out;
    // Split inside the second character.
    out += dec.decode(std::string_view(gbk).substr(0, 3));
    EXPECT_EQ(dec.pending(), 1u);
    EXPECT_EQ(out, "收");
    out += dec.decode(std::string_view(gbk).substr(3));
    EXPECT_EQ(out, "收到数据");
    EXPECT_EQ(dec.pending(), 0u);
}

TEST(CodePage, StreamDecoderByteByByteAndFlush)
{
    std::string gbk = utf8ToGbk("a中b");
    GbkStreamDecoder dec;
    std::string out;
    for (char c : gbk) out += dec.decode(std::string_view(&c, 1));
    EXPECT_EQ(out, "a中b");
    EXPECT_EQ(dec.decode(std::string_view("\xD6", 1)), "");
    EXPECT_EQ(dec.flush(), "\xEF\xBF\xBD");
    EXPECT_EQ(dec.decode(std::string_view("x")), "x");
}
