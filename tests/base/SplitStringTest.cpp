#include "base/SplitString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char* name;
    std::string text;
    char separator;
    int n;
    int expectedCount;
    std::vector<std::string> expectedParts; // all n entries
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class SplitStringTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitStringTest, FillsEntriesAndCountsParts) {
    const SplitCase& c = GetParam();
    // Entries start out dirty so that clearing them is checked too.
    std::vector<std::string> parts(c.n, "stale");
    EXPECT_EQ(SplitString(c.text, parts, c.n, c.separator), c.expectedCount);
    EXPECT_EQ(parts, c.expectedParts);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitStringTest,
    ::testing::Values(
        SplitCase{"adjacent_separators", "a..b", '.', 5, 3, {"a", "", "b", "", ""}},
        SplitCase{"no_separator", "fj.comp", ' ', 4, 1, {"fj.comp", "", "", ""}},
        SplitCase{"empty_text", "", '.', 3, 1, {"", "", ""}},
        SplitCase{"only_separators", "..", '.', 4, 3, {"", "", "", ""}},
        SplitCase{"separator_at_ends", ".x.", '.', 3, 3, {"", "x", ""}},
        SplitCase{"status_line",
                  "211 52 1001 1052 fj.test",
                  ' ',
                  6,
                  5,
                  {"211", "52", "1001", "1052", "fj.test", ""}},
        SplitCase{"exactly_n_parts", "a.b.c", '.', 3, 3, {"a", "b", "c"}},
        SplitCase{"more_parts_than_n", "a.b.c.d.e", '.', 3, 5, {"a", "b", "c"}},
        SplitCase{"n_is_one", "a b", ' ', 1, 2, {"a"}},
        SplitCase{"n_is_zero", "a b", ' ', 0, 2, {}},
        // "." (0x2E) is never a Shift_JIS trail byte, so double-byte text splits cleanly.
        SplitCase{"shift_jis_bytes",
                  "\x93\xfa\x96\x7b.\x8c\xea",
                  '.',
                  2,
                  2,
                  {"\x93\xfa\x96\x7b", "\x8c\xea"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(SplitStringLimits, NeverWritesPastNEntries) {
    std::vector<std::string> parts = {"keep0", "keep1", "keep2", "keep3", "keep4"};
    EXPECT_EQ(SplitString("a b c d e f", parts, 2, ' '), 6);
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "keep2", "keep3", "keep4"}));
}

TEST(SplitStringLimits, GrowsAShortArrayToN) {
    std::vector<std::string> parts;
    EXPECT_EQ(SplitString("x,y", parts, 4, ','), 2);
    EXPECT_EQ(parts, (std::vector<std::string>{"x", "y", "", ""}));
}

TEST(SplitStringLimits, LooksAtTheFirst4095BytesOnly) {
    // 4,094 bytes, a separator at byte 4,094 (the last one looked at), then more parts.
    const std::string head(4094, 'h');
    const std::string text = head + ",tail,more";
    std::vector<std::string> parts(3);
    EXPECT_EQ(SplitString(text, parts, 3, ','), 2);
    EXPECT_EQ(parts[0], head);
    EXPECT_EQ(parts[1], "");
    EXPECT_EQ(parts[2], "");

    // A single long part is cut to the limit.
    const std::string longText(5000, 'z');
    EXPECT_EQ(SplitString(longText, parts, 3, ','), 1);
    EXPECT_EQ(parts[0], std::string(kSplitStringMaxText, 'z'));
}

TEST(SplitStringLimits, TextOfExactlyTheLimitIsWhole) {
    const std::string text = std::string(4093, 'a') + ".b";
    ASSERT_EQ(text.size(), kSplitStringMaxText);
    std::vector<std::string> parts(2);
    EXPECT_EQ(SplitString(text, parts, 2, '.'), 2);
    EXPECT_EQ(parts[0], std::string(4093, 'a'));
    EXPECT_EQ(parts[1], "b");
}

} // namespace
