#include "mime/ArticleParser.h"

#include "base/TempFile.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

// The kinds of the parts of a multipart article, in order: 't' text/plain, 'h' text/html,
// 'i' an image.
std::string Multipart(const std::string& kinds) {
    std::string article = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (char kind : kinds) {
        article += "--b\r\nContent-Type: ";
        article += kind == 't' ? "text/plain" : kind == 'h' ? "text/html" : "image/png";
        article += "\r\n\r\npart\r\n";
    }
    return article + "--b--\r\n";
}

struct PartBoundCase {
    const char* name;
    std::string kinds;
    std::size_t entries; // with the header's
    bool leftOut;
    std::string lastEntry;
};

std::ostream& operator<<(std::ostream& os, const PartBoundCase& c) {
    return os << c.name;
}

class PartBoundTest : public ::testing::TestWithParam<PartBoundCase> {};

TEST_P(PartBoundTest, WritesAtMostTheBoundOfPartFiles) {
    const PartBoundCase& c = GetParam();
    TestDir temp;
    SetTempRoot(temp.Path());
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "a.ntx", Multipart(c.kinds)));
    std::vector<CPartEntry> entries;
    bool leftOut = !c.leftOut;
    EXPECT_EQ(ParseArticle(dir / "a.ntx", entries, &leftOut), 0);
    EXPECT_EQ(leftOut, c.leftOut);
    ASSERT_EQ(entries.size(), c.entries);
    EXPECT_EQ(entries.back().m_text, c.lastEntry);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PrivateTempDirectory()))
        files += entry.is_regular_file();
    EXPECT_EQ(files, c.entries);
    SetTempRoot("");
}

INSTANTIATE_TEST_SUITE_P(
    Parts, PartBoundTest,
    ::testing::Values(
        PartBoundCase{"AtTheBound", std::string(1000, 't'), 1001, false, "1000 PlainText1000"},
        PartBoundCase{"OneOver", std::string(1001, 't'), 1001, true, "1000 PlainText1000"},
        PartBoundCase{"HtmlPartsCountToo", std::string(999, 't') + "hh", 1001, true,
                      "1000 HtmlText1000"},
        // Parts that give no file are passed over, and count for nothing.
        PartBoundCase{"OtherPartsAfterTheBound", std::string(1000, 't') + "ii", 1001, false,
                      "1000 PlainText1000"},
        PartBoundCase{"OtherPartsBetween", std::string(999, 't') + "iit", 1001, false,
                      "1002 PlainText1002"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
