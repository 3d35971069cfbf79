#include "mime/ArticleParser.h"

#include "base/TempFile.h"
#include "mime/Codec.h"
#include "support/TestDir.h"

#include "Escaped.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Shift_JIS texts of the fixtures.
const std::string kSuzuki = "\x97\xe9\x96\xd8";                       // 鈴木
const std::string kTest = "\x83\x65\x83\x58\x83\x67";                 // テスト
const std::string kNihongo = "\x93\xfa\x96\x7b\x8c\xea";              // 日本語
const std::string kSuzukiDesu = kSuzuki + "\x82\xc5\x82\xb7\x81\x42"; // 鈴木です。
const std::string kHonbun =
    kNihongo + "\x82\xcc\x96\x7b\x95\xb6\x82\xc5\x82\xb7\x81\x42"; // の本文です。

// Part files go to a temporary root of each test's own, so the directory shows exactly what
// one parse wrote.
class TempRoot {
public:
    TempRoot() { SetTempRoot(m_root.Path()); }
    ~TempRoot() { SetTempRoot(""); }

    // Every file of the private temporary directory, by name, with its bytes.
    static std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> files;
        const std::string dir = PrivateTempDirectory();
        for (const auto& entry : fs::directory_iterator(dir))
            files[entry.path().filename().string()] = ReadWholeFile(entry.path().string());
        return files;
    }

private:
    TestDir m_root;
};

std::string Fixture(const std::string& name) {
    return TestDataDir() + "/mime/" + name;
}

struct ParseCase {
    const char* name;
    const char* fixture;
    int result;
    std::vector<CPartEntry> entries;
    std::map<std::string, std::string> files; // every part file written, by name
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) {
    return os << c.name;
}

void ExpectFiles(const std::map<std::string, std::string>& actual,
                 const std::map<std::string, std::string>& expected) {
    std::vector<std::string> actualNames;
    std::vector<std::string> expectedNames;
    for (const auto& [name, bytes] : actual)
        actualNames.push_back(name);
    for (const auto& [name, bytes] : expected)
        expectedNames.push_back(name);
    EXPECT_EQ(actualNames, expectedNames);
    for (const auto& [name, bytes] : expected) {
        const auto found = actual.find(name);
        if (found != actual.end())
            EXPECT_EQ(Escaped(found->second), Escaped(bytes)) << name;
    }
}

class ParseArticleTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseArticleTest, WritesThePartFilesAndListsThem) {
    const ParseCase& c = GetParam();
    TempRoot temp;
    std::vector<CPartEntry> entries{{"stale", 7}};
    EXPECT_EQ(ParseArticle(Fixture(c.fixture), entries), c.result);
    EXPECT_EQ(entries, c.entries);
    const std::map<std::string, std::string> files = TempRoot::Files();
    ExpectFiles(files, c.files);
    // Each entry leads to a file this parse wrote, under the name that differs in letter case
    // from the entry text for header and body.
    const std::string dir = PrivateTempDirectory();
    for (const CPartEntry& entry : entries) {
        const std::string path = PartFilePath(entry.m_text, entry.m_data);
        ASSERT_EQ(path.substr(0, dir.size() + 1), dir + "/") << entry.m_text;
        EXPECT_TRUE(files.count(path.substr(dir.size() + 1))) << entry.m_text;
    }
}

const std::string kAlternativeHeader = "From: hanako@example.jp\r\n"
                                       "Subject: HTML\r\n"
                                       "MIME-Version: 1.0\r\n"
                                       "Content-Type: multipart/alternative;\r\n"
                                       "\tboundary=\"xyz\"\r\n"
                                       "X-Trailer: after the fold\r\n"
                                       "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ParseArticleTest,
    testing::Values(
        ParseCase{"PlainJapanese",
                  "plain-japanese.ntx",
                  1,
                  {{"0: Header", 0}, {"1: Body", 0}},
                  {{"header.txt", "Path: news.example.jp!not-for-mail\r\n"
                                  "From: " +
                                      kSuzuki +
                                      " <suzuki@example.jp>\r\n"
                                      "Subject: " +
                                      kTest +
                                      "\r\n"
                                      "Message-ID: <plain.20240301@example.jp>\r\n"
                                      "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                      "Content-Transfer-Encoding: 7bit\r\n"
                                      "\r\n"},
                   {"body.txt", kHonbun + "\r\n\r\n-- \r\nsuzuki\r\n"}}},
        // Any text type, HTML included, is one body shown as text; LF line ends become CR LF.
        ParseCase{"TextHtmlWithLfLineEnds",
                  "lf-line-ends.ntx",
                  1,
                  {{"0: Header", 0}, {"1: Body", 0}},
                  {{"header.txt", "Subject: written with LF\r\ncontent-type: TEXT/html\r\n\r\n"},
                   {"body.txt", "<p>shown as text</p>\r\n"}}},
        ParseCase{"NoContentType",
                  "no-content-type.ntx",
                  0,
                  {{"0: Header", 0}},
                  {{"header.txt", "From: old@example.jp\r\nSubject: no MIME at all\r\n"
                                  "Message-ID: <nomime.1999@example.jp>\r\n\r\n"}}},
        ParseCase{"AlternativeWithFoldedQuotedBoundary",
                  "alternative-folded.ntx",
                  0,
                  {{"0: Header", 0}, {"1 PlainText1", 0}, {"2 HtmlText2", 1}},
                  {{"header.txt", kAlternativeHeader},
                   {"PlainText1.txt", kSuzukiDesu + "\r\n\r\n"},
                   {"HtmlText2.htm",
                    "<html><body>\r\n<p>" + kSuzukiDesu + "</p>\r\n</body></html>\r\n"}}},
        ParseCase{"MixedWithAnImageBetween",
                  "mixed-image.ntx",
                  0,
                  {{"0: Header", 0}, {"1 PlainText1", 0}, {"3 HtmlText3", 1}},
                  {{"header.txt",
                    "Subject: picture\r\nContent-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n"},
                   {"PlainText1.txt", "see the picture\r\n"},
                   {"HtmlText3.htm", "<p>see the picture</p>\r\n"}}},
        ParseCase{"BoundaryNotTheFirstParameter",
                  "boundary-not-first.ntx",
                  0,
                  {{"0: Header", 0}},
                  {{"header.txt", "Subject: late boundary\r\n"
                                  "Content-Type: multipart/mixed; charset=x; boundary=y\r\n\r\n"}}},
        // Soft breaks are joined before the ISO-2022-JP is converted; the text kept from a
        // last "=" line is dropped; plain parts keep their "=".
        ParseCase{"SoftBreaksInHtml",
                  "html-soft-breaks.ntx",
                  0,
                  {{"0: Header", 0}, {"1 HtmlText1", 1}, {"2 PlainText2", 0}},
                  {{"header.txt", "Subject: soft breaks\r\n"
                                  "Content-Type: multipart/alternative; boundary=\"sb\"\r\n\r\n"},
                   {"HtmlText1.htm", "abcd\r\n" + kNihongo + "\r\nx=y\r\n"},
                   {"PlainText2.txt", "plain keeps its=\r\nsoft breaks\r\n"}}},
        ParseCase{"BoundaryLinesInOtherLetterCase",
                  "boundary-other-case.ntx",
                  0,
                  {{"0: Header", 0}, {"1 PlainText1", 0}, {"2 HtmlText2", 1}},
                  {{"header.txt", "Subject: letter case\r\n"
                                  "Content-Type: multipart/alternative; BOUNDARY=\"AbC\"\r\n\r\n"},
                   {"PlainText1.txt", "one\r\n"},
                   {"HtmlText2.htm", "<b>two</b>\r\n"}}},
        ParseCase{"FoldedWithBlanksLosesTheBoundary",
                  "folded-with-blanks.ntx",
                  0,
                  {{"0: Header", 0}},
                  {{"header.txt", "Subject: folded with blanks\r\n"
                                  "Content-Type: multipart/alternative;\r\n"
                                  "    boundary=\"lost\"\r\n\r\n"}}},
        ParseCase{"TabLineAfterAnotherHeaderIsNotContentType",
                  "subject-continuation.ntx",
                  0,
                  {{"0: Header", 0}},
                  {{"header.txt", "Content-Type: multipart/mixed;\r\nSubject: a long subject\r\n"
                                  "\tboundary=\"cont\"\r\n\r\n"}}},
        // Parts without a header, with "Content-Type:" and no blank, of another type (whose
        // inner text part is not seen) count but are not listed; the last part runs to the end.
        ParseCase{"OddParts",
                  "odd-parts.ntx",
                  0,
                  {{"0: Header", 0}, {"1 PlainText1", 0}, {"5 PlainText5", 0}},
                  {{"header.txt",
                    "Subject: odd parts\r\nContent-Type: Multipart/Mixed; Boundary=zz\r\n\r\n"},
                   {"PlainText1.txt", "first\r\n"},
                   {"PlainText5.txt", "runs to the end of the file\r\n"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Articles in other charsets: the part files keep the cache's bytes exactly, and each entry says
// how its text is to be read (an HTML part's soft line breaks are joined already). "。" (e3 80 82)
// ends in a byte the line reader takes for a lead byte, which carries the CR of its line end into
// the line.
INSTANTIATE_TEST_SUITE_P(
    Charsets, ParseArticleTest,
    testing::Values(
        ParseCase{"Utf8EightBitBody",
                  "utf8-8bit.ntx",
                  1,
                  {{"0: Header", 0}, {"1: Body", 0, "UTF-8", CTransfer::None}},
                  {{"header.txt", "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>\r\n"
                                  "Subject: =?UTF-8?B?5pel5pys6Kqe?=\r\n"
                                  "MIME-Version: 1.0\r\n"
                                  "Content-Type: text/plain; charset=UTF-8\r\n"
                                  "Content-Transfer-Encoding: 8bit\r\n\r\n"},
                   {"body.txt", "日本語です。\r\n。\r\r\ncafé\r\n"}}},
        ParseCase{"Utf8AlternativeBase64AndQuotedPrintable",
                  "utf8-alternative-base64.ntx",
                  0,
                  {{"0: Header", 0},
                   {"1 PlainText1", 0, "UTF-8", CTransfer::Base64},
                   {"2 HtmlText2", 1, "UTF-8", CTransfer::None}},
                  {{"header.txt", "Subject: =?UTF-8?B?5pel5pys6Kqe?=\r\nMIME-Version: 1.0\r\n"
                                  "Content-Type: multipart/alternative; boundary=\"u8\"\r\n\r\n"},
                   {"PlainText1.txt", "5pel5pys6Kqe44Gn44GZ44CCDQo=\r\n\r\n"},
                   {"HtmlText2.htm", "<p>日本語です。</p>\r\n"}}},
        ParseCase{"CharsetOfEachPart",
                  "charset-parts.ntx",
                  0,
                  {{"0: Header", 0},
                   {"1 PlainText1", 0, "ISO-2022-JP", CTransfer::Base64},
                   {"2 HtmlText2", 1, "EUC-JP", CTransfer::None},
                   {"3 PlainText3", 0, "", CTransfer::None},
                   {"4 PlainText4", 0, "", CTransfer::Base64},
                   {"5 PlainText5", 0, "UTF-8", CTransfer::QuotedPrintable},
                   {"6 HtmlText6", 1, "UTF-8", CTransfer::Base64}},
                  {{"header.txt", "Subject: charsets\r\n"
                                  "Content-Type: multipart/mixed; boundary=cs\r\n\r\n"},
                   {"PlainText1.txt", "GyRCJCIbKEINCg==\r\n"},
                   {"HtmlText2.htm", "<p>\xc6\xfc\xcb\xdc</p>\r\n"},
                   {"PlainText3.txt", "unknown\r\n"},
                   {"PlainText4.txt", "k/o=\r\n"},
                   {"PlainText5.txt", "\xe6\x97=\r\n\xa5\r\n"},
                   // a base64 HTML part is copied as it is: its last line, padded with "=", stays
                   {"HtmlText6.htm", "PHA+5pel5pys6KqePC9wPg0K\r\neA==\r\n"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseArticle, SecondArticleWithFewerPartsListsOnlyItsOwn) {
    TempRoot temp;
    std::vector<CPartEntry> entries;
    EXPECT_EQ(ParseArticle(Fixture("four-parts.ntx"), entries), 0);
    EXPECT_EQ(entries, (std::vector<CPartEntry>{{"0: Header", 0},
                                                {"1 PlainText1", 0},
                                                {"2 HtmlText2", 1},
                                                {"3 PlainText3", 0},
                                                {"4 HtmlText4", 1}}));
    EXPECT_EQ(ParseArticle(Fixture("alternative-folded.ntx"), entries), 0);
    EXPECT_EQ(entries,
              (std::vector<CPartEntry>{{"0: Header", 0}, {"1 PlainText1", 0}, {"2 HtmlText2", 1}}));
    const auto files = TempRoot::Files();
    // The first article's files stay; those of the same names now hold the second's parts.
    EXPECT_EQ(files.at("PlainText3.txt"), "third of four\r\n");
    EXPECT_EQ(files.at("HtmlText4.htm"), "<i>fourth of four</i>\r\n");
    EXPECT_EQ(files.at("header.txt"), kAlternativeHeader);
    EXPECT_EQ(files.at("PlainText1.txt"), kSuzukiDesu + "\r\n\r\n");
}

TEST(ParseArticle, ArticleThatCannotBeOpenedGivesAnEmptyList) {
    TempRoot temp;
    std::vector<CPartEntry> entries{{"0: Header", 0}};
    EXPECT_EQ(ParseArticle(Fixture("no-such-article.ntx"), entries), 1);
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(TempRoot::Files().empty());
}

TEST(ParseArticle, NoTemporaryDirectoryListsNothing) {
    TestDir root;
    // A file where the temporary root should be: no directory can be made beneath it.
    ASSERT_TRUE(WriteWholeFile(root / "file", ""));
    SetTempRoot(root / "file");
    std::vector<CPartEntry> entries;
    EXPECT_EQ(ParseArticle(Fixture("alternative-folded.ntx"), entries), 0);
    EXPECT_EQ(ParseArticle(Fixture("plain-japanese.ntx"), entries), 1);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(PartFilePath("0: Header", kPartTextFile), "");
    SetTempRoot("");
}

struct PathCase {
    const char* entry;
    int data;
    const char* file; // "" for no path
};

TEST(PartFilePath, RebuildsTheFileNameFromTheEntry) {
    TempRoot temp;
    const std::string dir = PrivateTempDirectory();
    const PathCase cases[] = {
        {"0: Header", kPartTextFile, "header.txt"},
        {"1: Body", kPartTextFile, "body.txt"},
        {"3 PlainText3", kPartTextFile, "PlainText3.txt"},
        {"12 HtmlText12", kPartHtmlFile, "HtmlText12.htm"},
        {"2 HtmlText2", 5, "HtmlText2"},
        {"NoBlank", kPartTextFile, ""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(PartFilePath(c.entry, c.data), *c.file ? dir + "/" + c.file : "");
    }
}

// ---- untrusted input ----

struct ArticleBuilder {
    std::string bytes;
    ArticleBuilder& Line(const std::string& line) {
        bytes += line + "\r\n";
        return *this;
    }
};

std::vector<CPartEntry> ParseBytes(const TestDir& dir, const std::string& bytes, int& result) {
    const std::string path = dir / "article.ntx";
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    std::vector<CPartEntry> entries;
    result = ParseArticle(path, entries);
    return entries;
}

TEST(ParseArticle, LongContentTypeIsCutAndItsBoundaryWithIt) {
    TempRoot temp;
    TestDir dir;
    const std::string prefix = "multipart/mixed; boundary=";
    const std::string boundary(2000, 'b');
    // Only the first 1,023 bytes of the value count, so the boundary is that much shorter.
    const std::string kept = boundary.substr(0, kContentTypeMax - prefix.size());
    ArticleBuilder article;
    article.Line("Content-Type: " + prefix + boundary)
        .Line("")
        .Line("--" + boundary)
        .Line("Content-Type: text/plain")
        .Line("")
        .Line("not a part of the cut boundary")
        .Line("--" + kept)
        .Line("Content-Type: text/plain")
        .Line("")
        .Line("part of the cut boundary");
    int result = -1;
    const auto entries = ParseBytes(dir, article.bytes, result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(entries, (std::vector<CPartEntry>{{"0: Header", 0}, {"1 PlainText1", 0}}));
    EXPECT_EQ(TempRoot::Files().at("PlainText1.txt"), "part of the cut boundary\r\n");
}

TEST(ParseArticle, LongLinesNeverOverflow) {
    TempRoot temp;
    TestDir dir;
    const std::string plain(5000, 'p');
    const std::string html(3000, 'h');
    ArticleBuilder article;
    article.Line("Content-Type: multipart/alternative; boundary=\"L\"")
        .Line("")
        .Line("--L")
        .Line("Content-Type: text/plain")
        .Line("")
        .Line(plain)
        .Line("--L")
        .Line("Content-Type: text/html")
        .Line("")
        .Line(html)
        .Line(std::string(600, 'a') + "=")
        .Line(std::string(600, 'b') + "=")
        .Line(std::string(600, 'c'))
        .Line("--L--");
    int result = -1;
    ParseBytes(dir, article.bytes, result);
    const auto files = TempRoot::Files();
    // A plain line goes on as the next line after 4,095 bytes.
    EXPECT_EQ(files.at("PlainText1.txt"), std::string(kFileLineMax, 'p') + "\r\n" +
                                              std::string(5000 - kFileLineMax, 'p') + "\r\n");
    // An HTML line, assembled from soft line breaks or not, is written whole.
    EXPECT_EQ(files.at("HtmlText2.htm"), std::string(3000, 'h') + "\r\n" + std::string(600, 'a') +
                                             std::string(600, 'b') + std::string(600, 'c') +
                                             "\r\n");
}

// Nothing from the article names a file: a boundary full of path characters only separates.
TEST(ParseArticle, BoundaryNeverReachesTheFileSystem) {
    TempRoot temp;
    TestDir dir;
    ArticleBuilder article;
    article.Line("Content-Type: multipart/mixed; boundary=\"../../x/body\"")
        .Line("")
        .Line("--../../x/body")
        .Line("Content-Type: text/html; name=\"../../../evil.htm\"")
        .Line("Content-Disposition: attachment; filename=\"/tmp/evil\"")
        .Line("")
        .Line("<p>x</p>");
    int result = -1;
    const auto entries = ParseBytes(dir, article.bytes, result);
    EXPECT_EQ(entries, (std::vector<CPartEntry>{{"0: Header", 0}, {"1 HtmlText1", 1}}));
    std::vector<std::string> names;
    for (const auto& [name, bytes] : TempRoot::Files())
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"HtmlText1.htm", "header.txt"}));
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        beside.push_back(entry.path().filename().string());
    EXPECT_EQ(beside, std::vector<std::string>{"article.ntx"});
}

TEST(ParseArticle, FiveMegabyteArticleTakesLinearTime) {
    TempRoot temp;
    TestDir dir;
    ArticleBuilder article;
    article.Line("Content-Type: multipart/alternative; boundary=\"big\"").Line("");
    std::string plain;
    std::string html;
    // Long parts of soft-broken HTML, and many small parts.
    for (int part = 0; article.bytes.size() < 5 * 1024 * 1024; ++part) {
        article.Line("--big").Line(part % 2 ? "Content-Type: text/html"
                                            : "Content-Type: text/plain");
        article.Line("");
        const int lines = part < 4 ? 20000 : 100;
        for (int i = 0; i < lines; ++i)
            article.Line(part % 2 ? "<p>" + kNihongo + "=" : "line " + kNihongo);
        if (part % 2)
            article.Line("</p>");
    }
    article.Line("--big--");
    int result = -1;
    const auto start = std::chrono::steady_clock::now();
    const auto entries = ParseBytes(dir, article.bytes, result);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ(result, 0);
    ASSERT_GT(entries.size(), 4u);
    EXPECT_EQ(entries[1], (CPartEntry{"1 PlainText1", 0}));
    EXPECT_EQ(entries[2], (CPartEntry{"2 HtmlText2", 1}));
    const auto files = TempRoot::Files();
    // The first HTML part is one line of 20,000 soft-broken pieces, written whole.
    std::string longLine;
    for (int i = 0; i < 20000; ++i)
        longLine += "<p>" + kNihongo;
    EXPECT_EQ(files.at("HtmlText2.htm"), longLine + "</p>\r\n");
    EXPECT_EQ(files.at("PlainText1.txt").size(), 20000 * (5 + kNihongo.size() + 2));
    EXPECT_LT(ms, 10000);
    std::printf("5 MB article (%zu entries) cut into parts in %lld ms\n", entries.size(),
                static_cast<long long>(ms));
}

} // namespace
