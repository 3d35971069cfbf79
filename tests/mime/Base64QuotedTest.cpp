#include "mime/Codec.h"

#include "Escaped.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

struct CodecCase {
    std::string input;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const CodecCase& c) {
    return os << Escaped(c.input.substr(0, 64));
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

// ---- EncodeBase64 ----

class EncodeBase64Test : public testing::TestWithParam<CodecCase> {};

TEST_P(EncodeBase64Test, WritesExactText) {
    EXPECT_EQ(EncodeBase64(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeBase64Test,
    testing::Values(CodecCase{"", ""}, CodecCase{"a", "YQ=="}, CodecCase{"ab", "YWI="},
                    CodecCase{"abc", "YWJj"}, CodecCase{"Man", "TWFu"},
                    CodecCase{"\xff\xfe\xfd", "//79"}, CodecCase{"\x1b$B", "GyRC"},
                    CodecCase{"\x82\xa0", "gqA="}, CodecCase{"\x1b$B$\"\x1b(B", "GyRCJCIbKEI="},
                    CodecCase{"caf\xe9", "Y2Fm6Q=="},
                    // the text ends at its zero byte
                    CodecCase{"ab\0cd"s, "YWI="},
                    // the whole input fits exactly, 4,092 characters
                    CodecCase{Repeat("AAA", 1023), Repeat("QUFB", 1023)},
                    // longer input is cut at the limit
                    CodecCase{Repeat("AAA", 1023) + "BCD", Repeat("QUFB", 1023)}));

TEST(EncodeBase64Limit, NeverWritesMoreThan4092Characters) {
    EXPECT_EQ(kBase64EncodeMaxInput, 3069u);
    EXPECT_EQ(EncodeBase64(std::string(kBase64EncodeMaxInput, '\xff')).size(), 4092u);
    EXPECT_EQ(EncodeBase64(std::string(kBase64EncodeMaxInput + 1, '\xff')).size(), 4092u);
    EXPECT_EQ(EncodeBase64(std::string(10000, 'q')).size(), 4092u);
}

// ---- Base64Value ----

struct ValueCase {
    unsigned char c;
    int value;
};

class Base64ValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(Base64ValueTest, MapsCharacter) {
    EXPECT_EQ(Base64Value(GetParam().c), GetParam().value) << "character " << int(GetParam().c);
}

INSTANTIATE_TEST_SUITE_P(Alphabet, Base64ValueTest,
                         testing::Values(ValueCase{'A', 0}, ValueCase{'Z', 25}, ValueCase{'a', 26},
                                         ValueCase{'z', 51}, ValueCase{'0', 52}, ValueCase{'9', 61},
                                         ValueCase{'+', 62}, ValueCase{'/', 63}));

// Outside the alphabet a character counts with its own code.
INSTANTIATE_TEST_SUITE_P(OwnCode, Base64ValueTest,
                         testing::Values(ValueCase{'=', 61}, ValueCase{' ', 32}, ValueCase{'\t', 9},
                                         ValueCase{'\r', 13}, ValueCase{'-', 45},
                                         ValueCase{'_', 95}, ValueCase{'@', 64}, ValueCase{'[', 91},
                                         ValueCase{'`', 96}, ValueCase{'{', 123},
                                         ValueCase{0x00, 0}, ValueCase{0x80, 128},
                                         ValueCase{0xFF, 255}));

// ---- DecodeBase64 ----

class DecodeBase64Test : public testing::TestWithParam<CodecCase> {};

TEST_P(DecodeBase64Test, GivesExactBytes) {
    EXPECT_EQ(DecodeBase64(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(WellFormed, DecodeBase64Test,
                         testing::Values(CodecCase{"", ""}, CodecCase{"YWJj", "abc"},
                                         CodecCase{"YWI=", "ab"}, CodecCase{"YQ==", "a"},
                                         CodecCase{"TWFu", "Man"},
                                         CodecCase{"//79", "\xff\xfe\xfd"},
                                         CodecCase{"GyRCJCIbKEI=", "\x1b$B$\"\x1b(B"},
                                         CodecCase{"Y2Fm6Q==", "caf\xe9"}));

INSTANTIATE_TEST_SUITE_P(
    Malformed, DecodeBase64Test,
    testing::Values(
        // three zero bytes dropped
        CodecCase{"AAAA", ""},
        // a zero first byte drops the whole group
        CodecCase{"AGFi", ""},
        // a zero in the middle drops the rest of its group only
        CodecCase{"YQBiYWJj", "aabc"},
        // blank counts 32, tab 9
        CodecCase{"YW J", "ah\t"},
        // 0xFF in the last place fills the low byte
        CodecCase{"YWJ\xff", "ab\xff"},
        // a value above 63 spills into the byte before it
        CodecCase{"Y\x80"
                  "AA",
                  "h"},
        // a short last group counts its missing characters as 0
        CodecCase{"YWJjZA", "abcd"}, CodecCase{"YWJjZGU", "abcde"},
        // pad is 2 when the character before the last is "=", whatever the last one is
        CodecCase{"YW=j", "a"},
        // "=" counts 61; pad 1 removes one byte
        CodecCase{"YQ=", "a\x0f"}, CodecCase{"=", ""},
        // a pad group that decodes to nothing still removes bytes of the group before
        CodecCase{"YWJjAA==", "a"},
        // more pad than bytes leaves nothing
        CodecCase{"==", ""},
        // the text ends at a zero byte
        CodecCase{"YWJj\0YWJj"s, "abc"}));

TEST(DecodeBase64Limit, ResultIsCutAt1023Bytes) {
    EXPECT_EQ(kBase64DecodeMaxResult, 1023u);
    EXPECT_EQ(DecodeBase64(Repeat("QUFB", 341)), Repeat("AAA", 341));
    EXPECT_EQ(DecodeBase64(Repeat("QUFB", 342)), Repeat("AAA", 341));
    EXPECT_EQ(DecodeBase64(Repeat("QUFB", 1000)), Repeat("AAA", 341));
}

// ---- EncodeQuoted ----

class EncodeQuotedTest : public testing::TestWithParam<CodecCase> {};

TEST_P(EncodeQuotedTest, WritesExactText) {
    EXPECT_EQ(EncodeQuoted(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeQuotedTest,
    testing::Values(CodecCase{"", ""}, CodecCase{"a b=c", "a=20b=3dc"}, CodecCase{"\r\n", "=0d=0a"},
                    CodecCase{"\xe9", "=e9"}, CodecCase{"\t", "=09"}, CodecCase{"\x01", "=01"},
                    // 0x21 and 0x7E are the first and the last bytes written as they are
                    CodecCase{"!~", "!~"}, CodecCase{"\x7f", "\x7f"}, CodecCase{"\x80", "=80"},
                    CodecCase{"\xff", "=ff"}, CodecCase{"_?.", "_?."},
                    CodecCase{"\x82\xa0\x82\xa2", "=82=a0=82=a2"},
                    CodecCase{"line1\r\n  line2", "line1=0d=0a=20=20line2"},
                    CodecCase{"a\0b"s, "a"}));

// ---- DecodeQuoted ----

class DecodeQuotedTest : public testing::TestWithParam<CodecCase> {};

TEST_P(DecodeQuotedTest, GivesExactBytes) {
    EXPECT_EQ(DecodeQuoted(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeQuotedTest,
    testing::Values(CodecCase{"", ""}, CodecCase{"=41=3d=3D", "A=="}, CodecCase{"50=", "50="},
                    CodecCase{"=4", "=4"}, CodecCase{"=G1", "=G1"}, CodecCase{"=1G", "=1G"},
                    CodecCase{"a=00b", "ab"}, CodecCase{"=e9", "\xe9"}, CodecCase{"=E9", "\xe9"},
                    CodecCase{"=aF=Af", "\xaf\xaf"}, CodecCase{"==41", "=A"},
                    CodecCase{"=4=41", "=4A"}, CodecCase{"a_b", "a_b"},
                    // a soft line break stays
                    CodecCase{"abc=\r\n", "abc=\r\n"}, CodecCase{"abc=", "abc="},
                    CodecCase{"=\x82\xa0", "=\x82\xa0"},
                    CodecCase{"=82=a0=82=a2", "\x82\xa0\x82\xa2"}, CodecCase{"a=0d=0ab", "a\r\nb"},
                    CodecCase{"=41\0=42"s, "A"}));

} // namespace
