#include "mime/Codec.h"

#include "Escaped.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

// ---- IsSjisLeadByte ----

struct LeadCase {
    unsigned char c;
    bool lead;
};

class IsSjisLeadByteTest : public testing::TestWithParam<LeadCase> {};

TEST_P(IsSjisLeadByteTest, Classifies) {
    EXPECT_EQ(IsSjisLeadByte(GetParam().c), GetParam().lead) << "byte " << int(GetParam().c);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, IsSjisLeadByteTest,
                         testing::Values(LeadCase{0x00, false}, LeadCase{0x1B, false},
                                         LeadCase{0x40, false}, LeadCase{0x7F, false},
                                         LeadCase{0x80, true}, LeadCase{0x81, true},
                                         LeadCase{0x9F, true}, LeadCase{0xA0, true},
                                         LeadCase{0xA1, false}, LeadCase{0xB1, false},
                                         LeadCase{0xDF, false}, LeadCase{0xE0, true},
                                         LeadCase{0xEA, true}, LeadCase{0xFC, true},
                                         LeadCase{0xFD, true}, LeadCase{0xFF, true}));

// ---- SjisToJisChar and JisToSjisChar ----

struct PairCase {
    unsigned char in1, in2;
    unsigned char out1, out2;
};

std::ostream& operator<<(std::ostream& os, const PairCase& c) {
    return os << std::hex << int(c.in1) << ' ' << int(c.in2);
}

class SjisToJisCharTest : public testing::TestWithParam<PairCase> {};

TEST_P(SjisToJisCharTest, ConvertsInPlace) {
    unsigned char first = GetParam().in1;
    unsigned char second = GetParam().in2;
    const unsigned result = SjisToJisChar(first, second);
    EXPECT_EQ(first, GetParam().out1);
    EXPECT_EQ(second, GetParam().out2);
    EXPECT_EQ(result, GetParam().out1 * 256u + GetParam().out2);
}

// Lead and second-byte boundaries of the arithmetic, and the first and last rows of each block
// of code page 932: JIS X 0208, NEC row 13, NEC-selected IBM extensions, the user area, IBM
// extensions.
const PairCase kSjisJisPairs[] = {
    {0x82, 0xA0, 0x24, 0x22}, {0x88, 0x9F, 0x30, 0x21}, {0x81, 0x80, 0x21, 0x60},
    {0xE0, 0x40, 0x5F, 0x21}, {0x81, 0x40, 0x21, 0x21}, {0x81, 0x7E, 0x21, 0x5F},
    {0x81, 0x9E, 0x21, 0x7E}, {0x81, 0x9F, 0x22, 0x21}, {0x9F, 0xFC, 0x5E, 0x7E},
    {0x93, 0xFA, 0x46, 0x7C}, {0x96, 0x7B, 0x4B, 0x5C}, {0x8C, 0xEA, 0x38, 0x6C},
    {0xEA, 0xA4, 0x74, 0x26}, {0x87, 0x40, 0x2D, 0x21}, {0x87, 0x9C, 0x2D, 0x7C},
    {0xED, 0x40, 0x79, 0x21}, {0xEE, 0xFC, 0x7C, 0x7E}, {0xF0, 0x40, 0x7F, 0x21},
    {0xF9, 0xFC, 0x92, 0x7E}, {0xFA, 0x40, 0x93, 0x21}, {0xFC, 0x4B, 0x97, 0x2C},
};

INSTANTIATE_TEST_SUITE_P(Cp932, SjisToJisCharTest, testing::ValuesIn(kSjisJisPairs));

// Bytes outside the ranges go through the same formulas, cut to 8 bits.
INSTANTIATE_TEST_SUITE_P(
    OutOfRange, SjisToJisCharTest,
    testing::Values(PairCase{0x80, 0x41, 0x1F, 0x22}, PairCase{0xA0, 0x41, 0xDF, 0x22},
                    PairCase{0xFF, 0xFF, 0x9E, 0x81}, PairCase{0xFD, 0x40, 0x99, 0x21},
                    PairCase{0x82, 0x0D, 0x23, 0xEE}, PairCase{0x82, 0x0A, 0x23, 0xEB}));

class JisToSjisCharTest : public testing::TestWithParam<PairCase> {};

TEST_P(JisToSjisCharTest, ConvertsInPlace) {
    unsigned char row = GetParam().in1;
    unsigned char cell = GetParam().in2;
    const unsigned result = JisToSjisChar(row, cell);
    EXPECT_EQ(row, GetParam().out1);
    EXPECT_EQ(cell, GetParam().out2);
    EXPECT_EQ(result, GetParam().out1 * 256u + GetParam().out2);
}

PairCase Reversed(const PairCase& c) {
    return {c.out1, c.out2, c.in1, c.in2};
}

std::vector<PairCase> ReversedPairs() {
    std::vector<PairCase> out;
    for (const PairCase& c : kSjisJisPairs)
        out.push_back(Reversed(c));
    return out;
}

INSTANTIATE_TEST_SUITE_P(Cp932, JisToSjisCharTest, testing::ValuesIn(ReversedPairs()));

INSTANTIATE_TEST_SUITE_P(OutOfRange, JisToSjisCharTest,
                         testing::Values(PairCase{0x1F, 0x22, 0x80, 0x41},
                                         // 0xA0 as a lead byte does not come back
                                         PairCase{0xDF, 0x22, 0x20, 0x41},
                                         PairCase{0x24, 0x1B, 0x82, 0x99},
                                         PairCase{0x00, 0x00, 0x70, 0x7E},
                                         PairCase{0x7F, 0x7F, 0xF0, 0x9F},
                                         PairCase{0xFF, 0xFF, 0x30, 0x1F}));

TEST(SjisJisCharRoundTrip, EveryCp932PairComesBack) {
    int pairs = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0)
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            unsigned char a = static_cast<unsigned char>(lead);
            unsigned char b = static_cast<unsigned char>(trail);
            SjisToJisChar(a, b);
            ASSERT_TRUE(a >= 0x21 && b >= 0x21 && b <= 0x7E) << std::hex << lead << ' ' << trail;
            JisToSjisChar(a, b);
            ASSERT_EQ(a, lead);
            ASSERT_EQ(b, trail);
            ++pairs;
        }
    }
    EXPECT_EQ(pairs, 60 * 188);
}

// ---- SjisToJis ----

struct TextCase {
    std::string input;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const TextCase& c) {
    return os << Escaped(c.input.substr(0, 64));
}

class SjisToJisTest : public testing::TestWithParam<TextCase> {};

TEST_P(SjisToJisTest, WritesExactBytes) {
    EXPECT_EQ(SjisToJis(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SjisToJisTest,
    testing::Values(TextCase{"", ""}, TextCase{"plain text\r\n", "plain text\r\n"},
                    // half-width katakana and other single bytes pass as they are
                    TextCase{"abc\xb1\xdf\xa1", "abc\xb1\xdf\xa1"},
                    TextCase{"\x82\xa0\x82\xa2x", "\x1b$B$\"$$\x1b(Bx"},
                    TextCase{"\x82\xa0", "\x1b$B$\"\x1b(B"},
                    TextCase{"\x93\xfa\x96\x7b\x8c\xea", "\x1b$BF|K\\8l\x1b(B"},
                    TextCase{"a\x82\xa0"
                             "b\x82\xa2",
                             "a\x1b$B$\"\x1b(Bb\x1b$B$$\x1b(B"},
                    TextCase{"\x82\xa0\xb1", "\x1b$B$\"\x1b(B\xb1"},
                    TextCase{"\x87\x40\xfa\x40", "\x1b$B-!\x93!\x1b(B"},
                    // the second byte of a pair is taken whatever it is
                    TextCase{"\x82\r\n", "\x1b$B#\xee\x1b(B\n"},
                    TextCase{"\xa0\x41", "\x1b$B\xdf\"\x1b(B"},
                    TextCase{"\x80\x41", "\x1b$B\x1f\"\x1b(B"},
                    // a lead byte that ends the text is dropped
                    TextCase{"a\x82", "a"}, TextCase{"\x82\xa0\x82", "\x1b$B$\"\x1b(B"},
                    TextCase{"\x82\xa0\0\x82\xa2"s, "\x1b$B$\"\x1b(B"}));

// ---- JisToSjis ----

class JisToSjisTest : public testing::TestWithParam<TextCase> {};

TEST_P(JisToSjisTest, WritesExactBytes) {
    EXPECT_EQ(JisToSjis(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JisToSjisTest,
    testing::Values(TextCase{"", ""},
                    // without ESC the text comes back as it is, 8-bit bytes included
                    TextCase{"\x82\xa0"
                             "abc\xb1\r\n",
                             "\x82\xa0"
                             "abc\xb1\r\n"},
                    TextCase{"\x1b$B$\"\x1b(Ba", "\x82\xa0"
                                                 "a"},
                    TextCase{"\x1b$@$\"\x1b(Ba", "\x82\xa0"
                                                 "a"},
                    TextCase{"\x1b$B$\"\x1b(Ja", "\x82\xa0"
                                                 "a"},
                    TextCase{"\x1b$BF|K\\8l\x1b(B", "\x93\xfa\x96\x7b\x8c\xea"},
                    TextCase{"x\x1b$B-!\x93!\x1b(By", "x\x87\x40\xfa\x40y"},
                    // escapes back to back
                    TextCase{"\x1b$B\x1b$B$\"", "\x82\xa0"},
                    TextCase{"\x1b(B\x1b$B$\"", "\x82\xa0"}, TextCase{"\x1b$B\x1b(B$\"", "$\""},
                    // unknown sequences are dropped and keep the mode
                    TextCase{"\x1b(I\xb1"
                             "1",
                             "\xb1"
                             "1"},
                    TextCase{"\x1b$B\x1b(I$\"", "\x82\xa0"}, TextCase{"a\x1b$Ab", "ab"},
                    TextCase{"\x1b\x1b\x1b"
                             "ab",
                             "ab"},
                    // the mode starts as one-byte in every call
                    TextCase{"$\"\x1b(B", "$\""},
                    // the second byte of a pair is not looked at, even when it is ESC
                    TextCase{"\x1b$B$\x1b(B", "\x82\x99\x84\xc0"},
                    // unfinished at the end
                    TextCase{"\x1b$B$\"$", "\x82\xa0"}, TextCase{"a\x1b", "a"},
                    TextCase{"a\x1b$", "a"}, TextCase{"\x1b$B$\"\0$$"s, "\x82\xa0"}));

} // namespace
