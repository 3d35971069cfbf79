// The body text of the compose window: its lines, tag stripping, loading (quoting) and the save
// file.

#include "post/BodyText.h"
#include "post/SaveFile.h"

#include "../mime/Escaped.h"
#include "../nntp/HeaderDownloadTestSupport.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct TextCase {
    const char* name;
    std::string in;
    std::string out;
};

std::ostream& operator<<(std::ostream& os, const TextCase& c) {
    return os << c.name;
}

// ---- SplitTextLines ----

struct SplitCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

std::ostream& operator<<(std::ostream& os, const SplitCase& c) {
    return os << c.name;
}

class SplitTextLinesTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTextLinesTest, Lines) {
    EXPECT_EQ(SplitTextLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTextLinesTest,
    ::testing::Values(
        SplitCase{"empty text has no lines", "", {}},
        SplitCase{"last line without a break is a line", "a", {"a"}},
        SplitCase{"final break adds no empty line", "a\r\n", {"a"}},
        SplitCase{"empty lines kept", "\r\na\r\n\r\n", {"", "a", ""}},
        SplitCase{"CR, LF and CR LF each end a line", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        SplitCase{"lead byte takes the byte after it", "\x82\na\r\nb", {"\x82\na", "b"}},
        SplitCase{"text ends at a zero byte", std::string("a\r\nb\0c\r\n", 8), {"a", "b"}}));

TEST(WithFinalLineBreakTest, AddsCrLfOnlyWhenMissing) {
    EXPECT_EQ(WithFinalLineBreak(""), "");
    EXPECT_EQ(WithFinalLineBreak("a"), "a\r\n");
    EXPECT_EQ(WithFinalLineBreak("a\r\n"), "a\r\n");
    EXPECT_EQ(WithFinalLineBreak("a\n"), "a\n");
}

// ---- StripHtmlTags ----

class StripHtmlTagsTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(StripHtmlTagsTest, Strips) {
    EXPECT_EQ(Escaped(StripHtmlTags(GetParam().in)), Escaped(GetParam().out));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StripHtmlTagsTest,
    ::testing::Values(
        TextCase{"tags within a line", "a<b>bold</b>c\r\n", "aboldc"},
        TextCase{"lines without <BR> run together", "one\r\ntwo\r\n", "onetwo"},
        TextCase{"<BR> at the end keeps the break", "one<BR>\r\ntwo<br>\r\n", "one\r\ntwo\r\n"},
        TextCase{"<BR> inside a line is a tag like any", "one<BR>two\r\n", "onetwo"},
        TextCase{"<BR> with a blank after it is a tag", "one<BR> \r\n", "one "},
        TextCase{"<BR> on the last line without a break", "x<BR>", "x"},
        TextCase{"a line that is only <BR> stays an empty line", "<br>\r\nx", "\r\nx"},
        TextCase{"tag across lines drops the lines inside it",
                 "a<font\r\ncolor=red\r\nsize=2>b<BR>\r\nc", "ab\r\nc"},
        TextCase{"lines left empty disappear", "\r\n<p>\r\nx\r\n", "x"},
        TextCase{"an unclosed < hides text up to the next >", "a < b\r\nc > d\r\n", "a  d"},
        TextCase{"character references are not decoded", "&nbsp;&lt;\r\n", "&nbsp;&lt;"},
        TextCase{"only the CR of CR LF goes: a lone CR stays", "a\rb\r\n", "a\rb"},
        TextCase{"CR CR LF loses one CR with the LF", "x\r\r\n", "x\r"},
        TextCase{"a bare LF is no CR LF and stays", "a\nb\n", "a\nb\n"},
        TextCase{"Japanese text between tags", Sjis("日本語<b>太字</b>\r\n"), Sjis("日本語太字")},
        TextCase{"a joined line longer than 4095 bytes stays whole",
                 std::string(3000, 'a') + "\r\n" + std::string(3000, 'b') + "\r\n",
                 std::string(3000, 'a') + std::string(3000, 'b')}));

// ---- LoadBodyText ----

struct LoadCase {
    const char* name;
    std::string content;
    bool quote;
    std::string body;
};

std::ostream& operator<<(std::ostream& os, const LoadCase& c) {
    return os << c.name;
}

class LoadBodyTextTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadBodyTextTest, Body) {
    EXPECT_EQ(Escaped(LoadBodyText(GetParam().content, GetParam().quote)),
              Escaped(GetParam().body));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadBodyTextTest,
    ::testing::Values(
        LoadCase{"quoting marks every line", "a\r\nb\r\n", true, " > a\r\n > b\r\n"},
        LoadCase{"no quoting copies the lines", "a\r\nb\r\n", false, "a\r\nb\r\n"},
        LoadCase{"empty file, empty body", "", true, ""},
        LoadCase{"empty lines are quoted too", "\r\n\r\n", true, " > \r\n > \r\n"},
        LoadCase{"last line without a break is loaded", "a\r\nb", true, " > a\r\n > b\r\n"},
        LoadCase{"CR and LF alone end lines", "a\nb\rc", true, " > a\r\n > b\r\n > c\r\n"},
        LoadCase{"<BR> breaks the line and is written upper case", "x<br>y<Br>\r\n", false,
                 "x<BR>\r\ny<BR>\r\n\r\n"},
        LoadCase{"quote mark once per file line, not per <BR>", "x<BR>y\r\n", true,
                 " > x<BR>\r\ny\r\n"},
        LoadCase{"Japanese lines", Sjis("引用\r\n"), true, " > " + Sjis("引用") + "\r\n"},
        LoadCase{"a line longer than 4095 bytes stays whole", std::string(5000, 'q') + "\r\n", true,
                 " > " + std::string(5000, 'q') + "\r\n"}));

// ---- Save file ----

TEST(SaveFileTest, BytesAreFiveFieldLinesAndTheBody) {
    EXPECT_EQ(
        SaveFileBytes({"news.example.org", "local.test", "Re", "<a@x>", "Subject"}, "body\r\nlast"),
        "news.example.org\r\nlocal.test\r\nRe\r\n<a@x>\r\nSubject\r\nbody\r\nlast\r\n");
}

TEST(SaveFileTest, ParseGivesTheFieldsAndTheRest) {
    const CSaveFile file = ParseSaveFile("s\r\ng\r\nr\r\n<a@x> <b@x>\r\nsub\r\nbody\r\n\r\n");
    for (std::size_t i = 0; i < kSaveFileFields; ++i)
        ASSERT_TRUE(file.fields[i]) << i;
    EXPECT_EQ(*file.fields[0], "s");
    EXPECT_EQ(*file.fields[1], "g");
    EXPECT_EQ(*file.fields[2], "r");
    EXPECT_EQ(*file.fields[3], "<a@x> <b@x>");
    EXPECT_EQ(*file.fields[4], "sub");
    EXPECT_EQ(file.body, "body\r\n\r\n");
}

TEST(SaveFileTest, ShortFileLeavesTheMissingFieldsAndTakesTheRestAsBody) {
    const CSaveFile file = ParseSaveFile("s\ng\rtail");
    EXPECT_EQ(file.fields[0], std::optional<std::string>("s"));
    EXPECT_EQ(file.fields[1], std::optional<std::string>("g"));
    for (std::size_t i = 2; i < kSaveFileFields; ++i)
        EXPECT_FALSE(file.fields[i]) << i;
    EXPECT_EQ(file.body, "tail");
}

TEST(SaveFileTest, EmptyFile) {
    const CSaveFile file = ParseSaveFile("");
    EXPECT_FALSE(file.fields[0]);
    EXPECT_EQ(file.body, "");
}

TEST(SaveFileTest, LongAndJapaneseFieldsRoundTripWhole) {
    const std::string subject = Sjis("件名") + std::string(5000, 'x');
    const std::string body = Sjis("本文\r\n") + std::string(6000, 'y');
    const CSaveFile file = ParseSaveFile(SaveFileBytes({"h", "g", "", "", subject}, body));
    EXPECT_EQ(file.fields[2], std::optional<std::string>(""));
    EXPECT_EQ(file.fields[4], std::optional<std::string>(subject));
    // Each save and load adds one CR LF to the body.
    EXPECT_EQ(file.body, body + "\r\n");
}

TEST(SaveFileTest, FilesAreWrittenAndReadByteForByte) {
    TestDir dir;
    const std::string bytes = std::string("a\r\n\x82\xa0\0z", 7);
    ASSERT_TRUE(WriteTextFile(dir / "draft.txt", bytes));
    EXPECT_EQ(ReadTextFile(dir / "draft.txt"), std::optional<std::string>(bytes));
    ASSERT_TRUE(WriteTextFile(dir / "draft.txt", "short"));
    EXPECT_EQ(ReadTextFile(dir / "draft.txt"), std::optional<std::string>("short"));
    EXPECT_FALSE(ReadTextFile(dir / "missing.txt"));
    EXPECT_FALSE(WriteTextFile(dir / "no/such/dir.txt", "x"));
}

} // namespace
