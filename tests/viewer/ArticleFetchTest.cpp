#include "viewer/ArticleFetch.h"

#include "base/TempFile.h"
#include "nntp/NntpSocket.h"
#include "nntp/NntpTestSupport.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

namespace fs = std::filesystem;

const std::string kHost = "127.0.0.1";
const std::string kGroup = "local.test";
const std::string kNetworkMessage =
    "接続エラーが発生しました \nネットワークに接続していない可能性があります";

template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

// The server's side of a fetch that gets as far as the ARTICLE reply.
NntpScript ArticleScript(const std::string& articleReply) {
    return NntpScript()
        .Send("200 news.example.org ready\r\n")
        .Reply("211 9 1 9 local.test\r\n")
        .Reply(articleReply);
}

// Runs FetchArticle into a fresh file; returns what the file holds afterwards.
std::string FetchInto(const TestDir& dir, const std::string& number, CFetchResult& result) {
    const std::string path = dir / "article.ntx";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (!file)
        return {};
    result = FetchArticle(file, number, kHost, kGroup);
    std::fclose(file);
    return ReadWholeFile(path);
}

// ---- what reaches the cache file ----

struct CacheBytesCase {
    const char* name;
    std::string wire;  // what the server sends after the "220 " status line
    std::string cache; // what the cache file must hold
};

class CacheBytesTest : public testing::TestWithParam<CacheBytesCase> {};

TEST_P(CacheBytesTest, StoresEveryLineDecodedWithCrLf) {
    const CacheBytesCase& c = GetParam();
    NntpSettingsGuard guard;
    ScriptedNntpServer server(ArticleScript("220 7 <x@example.org> article\r\n" + c.wire));
    SetDefaultNntpPort(server.Port());
    TestDir dir;
    CFetchResult result;
    const std::string cache = FetchInto(dir, "7", result);
    EXPECT_EQ(result.m_result, 1);
    EXPECT_EQ(result.m_message, "");
    EXPECT_EQ(cache, c.cache);
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "GROUP local.test\r\nARTICLE 7\r\nQUIT\r\nEXIT\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Articles, CacheBytesTest,
    testing::Values(
        CacheBytesCase{
            "PlainAscii",
            "Subject: hello\r\nFrom: a@example.org\r\n\r\nfirst line\r\n\r\nlast\r\n.\r\n",
            "Subject: hello\r\nFrom: a@example.org\r\n\r\nfirst line\r\n\r\nlast\r\n"},
        // 日本語, 記事 and 〜です in ISO-2022-JP become Shift_JIS.
        CacheBytesCase{"IsoBodyLines",
                       "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
                       "\x1b$BF|K\\8l\x1b(B\r\n"
                       "abc \x1b$B5-;v\x1b(B xyz\r\n"
                       "\x1b$B!A$G$9\x1b(B\r\n.\r\n",
                       "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
                       "\x93\xfa\x96\x7b\x8c\xea\r\n"
                       "abc \x8b\x4c\x8e\x96 xyz\r\n"
                       "\x81\x60\x82\xc5\x82\xb7\r\n"},
        CacheBytesCase{"EncodedWordsInHeaderAndBody",
                       "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n\r\n"
                       "see =?iso-2022-jp?b?GyRCNS07dhsoQg==?= now\r\n"
                       "=?us-ascii?Q?a=3Db?=\r\n.\r\n",
                       "Subject: \x93\xfa\x96\x7b\x8c\xea\r\n\r\n"
                       "see \x8b\x4c\x8e\x96 now\r\n"
                       "a=b\r\n"},
        // Lines before the declaration and the declaring line keep "=3D"; every later one is
        // decoded, a "=" at a line end stays, and ISO-2022-JP hidden in escapes stays JIS
        // because the character sets are converted before the escapes are undone.
        CacheBytesCase{"QuotedPrintableFromTheMainHeader",
                       "X-Before: a=3Db\r\n"
                       "Content-Transfer-Encoding: quoted-printable\r\n"
                       "X-After: a=3Db\r\n\r\n"
                       "x =3D y\r\n"
                       "soft line=\r\n"
                       "caf=C3=A9=20\r\n"
                       "=1B$BF|K\\8l=1B(B\r\n.\r\n",
                       "X-Before: a=3Db\r\n"
                       "Content-Transfer-Encoding: quoted-printable\r\n"
                       "X-After: a=b\r\n\r\n"
                       "x = y\r\n"
                       "soft line=\r\n"
                       "caf\xc3\xa9 \r\n"
                       "\x1b$BF|K\\8l\x1b(B\r\n"},
        // Declared in the second part's header (in other letter case): the first part stays
        // encoded, and the third part is decoded too, whatever it declares.
        CacheBytesCase{"QuotedPrintableFromAPartHeader",
                       "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
                       "--b\r\nContent-Type: text/plain\r\n\r\nplain a=3Db\r\n"
                       "--b\r\nContent-Type: text/html\r\n"
                       "content-transfer-encoding: QUOTED-PRINTABLE\r\n\r\n<p>a=3Db</p>\r\n"
                       "--b\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                       "still =3D decoded\r\n--b--\r\n.\r\n",
                       "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
                       "--b\r\nContent-Type: text/plain\r\n\r\nplain a=3Db\r\n"
                       "--b\r\nContent-Type: text/html\r\n"
                       "content-transfer-encoding: QUOTED-PRINTABLE\r\n\r\n<p>a=b</p>\r\n"
                       "--b\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                       "still = decoded\r\n--b--\r\n"},
        // On the wire ".", ".." and ".x" are sent as "..", "..." and "..x".
        CacheBytesCase{"DotLines", "Subject: dots\r\n\r\n..\r\n...\r\n..x\r\nx.\r\n.\r\n",
                       "Subject: dots\r\n\r\n.\r\n..\r\n.x\r\nx.\r\n"},
        CacheBytesCase{"NoBody", "Subject: only a header\r\n.\r\n", "Subject: only a header\r\n"},
        // A zero byte ends the text of its line, so none reaches the cache.
        CacheBytesCase{"ZeroByte", "Subject: z\r\n\r\nab\0cd\r\nnext\r\n.\r\n"s,
                       "Subject: z\r\n\r\nab\r\nnext\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- FetchArticle's results and messages ----

enum class Target { Server, RefusingPort, NoAddress };

struct FetchCase {
    const char* name;
    Target target;
    std::string greeting;
    std::vector<std::string> replies; // answers to GROUP and then ARTICLE
    int result;
    std::string message;
    std::string received; // by the server
};

class FetchResultTest : public testing::TestWithParam<FetchCase> {};

TEST_P(FetchResultTest, ReturnsZeroOnlyWithoutAConversation) {
    const FetchCase& c = GetParam();
    NntpSettingsGuard guard(1000, 1000);
    NntpScript script;
    script.Send(c.greeting);
    for (const std::string& reply : c.replies)
        script.Reply(reply);
    ScriptedNntpServer server(script);
    RefusingPort refusing;
    SetDefaultNntpPort(c.target == Target::RefusingPort ? refusing.Port() : server.Port());
    if (c.target == Target::NoAddress)
        SetNntpResolver([](const std::string&) { return std::vector<std::string>{}; });

    TestDir dir;
    CFetchResult result;
    EXPECT_EQ(FetchInto(dir, "7", result), "");
    EXPECT_EQ(result.m_result, c.result);
    EXPECT_EQ(result.m_message, c.message);
    if (c.target == Target::Server) {
        ASSERT_TRUE(server.WaitForClosedConnections(1));
        EXPECT_EQ(server.Received(0), c.received);
    } else {
        EXPECT_EQ(server.AcceptedConnections(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FetchResultTest,
    testing::Values(
        FetchCase{"ConnectionRefused",
                  Target::RefusingPort,
                  "",
                  {},
                  0,
                  " 接続エラーが発生しました '接続を試みましたが、リジェクトされました。' ",
                  ""},
        FetchCase{"HostNotFound", Target::NoAddress, "", {}, 0, kNetworkMessage, ""},
        FetchCase{"GreetingRefused",
                  Target::Server,
                  "502 no permission\r\n",
                  {},
                  0,
                  " 接続エラーが発生しました '502' ",
                  ""},
        FetchCase{"PostingNotAllowed",
                  Target::Server,
                  "201 ready, no posting\r\n",
                  {},
                  0,
                  " 接続エラーが発生しました '201' ",
                  ""},
        FetchCase{"NoSuchGroup",
                  Target::Server,
                  "200 ready\r\n",
                  {"411 no such group\r\n"},
                  1,
                  "",
                  "GROUP local.test\r\nQUIT\r\nEXIT\r\n"},
        // RFC 3977 lets the text after a code out; the fetch needs no numbers of GROUP.
        FetchCase{"GroupCodeWithoutBlank",
                  Target::Server,
                  "200 ready\r\n",
                  {"211\r\n", "423\r\n"},
                  1,
                  "",
                  "GROUP local.test\r\nARTICLE 7\r\nQUIT\r\nEXIT\r\n"},
        FetchCase{"NoSuchArticle",
                  Target::Server,
                  "200 ready\r\n",
                  {"211 9 1 9 local.test\r\n", "423 no such article number\r\n"},
                  1,
                  "",
                  "GROUP local.test\r\nARTICLE 7\r\nQUIT\r\nEXIT\r\n"},
        // A multi-line reply of another kind is read to its end and not stored.
        FetchCase{"HeadInsteadOfArticle",
                  Target::Server,
                  "200 ready\r\n",
                  {"211 9 1 9 local.test\r\n", "221 7 <x@y> head\r\nSubject: s\r\n.\r\n"},
                  1,
                  "",
                  "GROUP local.test\r\nARTICLE 7\r\nQUIT\r\nEXIT\r\n"},
        FetchCase{"OtherCodeStartingWith220",
                  Target::Server,
                  "200 ready\r\n",
                  {"211 9 1 9 local.test\r\n", "2200 odd\r\n"},
                  1,
                  "",
                  "GROUP local.test\r\nARTICLE 7\r\nQUIT\r\nEXIT\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the whole showing of an article: lookup, cache decision, parts, READ mark ----

// What the window was asked to do, in order.
class RecordingDisplay : public IArticleDisplay {
public:
    void ShowFetchError(const std::string& message) override { m_log += "error:" + message + ";"; }
    void ArticleFetched() override { m_log += "fetched;"; }
    void ShowParts(int parseResult, const std::vector<CPartEntry>& entries) override {
        m_log += "parts " + std::to_string(parseResult) + ":";
        for (const CPartEntry& entry : entries)
            m_log += "[" + entry.m_text + "|" + std::to_string(entry.m_data) + "]";
        m_log += ";";
    }
    void ArticleRead() override { m_log += "read;"; }

    std::string m_log;
};

struct Record {
    const char* num;
    const char* mesid; // nullptr: Null
};

// The table the tests read from: a repeated number, a record without a Message-ID, a
// Message-ID without angle brackets and one that tries to leave the group directory.
const Record kRecords[] = {
    {"5", "<five@example.org>"},        {"7", "<seven@example.org>"},
    {"7", "<seven-again@example.org>"}, {"8", nullptr},
    {"9", "plain-id@example.org"},      {"10", "<../../../escape@example.org>"},
    {"11", "<eleven@example.org>"},
};
constexpr int kRecordCount = sizeof kRecords / sizeof kRecords[0];

// A base directory with the group's directory and its header database.
class GroupStore {
public:
    GroupStore() : m_groupDir(GroupDirectory(m_base.Path(), kHost, kGroup)) {
        EXPECT_EQ(CreateGroupDirectory(m_base.Path(), kHost, kGroup), 1);
        EXPECT_EQ(CreateHeaderTable(m_groupDir), 1);
        CDbTable table;
        EXPECT_EQ(table.Open(kHeaderTable, HeaderDbPath(m_groupDir)), 1);
        for (const Record& record : kRecords) {
            table.AddNew();
            table.SetField("NUM", record.num);
            table.SetField("MESID", record.mesid ? record.mesid : "");
            EXPECT_EQ(table.Update(), 1);
        }
        table.Close();
    }

    const std::string& Base() const { return m_base.Path(); }
    const std::string& GroupDir() const { return m_groupDir; }
    std::string CachePath(const std::string& name) const { return m_groupDir + "/" + name; }

    // READ of every record, "-" for Null.
    std::vector<std::string> ReadMarks() const {
        std::vector<std::string> marks;
        CDbTable table;
        table.Open(kHeaderTable, HeaderDbPath(m_groupDir));
        const int count = table.GetRecordCount();
        table.MoveTo(0);
        for (int i = 0; i < count; ++i) {
            std::string read;
            table.GetField("READ", "-", read);
            marks.push_back(read);
            table.MoveNext();
        }
        table.Close();
        return marks;
    }

    // Names of the files in the group directory and in the base directory's own tree.
    std::vector<std::string> AllFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(m_base.Path()))
            if (entry.is_regular_file())
                names.push_back(entry.path().lexically_relative(m_base.Path()).string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    TestDir m_base;
    std::string m_groupDir;
};

// Keeps the part files of a test in a temporary root of its own.
class TempRootGuard {
public:
    TempRootGuard() { SetTempRoot(m_root.Path()); }
    ~TempRootGuard() { SetTempRoot(""); }

private:
    TestDir m_root;
};

const std::string kArticle = "Subject: fetched\r\nContent-Type: text/plain\r\n\r\nnew body\r\n";
const std::string kArticleWire = kArticle + ".\r\n";
const std::string kCachedArticle = "Subject: cached\r\nContent-Type: text/plain\r\n\r\nold\r\n";
const std::string kTranscript = "GROUP local.test\r\nARTICLE 7\r\nQUIT\r\nEXIT\r\n";
const std::string kPlainParts = "parts 1:[0: Header|0][1: Body|0];";
const std::vector<std::string> kUnread(kRecordCount, "-");

std::vector<std::string> ReadAt(int index) {
    std::vector<std::string> marks = kUnread;
    marks[static_cast<std::size_t>(index)] = "YES";
    return marks;
}

struct ReadCase {
    const char* name;
    std::string number;
    std::optional<std::string> cacheBefore; // nothing: no cache file
    std::string greeting;
    std::string articleReply;
    ArticleOutcome outcome;
    int recordIndex;
    std::string cacheName; // "" where no record is found
    std::string log;
    std::optional<std::string> cacheAfter;
    std::vector<std::string> readMarks;
    std::size_t connections;
    std::string received; // on the connection, when there was one
};

class ReadArticleTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadArticleTest, FollowsTheCacheDecision) {
    const ReadCase& c = GetParam();
    NntpSettingsGuard guard(1000, 1000);
    TempRootGuard temp;
    GroupStore store;
    ScriptedNntpServer server(
        NntpScript().Send(c.greeting).Reply("211 9 1 9 local.test\r\n").Reply(c.articleReply));
    SetDefaultNntpPort(server.Port());
    if (c.cacheBefore)
        ASSERT_TRUE(WriteWholeFile(store.CachePath(c.cacheName), *c.cacheBefore));

    RecordingDisplay display;
    const CArticleReadResult result = ReadArticle(store.Base(), kHost, kGroup, c.number, display);
    EXPECT_EQ(result.m_outcome, c.outcome);
    EXPECT_EQ(result.m_recordIndex, c.recordIndex);
    EXPECT_EQ(result.m_cachePath, c.cacheName.empty() ? "" : store.CachePath(c.cacheName));
    EXPECT_EQ(display.m_log, c.log);
    if (!c.cacheName.empty()) {
        const bool exists = fs::exists(store.CachePath(c.cacheName));
        EXPECT_EQ(exists, c.cacheAfter.has_value());
        if (exists && c.cacheAfter)
            EXPECT_EQ(ReadWholeFile(store.CachePath(c.cacheName)), *c.cacheAfter);
    }
    EXPECT_EQ(store.ReadMarks(), c.readMarks);
    if (c.connections) {
        ASSERT_TRUE(server.WaitForClosedConnections(1));
        EXPECT_EQ(server.Received(0), c.received);
    }
    EXPECT_EQ(server.AcceptedConnections(), c.connections);
}

INSTANTIATE_TEST_SUITE_P(
    Selections, ReadArticleTest,
    testing::Values(
        ReadCase{"Absent", "7", std::nullopt, "200 ready\r\n",
                 "220 7 <seven@example.org>\r\n" + kArticleWire, ArticleOutcome::Shown, 1,
                 "seven@example.org.ntx", "fetched;" + kPlainParts + "read;", kArticle, ReadAt(1),
                 1, kTranscript},
        ReadCase{"Present", "7", kCachedArticle, "200 ready\r\n",
                 "220 7 <seven@example.org>\r\n" + kArticleWire, ArticleOutcome::Shown, 1,
                 "seven@example.org.ntx", kPlainParts + "read;", kCachedArticle, ReadAt(1), 0, ""},
        ReadCase{"EmptyFileIsFetchedAgain", "7", "", "200 ready\r\n",
                 "220 7 <seven@example.org>\r\n" + kArticleWire, ArticleOutcome::Shown, 1,
                 "seven@example.org.ntx", "fetched;" + kPlainParts + "read;", kArticle, ReadAt(1),
                 1, kTranscript},
        // The server has no such article: no file stays, the list is empty, READ is set.
        ReadCase{"NoSuchArticle", "7", std::nullopt, "200 ready\r\n",
                 "423 no such article number\r\n", ArticleOutcome::Shown, 1,
                 "seven@example.org.ntx", "parts 1:;read;", std::nullopt, ReadAt(1), 1,
                 kTranscript},
        ReadCase{"GreetingRefused", "7", "", "400 busy\r\n", "", ArticleOutcome::FetchFailed, 1,
                 "seven@example.org.ntx", "error: 接続エラーが発生しました '400' ;", std::nullopt,
                 kUnread, 1, ""},
        ReadCase{"NotInTable", "99", std::nullopt, "200 ready\r\n", "", ArticleOutcome::NotFound,
                 -1, "", "", std::nullopt, kUnread, 0, ""},
        ReadCase{"NoMessageId", "8", std::nullopt, "200 ready\r\n", "", ArticleOutcome::NotFound,
                 -1, "", "", std::nullopt, kUnread, 0, ""},
        ReadCase{"MessageIdWithoutBrackets", "9", std::nullopt, "200 ready\r\n",
                 "220 9 plain-id@example.org\r\n" + kArticleWire, ArticleOutcome::Shown, 4,
                 "plain-id@example.org.ntx", "fetched;" + kPlainParts + "read;", kArticle,
                 ReadAt(4), 1, "GROUP local.test\r\nARTICLE 9\r\nQUIT\r\nEXIT\r\n"},
        ReadCase{"MessageIdWithSeparators", "10", std::nullopt, "200 ready\r\n",
                 "220 10 <../../../escape@example.org>\r\n" + kArticleWire, ArticleOutcome::Shown,
                 5, "..%2F..%2F..%2Fescape@example.org.ntx", "fetched;" + kPlainParts + "read;",
                 kArticle, ReadAt(5), 1, "GROUP local.test\r\nARTICLE 10\r\nQUIT\r\nEXIT\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadArticle, SecondSelectionReadsTheCache) {
    NntpSettingsGuard guard;
    TempRootGuard temp;
    GroupStore store;
    ScriptedNntpServer server(ArticleScript("220 7 <seven@example.org>\r\n" + kArticleWire));
    SetDefaultNntpPort(server.Port());
    RecordingDisplay first;
    RecordingDisplay second;
    ReadArticle(store.Base(), kHost, kGroup, "7", first);
    ReadArticle(store.Base(), kHost, kGroup, "7", second);
    EXPECT_EQ(first.m_log, "fetched;" + kPlainParts + "read;");
    EXPECT_EQ(second.m_log, kPlainParts + "read;");
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.AcceptedConnections(), 1u);
    EXPECT_EQ(ReadWholeFile(store.CachePath("seven@example.org.ntx")), kArticle);
}

TEST(ReadArticle, ArticleTheServerLackedIsAskedForAgain) {
    NntpSettingsGuard guard;
    TempRootGuard temp;
    GroupStore store;
    ScriptedNntpServer server;
    server.AddConnection(ArticleScript("423 no such article number\r\n"));
    server.AddConnection(ArticleScript("220 11 <eleven@example.org>\r\n" + kArticleWire));
    SetDefaultNntpPort(server.Port());
    RecordingDisplay first;
    RecordingDisplay second;
    ReadArticle(store.Base(), kHost, kGroup, "11", first);
    EXPECT_FALSE(fs::exists(store.CachePath("eleven@example.org.ntx")));
    ReadArticle(store.Base(), kHost, kGroup, "11", second);
    EXPECT_EQ(first.m_log, "parts 1:;read;");
    EXPECT_EQ(second.m_log, "fetched;" + kPlainParts + "read;");
    ASSERT_TRUE(server.WaitForClosedConnections(2));
    EXPECT_EQ(server.Received(1), "GROUP local.test\r\nARTICLE 11\r\nQUIT\r\nEXIT\r\n");
    EXPECT_EQ(ReadWholeFile(store.CachePath("eleven@example.org.ntx")), kArticle);
}

TEST(ReadArticle, ConnectionFailureLeavesNoFileBehind) {
    NntpSettingsGuard guard(1000, 1000);
    TempRootGuard temp;
    GroupStore store;
    RefusingPort refusing;
    SetDefaultNntpPort(refusing.Port());
    ASSERT_TRUE(WriteWholeFile(store.CachePath("five@example.org.ntx"), ""));
    RecordingDisplay display;
    const CArticleReadResult result = ReadArticle(store.Base(), kHost, kGroup, "5", display);
    EXPECT_EQ(result.m_outcome, ArticleOutcome::FetchFailed);
    EXPECT_EQ(display.m_log,
              "error: 接続エラーが発生しました '接続を試みましたが、リジェクトされました。' ;");
    EXPECT_EQ(store.AllFiles(), (std::vector<std::string>{"127.0.0.1/local.test/header.mdb"}));
    EXPECT_EQ(store.ReadMarks(), kUnread);
}

TEST(ReadArticle, CacheFileThatCannotBeCreatedFetchesNothing) {
    NntpSettingsGuard guard;
    TempRootGuard temp;
    GroupStore store;
    ScriptedNntpServer server(ArticleScript("220 5 <five@example.org>\r\n" + kArticleWire));
    SetDefaultNntpPort(server.Port());
    // A directory in the place of the cache file.
    fs::create_directory(store.CachePath("five@example.org.ntx"));
    RecordingDisplay display;
    const CArticleReadResult result = ReadArticle(store.Base(), kHost, kGroup, "5", display);
    EXPECT_EQ(result.m_outcome, ArticleOutcome::FetchFailed);
    EXPECT_EQ(display.m_log, "");
    EXPECT_EQ(server.AcceptedConnections(), 0u);
    EXPECT_EQ(store.ReadMarks(), kUnread);
}

TEST(ReadArticle, MultipartArticleListsItsParts) {
    NntpSettingsGuard guard;
    TempRootGuard temp;
    GroupStore store;
    const std::string wire = "Content-Type: multipart/alternative;\r\n\tboundary=\"q\"\r\n\r\n"
                             "--q\r\nContent-Type: text/plain\r\n\r\n\x1b$BF|K\\8l\x1b(B\r\n"
                             "--q\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n--q--\r\n.\r\n";
    ScriptedNntpServer server(ArticleScript("220 5 <five@example.org>\r\n" + wire));
    SetDefaultNntpPort(server.Port());
    RecordingDisplay display;
    ReadArticle(store.Base(), kHost, kGroup, "5", display);
    EXPECT_EQ(display.m_log, "fetched;parts 0:[0: Header|0][1 PlainText1|0][2 HtmlText2|1];read;");
    EXPECT_EQ(ReadWholeFile(PartFilePath("1 PlainText1", kPartTextFile)),
              "\x93\xfa\x96\x7b\x8c\xea\r\n");
    EXPECT_EQ(ReadWholeFile(PartFilePath("2 HtmlText2", kPartHtmlFile)), "<p>x</p>\r\n");
}

// ---- record lookup and READ mark on their own ----

TEST(FindArticleRecord, TakesTheFirstRecordOfTheNumberIgnoringCase) {
    TestDir dir;
    ASSERT_EQ(CreateHeaderTable(dir.Path()), 1);
    const Record records[] = {{"a1", "<lower@x>"}, {"A1", "<upper@x>"}, {"b2", nullptr}};
    CDbTable table;
    ASSERT_EQ(table.Open(kHeaderTable, HeaderDbPath(dir.Path())), 1);
    for (const Record& record : records) {
        table.AddNew();
        table.SetField("NUM", record.num);
        table.SetField("MESID", record.mesid ? record.mesid : "");
        table.Update();
    }
    table.Close();
    ASSERT_EQ(table.Open(kHeaderTable, HeaderDbPath(dir.Path())), 1);
    const auto upper = FindArticleRecord(table, "A1");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->m_index, 0);
    EXPECT_EQ(upper->m_messageId, "<lower@x>");
    EXPECT_FALSE(FindArticleRecord(table, "B2"));
    EXPECT_FALSE(FindArticleRecord(table, "c3"));
    EXPECT_FALSE(FindArticleRecord(table, "a"));
}

TEST(MarkArticleRead, MarksTheFirstExactlyEqualNumber) {
    TestDir dir;
    ASSERT_EQ(CreateHeaderTable(dir.Path()), 1);
    const std::string longNumber(100, '1');
    const char* nums[] = {"", "A1", "a1", "a1", longNumber.c_str()};
    CDbTable table;
    ASSERT_EQ(table.Open(kHeaderTable, HeaderDbPath(dir.Path())), 1);
    for (const char* num : nums) {
        table.AddNew();
        table.SetField("NUM", num);
        table.Update();
    }
    table.Close();

    EXPECT_EQ(MarkArticleRead(dir.Path(), "a1"), 1);
    // NUM is read into an 80-byte buffer, so a longer number never matches.
    EXPECT_EQ(MarkArticleRead(dir.Path(), longNumber), 0);
    EXPECT_EQ(MarkArticleRead(dir.Path(), ""), 0);
    EXPECT_EQ(MarkArticleRead(dir.Path() + "/missing", "a1"), 0);

    std::vector<std::string> marks;
    ASSERT_EQ(table.Open(kHeaderTable, HeaderDbPath(dir.Path())), 1);
    table.MoveTo(0);
    for (std::size_t i = 0; i < std::size(nums); ++i) {
        std::string read;
        table.GetField("READ", "-", read);
        marks.push_back(read);
        table.MoveNext();
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"-", "-", "YES", "-", "-"}));
}

// ---- size ----

TEST(FetchArticle, FiveMegabyteArticleIsStoredWhole) {
    NntpSettingsGuard guard;
    std::string wire = "Subject: big\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    std::string expected = wire;
    const std::string line = "\x1b$BF|K\\8l\x1b(B =3D " + std::string(60, 'x') + "\r\n";
    const std::string stored = "\x93\xfa\x96\x7b\x8c\xea = " + std::string(60, 'x') + "\r\n";
    while (wire.size() < 5 * 1024 * 1024) {
        wire += line;
        expected += stored;
    }
    ScriptedNntpServer server(ArticleScript("220 7 <big@x>\r\n" + wire + ".\r\n"));
    SetDefaultNntpPort(server.Port());
    TestDir dir;
    CFetchResult result;
    const auto start = std::chrono::steady_clock::now();
    const std::string cache = FetchInto(dir, "7", result);
    const long long ms = ElapsedMs(start);
    EXPECT_EQ(result.m_result, 1);
    EXPECT_EQ(cache.size(), expected.size());
    EXPECT_TRUE(cache == expected);
    // Linear work takes well under a second here; anything quadratic would take minutes.
    EXPECT_LT(ms, 10000);
    std::printf("5 MB article fetched and stored in %lld ms\n", ms);
}

} // namespace
