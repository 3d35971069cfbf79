#include "mime/SjisConvert.h"

#include "mime/Charset.h"
#include "support/TestDir.h"

#include "Escaped.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <string>

using namespace std::string_literals;

namespace {

const std::string kGeta = "\x81\xac"; // 〓

struct ConvertCase {
    const char* name;
    std::string bytes;
    std::string charset;
    std::string sjis;
    int replaced;
};

std::ostream& operator<<(std::ostream& os, const ConvertCase& c) {
    return os << c.name;
}

class ConvertToSjisTest : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertToSjisTest, GivesShiftJis) {
    const CSjisText out = ConvertToSjis(GetParam().bytes, GetParam().charset);
    EXPECT_EQ(Escaped(out.m_text), Escaped(GetParam().sjis));
    EXPECT_EQ(out.m_replaced, GetParam().replaced);
}

INSTANTIATE_TEST_SUITE_P(
    Japanese, ConvertToSjisTest,
    testing::Values(
        ConvertCase{"utf-8", "日本語です。\r\n", "UTF-8",
                    "\x93\xfa\x96\x7b\x8c\xea\x82\xc5\x82\xb7\x81\x42\r\n", 0},
        ConvertCase{"euc-jp", "\xc6\xfc\xcb\xdc", "EUC-JP", "\x93\xfa\x96\x7b", 0},
        ConvertCase{"euc-jp half-width kana", "\x8e\xb1", "EUC-JP", "\xb1", 0},
        ConvertCase{"iso-2022-jp", "\x1b$B$\"\x1b(Ba\r\n", "ISO-2022-JP",
                    "\x82\xa0"
                    "a\r\n",
                    0},
        ConvertCase{"shift_jis as it is", "\x93\xfa\xff", "Shift_JIS", "\x93\xfa\xff", 0},
        ConvertCase{"empty charset as it is", "\x93\xfa", "", "\x93\xfa", 0},
        ConvertCase{"ascii", "plain\r\n", "UTF-8", "plain\r\n", 0},
        // Look-alikes of code page 932 characters: 〜 − ‖ ¢ £ ¬ —
        ConvertCase{"look-alikes", "〜−‖¢£¬—", "UTF-8",
                    "\x81\x60\x81\x7c\x81\x61\x81\x91\x81\x92\x81\xca\x81\x5c", 0},
        ConvertCase{"code page 932 forms", "～－∥", "UTF-8", "\x81\x60\x81\x7c\x81\x61", 0}));

// What Shift_JIS lacks, and what is not valid in its charset, shows as 〓 and is counted.
INSTANTIATE_TEST_SUITE_P(
    Replaced, ConvertToSjisTest,
    testing::Values(ConvertCase{"accented latin", "caf\xc3\xa9!", "UTF-8", "caf" + kGeta + "!", 1},
                    ConvertCase{"emoji", "a\xf0\x9f\x98\x80\xf0\x9f\x98\x80z", "UTF-8",
                                "a" + kGeta + kGeta + "z", 2},
                    ConvertCase{"hangul", "\xea\xb0\x80", "UTF-8", kGeta, 1},
                    ConvertCase{"invalid byte",
                                "a\xff"
                                "b",
                                "UTF-8", "a" + kGeta + "b", 1},
                    ConvertCase{"cut sequence", "a\xe6\x97", "UTF-8", "a" + kGeta + kGeta, 2},
                    ConvertCase{"windows-1252", "caf\xe9 \x80", "windows-1252",
                                "caf" + kGeta + " " + kGeta, 2},
                    // Cyrillic is in JIS X 0208
                    ConvertCase{"windows-1251", "\xcf!", "windows-1251", "\x84\x50!", 0},
                    ConvertCase{"zero byte kept", "a\0\xc3\xa9"s, "UTF-8", "a\0"s + kGeta, 1}));

TEST(SjisConvertTest, EveryKnownCharsetOpensInIconv) {
    for (const std::string& charset : KnownCharsets()) {
        const char* name = charset == kCharsetSjis ? "CP932" : charset.c_str();
        const iconv_t cd = iconv_open("UTF-32LE", name);
        EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << charset;
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
}

struct HeaderCase {
    const char* name;
    std::string stored;
    std::string sjis;
    int replaced;
};

std::ostream& operator<<(std::ostream& os, const HeaderCase& c) {
    return os << c.name;
}

class HeaderTextToSjisTest : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTextToSjisTest, GivesShiftJis) {
    const CSjisText out = HeaderTextToSjis(GetParam().stored);
    EXPECT_EQ(Escaped(out.m_text), Escaped(GetParam().sjis));
    EXPECT_EQ(out.m_replaced, GetParam().replaced);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HeaderTextToSjisTest,
    testing::Values(HeaderCase{"stored as it is", "Re: \x93\xfa =?", "Re: \x93\xfa =?", 0},
                    HeaderCase{"utf-8 words joined",
                               "Re: =?UTF-8?B?5pel?= =?UTF-8?B?5pys?= \x8c\xea",
                               "Re: \x93\xfa\x96\x7b \x8c\xea", 0},
                    HeaderCase{"euc-jp", "=?EUC-JP?B?xvzL3A==?=", "\x93\xfa\x96\x7b", 0},
                    HeaderCase{"latin", "=?ISO-8859-15?Q?caf=E9?=", "caf" + kGeta, 1},
                    HeaderCase{"unknown stays", "=?x-foo?Q?a?=", "=?x-foo?Q?a?=", 0}));

TEST(PartFileToSjisTest, ReadsThePartAsTheViewDoes) {
    TestDir dir;
    // base64 UTF-8: 日本語〜 CR LF
    ASSERT_TRUE(WriteWholeFile(dir / "b64.txt", "5pel5pys6Kqe44Cc\r\nDQo=\r\n"));
    EXPECT_EQ(PartFileToSjis(dir / "b64.txt", "UTF-8", CTransfer::Base64),
              (CSjisText{"\x93\xfa\x96\x7b\x8c\xea\x81\x60\r\n", 0}));
    // 8-bit UTF-8 whose "。" took the CR into its line
    ASSERT_TRUE(WriteWholeFile(dir / "8bit.txt", "\xe3\x80\x82\r\r\ncaf\xc3\xa9\r\n"));
    EXPECT_EQ(PartFileToSjis(dir / "8bit.txt", "UTF-8", CTransfer::None),
              (CSjisText{"\x81\x42\r\ncaf" + kGeta + "\r\n", 1}));
    ASSERT_TRUE(WriteWholeFile(dir / "sjis.txt", "\x93\xfa\r\n"));
    EXPECT_EQ(PartFileToSjis(dir / "sjis.txt", "", CTransfer::None),
              (CSjisText{"\x93\xfa\r\n", 0}));
    // quoted-printable UTF-8 whose soft break split 日
    ASSERT_TRUE(WriteWholeFile(dir / "qp.txt", "\xe6\x97=\r\n\xa5\r\n"));
    EXPECT_EQ(PartFileToSjis(dir / "qp.txt", "UTF-8", CTransfer::QuotedPrintable),
              (CSjisText{"\x93\xfa\r\n", 0}));
    EXPECT_EQ(PartFileToSjis(dir / "missing.txt", "UTF-8", CTransfer::None), (CSjisText{"", 0}));
}

struct BodyCase {
    const char* name;
    std::string text; // joined as the search joins lines
    const char* contentType;
    const char* transfer;
    std::string sjis;
    int replaced;
};

std::ostream& operator<<(std::ostream& os, const BodyCase& c) {
    return os << c.name;
}

class BodyTextToSjisTest : public testing::TestWithParam<BodyCase> {};

TEST_P(BodyTextToSjisTest, ReadsTheBodyAsTheViewDoes) {
    const CSjisText out =
        BodyTextToSjis(GetParam().text, GetParam().contentType, GetParam().transfer);
    EXPECT_EQ(Escaped(out.m_text), Escaped(GetParam().sjis));
    EXPECT_EQ(out.m_replaced, GetParam().replaced);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, BodyTextToSjisTest,
    testing::Values(
        BodyCase{"shift_jis", "\x93\xfa", "text/plain; charset=ISO-2022-JP", " 7bit", "\x93\xfa",
                 0},
        BodyCase{"no declaration", "\x93\xfa", "", "", "\x93\xfa", 0},
        BodyCase{"utf-8 8bit", "日本語", "text/plain; charset=UTF-8", " 8bit",
                 "\x93\xfa\x96\x7b\x8c\xea", 0},
        // base64 lines joined with nothing between still decode
        BodyCase{"utf-8 base64", "5pel5pys6Kqe44Gn44GZ44CCDQrjgILjgIINCg==",
                 "text/plain; charset=\"utf-8\"", " base64",
                 "\x93\xfa\x96\x7b\x8c\xea\x82\xc5\x82\xb7\x81\x42\r\n\x81\x42\x81\x42\r\n", 0},
        BodyCase{"utf-8 quoted-printable", "\xe6\x97=\r\n\xa5", "text/plain; charset=UTF-8",
                 " quoted-printable", "\x93\xfa", 0},
        BodyCase{"euc-jp", "\xc6\xfc\xcb\xdc", "text/plain; charset=EUC-JP", "", "\x93\xfa\x96\x7b",
                 0},
        BodyCase{"latin", "caf\xe9", "text/plain; charset=ISO-8859-1", " 8bit", "caf" + kGeta, 1}));

TEST(ReplacementNoteTest, SaysHowManyWereReplaced) {
    EXPECT_EQ(ReplacementNote(0), "");
    EXPECT_EQ(ReplacementNote(-1), "");
    EXPECT_EQ(ReplacementNote(1), "Shift_JIS にない文字 1 個を〓にしました");
    EXPECT_EQ(ReplacementNote(12), "Shift_JIS にない文字 12 個を〓にしました");
}

} // namespace
