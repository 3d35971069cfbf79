#include "viewer/TextAsHtml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHead = "<!DOCTYPE html><html><head><meta charset=\"Shift_JIS\"><style>"
                          "pre{margin:0;white-space:pre-wrap;word-wrap:break-word}"
                          "</style></head><body>";
const std::string kTail = "</body></html>";

struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> blocks; // escaped text of each <pre>
};

TEST(TextAsHtmlTest, EscapesTheTextAndCutsItIntoBlocksAtLineEnds) {
    const std::string line(100, 'x');
    std::string full;
    while (full.size() <= kTextBlockBytes)
        full += line + "\r\n";
    // "表" in Shift_JIS ends with 0x5C, "ソ" with 0x83 0x5C: second bytes pass unescaped.
    const std::string sjis = "\x95\x5c\x83\x5c";
    const std::vector<Case> cases = {
        {"empty", "", {}},
        {"markup characters",
         "a < b && c > d\r\n<b>x</b>",
         {"a &lt; b &amp;&amp; c &gt; d\r\n"
          "&lt;b&gt;x&lt;/b&gt;"}},
        {"Shift_JIS pairs", sjis + "<", {sjis + "&lt;"}},
        {"a block ends at the first line end past its size", full + "tail\n", {full, "tail\n"}},
        {"no line end after the size: one block",
         std::string(kTextBlockBytes + 50, 'y') + "<",
         {std::string(kTextBlockBytes + 50, 'y') + "&lt;"}},
        {"the next block starts with an empty line", full + "\nafter", {full, "\nafter"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string expected = kHead;
        for (const std::string& block : c.blocks)
            expected += "<pre>\n" + block + "</pre>";
        EXPECT_EQ(TextAsHtml(c.text), expected + kTail);
    }
}

} // namespace
