#include "text/Utf8tosjis.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace {

struct EncodeCase {
    const char* name;
    QByteArray source;
    QByteArray expected;
};

class FormEncodeTable : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(FormEncodeTable, EncodesAsExpected)
{
    EXPECT_EQ(FormEncode(GetParam().source), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, FormEncodeTable,
    ::testing::Values(
        EncodeCase{"Empty", QByteArray(), QByteArray()},
        EncodeCase{"SpaceIsPlus", " ", "+"},
        EncodeCase{"PlusPercentAmpEquals", "+%&=", "%2B%25%26%3D"},
        EncodeCase{"Tilde", "~", "%7E"},
        EncodeCase{"PassThroughMarks", "!$'()*-.@_", "!$'()*-.@_"},
        EncodeCase{"LettersDigits", "AZaz09Hello42", "AZaz09Hello42"},
        EncodeCase{"LineBreaks", "\r\n", "%0D%0A"},
        EncodeCase{"JapaneseUpperHex", "\xE3\x81\x82", "%E3%81%82"},
        EncodeCase{"FormBody", "a b&c=d", "a+b%26c%3Dd"},
        EncodeCase{"StopsAtZero", QByteArray("ab\0cd", 5), "ab"},
        EncodeCase{"LeadingZero", QByteArray("\0x", 2), ""},
        EncodeCase{"HighAndDelete", "\x7F\xFF\x80", "%7F%FF%80"}),
    [](const ::testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.name); });

// Every byte 1..255 either passes through or is escaped: exactly 72 pass, the
// space becomes "+", and every escape is upper-case hex of the byte itself.
TEST(FormEncode, EveryByteFollowsTheRule)
{
    int passed = 0;
    for (int b = 1; b < 256; ++b) {
        const QByteArray in(1, char(b));
        const QByteArray out = FormEncode(in);
        if (out == in) {
            ++passed;
        } else if (b == ' ') {
            EXPECT_EQ(out, "+");
        } else {
            ASSERT_EQ(out.size(), 3) << b;
            EXPECT_EQ(out[0], '%');
            EXPECT_EQ(out.mid(1), QByteArray::number(b, 16).toUpper().rightJustified(2, '0')) << b;
        }
    }
    EXPECT_EQ(passed, 72);
}

TEST(FormEncode, LeavesTheSourceAlone)
{
    const QByteArray source = "a b";
    const QByteArray copy = source;
    FormEncode(source);
    EXPECT_EQ(source, copy);
}

TEST(ReplaceFirst, ReplacesOnlyTheFirstOccurrence)
{
    QByteArray text = "abcabc";
    EXPECT_TRUE(ReplaceFirst(text, "abc", "Z"));
    EXPECT_EQ(text, "Zabc");

    QByteArray lines = "one\ntwo\nthree";
    EXPECT_TRUE(ReplaceFirst(lines, "\n", ""));
    EXPECT_EQ(lines, "onetwo\nthree");

    QByteArray grow = "xay";
    EXPECT_TRUE(ReplaceFirst(grow, "a", "longer"));
    EXPECT_EQ(grow, "xlongery");
}

TEST(ReplaceFirst, MissingOrEmptyPatternChangesNothing)
{
    QByteArray text = "abc";
    EXPECT_FALSE(ReplaceFirst(text, "x", "y"));
    EXPECT_FALSE(ReplaceFirst(text, "", "y"));
    EXPECT_FALSE(ReplaceFirst(text, "ABC", "y"));  // case matters
    EXPECT_EQ(text, "abc");

    QByteArray empty;
    EXPECT_FALSE(ReplaceFirst(empty, "", ""));
    EXPECT_TRUE(empty.isEmpty());
}

} // namespace
