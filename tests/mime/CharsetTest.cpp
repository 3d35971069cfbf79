#include "mime/Charset.h"

#include "Escaped.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

struct LabelCase {
    const char* label;
    const char* canonical; // empty: unknown
};

std::ostream& operator<<(std::ostream& os, const LabelCase& c) {
    return os << Escaped(c.label);
}

class CanonicalCharsetTest : public testing::TestWithParam<LabelCase> {};

TEST_P(CanonicalCharsetTest, GivesTheCanonicalName) {
    EXPECT_EQ(CanonicalCharset(GetParam().label), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Japanese, CanonicalCharsetTest,
    testing::Values(LabelCase{"UTF-8", "UTF-8"}, LabelCase{"utf8", "UTF-8"},
                    LabelCase{"Shift_JIS", "Shift_JIS"}, LabelCase{"x-sjis", "Shift_JIS"},
                    LabelCase{"CP932", "Shift_JIS"}, LabelCase{"Windows-31J", "Shift_JIS"},
                    LabelCase{"ISO-2022-JP", "ISO-2022-JP"}, LabelCase{"euc-jp", "EUC-JP"},
                    LabelCase{"x-euc-jp", "EUC-JP"}));

// The web's reading of the Latin labels: ISO-8859-1 is windows-1252.
INSTANTIATE_TEST_SUITE_P(
    Others, CanonicalCharsetTest,
    testing::Values(LabelCase{"ISO-8859-1", "windows-1252"}, LabelCase{"latin1", "windows-1252"},
                    LabelCase{"iso-8859-15", "ISO-8859-15"}, LabelCase{"ISO-8859-2", "ISO-8859-2"},
                    LabelCase{"ISO-8859-9", "windows-1254"}, LabelCase{"cp1251", "windows-1251"},
                    LabelCase{"KOI8-R", "KOI8-R"}, LabelCase{"gb2312", "GBK"},
                    LabelCase{"BIG5", "Big5"}, LabelCase{"ks_c_5601-1987", "EUC-KR"},
                    LabelCase{"us-ascii", "US-ASCII"}));

// Quotes and blanks around a label do not matter; anything not in the table is unknown, so a
// name from the network never reaches a converter unchecked.
INSTANTIATE_TEST_SUITE_P(Spelling, CanonicalCharsetTest,
                         testing::Values(LabelCase{" \"utf-8\" ", "UTF-8"},
                                         LabelCase{"\tEUC-JP", "EUC-JP"}, LabelCase{"", ""},
                                         LabelCase{"utf-9", ""}, LabelCase{"UTF-8 x", ""},
                                         LabelCase{"ISO-8859-16", ""}, LabelCase{"UTF-16", ""},
                                         LabelCase{"UTF-7", ""}, LabelCase{"../../etc/passwd", ""},
                                         LabelCase{"utf-8//TRANSLIT", ""},
                                         LabelCase{"\x82\xa0", ""}));

struct ContentTypeCase {
    const char* contentType;
    const char* transfer;
    const char* parameter; // "charset" as written
    const char* charset;   // PartTextCharset
};

std::ostream& operator<<(std::ostream& os, const ContentTypeCase& c) {
    return os << Escaped(c.contentType) << " / " << Escaped(c.transfer);
}

class PartTextCharsetTest : public testing::TestWithParam<ContentTypeCase> {};

TEST_P(PartTextCharsetTest, ReadsTheDeclaration) {
    EXPECT_EQ(ContentTypeParameter(GetParam().contentType, "charset"), GetParam().parameter);
    EXPECT_EQ(PartTextCharset(GetParam().contentType, GetParam().transfer), GetParam().charset);
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, PartTextCharsetTest,
    testing::Values(ContentTypeCase{"text/plain; charset=UTF-8", "", "UTF-8", "UTF-8"},
                    ContentTypeCase{"text/plain;charset=\"utf-8\"", " 8bit", "utf-8", "UTF-8"},
                    ContentTypeCase{"text/html; format=flowed; CHARSET=euc-jp", "", "euc-jp",
                                    "EUC-JP"},
                    ContentTypeCase{"text/plain; charset = iso-8859-1 ; format=flowed", "",
                                    "iso-8859-1", "windows-1252"},
                    ContentTypeCase{"text/plain; xcharset=UTF-8", "", "", ""},
                    ContentTypeCase{"text/plain charset=UTF-8", "", "", ""},
                    ContentTypeCase{"text/plain", "", "", ""}, ContentTypeCase{"", "", "", ""}));

// The program's own charset is empty; ISO-2022-JP only where the cache may still hold it.
INSTANTIATE_TEST_SUITE_P(
    Sjis, PartTextCharsetTest,
    testing::Values(ContentTypeCase{"text/plain; charset=Shift_JIS", " base64", "Shift_JIS", ""},
                    ContentTypeCase{"text/plain; charset=us-ascii", "", "us-ascii", ""},
                    ContentTypeCase{"text/plain; charset=x-unknown", "", "x-unknown", ""},
                    ContentTypeCase{"text/plain; charset=ISO-2022-JP", " 7bit", "ISO-2022-JP", ""},
                    ContentTypeCase{"text/plain; charset=ISO-2022-JP", "", "ISO-2022-JP", ""},
                    ContentTypeCase{"text/plain; charset=ISO-2022-JP", " BASE64", "ISO-2022-JP",
                                    "ISO-2022-JP"},
                    ContentTypeCase{"text/plain; charset=ISO-2022-JP", " quoted-printable ",
                                    "ISO-2022-JP", "ISO-2022-JP"}));

TEST(TransferEncodingTest, NamesInAnyCase) {
    EXPECT_TRUE(IsBase64Transfer(" Base64"));
    EXPECT_TRUE(IsBase64Transfer("base64 \t"));
    EXPECT_FALSE(IsBase64Transfer(" base64x"));
    EXPECT_FALSE(IsBase64Transfer(""));
    EXPECT_TRUE(IsQuotedPrintableTransfer(" Quoted-Printable"));
    EXPECT_FALSE(IsQuotedPrintableTransfer(" 8bit"));
    EXPECT_EQ(PartTransfer(" BASE64"), CTransfer::Base64);
    EXPECT_EQ(PartTransfer(" quoted-printable"), CTransfer::QuotedPrintable);
    EXPECT_EQ(PartTransfer(" 8bit"), CTransfer::None);
    EXPECT_EQ(PartTransfer(" x-uuencode"), CTransfer::None);
    EXPECT_EQ(PartTransfer(""), CTransfer::None);
}

struct BytesCase {
    std::string input;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const BytesCase& c) {
    return os << Escaped(c.input.substr(0, 64));
}

class DecodeBase64TextTest : public testing::TestWithParam<BytesCase> {};

TEST_P(DecodeBase64TextTest, GivesExactBytes) {
    EXPECT_EQ(DecodeBase64Text(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Bodies, DecodeBase64TextTest,
                         testing::Values(BytesCase{"", ""}, BytesCase{"YWJj", "abc"},
                                         BytesCase{"YWI=", "ab"}, BytesCase{"YQ==", "a"},
                                         BytesCase{"YQ", "a"},
                                         // line ends and blanks between groups and inside them
                                         BytesCase{"5pel5pys\r\n6Kqe\r\n", "日本語"},
                                         BytesCase{"5pe l5p\tys6K\r\nqe", "日本語"},
                                         // zero bytes and 8-bit bytes are kept
                                         BytesCase{"AAD/", "\0\0\xff"s},
                                         // the first "=" ends the data
                                         BytesCase{"YQ==YWJj", "a"},
                                         // characters outside the alphabet are skipped, not counted
                                         BytesCase{"Y*W.J-j", "abc"}));

// A part file as the cache's line reader left it, and the text the view and the quoting read.
struct PrepareCase {
    const char* name;
    std::string file;
    std::string charset;
    CTransfer transfer;
    std::string text;
    const char* served;
};

std::ostream& operator<<(std::ostream& os, const PrepareCase& c) {
    return os << c.name;
}

class PreparePartTextTest : public testing::TestWithParam<PrepareCase> {};

TEST_P(PreparePartTextTest, GivesTheText) {
    EXPECT_EQ(Escaped(PreparePartText(GetParam().file, GetParam().charset, GetParam().transfer)),
              Escaped(GetParam().text));
    EXPECT_EQ(PartServedCharset(GetParam().charset), GetParam().served);
}

constexpr CTransfer kNone = CTransfer::None;
constexpr CTransfer kBase64 = CTransfer::Base64;
constexpr CTransfer kQuoted = CTransfer::QuotedPrintable;

INSTANTIATE_TEST_SUITE_P(
    Parts, PreparePartTextTest,
    testing::Values(
        PrepareCase{"sjis as it is", "\x93\xfa\r\r\n", "", kNone, "\x93\xfa\r\r\n", ""},
        // "。" ends in 0x82, which the reader took as a lead byte with the CR after it
        PrepareCase{"utf-8 stray cr", "\xe3\x80\x82\r\r\nb\r\n", "UTF-8", kNone,
                    "\xe3\x80\x82\r\nb\r\n", "UTF-8"},
        PrepareCase{"latin stray cr", "caf\xe9\r\r\n", "windows-1252", kNone, "caf\xe9\r\n",
                    "windows-1252"},
        PrepareCase{"base64 utf-8", "5pel5pys\r\nDQo=\r\n", "UTF-8", kBase64, "日本\r\n", "UTF-8"},
        PrepareCase{"base64 keeps its own cr", "YQ0NCg==\r\n", "UTF-8", kBase64, "a\r\r\n",
                    "UTF-8"},
        PrepareCase{"base64 sjis", "k/o=\r\n", "", kBase64, "\x93\xfa", ""},
        PrepareCase{"jis lines", "\x1b$B$\"\x1b(B\r\nx\r\n\x1b$B$\"", "ISO-2022-JP", kNone,
                    "\x82\xa0\r\nx\r\n\x82\xa0", ""},
        PrepareCase{"jis already sjis", "\x82\xa0\r\n", "ISO-2022-JP", kNone, "\x82\xa0\r\n", ""},
        PrepareCase{"base64 jis", "GyRCJCIbKEINCg==", "ISO-2022-JP", kBase64, "\x82\xa0\r\n", ""}));

// Soft line breaks that the fetch left in a quoted-printable part: joined, whatever the charset.
INSTANTIATE_TEST_SUITE_P(
    SoftBreaks, PreparePartTextTest,
    testing::Values(
        // 日 (e6 97 a5) split by a soft break
        PrepareCase{"utf-8 character split",
                    "a\xe6\x97=\r\n\xa5"
                    "b\r\n",
                    "UTF-8", kQuoted,
                    "a\xe6\x97\xa5"
                    "b\r\n",
                    "UTF-8"},
        // the reader's stray CR goes first, so the "=" ends its line again
        PrepareCase{"after a stray cr", "\xe3\x80\x82=\r\nx\r\n", "UTF-8", kQuoted,
                    "\xe3\x80\x82x\r\n", "UTF-8"},
        PrepareCase{"sjis", "around =\r\nthe\r\n", "", kQuoted, "around the\r\n", ""},
        PrepareCase{"lf line end", "a=\nb\n", "", kQuoted, "ab\n", ""},
        PrepareCase{"equals inside a line stays", "a=b\r\n=\r\n\r\n", "", kQuoted, "a=b\r\n\r\n",
                    ""},
        PrepareCase{"last line", "a=", "", kQuoted, "a=", ""},
        // an ISO-2022-JP sequence split by a soft break is joined before it is converted
        PrepareCase{"jis split", "\x1b$B$=\r\n\"\x1b(B\r\n", "ISO-2022-JP", kQuoted, "\x82\xa0\r\n",
                    ""},
        PrepareCase{"not quoted keeps them", "a=\r\nb\r\n", "UTF-8", kNone, "a=\r\nb\r\n",
                    "UTF-8"}));

struct FormCase {
    char32_t from;
    char32_t to;
};

TEST(ToCodePage932FormTest, MapsTheLookAlikes) {
    for (const FormCase& c :
         {FormCase{0x301C, 0xFF5E}, FormCase{0x2212, 0xFF0D}, FormCase{0x2016, 0x2225},
          FormCase{0x00A2, 0xFFE0}, FormCase{0x00A3, 0xFFE1}, FormCase{0x00AC, 0xFFE2},
          FormCase{0x2014, 0x2015}, FormCase{0x3042, 0x3042}, FormCase{0xFF5E, 0xFF5E},
          FormCase{'a', 'a'}})
        EXPECT_EQ(ToCodePage932Form(c.from), c.to) << std::hex << static_cast<unsigned>(c.from);
}

} // namespace
