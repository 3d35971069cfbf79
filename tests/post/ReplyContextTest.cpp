// What a reply takes from the article it answers.

#include "post/ReplyContext.h"

#include "../threads/HeaderTableWriter.h"
#include "base/TempFile.h"
#include "mime/ArticleParser.h"
#include "store/HeaderStore.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace {

struct SubjectCase {
    const char* replied;
    const char* subject;
};

std::ostream& operator<<(std::ostream& os, const SubjectCase& c) {
    return os << '"' << c.replied << '"';
}

class ReplySubjectTest : public ::testing::TestWithParam<SubjectCase> {};

TEST_P(ReplySubjectTest, PrefixRule) {
    EXPECT_EQ(ReplySubject(GetParam().replied), GetParam().subject);
}

INSTANTIATE_TEST_SUITE_P(
    Subjects, ReplySubjectTest,
    ::testing::Values(SubjectCase{"hello", "Re: hello"}, SubjectCase{"Re: hello", "Re: hello"},
                      SubjectCase{"RE: hello", "RE: hello"}, SubjectCase{"re: hello", "re: hello"},
                      SubjectCase{"rE: ", "rE: "}, SubjectCase{"Re:hello", "Re: Re:hello"},
                      SubjectCase{"Re", "Re: Re"}, SubjectCase{"Aw: hallo", "Re: Aw: hallo"},
                      SubjectCase{"\x95\xd4\x90\x4d", "Re: \x95\xd4\x90\x4d"},
                      SubjectCase{"", "Re: "}));

TEST(ReferencesTextTest, RefBlankMessageId) {
    EXPECT_EQ(ReferencesText("<p@x>", "<m@x>"), "<p@x> <m@x>");
    EXPECT_EQ(ReferencesText(std::nullopt, "<m@x>"), "<m@x>");
    EXPECT_EQ(ReferencesText("<p@x>", std::nullopt), "<p@x> ");
    EXPECT_EQ(ReferencesText(std::nullopt, std::nullopt), "");
}

TEST(IsHtmlPreloadTest, ExtensionFromTheLastDot) {
    EXPECT_TRUE(IsHtmlPreload("/tmp/q/HtmlText2.htm"));
    EXPECT_TRUE(IsHtmlPreload("/tmp/q/a.b.HTM"));
    EXPECT_FALSE(IsHtmlPreload("/tmp/q/PlainText1.txt"));
    EXPECT_FALSE(IsHtmlPreload("/tmp/q/page.html"));
    EXPECT_FALSE(IsHtmlPreload("/tmp/q.htm/file"));
    EXPECT_FALSE(IsHtmlPreload(""));
}

class MakeReplyContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTempRoot(m_temp.Path());
        ASSERT_EQ(CreateGroupDirectory(m_base.Path(), "news.example.org", "local.test"), 1);
        ASSERT_TRUE(
            WriteHeaderRecords(GroupDirectory(m_base.Path(), "news.example.org", "local.test"),
                               {{"1", "<root@x>", "root", "", ""},
                                {"2", "<child@x>", "Re: root", "<root@x>", ""},
                                {"3", "", "no id", "<root@x>", ""},
                                {"4", "", "nothing", "", ""}}));
    }
    void TearDown() override { SetTempRoot({}); }

    CReplyContext Make(const std::string& label, const CPartEntry* part = nullptr) {
        return MakeReplyContext(m_base.Path(), "news.example.org", "local.test", label, part);
    }

    TestDir m_temp;
    TestDir m_base;
};

TEST_F(MakeReplyContextTest, ReferencesFromTheStoredHeader) {
    EXPECT_EQ(Make("1 root").references, "<root@x>");
    EXPECT_EQ(Make("2 Re: root").references, "<root@x> <child@x>");
    EXPECT_EQ(Make("3 no id").references, "<root@x> ");
    EXPECT_EQ(Make("4 nothing").references, "");
    EXPECT_EQ(Make("9 not stored").references, "");
}

TEST_F(MakeReplyContextTest, SubjectIsTheLabelAfterItsFirstBlank) {
    EXPECT_EQ(Make("2 Re: root").subject, "Re: root");
    EXPECT_EQ(Make("9 not stored").subject, "not stored");
    const CReplyContext none = Make("2");
    EXPECT_EQ(none.subject, "");
    EXPECT_EQ(none.references, "");
}

TEST_F(MakeReplyContextTest, LongLabelIsCutBetweenCharacters) {
    // 1,022 bytes of label before a double-byte character that would straddle the cut at
    // 1,023; one byte less and the character fits.
    const std::string label = "1 " + std::string(1020, 'a') + "\x82\xa0" + "tail";
    EXPECT_EQ(Make(label).subject, std::string(1020, 'a'));
    EXPECT_EQ(Make("1 " + std::string(1019, 'a') + "\x82\xa0tail").subject,
              std::string(1019, 'a') + "\x82\xa0");
}

TEST_F(MakeReplyContextTest, PreloadFileOfThePartEntry) {
    const std::string dir = PrivateTempDirectory();
    const CPartEntry html{"2 HtmlText2", kPartHtmlFile};
    const CPartEntry plain{"1 PlainText1", kPartTextFile};
    const CPartEntry header{"0: Header", kPartTextFile};
    const CPartEntry odd{"3 Other", 7};
    EXPECT_EQ(Make("1 root", &html).preloadFile, dir + "/HtmlText2.htm");
    EXPECT_EQ(Make("1 root", &plain).preloadFile, dir + "/PlainText1.txt");
    EXPECT_EQ(Make("1 root", &header).preloadFile, dir + "/header.txt");
    EXPECT_EQ(Make("1 root", &odd).preloadFile, dir + "/Other");
    EXPECT_EQ(Make("1 root").preloadFile, "");
}

TEST_F(MakeReplyContextTest, PreloadIsReadAsItsEntrySays) {
    const CPartEntry utf8{"1: Body", kPartTextFile, "UTF-8", CTransfer::Base64};
    const CReplyContext context = Make("1 root", &utf8);
    EXPECT_EQ(context.preloadFile, PrivateTempDirectory() + "/body.txt");
    EXPECT_EQ(context.preloadCharset, "UTF-8");
    EXPECT_EQ(context.preloadTransfer, CTransfer::Base64);
    const CPartEntry sjis{"2 PlainText2", kPartTextFile};
    EXPECT_EQ(Make("1 root", &sjis).preloadCharset, "");
    EXPECT_EQ(Make("1 root", &sjis).preloadTransfer, CTransfer::None);
}

} // namespace
