#include "viewer/TextAsHtml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string Head(const std::string& charset) {
    return "<!DOCTYPE html><html><head><meta charset=\"" + charset +
           "\"><style>pre{margin:0;white-space:pre-wrap;word-wrap:break-word;"
           "content-visibility:auto}</style></head><body>";
}
const std::string kTail = "</body></html>";

struct Case {
    const char* name;
    std::string text;
    // Each <pre>: the height it keeps until laid out (em) and its escaped text.
    std::vector<std::pair<int, std::string>> blocks;
    std::string charset = {};
};

TEST(TextAsHtmlTest, EscapesTheTextAndCutsItIntoBlocksAtLineEnds) {
    const std::string line(100, 'x');
    std::string full;
    while (full.size() <= kTextBlockBytes)
        full += line + "\r\n";
    // "表" in Shift_JIS ends with 0x5C, "ソ" with 0x83 0x5C: second bytes pass unescaped.
    const std::string sjis = "\x95\x5c\x83\x5c";
    // 1.2 em for each of its lines, and one more.
    const int fullEm = int(std::count(full.begin(), full.end(), '\n') + 1) * 12 / 10 + 1;
    const std::vector<Case> cases = {
        {"empty", "", {}},
        {"markup characters",
         "a < b && c > d\r\n<b>x</b>",
         {{3, "a &lt; b &amp;&amp; c &gt; d\r\n"
              "&lt;b&gt;x&lt;/b&gt;"}}},
        {"Shift_JIS pairs", sjis + "<", {{2, sjis + "&lt;"}}},
        {"a block ends at the first line end past its size",
         full + "tail\n",
         {{fullEm, full}, {3, "tail\n"}}},
        {"no line end after the size: one block",
         std::string(kTextBlockBytes + 50, 'y') + "<",
         {{2, std::string(kTextBlockBytes + 50, 'y') + "&lt;"}}},
        {"the next block starts with an empty line",
         full + "\nafter",
         {{fullEm, full}, {3, "\nafter"}}},
        {"another charset is declared as given",
         "caf\xc3\xa9 & co",
         {{2, "caf\xc3\xa9 &amp; co"}},
         "UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string expected = Head(c.charset.empty() ? "Shift_JIS" : c.charset);
        for (const auto& [em, block] : c.blocks)
            expected += "<pre style=\"contain-intrinsic-size:auto " + std::to_string(em) +
                        "em\">\n" + block + "</pre>";
        EXPECT_EQ(TextAsHtml(c.text, c.charset), expected + kTail);
    }
}

} // namespace
