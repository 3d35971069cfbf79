#include "mime/Codec.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct LinesCase {
    std::string name;
    std::string file;
    std::vector<std::string> lines; // returned before the first "nothing"
};

std::ostream& operator<<(std::ostream& os, const LinesCase& c) {
    return os << c.name;
}

// Every line ReadFileLine returns from a fresh file with these bytes, up to its first "nothing".
std::vector<std::string> ReadLines(const TestDir& dir, const std::string& bytes) {
    const std::string path = dir / "lines.txt";
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr);
    std::vector<std::string> lines;
    if (!file)
        return lines;
    while (std::optional<std::string> line = ReadFileLine(file))
        lines.push_back(*line);
    std::fclose(file);
    return lines;
}

class ReadFileLineTest : public testing::TestWithParam<LinesCase> {};

TEST_P(ReadFileLineTest, ReturnsExactLines) {
    TestDir dir;
    EXPECT_EQ(ReadLines(dir, GetParam().file), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, ReadFileLineTest,
    testing::Values(LinesCase{"Empty", "", {}}, LinesCase{"CrLf", "a\r\nbc\r\n", {"a", "bc"}},
                    LinesCase{"CrLfThenEmpty", "a\r\n\r\n", {"a", ""}},
                    LinesCase{"Lf", "a\nbc\n", {"a", "bc"}},
                    LinesCase{"LfEmptyLines", "a\n\nb\n", {"a", "", "b"}},
                    LinesCase{"Cr", "a\rbc\r", {"a", "bc"}},
                    LinesCase{"Mixed", "a\n\r\nb\r\r\nc\n", {"a", "", "b", "", "c"}},
                    LinesCase{"LfCrIsTwoEnds", "a\n\rb\r\n", {"a", "", "b"}},
                    LinesCase{"CrAtEndOfFile", "a\r", {"a"}},
                    LinesCase{"LastLineWithoutEnd", "a\r\nb\r\nlast", {"a", "b"}},
                    LinesCase{"OnlyUnendedLine", "no end", {}}));

INSTANTIATE_TEST_SUITE_P(
    Bytes, ReadFileLineTest,
    testing::Values(
        LinesCase{"SecondByteIsLf", "\x82\n\r\nz\n", {"\x82\n", "z"}},
        LinesCase{"SecondByteIsCr", "\xe0\r\n", {"\xe0\r"}},
        LinesCase{"WideLeadBytes", "\x80\n\n\xa0\r\r\n\xff\n\n", {"\x80\n", "\xa0\r", "\xff\n"}},
        LinesCase{"KatakanaIsSingle", "\xb1\n\xdf\r\n", {"\xb1", "\xdf"}},
        LinesCase{"Japanese",
                  "\x93\xfa\x96\x7b\r\n\x1b$B$\"\x1b(B\n",
                  {"\x93\xfa\x96\x7b", "\x1b$B$\"\x1b(B"}},
        LinesCase{"LeadByteAtEndOfFile", "a\nb\x82", {"a"}},
        LinesCase{"ZeroEndsReading", "a\nb\0c\nd\n"s, {"a"}},
        LinesCase{"ZeroAsSecondByte", "a\x82\0b\nc\n"s, {"a\x82", "c"}}));

const std::string k4095(4095, 'a');

INSTANTIATE_TEST_SUITE_P(
    LongLines, ReadFileLineTest,
    testing::Values(LinesCase{"Exactly4095", k4095 + "\r\nb\r\n", {k4095, "b"}},
                    LinesCase{"OneOver", k4095 + "bc\r\n", {k4095, "bc"}},
                    LinesCase{"TwiceTheLimit", k4095 + k4095 + "\n", {k4095, k4095}},
                    LinesCase{"PairFitsAtTheEnd",
                              std::string(4093, 'a') + "\x82\xa0"
                                                       "b\n",
                              {std::string(4093, 'a') + "\x82\xa0", "b"}},
                    LinesCase{"PairMovesToNextLine",
                              std::string(4094, 'a') + "\x82\xa0"
                                                       "b\n",
                              {std::string(4094, 'a'), "\x82\xa0"
                                                       "b"}},
                    LinesCase{"CutLineThenUnendedRest", k4095 + "rest", {k4095}}));

TEST(ReadFileLine, ContinuesFromTheCurrentPosition) {
    TestDir dir;
    const std::string path = dir / "lines.txt";
    ASSERT_TRUE(WriteWholeFile(path, "first\nsecond\nthird\nfourth"));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, 8, SEEK_SET), 0);
    EXPECT_EQ(ReadFileLine(file), std::optional<std::string>("cond"));
    // the next reader of the file starts right after the line end
    char rest[6] = {};
    EXPECT_EQ(std::fread(rest, 1, 5, file), 5u);
    EXPECT_STREQ(rest, "third");
    EXPECT_EQ(ReadFileLine(file), std::optional<std::string>(""));
    EXPECT_EQ(ReadFileLine(file), std::nullopt);
    std::fclose(file);
}

TEST(ReadFileLine, LoneCrLeavesTheNextByteForTheNextReader) {
    TestDir dir;
    const std::string path = dir / "lines.txt";
    ASSERT_TRUE(WriteWholeFile(path, "a\rXYZ"));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadFileLine(file), std::optional<std::string>("a"));
    char rest[4] = {};
    EXPECT_EQ(std::fread(rest, 1, 3, file), 3u);
    EXPECT_STREQ(rest, "XYZ");
    std::fclose(file);
}

TEST(ReadFileLine, NullFileGivesNothing) {
    EXPECT_EQ(ReadFileLine(nullptr), std::nullopt);
}

} // namespace
