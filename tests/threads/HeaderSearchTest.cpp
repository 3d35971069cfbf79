#include "threads/HeaderSearch.h"

#include "base/Progress.h"
#include "store/HeaderStore.h"
#include "support/TestDir.h"
#include "threads/MessageIdIndex.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Records the calls: "range:LOW-HIGH", "pos:N", "pump".
class Recorder : public IProgress {
public:
    void SetProgressRange(int low, int high) override {
        calls.push_back("range:" + std::to_string(low) + "-" + std::to_string(high));
    }
    void SetProgressPos(int pos) override { calls.push_back("pos:" + std::to_string(pos)); }
    void PumpMessages() override {
        calls.push_back("pump");
        ++pumps;
    }
    bool StopRequested() const override { return stopAtPump > 0 && pumps >= stopAtPump; }
    std::vector<std::string> calls;
    int pumps = 0;
    int stopAtPump = 0; // a stop is asked for from this pump on (0: never)
};

// ---- what one article offers the search ----

struct GatherCase {
    const char* name;
    std::string file; // the cache file's bytes
    bool header;
    bool body;
    std::string gathered;
};

std::ostream& operator<<(std::ostream& os, const GatherCase& c) {
    return os << c.name;
}

class GatherTest : public testing::TestWithParam<GatherCase> {};

TEST_P(GatherTest, HeaderAndFirstParagraphJoined) {
    const GatherCase& c = GetParam();
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "a.ntx", c.file));
    EXPECT_EQ(GatherSearchText(dir / "a.ntx", c.header, c.body), c.gathered);
}

const std::string kArticle = "Subject: one\r\nFrom: a@x\r\n\r\nfirst para\r\nstill first\r\n\r\n"
                             "second para\r\n";
const std::string kFull(kSearchGatherMax - 4, 'h');

INSTANTIATE_TEST_SUITE_P(
    Files, GatherTest,
    testing::Values(
        GatherCase{"Both", kArticle, true, true, "Subject: oneFrom: a@xfirst parastill first"},
        GatherCase{"HeaderOnly", kArticle, true, false, "Subject: oneFrom: a@x"},
        GatherCase{"BodyOnly", kArticle, false, true, "first parastill first"},
        GatherCase{"Neither", kArticle, false, false, ""},
        GatherCase{"NoBody", "Subject: one\r\n", true, true, "Subject: one"},
        // A last line without a line end is not a line.
        GatherCase{"LastLineWithoutEnd", "Subject: one\r\n\r\nbody", true, true, "Subject: one"},
        GatherCase{"LoneLineEnds", "A: 1\nB: 2\r\rbody\n\nafter\n", true, true, "A: 1B: 2body"},
        GatherCase{"CutAt2047", "X: " + kFull + "\r\nY: tail\r\n\r\nbody\r\n", true, true,
                   ("X: " + kFull + "Y: tail").substr(0, kSearchGatherMax)},
        // A body wanted alone still has to get past a header longer than the limit.
        GatherCase{"LongHeaderBodyOnly", "X: " + kFull + kFull + "\r\n\r\nbody\r\n", false, true,
                   "body"},
        GatherCase{"ZeroByteEndsTheFile", "A: 1\r\n\r\nab\0cd\r\nnext\r\n"s, true, true, "A: 1"},
        GatherCase{"Empty", "", true, true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Articles in other charsets are compared as the screen shows them: encoded words of the header
// decoded, the first paragraph read by the article's declarations, all in Shift_JIS.
const std::string kNihongo = "\x93\xfa\x96\x7b\x8c\xea"; // 日本語
const std::string kDesu = "\x82\xc5\x82\xb7\x81\x42";    // です。

INSTANTIATE_TEST_SUITE_P(
    Charsets, GatherTest,
    testing::Values(
        GatherCase{"Utf8Subject", "Subject: Re: =?UTF-8?B?5pel5pys?= =?UTF-8?B?6Kqe?=\r\n\r\nb\r\n",
                   true, false, "Subject: Re: " + kNihongo},
        GatherCase{
            "Utf8Body",
            "Content-Type: text/plain; charset=UTF-8\r\n\r\n日本語\r\nです。\r\n\r\nlater\r\n",
            false, true, kNihongo + kDesu},
        // base64 lines and the line end inside them come together
        GatherCase{"Base64Body",
                   "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n5pel5pys6Kqe\r\n44Gn44GZ44CCDQo=\r\n",
                   false, true, kNihongo + kDesu},
        // 日 split by a soft line break
        GatherCase{"QuotedPrintableBody",
                   "Content-Type: text/plain; charset=UTF-8\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n\r\n\xe6\x97=\r\n\xa5\r\n",
                   false, true, "\x93\xfa"},
        GatherCase{"EucJpBody",
                   "Content-Type: text/plain; charset=EUC-JP\r\n\r\n\xc6\xfc\xcb\xdc\r\n", true,
                   true, "Content-Type: text/plain; charset=EUC-JP\x93\xfa\x96\x7b"},
        // what Shift_JIS lacks cannot be searched for, but is there as 〓
        GatherCase{"LatinBody", "Content-Type: text/plain; charset=ISO-8859-1\r\n\r\ncaf\xe9\r\n",
                   false, true, "caf\x81\xac"},
        // the program's own text stays as it is, soft line breaks included
        GatherCase{"SjisBodyAsItIs",
                   "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\na=\r\n\x93\xfa\r\n", false,
                   true, "a=\x93\xfa"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GatherMissing, NoFileGathersNothing) {
    TestDir dir;
    EXPECT_EQ(GatherSearchText(dir / "none.ntx", true, true), "");
}

// ---- the search over the index ----

// An article of the group: its entry's Message-ID and item, and its cache file (none when
// empty).
struct Article {
    std::string mesid;
    int itemId;
    std::string file;
};

std::string Art(const std::string& header, const std::string& body) {
    return header + "\r\n\r\n" + body + "\r\n\r\nlater paragraph\r\n";
}

struct SearchCase {
    const char* name;
    std::vector<Article> articles;
    int startRow;
    std::string text;
    bool header;
    bool body;
    int row; // -1: past the last entry
};

std::ostream& operator<<(std::ostream& os, const SearchCase& c) {
    return os << c.name;
}

class SearchTest : public testing::TestWithParam<SearchCase> {};

TEST_P(SearchTest, FindsTheNextArticle) {
    const SearchCase& c = GetParam();
    TestDir dir;
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < c.articles.size(); ++i) {
        const Article& a = c.articles[i];
        // Record indexes need not follow the rows: records without a Message-ID are skipped.
        entries.push_back(FormatIndexEntry(static_cast<int>(2 * i), a.mesid, a.itemId));
        if (!a.file.empty())
            ASSERT_TRUE(WriteWholeFile(CacheFilePath(dir.Path(), a.mesid), a.file));
    }
    Recorder progress;
    const CSearchResult found =
        SearchArticles(entries, c.startRow, {dir.Path(), c.text, c.header, c.body}, progress);
    EXPECT_EQ(found.m_row, c.row);
    EXPECT_EQ(found.m_itemId, c.row < 0 ? 0 : c.articles[c.row].itemId);
}

const std::vector<Article> kThree = {
    {"<1@x>", 11, Art("Subject: Apple pie", "Baking with apples")},
    {"<2@x>", 12, Art("Subject: pear", "Pears and PLUMS\r\nfor dinner")},
    {"<3@x>", 13, Art("Subject: apple again", "plums")},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchTest,
    testing::Values(SearchCase{"HeaderMatch", kThree, 0, "pear", true, true, 1},
                    SearchCase{"BodyMatch", kThree, 0, "dinner", true, true, 1},
                    SearchCase{"BothBoxesClear", kThree, 0, "Subject", false, false, -1},
                    SearchCase{"HeaderOnlyMissesBody", kThree, 0, "dinner", true, false, -1},
                    SearchCase{"BodyOnlyMissesHeader", kThree, 0, "pear", false, true, -1},
                    SearchCase{"BodyOnlyMissesSubject", kThree, 0, "Subject", false, true, -1},
                    SearchCase{"CaseMatters", kThree, 0, "PEAR", true, true, -1},
                    SearchCase{"CaseMattersTheOtherWay", kThree, 0, "plums", true, true, 2},
                    SearchCase{"SpansTwoHeaderLines",
                               {{"<1@x>", 5, "Subject: ab\r\nFrom: cd\r\n\r\nx\r\n"}},
                               0,
                               "abFrom",
                               true,
                               false,
                               0},
                    SearchCase{"SpansHeaderAndBody",
                               {{"<1@x>", 5, "Subject: ab\r\n\r\ncd\r\n"}},
                               0,
                               "abcd",
                               true,
                               true,
                               0},
                    SearchCase{"LaterParagraphNeverFound", kThree, 0, "later", true, true, -1},
                    SearchCase{"StartsAfterTheShownArticle", kThree, 1, "apple", true, true, 2},
                    SearchCase{"StartRowIsExamined", kThree, 2, "apple", true, true, 2},
                    SearchCase{"StartPastTheEnd", kThree, 3, "apple", true, true, -1},
                    SearchCase{"NegativeStartIsTheFirst", kThree, -1, "Apple", true, true, 0},
                    SearchCase{"UncachedArticlesAreSkipped",
                               {{"<1@x>", 1, ""}, {"<2@x>", 2, Art("Subject: hit", "")}},
                               0,
                               "hit",
                               true,
                               true,
                               1},
                    SearchCase{"ItemZeroIsPassedOver",
                               {{"<1@x>", 0, Art("Subject: hit", "")},
                                {"<2@x>", 2, Art("Subject: hit", "")}},
                               0,
                               "hit",
                               true,
                               true,
                               1},
                    SearchCase{"MessageIdWithCommaAndBlank",
                               {{"<a, b@x>", 7, Art("Subject: odd id", "")}},
                               0,
                               "odd",
                               true,
                               true,
                               0},
                    SearchCase{"MessageIdWithoutBrackets",
                               {{"plain@x", 7, Art("Subject: bare", "")}},
                               0,
                               "bare",
                               true,
                               true,
                               0},
                    // 日本語 in Shift_JIS, found byte for byte.
                    SearchCase{"ShiftJis",
                               {{"<1@x>", 3, Art("Subject: \x93\xfa\x96\x7b\x8c\xea", "")}},
                               0,
                               "\x96\x7b\x8c\xea",
                               true,
                               false,
                               0},
                    SearchCase{"EmptyTextFindsNothing", kThree, 0, "", true, true, -1},
                    SearchCase{"NoEntries", {}, 0, "x", true, true, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SearchEntries, MalformedEntriesAreSkipped) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(CacheFilePath(dir.Path(), "<1@x>"), Art("Subject: hit", "")));
    const std::vector<std::string> entries = {"no comma", "nocomma,5", "0 <1@x> ,9"};
    Recorder progress;
    const CSearchResult found = SearchArticles(entries, 0, {dir.Path(), "hit"}, progress);
    EXPECT_EQ(found.m_row, 2);
    EXPECT_EQ(found.m_itemId, 9);
}

TEST(SearchProgress, RunsOverTheEntriesExamined) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(CacheFilePath(dir.Path(), "<2@x>"), Art("Subject: hit", "")));
    const std::vector<std::string> entries = {"0 <0@x> ,1", "1 <1@x> ,2", "2 <2@x> ,3",
                                              "3 <3@x> ,4"};
    Recorder progress;
    EXPECT_EQ(SearchArticles(entries, 1, {dir.Path(), "hit"}, progress).m_row, 2);
    EXPECT_EQ(progress.calls,
              (std::vector<std::string>{"range:0-4", "pos:1", "pump", "pos:2", "pump"}));

    Recorder empty;
    EXPECT_EQ(SearchArticles(entries, 0, {dir.Path(), ""}, empty).m_row, -1);
    EXPECT_TRUE(empty.calls.empty());

    // Asked to stop at the second entry: the match after it is never reached.
    Recorder stopping;
    stopping.stopAtPump = 2;
    EXPECT_EQ(SearchArticles(entries, 0, {dir.Path(), "hit"}, stopping).m_row, -1);
    EXPECT_EQ(stopping.calls,
              (std::vector<std::string>{"range:0-4", "pos:0", "pump", "pos:1", "pump"}));
}

} // namespace
