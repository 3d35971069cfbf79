// The pieces of a posted article: Date line, boundary, header lines, part headers, body lines
// on the wire, and half-width katakana made full-width.

#include "post/ArticleAssembly.h"
#include "post/Katakana.h"
#include "post/PostClock.h"

#include "../mime/Escaped.h"
#include "../nntp/HeaderDownloadTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

// 1999-12-08 05:05:09 UTC.
constexpr std::time_t kInstant = 944629509;

// Sets TZ for the lifetime of the object.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

struct ZoneCase {
    const char* zone;
    const char* line;
};

std::ostream& operator<<(std::ostream& os, const ZoneCase& c) {
    return os << c.zone;
}

class DateLineTest : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(DateLineTest, LocalTimeWithTheRealOffset) {
    const ZoneScope zone(GetParam().zone);
    EXPECT_EQ(DateLine(LocalTimeAt(kInstant)), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, DateLineTest,
    ::testing::Values(ZoneCase{"Asia/Tokyo", "Date: Wed, 08 Dec 1999 14:05:09 +0900"},
                      ZoneCase{"UTC", "Date: Wed, 08 Dec 1999 05:05:09 +0000"},
                      ZoneCase{"America/New_York", "Date: Wed, 08 Dec 1999 00:05:09 -0500"},
                      ZoneCase{"America/Los_Angeles", "Date: Tue, 07 Dec 1999 21:05:09 -0800"},
                      ZoneCase{"Asia/Kolkata", "Date: Wed, 08 Dec 1999 10:35:09 +0530"}));

TEST(DateLineTest, EnglishNamesWhateverTheLocale) {
    // Every day and month name, from a fixed time of each.
    std::tm t{};
    t.tm_year = 124;
    t.tm_mday = 5;
    const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 0; m < 12; ++m) {
        t.tm_mon = m;
        t.tm_wday = m % 7;
        EXPECT_EQ(DateLine(t), std::string("Date: ") + days[m % 7] + ", 05 " + months[m] +
                                   " 2024 00:00:00 +0000");
    }
}

TEST(BoundaryTest, SecondsMinutesHoursAfterTheTick) {
    std::tm t{};
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(MakeBoundary(255, t), "----=_QUILLOMB_0101_0911_000000ff.090514");
    t.tm_hour = 0;
    t.tm_min = 0;
    t.tm_sec = 59;
    EXPECT_EQ(MakeBoundary(0xFFFFFFFFu, t), "----=_QUILLOMB_0101_0911_ffffffff.590000");
}

CPostInput Input() {
    CPostInput in;
    in.server = "news.example.org";
    in.newsgroups = "local.test";
    in.subject = "Subject";
    in.name = "Name";
    in.email = "a@example.org";
    return in;
}

std::tm Noon() {
    std::tm t{};
    t.tm_year = 100;
    t.tm_mday = 1;
    t.tm_hour = 12;
    t.tm_wday = 6;
    return t;
}

TEST(HeaderLinesTest, PlainArticleWithoutReferences) {
    EXPECT_EQ(BuildHeaderLines(Input(), "B", Noon()),
              (std::vector<std::string>{"Content-Type: text/plain; charset=\"iso-2022-jp\"",
                                        "Content-Transfer-Encoding: 7bit",
                                        "Date: Sat, 01 Jan 2000 12:00:00 +0000",
                                        "From: Name <a@example.org >", "Newsgroups: local.test",
                                        "MIME-Version: 1.0", "Path: news.example.org",
                                        "Subject: Subject", "X-Newsreader: Quillo2000 1.01.0910"}));
}

TEST(HeaderLinesTest, HtmlArticleNamesTheBoundaryAndReferencesGoUnencoded) {
    CPostInput in = Input();
    in.html = true;
    in.references = "<\x82\xA0@x> <b@x>";
    const std::vector<std::string> lines = BuildHeaderLines(in, "----=_B", Noon());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Content-Type: multipart/alternative; boundary=\"----=_B\"");
    EXPECT_EQ(lines[9], "References: <\x82\xA0@x> <b@x>");
}

TEST(HeaderLinesTest, LineBreaksInValuesCannotStartHeaderLines) {
    CPostInput in = Input();
    in.subject = "a\r\nNewsgroups: other";
    in.name = "N\n";
    in.references = "<a@x>\r\n\r\nbody";
    const std::vector<std::string> lines = BuildHeaderLines(in, "B", Noon());
    EXPECT_EQ(lines[3], "From: N  <a@example.org >");
    EXPECT_EQ(lines[7], "Subject: a  Newsgroups: other");
    EXPECT_EQ(lines[9], "References: <a@x>    body");
}

TEST(HeaderLinesTest, HalfWidthKatakanaInHeaderValuesBecomeFullWidthWords) {
    CPostInput in = Input();
    in.name = Sjis("ﾀﾛｳ");
    in.subject = Sjis("ﾃｽﾄ ok");
    const std::vector<std::string> lines = BuildHeaderLines(in, "B", Noon());
    // タロウ and テスト with the blank that ended the run, as ISO-2022-JP words.
    EXPECT_EQ(lines[3], "From: =?ISO-2022-JP?B?GyRCJT8lbSUmGyhCIA==?=<a@example.org >");
    EXPECT_EQ(lines[7], "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhCIA==?=ok");
}

TEST(PartHeaderTest, FiveLines) {
    EXPECT_EQ(PartHeader("B", false), "--B\r\nContent-Type: text/plain; \r\n"
                                      "\tcharset=\"iso-2022-jp\"\r\n"
                                      "Content-Transfer-Encoding: 7bit\r\n\r\n");
    EXPECT_EQ(PartHeader("B", true), "--B\r\nContent-Type: text/html; \r\n"
                                     "\tcharset=\"iso-2022-jp\"\r\n"
                                     "Content-Transfer-Encoding: 7bit\r\n\r\n");
}

struct WireCase {
    const char* name;
    std::string line;
    WireLineKind kind;
    std::string wire;
};

std::ostream& operator<<(std::ostream& os, const WireCase& c) {
    return os << c.name;
}

class WireLineTest : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireLineTest, Bytes) {
    EXPECT_EQ(Escaped(WireLine(GetParam().line, GetParam().kind)), Escaped(GetParam().wire));
}

// 鹿堆潰勝: in ISO-2022-JP its pairs spell "</BODY>!".
const std::string kTagLookalike = "\x8E\xAD\x91\xCD\x92\xD7\x8F\x9F";

INSTANTIATE_TEST_SUITE_P(
    Lines, WireLineTest,
    ::testing::Values(WireCase{"plain ASCII", "abc", WireLineKind::Plain, "abc\r\n"},
                      WireCase{"empty line", "", WireLineKind::Plain, "\r\n"},
                      WireCase{"a lone dot is doubled", ".", WireLineKind::Plain, "..\r\n"},
                      WireCase{"a leading dot is doubled", ".sig", WireLineKind::Plain,
                               "..sig\r\n"},
                      WireCase{"Japanese goes as ISO-2022-JP", Sjis("日本語 a"),
                               WireLineKind::Plain, "\x1B$BF|K\\8l\x1B(B a\r\n"},
                      WireCase{"closing tags stay in the plain part", "</BODY>",
                               WireLineKind::Plain, "</BODY>\r\n"},
                      WireCase{"closing tags leave the HTML part in any case", "a</body>b</Html>c",
                               WireLineKind::HtmlBody, "abc\r\n"},
                      WireCase{"adjacent closing tags all go", "</BODY></HTML></body>",
                               WireLineKind::HtmlBody, "\r\n"},
                      WireCase{"a tag made by a removal is not looked at again", "</</BODY>HTML>",
                               WireLineKind::HtmlBody, "</HTML>\r\n"},
                      WireCase{"a dot bared by the removal is doubled", "</HTML>.",
                               WireLineKind::HtmlBody, "..\r\n"},
                      WireCase{"double-byte characters never count as tags", kTagLookalike,
                               WireLineKind::HtmlBody, "\x1B$B</BODY>!\x1B(B\r\n"},
                      WireCase{"HTML signature lines end in <BR>", "-- ",
                               WireLineKind::HtmlSignature, "-- <BR>\r\n"},
                      WireCase{"HTML signature lines keep closing tags", ".</BODY>",
                               WireLineKind::HtmlSignature, "..</BODY><BR>\r\n"}));

// ---- Half-width katakana ----

TEST(KatakanaTest, EveryHalfWidthByteHasItsFullWidthForm) {
    const std::string full =
        "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテト"
        "ナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
    for (int b = 0xA1; b <= 0xDF; ++b) {
        const std::size_t at = static_cast<std::size_t>(b - 0xA1) * 3; // 3 UTF-8 bytes each
        const std::string half(1, static_cast<char>(b));
        // The byte really is half-width katakana: U+FF61 onwards, in order.
        const unsigned code = 0xFF61u + static_cast<unsigned>(b - 0xA1);
        const std::string utf8 = {'\xEF', static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                                  static_cast<char>(0x80 | (code & 0x3F))};
        EXPECT_EQ(Iconv(half, "CP932", "UTF-8"), utf8);
        EXPECT_EQ(Escaped(HalfToFullKatakana(half)), Escaped(Sjis(full.substr(at, 3))))
            << std::hex << b;
    }
}

struct KanaCase {
    const char* half; // UTF-8
    const char* full; // UTF-8
};

std::ostream& operator<<(std::ostream& os, const KanaCase& c) {
    return os << c.half;
}

class KatakanaJoinTest : public ::testing::TestWithParam<KanaCase> {};

TEST_P(KatakanaJoinTest, Converts) {
    EXPECT_EQ(Escaped(HalfToFullKatakana(Sjis(GetParam().half))), Escaped(Sjis(GetParam().full)));
}

INSTANTIATE_TEST_SUITE_P(
    Marks, KatakanaJoinTest,
    ::testing::Values(KanaCase{"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞ", "ガギグゲゴザジズゼゾダヂヅデド"},
                      KanaCase{"ﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞ", "バビブベボ"}, KanaCase{"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ", "パピプペポ"},
                      KanaCase{"ｳﾞ", "ヴ"}, KanaCase{"ｱﾞｶﾟﾞ", "ア゛カ゜゛"}, KanaCase{"ﾞﾟ", "゛゜"},
                      KanaCase{"ﾃﾞｰﾀﾍﾞｰｽ｡", "データベース。"},
                      // い is 0x82 0xA2: its second byte is no katakana.
                      KanaCase{"漢字いｱabc", "漢字いアabc"},
                      KanaCase{"plain ASCII", "plain ASCII"}));

} // namespace
