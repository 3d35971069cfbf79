#include "threads/MessageIdIndex.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct ParseCase {
    const char* name;
    std::string entry;
    std::optional<CIndexEntry> expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseIndexEntryTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseIndexEntryTest, CutsAtTheLastCommaAndTheFirstBlank) {
    const ParseCase& c = GetParam();
    const std::optional<CIndexEntry> got = ParseIndexEntry(c.entry);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (!got)
        return;
    EXPECT_EQ(got->m_recordIndex, c.expected->m_recordIndex);
    EXPECT_EQ(got->m_messageId, c.expected->m_messageId);
    EXPECT_EQ(got->m_itemId, c.expected->m_itemId);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseIndexEntryTest,
    ::testing::Values(
        ParseCase{"plain", "0 <a@example.com> ,1", CIndexEntry{0, "<a@example.com>", 1}},
        ParseCase{"large_numbers", "99999 <z@x> ,2147483647",
                  CIndexEntry{99999, "<z@x>", 2147483647}},
        ParseCase{"negative_identifier", "3 <a@x> ,-42", CIndexEntry{3, "<a@x>", -42}},
        ParseCase{"zero_identifier", "4 <a@x> ,0", CIndexEntry{4, "<a@x>", 0}},
        ParseCase{"comma_in_id", "5 <a,b@x> ,7", CIndexEntry{5, "<a,b@x>", 7}},
        ParseCase{"comma_and_number_in_id", "6 <a ,9@x> ,8", CIndexEntry{6, "<a ,9@x>", 8}},
        ParseCase{"id_ending_in_comma", "6 <a@x>, ,8", CIndexEntry{6, "<a@x>,", 8}},
        ParseCase{"blanks_in_id", "7 <a b c@x> ,9", CIndexEntry{7, "<a b c@x>", 9}},
        ParseCase{"id_ending_in_blank", "8 <a@x>  ,10", CIndexEntry{8, "<a@x> ", 10}},
        ParseCase{"id_without_brackets", "9 plain@x ,11", CIndexEntry{9, "plain@x", 11}},
        ParseCase{"shift_jis_id", "10 <\x93\xfa\x96\x7b@x> ,12",
                  CIndexEntry{10, "<\x93\xfa\x96\x7b@x>", 12}},
        // Only one blank in front of the comma belongs to the format; without it nothing is
        // dropped.
        ParseCase{"no_blank_before_comma", "11 <a@x>,13", CIndexEntry{11, "<a@x>", 13}},
        ParseCase{"identifier_read_as_a_number", "12 <a@x> ,14abc", CIndexEntry{12, "<a@x>", 14}},
        ParseCase{"identifier_not_a_number", "13 <a@x> ,", CIndexEntry{13, "<a@x>", 0}},
        ParseCase{"no_comma", "14 <a@x> 15", std::nullopt},
        ParseCase{"no_blank", "15,3", std::nullopt},
        ParseCase{"only_the_blank_before_the_comma", "16 ,3", std::nullopt},
        ParseCase{"empty", "", std::nullopt}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

struct FormatCase {
    int recordIndex;
    std::string messageId;
    int itemId;
    std::string entry;
};

TEST(FormatIndexEntry, WritesRecordBlankIdBlankCommaIdentifier) {
    const FormatCase cases[] = {
        {0, "<a@x>", 1, "0 <a@x> ,1"},
        {12, "<a,b c@x>", -5, "12 <a,b c@x> ,-5"},
        {-1, "x", 0, "-1 x ,0"},
        {2147483647, "<\x93\xfa@x> ", -2147483647 - 1, "2147483647 <\x93\xfa@x>  ,-2147483648"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatIndexEntry(c.recordIndex, c.messageId, c.itemId), c.entry);
        const auto back = ParseIndexEntry(c.entry);
        ASSERT_TRUE(back.has_value()) << c.entry;
        EXPECT_EQ(back->m_recordIndex, c.recordIndex);
        EXPECT_EQ(back->m_messageId, c.messageId);
        EXPECT_EQ(back->m_itemId, c.itemId);
    }
}

} // namespace
