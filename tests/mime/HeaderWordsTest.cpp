#include "mime/HeaderWords.h"

#include "Escaped.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Runs = std::vector<CHeaderRun>;

struct WordsCase {
    const char* name;
    std::string stored;
    Runs runs;
};

std::ostream& operator<<(std::ostream& os, const WordsCase& c) {
    return os << c.name;
}

std::string Dump(const Runs& runs) {
    std::string out;
    for (const CHeaderRun& run : runs)
        out += "[" + (run.m_charset.empty() ? std::string("stored") : run.m_charset) + " " +
               Escaped(run.m_bytes) + "]";
    return out;
}

CHeaderRun Text(const std::string& bytes) {
    return {bytes, ""};
}
CHeaderRun Word(const std::string& charset, const std::string& bytes) {
    return {bytes, charset};
}

class SplitHeaderWordsTest : public testing::TestWithParam<WordsCase> {};

TEST_P(SplitHeaderWordsTest, GivesTheRuns) {
    EXPECT_EQ(Dump(SplitHeaderWords(GetParam().stored)), Dump(GetParam().runs));
    EXPECT_EQ(HasEncodedWord(GetParam().stored), GetParam().stored.find("=?") != std::string::npos);
}

// 日本語 in UTF-8 is e6 97 a5 e6 9c ac e8 aa 9e; 5pel5pys6Kqe in base64.
INSTANTIATE_TEST_SUITE_P(
    Words, SplitHeaderWordsTest,
    testing::Values(
        WordsCase{"no word", "Re: \x93\xfa\x96\x7b", {Text("Re: \x93\xfa\x96\x7b")}},
        WordsCase{"empty", "", {}},
        WordsCase{"utf-8 b", "=?UTF-8?B?5pel5pys6Kqe?=", {Word("UTF-8", "日本語")}},
        WordsCase{
            "utf-8 q lower case", "=?utf-8?q?=E6=97=A5_x?=", {Word("UTF-8", "\xe6\x97\xa5 x")}},
        WordsCase{"text around",
                  "Re: =?UTF-8?B?5pel?= (\x93\xfa)",
                  {Text("Re: "), Word("UTF-8", "日"), Text(" (\x93\xfa)")}},
        WordsCase{"euc-jp", "=?EUC-JP?B?xvzL3A==?=", {Word("EUC-JP", "\xc6\xfc\xcb\xdc")}},
        WordsCase{"latin q", "=?ISO-8859-15?Q?caf=E9?=", {Word("ISO-8859-15", "caf\xe9")}},
        WordsCase{"language suffix", "=?UTF-8*ja?B?5pel?=", {Word("UTF-8", "日")}},
        WordsCase{"inside a word", "x=?UTF-8?Q?a?=y", {Text("x"), Word("UTF-8", "a"), Text("y")}},
        WordsCase{"shift_jis word", "=?Shift_JIS?B?k/o=?=", {Word("Shift_JIS", "\x93\xfa")}}));

// RFC 2047: white space between two encoded words is not shown; anything else between them is.
INSTANTIATE_TEST_SUITE_P(
    WhiteSpace, SplitHeaderWordsTest,
    testing::Values(
        WordsCase{"blank between words joins them",
                  "=?UTF-8?B?5pel?= =?UTF-8?B?5pys?=",
                  {Word("UTF-8", "日本")}},
        WordsCase{"tabs and blanks", "=?UTF-8?Q?a?= \t  =?UTF-8?Q?b?=", {Word("UTF-8", "ab")}},
        WordsCase{"unfolded without blank", "=?UTF-8?Q?a?==?UTF-8?Q?b?=", {Word("UTF-8", "ab")}},
        // a character split between two words comes together again
        WordsCase{"split character",
                  "=?UTF-8?Q?=E6=97?= =?UTF-8?Q?=A5?=",
                  {Word("UTF-8", "\xe6\x97\xa5")}},
        WordsCase{"different charsets",
                  "=?UTF-8?Q?a?= =?EUC-JP?Q?b?=",
                  {Word("UTF-8", "a"), Word("EUC-JP", "b")}},
        WordsCase{"text between stays",
                  "=?UTF-8?Q?a?= - =?UTF-8?Q?b?=",
                  {Word("UTF-8", "a"), Text(" - "), Word("UTF-8", "b")}},
        WordsCase{"blank before the first word stays",
                  "Re: =?UTF-8?Q?a?=",
                  {Text("Re: "), Word("UTF-8", "a")}},
        WordsCase{
            "blank after the last word stays", "=?UTF-8?Q?a?= x", {Word("UTF-8", "a"), Text(" x")}},
        // the ISO-2022-JP word was decoded when it was stored: its text is stored text now
        WordsCase{"next to stored japanese",
                  "=?UTF-8?B?5pel?= \x96\x7b",
                  {Word("UTF-8", "日"), Text(" \x96\x7b")}},
        WordsCase{"blank next to an unknown word stays",
                  "=?UTF-8?Q?a?= =?x-foo?Q?b?=",
                  {Word("UTF-8", "a"), Text(" =?x-foo?Q?b?=")}}));

// What is not a well-formed word in a known charset is shown as stored.
INSTANTIATE_TEST_SUITE_P(
    Malformed, SplitHeaderWordsTest,
    testing::Values(WordsCase{"unknown charset", "=?KOI7?Q?a?=", {Text("=?KOI7?Q?a?=")}},
                    WordsCase{"unknown encoding", "=?UTF-8?X?a?=", {Text("=?UTF-8?X?a?=")}},
                    WordsCase{"blank inside", "=?UTF-8?Q?a b?=", {Text("=?UTF-8?Q?a b?=")}},
                    WordsCase{"not base64", "=?UTF-8?B?5p_l?=", {Text("=?UTF-8?B?5p_l?=")}},
                    WordsCase{"empty charset", "=??Q?a?=", {Text("=??Q?a?=")}},
                    WordsCase{"no encoding", "=?UTF-8?", {Text("=?UTF-8?")}},
                    WordsCase{
                        "8-bit inside", "=?UTF-8?Q?\x93\xfa?=", {Text("=?UTF-8?Q?\x93\xfa?=")}},
                    WordsCase{"just the opening", "a=?b", {Text("a=?b")}},
                    // a bad word does not hide a good one after it
                    WordsCase{"bad then good",
                              "=?UTF-8?Q?a b?= =?UTF-8?Q?c?=",
                              {Text("=?UTF-8?Q?a b?= "), Word("UTF-8", "c")}},
                    // Q: "=" without two hex digits stays
                    WordsCase{"q equals", "=?UTF-8?Q?a=3=ZZ?=", {Word("UTF-8", "a=3=ZZ")}}));

// A value cut to its buffer ends inside its last word: decoded as far as it goes.
INSTANTIATE_TEST_SUITE_P(
    CutOff, SplitHeaderWordsTest,
    testing::Values(WordsCase{"cut b", "x =?UTF-8?B?5pel5p", {Text("x "), Word("UTF-8", "日\xe6")}},
                    WordsCase{"cut before closing", "=?UTF-8?Q?ab?", {Word("UTF-8", "ab")}},
                    WordsCase{"cut q", "=?UTF-8?Q?ab", {Word("UTF-8", "ab")}},
                    WordsCase{"cut after encoding", "=?UTF-8?Q?", {Word("UTF-8", "")}}));

} // namespace
