#include "nntp/HeaderDownload.h"

#include "HeaderDownloadTestSupport.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

// Encoded words as a posting program writes them (ISO-2022-JP in base64).
const std::string kWordNihongo =
    "=?ISO-2022-JP?B?GyRCRnxLXDhsJE41LTt2JE5JPTwoJUYlOSVIGyhC?="; // 日本語の記事の表示テスト
const std::string kWordLong1 = "=?ISO-2022-JP?B?"
                               "GyRCRDkkJDdvTD4kTkBeJGpKViQ3JE47bjgzISclKCVzJTMhPCVJGyhC?=";
const std::string kWordLong2 = "=?ISO-2022-JP?B?GyRCJDUkbCQ/OGwkLEZzOVQkSyReJD8kLCRrPmw5ZxsoQg==?=";
const std::string kWordYamada = "=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?="; // 山田太郎
// Raw ISO-2022-JP as old newsreaders put it into headers.
const std::string kRawJisSubject = "\x1b$B8E$$7A<0$N5-;v!J%X%C%@!<$K@8$N\x1b(B "
                                   "JIS\x1b$B!K\x1b(B";

struct FieldCase {
    const char* name;
    std::vector<std::string> lines;
    HeaderFields expected; // from, subject, date, contentType, references, messageId
};

class HeaderFieldReaderTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(HeaderFieldReaderTest, KeepsTheSixFieldsAsTheyArrive) {
    const FieldCase& c = GetParam();
    CHeaderFieldReader reader;
    reader.Begin();
    for (const std::string& line : c.lines)
        reader.AddLine(line);
    const HeaderFields& got = reader.Fields();
    EXPECT_EQ(got.from, c.expected.from);
    EXPECT_EQ(got.subject, c.expected.subject);
    EXPECT_EQ(got.date, c.expected.date);
    EXPECT_EQ(got.contentType, c.expected.contentType);
    EXPECT_EQ(got.references, c.expected.references);
    EXPECT_EQ(got.messageId, c.expected.messageId);
}

const std::string kLongRefs = [] {
    std::string refs;
    for (int i = 0; refs.size() < 9000; ++i)
        refs += "<" + std::to_string(100000 + i) + "@long.example.org> ";
    return refs;
}();

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// The last Message-IDs of a References value whose IDs each end with a blank, as many as fit in
// max bytes together.
std::string LastIdsWithin(const std::string& refs, std::size_t max) {
    std::vector<std::string> ids;
    for (std::size_t start = 0, blank; (blank = refs.find(' ', start)) != std::string::npos;
         start = blank + 1)
        ids.push_back(refs.substr(start, blank - start));
    std::string kept;
    for (auto id = ids.rbegin(); id != ids.rend() && id->size() + 1 + kept.size() <= max; ++id)
        kept = *id + " " + kept;
    return kept;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, HeaderFieldReaderTest,
    ::testing::Values(
        FieldCase{"AllSixWithOthersAround",
                  {"Path: news.example.org!not-for-mail", "From: Alice <alice@example.org>",
                   "Newsgroups: local.test", "Subject: Hello there",
                   "Date: Mon, 15 Jan 2024 09:00:00 +0000", "Message-ID: <1@example.org>",
                   "References: <a@example.org> <b@example.org>",
                   "Content-Type: text/plain; charset=US-ASCII", "Lines: 3",
                   "Xref: inn.quillo.test local.test:1"},
                  {"Alice <alice@example.org>", "Hello there", "Mon, 15 Jan 2024 09:00:00 +0000",
                   "text/plain; charset=US-ASCII", "<a@example.org> <b@example.org>",
                   "<1@example.org>"}},
        FieldCase{"NamesIgnoreLetterCase",
                  {"FROM: f", "subject: s", "dAtE: d", "CONTENT-TYPE: c", "references: r",
                   "MESSAGE-id: m"},
                  {"f", "s", "d", "c", "r", "m"}},
        // A fold, with the blanks and TABs around it, becomes one blank.
        FieldCase{"SubjectFoldedOntoTabLineJoinsWithOneBlank",
                  {"Subject: Notes on folding long header lines in news", "\tarticles"},
                  {"", "Notes on folding long header lines in news articles", "", "", "", ""}},
        FieldCase{"SubjectFoldedOntoBlankLineJoinsWithOneBlank",
                  {"Subject: How should a newsreader fold for long", " articles?"},
                  {"", "How should a newsreader fold for long articles?", "", "", "", ""}},
        FieldCase{"BlanksAroundTheFoldBecomeOne",
                  {"Subject: a  ", " \t b", "\t\tc\t"},
                  {"", "a b c\t", "", "", "", ""}},
        FieldCase{"EveryFieldFoldsWithBlanks",
                  {"From: Alice", " <alice@example.org>", "Date: Mon, 15 Jan", "  2024",
                   "Message-ID:", " <m@x>"},
                  {"Alice <alice@example.org>", "", "Mon, 15 Jan 2024", "", "", "<m@x>"}},
        FieldCase{"ReferencesFoldedOntoTabLineJoinWithOneBlank",
                  {"References: <a@x.example>", "\t<b@y.example>", "\t<c@z.example>"},
                  {"", "", "", "", "<a@x.example> <b@y.example> <c@z.example>", ""}},
        FieldCase{"ContentTypeContinuationJoinsWithOneBlank",
                  {"Content-Type: multipart/alternative;", "\tboundary=\"quillo-alt-4f2a9c\""},
                  {"", "", "", "multipart/alternative; boundary=\"quillo-alt-4f2a9c\"", "", ""}},
        FieldCase{"LinesFoldedWithBlanksAndTabsContinue",
                  {"Subject: first", " second", "\tthird"},
                  {"", "first second third", "", "", "", ""}},
        FieldCase{"ReferencesFoldedOntoBlankLines",
                  {"References: <a@x.example>", "  <b@y.example>", " \t<c@z.example> "},
                  {"", "", "", "", "<a@x.example> <b@y.example> <c@z.example> ", ""}},
        FieldCase{"TabLineOfAnotherHeaderIsIgnored",
                  {"\tstray at the start", "Subject: s", "X-Face: abc", "\tdef", "Date: d"},
                  {"", "s", "d", "", "", ""}},
        FieldCase{"ValueStartsOneCharacterAfterTheColon",
                  {"Subject:", "From:xy", "Date:  two blanks", "Message-ID:<m@x>"},
                  {"y", "", " two blanks", "", "", "m@x>"}},
        FieldCase{"LaterLineOfTheSameFieldReplaces",
                  {"Subject: one", "\tmore", "Subject: two"},
                  {"", "two", "", "", "", ""}},
        FieldCase{"EncodedWordsBecomeShiftJis",
                  {"Subject: " + kWordNihongo, "From: " + kWordYamada + " <taro@example.jp>"},
                  {Sjis("山田太郎") + " <taro@example.jp>", Sjis("日本語の記事の表示テスト"), "",
                   "", "", ""}},
        FieldCase{
            "EncodedWordFoldedOntoTabLine",
            {"Subject: " + kWordLong1, "\t" + kWordLong2},
            {"",
             Sjis("長い件名の折り返しの試験：エンコード") + Sjis("された語が二行にまたがる場合"),
             "", "", "", ""}},
        // Between two encoded words the fold vanishes, on a blank line too and with blanks
        // before it; next to anything else it is one blank.
        FieldCase{
            "EncodedWordFoldedOntoBlankLine",
            {"Subject: " + kWordLong1 + "  ", "  " + kWordLong2},
            {"",
             Sjis("長い件名の折り返しの試験：エンコード") + Sjis("された語が二行にまたがる場合"),
             "", "", "", ""}},
        FieldCase{"EncodedWordThenPlainText",
                  {"Subject: " + kWordNihongo, "\t(2)"},
                  {"", Sjis("日本語の記事の表示テスト") + " (2)", "", "", "", ""}},
        FieldCase{"PlainTextThenEncodedWord",
                  {"Subject: Re:", "\t" + kWordNihongo},
                  {"", "Re: " + Sjis("日本語の記事の表示テスト"), "", "", "", ""}},
        FieldCase{"WordOfAnotherCharsetIsPlainText",
                  {"Subject: =?UTF-8?B?YWJj?=", "\t" + kWordNihongo},
                  {"", "=?UTF-8?B?YWJj?= " + Sjis("日本語の記事の表示テスト"), "", "", "", ""}},
        FieldCase{"WordNotEndingTheLine",
                  {"Subject: " + kWordYamada + "x", "\t" + kWordNihongo},
                  {"", Sjis("山田太郎") + "x " + Sjis("日本語の記事の表示テスト"), "", "", "", ""}},
        FieldCase{"EncodedWordFoldedAfterPlainContinuation",
                  {"Subject: a", "\t" + kWordYamada, "\t" + kWordNihongo},
                  {"", "a " + Sjis("山田太郎") + Sjis("日本語の記事の表示テスト"), "", "", "", ""}},
        FieldCase{"RawJisHeader",
                  {"Subject: " + kRawJisSubject},
                  {"", Sjis("古い形式の記事（ヘッダーに生の JIS）"), "", "", "", ""}},
        FieldCase{"ZeroByteEndsTheLine",
                  {std::string("Subject: ab\0cd", 14)},
                  {"", "ab", "", "", "", ""}},
        // Message-IDs leave from the front, so the parent stays.
        FieldCase{"ReferencesKeepTheirEnd",
                  {"References: " + kLongRefs},
                  {"", "", "", "", LastIdsWithin(kLongRefs, kReferencesMax), ""}},
        FieldCase{"ReferencesContinuationThatWouldNotFitDropsTheFront",
                  {"References: " + std::string(8180, 'r'), "\t<0123456789@x>", "\t<9@x>"},
                  {"", "", "", "", "<0123456789@x> <9@x>", ""}},
        FieldCase{"OneReferenceLongerThanTheLimitIsKeptWhole",
                  {"References: <a@x> <" + std::string(9000, 'r') + ">"},
                  {"", "", "", "", "<" + std::string(9000, 'r') + ">", ""}},
        FieldCase{"OneReferenceLongerThanAnyValueKeepsItsEnd",
                  {"References: <" + std::string(70000, 'r') + ">"},
                  {"", "", "", "", std::string(kHeaderValueMax - 1, 'r') + ">", ""}},
        // Other values stop at their bound, never inside a double-byte character, and take
        // nothing after it.
        FieldCase{"LongSubjectIsCutAtItsBound",
                  {"Subject: " + std::string(70000, 's'), "\tmore"},
                  {"", std::string(kHeaderValueMax, 's'), "", "", "", ""}},
        FieldCase{"CutFallsBeforeADoubleByteCharacter",
                  {"Subject: a" + Repeat("\x93\xfa", 40000)},
                  {"", "a" + Repeat("\x93\xfa", 32767), "", "", "", ""}},
        FieldCase{"ContinuationFillsTheValueToItsBound",
                  {"From: " + std::string(65530, 'f'), "\tabcdefgh", "\tmore"},
                  {std::string(65530, 'f') + " abcde", "", "", "", "", ""}},
        FieldCase{"FullValueTakesNoBlank",
                  {"Date: " + std::string(kHeaderValueMax, 'd'), "\tmore"},
                  {"", "", std::string(kHeaderValueMax, 'd'), "", "", ""}},
        FieldCase{"LongMessageIdIsCutAtItsBound",
                  {"Message-ID: <" + std::string(70000, 'm') + ">"},
                  {"", "", "", "", "", "<" + std::string(kHeaderValueMax - 1, 'm')}},
        FieldCase{"ReferencesContinuationFillingTheBufferExactly",
                  {"References: " + std::string(8180, 'r'), "\t<123456@x>"},
                  {"", "", "", "", std::string(8180, 'r') + " <123456@x>", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HeaderFieldReaderTest, BeginEmptiesTheValuesAndClosesTheField) {
    CHeaderFieldReader reader;
    reader.Begin();
    reader.AddLine("Subject: first article");
    reader.AddLine("Message-ID: <1@x>");
    reader.AddLine("References: <0@x>");
    reader.Begin();
    reader.AddLine("\tcontinued");
    const HeaderFields& got = reader.Fields();
    EXPECT_EQ(got.subject, "");
    EXPECT_EQ(got.messageId, "");
    EXPECT_EQ(got.references, "");
}

struct RefCase {
    const char* name;
    std::string references;
    std::string ref;
};

class LastReferenceTest : public ::testing::TestWithParam<RefCase> {};

TEST_P(LastReferenceTest, IsTheTextAfterTheLastBlank) {
    EXPECT_EQ(LastReference(GetParam().references), GetParam().ref);
}

INSTANTIATE_TEST_SUITE_P(
    Refs, LastReferenceTest,
    ::testing::Values(RefCase{"Empty", "", ""}, RefCase{"One", "<a@x>", "<a@x>"},
                      RefCase{"Two", "<a@x> <b@y>", "<b@y>"},
                      RefCase{"RunOfBlanks", "<a@x>   <b@y>", "<b@y>"},
                      // Blanks at the end name no Message-ID; a TAB
                      // parts two as a blank does.
                      RefCase{"TrailingBlank", "<a@x> ", "<a@x>"},
                      RefCase{"TrailingBlanksAndTab", "<a@x> <b@y> \t ", "<b@y>"},
                      RefCase{"Tab", "<a@x>\t<b@y>", "<b@y>"}),
    [](const auto& info) { return std::string(info.param.name); });

struct PosterCase {
    const char* name;
    std::string from;
    std::string posterName;
    std::string address;
};

class SplitPosterTest : public ::testing::TestWithParam<PosterCase> {};

TEST_P(SplitPosterTest, GivesNameAndAddress) {
    const PosterCase& c = GetParam();
    const Poster poster = SplitPoster(c.from);
    EXPECT_EQ(poster.name, c.posterName);
    EXPECT_EQ(poster.address, c.address);
}

INSTANTIATE_TEST_SUITE_P(
    Posters, SplitPosterTest,
    ::testing::Values(
        PosterCase{"NameThenAddress", "Alice Example <alice@example.org>", "Alice Example",
                   "alice@example.org"},
        PosterCase{"QuotedNameThenAddress", "\"Carol Jones\" <carol@example.com>", "Carol Jones",
                   "carol@example.com"},
        PosterCase{"AddressThenNameInParentheses", "bob@example.net (Bob Smith)", "(Bob Smith)",
                   "bob@example.net"},
        PosterCase{"AddressInBracketsThenName", "<frank@example.org>   Frank  ", "Frank",
                   "frank@example.org"},
        PosterCase{"AddressInBracketsAlone", "<dave@example.org>", "dave@example.org",
                   "dave@example.org"},
        PosterCase{"BareAddress", "erin@example.org", "erin@example.org", "erin@example.org"},
        PosterCase{"NoBlankAndNoBrackets", "nobody", "nobody", "nobody"},
        PosterCase{"Empty", "", "", ""},
        PosterCase{"BlanksAroundName", "  Gina   <gina@example.org>", "Gina", "gina@example.org"},
        PosterCase{"TwoWordsWithoutAddress", "Just Words", "Just", "Words"},
        PosterCase{"FirstWordWithoutAtSignIsTheName", "(Name) me@example.org", "(Name)",
                   "me@example.org"},
        PosterCase{"UnclosedBracket", "<open@example.org Name", "", "open@example.org Name"},
        PosterCase{"UnclosedQuote", "\"Open <o@example.org>", "", "Open <o@example.org"},
        PosterCase{"QuotesAroundEverything", "\"Quoted <q@example.org>\"", "",
                   "Quoted <q@example.org"},
        PosterCase{"ShiftJisName", Sjis("山田太郎") + " <taro@example.jp>", Sjis("山田太郎"),
                   "taro@example.jp"},
        PosterCase{"CutAt1023Bytes", std::string(1019, 'x') + " <abc@example.org>",
                   std::string(1019, 'x'), "ab"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadingHeaderStatusTest, ShowsNumberAndLast) {
    EXPECT_EQ(ReadingHeaderStatus(150, 160), "ヘッダー読み取り中 : 150 / 160 ");
    EXPECT_EQ(ReadingHeaderStatus(-1, 0), "ヘッダー読み取り中 : -1 / 0 ");
}

} // namespace
