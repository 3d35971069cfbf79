#include "mime/Codec.h"

#include "Escaped.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct TextCase {
    std::string input;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const TextCase& c) {
    return os << Escaped(c.input.substr(0, 64));
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

const std::string kToTwoByte = "\x1b$B";
const std::string kToOneByte = "\x1b(B";

// ---- DecodeHeaderText ----

class DecodeHeaderTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(DecodeHeaderTextTest, GivesExactBytes) {
    EXPECT_EQ(DecodeHeaderText(GetParam().input), GetParam().expected);
}

// Each of the six openings, in mixed letter case.
INSTANTIATE_TEST_SUITE_P(
    Openings, DecodeHeaderTextTest,
    testing::Values(TextCase{"=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "\x1b$BF|K\\8l\x1b(B"},
                    TextCase{"=?iso-2022-jp?b?GyRCJCIbKEI=?=", "\x1b$B$\"\x1b(B"},
                    TextCase{"=?Iso-2022-jP?B?GyRCJCIbKEI=?=", "\x1b$B$\"\x1b(B"},
                    TextCase{"=?iSo-2022-Jp?q?=1B$B$\"=1B(B?=", "\x1b$B$\"\x1b(B"},
                    TextCase{"=?ISO-8859-1?q?caf=E9?=", "caf\xe9"},
                    TextCase{"=?IsO-8859-1?B?Y2Fm6Q==?=", "caf\xe9"},
                    TextCase{"=?iso-8859-1?Q?=E9=FF?=", "\xe9\xff"},
                    TextCase{"=?US-ASCII?q?a=3Db?=", "a=b"},
                    TextCase{"=?Us-AsCiI?b?YWJj?=", "abc"}));

INSTANTIATE_TEST_SUITE_P(
    Rules, DecodeHeaderTextTest,
    testing::Values(TextCase{"", ""},
                    TextCase{"Subject: plain \x82\xa0\r\n", "Subject: plain \x82\xa0\r\n"},
                    TextCase{"a=b", "a=b"}, TextCase{"=?", "=?"},
                    // other character sets and other encodings stay
                    TextCase{"=?UTF-8?B?44GC?=", "=?UTF-8?B?44GC?="},
                    TextCase{"=?Shift_JIS?B?gqA=?=", "=?Shift_JIS?B?gqA=?="},
                    TextCase{"=?ISO-2022-JP?X?abc?=", "=?ISO-2022-JP?X?abc?="},
                    TextCase{"=?iso-2022-jp?B", "=?iso-2022-jp?B"},
                    TextCase{"=?us-ascii?Q?a_b?=", "a_b"}, TextCase{"=?us-ascii?Q?a=00b?=", "ab"},
                    TextCase{"=?us-ascii?B?AAAA?=x", "x"},
                    // blanks between words are kept, adjacent words are not joined
                    TextCase{"=?us-ascii?B?YWJj?= =?us-ascii?B?YWJj?=", "abc abc"},
                    TextCase{"=?us-ascii?b?YWJj?==?us-ascii?b?ZGVm?=", "abcdef"},
                    TextCase{"abc=?us-ascii?B?YWJj?=def", "abcabcdef"},
                    TextCase{"==?us-ascii?B?YWJj?=", "=abc"},
                    TextCase{"=?us-ascii?B?"
                             "?=",
                             ""},
                    // a word ends at its first "?"; that "?" and the byte after it go
                    TextCase{"=?us-ascii?Q?ab?xcd", "abcd"}, TextCase{"=?us-ascii?Q?ab?", "ab"},
                    TextCase{"=?us-ascii?Q?a=?=", "a="},
                    TextCase{"=?us-ascii?Q?=?us-ascii?Q?a?=b?=", "=s-ascii?Q?a?=b?="},
                    // never closed: dropped with its text
                    TextCase{"x=?us-ascii?B?YWJj", "x"}, TextCase{"x=?us-ascii?B?", "x"},
                    TextCase{"a=?us-ascii?B?YWJj?=\0b"s, "aabc"}));

TEST(DecodeHeaderTextLimit, WordTextIsCutAt1023Characters) {
    EXPECT_EQ(kEncodedWordMaxText, 1023u);
    const std::string qWord = "=?us-ascii?Q?" + std::string(1023, 'a');
    EXPECT_EQ(DecodeHeaderText(qWord + "?=z"), std::string(1023, 'a') + "z");
    EXPECT_EQ(DecodeHeaderText(qWord + "bc?=z"), std::string(1023, 'a') + "z");
    // "QUF" of the last group decodes to "AA@"
    EXPECT_EQ(DecodeHeaderText("=?us-ascii?B?" + Repeat("QUFB", 256) + "?="),
              Repeat("AAA", 255) + "AA@");
}

// ---- EncodeHeaderText ----

std::string Word(const std::string& block) {
    return "=?ISO-2022-JP?B?" + EncodeBase64(block) + "?=";
}

class EncodeHeaderTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(EncodeHeaderTextTest, WritesExactText) {
    EXPECT_EQ(EncodeHeaderText(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeHeaderTextTest,
    testing::Values(TextCase{"", ""}, TextCase{"Subject: abc", "Subject: abc"},
                    TextCase{"\xb1\xb2 \xdf=?", "\xb1\xb2 \xdf=?"},
                    // the byte that ends a run travels inside the word
                    TextCase{"\x82\xa0\x82\xa2 ab", "=?ISO-2022-JP?B?GyRCJCIkJBsoQiA=?=ab"},
                    TextCase{"a\x82\xa0", "a=?ISO-2022-JP?B?GyRCJCIbKEI=?="},
                    TextCase{"Subject: \x93\xfa\x96\x7b\x8c\xea",
                             "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?="},
                    TextCase{"\x83"
                             "e\x83X\x83g ",
                             "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhCIA==?="},
                    // two runs apart by one byte give two words back to back
                    TextCase{"\x82\xa0x\x82\xa2",
                             "=?ISO-2022-JP?B?GyRCJCIbKEJ4?==?ISO-2022-JP?B?GyRCJCQbKEI=?="},
                    TextCase{"\x82\xa0\xb1z", "=?ISO-2022-JP?B?GyRCJCIbKEKx?=z"},
                    TextCase{"\x82\xa0\r\n", "=?ISO-2022-JP?B?GyRCJCIbKEIN?=\n"},
                    TextCase{"\x80\x41", "=?ISO-2022-JP?B?GyRCHyIbKEI=?="},
                    TextCase{"\xfa\x40", "=?ISO-2022-JP?B?GyRCkyEbKEI=?="},
                    // a lead byte that ends the value is dropped
                    TextCase{"a\x82", "a"},
                    TextCase{"\x82\xa0\x82", "=?ISO-2022-JP?B?GyRCJCIbKEI=?="},
                    TextCase{"\x82\xa0\0\x82\xa2"s, "=?ISO-2022-JP?B?GyRCJCIbKEI=?="}));

TEST(EncodeHeaderTextRuns, LaterWordHoldsOnlyItsOwnRun) {
    const std::string value = Repeat("\x82\xa0", 400) + " - " + "\x82\xa2\x82\xa4";
    EXPECT_EQ(EncodeHeaderText(value), Word(kToTwoByte + Repeat("$\"", 400) + kToOneByte + " ") +
                                           "- " + Word(kToTwoByte + "$$$&" + kToOneByte));
}

struct SplitCase {
    std::size_t pairs;
    std::string tail;
    std::vector<std::size_t> pairsPerWord;
};

std::ostream& operator<<(std::ostream& os, const SplitCase& c) {
    return os << c.pairs << " pairs then " << Escaped(c.tail);
}

class EncodeHeaderTextSplitTest : public testing::TestWithParam<SplitCase> {};

// Runs longer than one word can carry go out as several words, each a complete ISO-2022-JP
// sequence, the last one with the byte that ended the run.
TEST_P(EncodeHeaderTextSplitTest, SplitsBetweenPairs) {
    const SplitCase& c = GetParam();
    const std::string value = Repeat("\x88\x9f", c.pairs) + c.tail;

    std::string expected;
    for (std::size_t w = 0; w < c.pairsPerWord.size(); ++w) {
        std::string block = kToTwoByte + Repeat("0!", c.pairsPerWord[w]) + kToOneByte;
        const bool last = w + 1 == c.pairsPerWord.size();
        if (last && !c.tail.empty())
            block += c.tail[0];
        ASSERT_LE(block.size(), kBase64EncodeMaxInput);
        expected += Word(block);
    }
    if (c.tail.size() > 1)
        expected += c.tail.substr(1);

    const std::string encoded = EncodeHeaderText(value);
    EXPECT_EQ(encoded.size(), expected.size());
    EXPECT_EQ(encoded, expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, EncodeHeaderTextSplitTest,
                         testing::Values(SplitCase{1531, "", {1531}}, SplitCase{1531, "x", {1531}},
                                         SplitCase{1532, "", {1531, 1}},
                                         SplitCase{1532, "x", {1531, 1}},
                                         SplitCase{3062, "", {1531, 1531}},
                                         SplitCase{3063, "yz", {1531, 1531, 1}}));

TEST(EncodeHeaderTextRuns, LongestWordFillsTheBase64Limit) {
    // 1,531 pairs, both escapes and the closing byte: exactly the 3,069 bytes EncodeBase64 takes
    const std::string encoded = EncodeHeaderText(Repeat("\x88\x9f", 1531) + "x");
    EXPECT_EQ(encoded.size(), std::string("=?ISO-2022-JP?B?"
                                          "?=")
                                      .size() +
                                  4092);
}

// ---- Through the wire and back ----

TEST(HeaderRoundTrip, RunThatFitsOneWordComesBack) {
    const std::string value = "Re: " + Repeat("\x93\xfa", 379) + " x";
    EXPECT_EQ(JisToSjis(DecodeHeaderText(EncodeHeaderText(value))), value);
}

TEST(HeaderRoundTrip, RunPastTheWordTextLimitLosesItsTail) {
    // 380 pairs and the escapes are 766 bytes, 1,024 characters of base64: the word text is
    // cut before its last "=", so the last group decodes to one extra byte 0x0F
    const std::string value = Repeat("\x93\xfa", 380);
    EXPECT_EQ(JisToSjis(DecodeHeaderText(EncodeHeaderText(value))), value + "\x0f");
}

} // namespace
