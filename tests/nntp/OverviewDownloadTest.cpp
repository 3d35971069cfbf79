// The header download through the overview (OVER, HDR) against the HEAD path: the same records,
// counters and address book for the same articles, whatever the server offers.

#include "nntp/OverviewFetch.h"

#include "HeaderDownloadTestSupport.h"
#include "OverviewTestSupport.h"
#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kServer = "127.0.0.1";
const std::string kGroup = "local.test";

// ---- the reading of overview lines ----

struct LineCase {
    const char* name;
    std::string line;
    OverviewLine expected;
    std::string subject; // when Exact
};

OverviewFormat InnFormat() {
    OverviewFormat format;
    EXPECT_TRUE(ParseOverviewFormat({"Subject:", "From:", "Date:", "Message-ID:", "References:",
                                     "Bytes:", "Lines:", "Xref:full"},
                                    format));
    return format;
}

TEST(OverviewLineTest, TellsWhereAFoldCouldHaveChangedWhatHeadReads) {
    const std::string word1 = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=";
    const std::string word2 = "=?ISO-2022-JP?B?GyRCJEckORsoQg==?=";
    const std::vector<LineCase> cases = {
        {"single blanks", "7\tone two three\tA <a@b>\tdate\t<id@x>\t\t10\t1", OverviewLine::Exact,
         "one two three"},
        {"two blanks may be a fold", "7\tone  two\tA\td\t<id@x>\t\t1\t1", OverviewLine::NeedHead,
         ""},
        {"leading blank", "7\t lead\tA\td\t<id@x>\t\t1\t1", OverviewLine::NeedHead, ""},
        // A fold with nothing after it leaves the blank, as the line without a fold does.
        {"trailing blank", "7\ttrail \tA\td\t<id@x>\t\t1\t1", OverviewLine::Exact, "trail "},
        {"blank between two encoded words", "7\t" + word1 + " " + word2 + "\tA\td\t<i>\t\t1\t1",
         OverviewLine::NeedHead, ""},
        {"blank after a word", "7\t" + word1 + " plain\tA\td\t<i>\t\t1\t1", OverviewLine::Exact,
         Sjis("テスト") + " plain"},
        {"raw ISO-2022-JP with a blank", "7\t\x1b$B%F\x1b(B x\tA\td\t<i>\t\t1\t1",
         OverviewLine::Exact, Sjis("テ") + " x"},
        {"blank inside a two-byte run", "7\t\x1b$B%F %9\x1b(B\tA\td\t<i>\t\t1\t1",
         OverviewLine::NeedHead, ""},
        {"no number", "x\tsubject\tA\td\t<i>\t\t1\t1", OverviewLine::Bad, ""},
        {"fields missing at the end", "7\tshort", OverviewLine::Exact, "short"},
    };
    const OverviewFormat format = InnFormat();
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        int number = 0;
        HeaderFields fields;
        const OverviewLine read = ReadOverviewLine(c.line, format, number, fields);
        EXPECT_EQ(read, c.expected);
        if (c.expected != OverviewLine::Bad)
            EXPECT_EQ(number, 7);
        if (c.expected == OverviewLine::Exact)
            EXPECT_EQ(fields.subject, c.subject);
    }
}

TEST(OverviewLineTest, ReadsTheFieldsWhereTheFormatPutsThem) {
    OverviewFormat format;
    ASSERT_TRUE(ParseOverviewFormat({"Subject:", "From:", "Date:", "Message-ID:", "References:",
                                     ":bytes", ":lines", "Xref:full", "Content-Type:full"},
                                    format));
    EXPECT_EQ(format.contentType, 8);
    EXPECT_TRUE(format.contentTypeFull);
    int number = 0;
    HeaderFields fields;
    EXPECT_EQ(ReadOverviewLine("12\tSub\tFrom <f@x>\tDate\t<m@x>\t<r1@x> <r2@x>\t9\t1\tXref: a "
                               "b:1\tContent-Type: text/plain; charset=US-ASCII",
                               format, number, fields),
              OverviewLine::Exact);
    EXPECT_EQ(number, 12);
    EXPECT_EQ(fields.subject, "Sub");
    EXPECT_EQ(fields.from, "From <f@x>");
    EXPECT_EQ(fields.date, "Date");
    EXPECT_EQ(fields.messageId, "<m@x>");
    EXPECT_EQ(fields.references, "<r1@x> <r2@x>");
    EXPECT_EQ(fields.contentType, "text/plain; charset=US-ASCII");

    // A format without the fields the store needs is no use.
    EXPECT_FALSE(ParseOverviewFormat({"Subject:", "From:", "Date:", "Message-ID:"}, format));
    std::string value;
    EXPECT_TRUE(ReadUnfoldedValue("Content-Type", "text/plain; charset=X", value));
    EXPECT_EQ(value, "text/plain; charset=X");
    EXPECT_FALSE(ReadUnfoldedValue("Content-Type", "text/plain;  charset=X", value));
}

// ---- the whole download, HEAD path against overview path ----

struct Outcome {
    // At HeadersStored, when it was called.
    std::vector<std::string> headersWithoutTypes;
    std::string iniWithoutTypes;
    std::string receivedAtStored; // what the server had been sent by then
    int headersStoredCalls = 0;
    std::vector<std::string> headers;
    std::vector<std::string> posters;
    std::string ini;
    std::string received; // what the server was sent
    int stored = -2;
};

Outcome Download(const std::vector<HeadLines>& heads, OverviewServer offer, bool overview) {
    ScriptedNntpServer server(ServeOverviewGroup(kGroup, heads, offer));
    SetDefaultNntpPort(server.Port());
    TestDir dir;
    EXPECT_EQ(CreateGroupDirectory(dir.Path(), kServer, kGroup), 1);
    const std::string mainDb = dir / "quillo.mdb";
    EXPECT_EQ(CreateDatabaseTable("127001", {"GROUP"}, mainDb), 1);
    HeaderDownloadParams params;
    params.server = kServer;
    params.group = kGroup;
    params.baseDir = dir.Path();
    params.mainDbPath = mainDb;
    params.useOverview = overview;
    // Small chunks, so that HEAD and HDR replies of one chunk meet the OVER of the next.
    params.overviewChunk = 4;
    const std::string groupDir = GroupDirectory(dir.Path(), kServer, kGroup);
    Outcome outcome;
    struct Recorder : DownloadRecorder {
        std::function<void()> onStored;
        void HeadersStored() override { onStored(); }
    } recorder;
    recorder.onStored = [&] {
        ++outcome.headersStoredCalls;
        outcome.headersWithoutTypes = HeaderRows(groupDir);
        outcome.iniWithoutTypes = ReadWholeFile(HeaderIniPath(groupDir));
        // The types are asked for before the tree is filled; the server thread may take a
        // moment to read them.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            outcome.receivedAtStored = server.Received(0);
            if (outcome.receivedAtStored.find("Content-Type") != std::string::npos ||
                std::chrono::steady_clock::now() >= until)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    outcome.stored = DownloadHeaders(params, recorder, recorder);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_TRUE(server.WaitForClosedConnections(1));
    outcome.headers = HeaderRows(groupDir);
    outcome.posters = AddressBookRows(mainDb);
    outcome.ini = ReadWholeFile(HeaderIniPath(groupDir));
    outcome.received = server.Received(0);
    return outcome;
}

// The HEAD commands in a transcript, as "HEAD n" texts.
std::vector<std::string> HeadCommands(const std::string& received) {
    std::vector<std::string> heads;
    static const std::regex head("HEAD [0-9]+");
    for (auto it = std::sregex_iterator(received.begin(), received.end(), head);
         it != std::sregex_iterator(); ++it)
        heads.push_back(it->str());
    return heads;
}

struct ServerCase {
    const char* name;
    OverviewServer offer;
    bool overviewUsed;
    const char* typeCommand; // the command that should bring Content-Type, or ""
};

const ServerCase kServers[] = {
    {"OVER and HDR", {}, true, "HDR Content-Type 1-"},
    {"Content-Type in the overview", {.contentTypeInOverview = true}, true, ""},
    {"HDR not listed, XHDR answers",
     {.listsHdr = false, .hdr = false},
     true,
     "XHDR Content-Type 1-"},
    {"HDR listed but refused", {.hdr = false}, true, "XHDR Content-Type 1-"},
    {"neither HDR nor XHDR", {.hdr = false, .xhdr = false}, true, ""},
    {"no CAPABILITIES, LIST OVERVIEW.FMT answers",
     {.capabilities = false},
     true,
     "XHDR Content-Type 1-"},
    {"no overview", {.over = false}, false, ""},
};

class OverviewEquivalenceTest : public ::testing::TestWithParam<ServerCase> {};

void ExpectSameAsHead(const std::vector<HeadLines>& heads, const ServerCase& c,
                      const std::vector<std::string>& expectedHeads) {
    const Outcome head = Download(heads, c.offer, false);
    const Outcome over = Download(heads, c.offer, true);
    ASSERT_EQ(head.stored, static_cast<int>(heads.size()));
    EXPECT_EQ(over.stored, head.stored);
    EXPECT_EQ(over.headers, head.headers);
    EXPECT_EQ(over.posters, head.posters);
    EXPECT_EQ(over.ini, head.ini);
    EXPECT_EQ(head.received.find("CAPABILITIES"), std::string::npos);
    EXPECT_EQ(over.received.find("OVER 1-4\r\n") != std::string::npos, c.overviewUsed)
        << over.received;
    if (*c.typeCommand)
        EXPECT_NE(over.received.find(c.typeCommand), std::string::npos) << over.received;
    // Without Content-Type in the overview, the records are stored whole but for MEDIA, the tree
    // may show, and only then come the types; "LASTHEADER" waits for them.
    const bool typesLater = c.overviewUsed && !c.offer.contentTypeInOverview;
    EXPECT_EQ(over.headersStoredCalls, typesLater ? 1 : 0);
    if (typesLater) {
        EXPECT_GT(over.received.find("HDR Content-Type"), over.received.rfind("OVER "));
        // The server was asked for types before the tree could be filled.
        if (*c.typeCommand)
            EXPECT_NE(over.receivedAtStored.find("HDR Content-Type"), std::string::npos)
                << over.receivedAtStored;
        ASSERT_EQ(over.headersWithoutTypes.size(), over.headers.size());
        for (std::size_t i = 0; i < over.headers.size(); ++i) {
            // NUM|MESID|FROM|SUB|DATE|MEDIA|REF|READ|HIDE: MEDIA is the sixth.
            std::vector<std::string> before, after;
            std::stringstream b(over.headersWithoutTypes[i]), a(over.headers[i]);
            for (std::string f; std::getline(b, f, '|');)
                before.push_back(f);
            for (std::string f; std::getline(a, f, '|');)
                after.push_back(f);
            ASSERT_EQ(before.size(), after.size());
            for (std::size_t k = 0; k < after.size(); ++k)
                if (k != 5 || before[k] != "<null>")
                    EXPECT_EQ(before[k], after[k]) << i << " field " << k;
        }
        EXPECT_EQ(over.iniWithoutTypes.find("LASTHEADER"), std::string::npos)
            << over.iniWithoutTypes;
    }
    if (c.overviewUsed && (c.offer.hdr || c.offer.xhdr || c.offer.contentTypeInOverview))
        EXPECT_EQ(HeadCommands(over.received), expectedHeads) << over.received;
}

TEST_P(OverviewEquivalenceTest, FixtureArticlesStoreWhatHeadStores) {
    // Only the Subject of article 11 joins two encoded words across its fold.
    ExpectSameAsHead(ReadArticleHeads(TestDataDir() + "/articles"), GetParam(), {"HEAD 11"});
}

TEST_P(OverviewEquivalenceTest, FoldedArticlesStoreWhatHeadStores) {
    // The articles whose overview shows two blanks, a leading blank or a blank between two
    // encoded words: a fold there would have read otherwise.
    ExpectSameAsHead(FoldedHeads(kGroup, "t"), GetParam(),
                     {"HEAD 4", "HEAD 5", "HEAD 8", "HEAD 9", "HEAD 10", "HEAD 13"});
}

TEST_P(OverviewEquivalenceTest, SharedMessageIdsKeepTheLastArticlesType) {
    // Articles 1 and 3, and 2, 4 and 5, share a Message-ID: each record ends with the fields
    // and the type of its last article. Article 5's overview hides a possible fold, so HEAD
    // gives its type before the types of 2 and 4 come.
    const std::vector<std::pair<std::string, std::string>> articles = {
        {"<one@x>", "Content-Type: text/plain"},
        {"<two@x>", "Content-Type: text/html"},
        {"<one@x>", "Content-Type: multipart/mixed; boundary=b"},
        {"<two@x>", ""},
        {"<two@x>", "Content-Type: text/plain; charset=ISO-2022-JP"},
    };
    std::vector<HeadLines> heads;
    for (std::size_t i = 0; i < articles.size(); ++i) {
        HeadLines head;
        const std::string n = std::to_string(i + 1);
        head.lines = {"From: poster" + n + "@example.org",
                      i == 4 ? "Subject: two  blanks" : "Subject: article " + n,
                      "Date: Mon, 15 Jan 2024 09:00:0" + n + " +0000",
                      "Message-ID: " + articles[i].first};
        if (!articles[i].second.empty())
            head.lines.push_back(articles[i].second);
        heads.push_back(std::move(head));
    }
    ExpectSameAsHead(heads, GetParam(), {"HEAD 5"});
}

INSTANTIATE_TEST_SUITE_P(Servers, OverviewEquivalenceTest, ::testing::ValuesIn(kServers),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

struct CutCase {
    const char* name;
    std::string cutOn;
    int stored;             // records left in the store
    std::string lastHeader; // the "LASTHEADER" line of header.ini, or "" for none
};

TEST(OverviewDownloadTest, ACutReplyEndsTheDownloadWithWholeRecordsCounted) {
    const std::vector<HeadLines> heads = FoldedHeads(kGroup, "t");
    const std::vector<CutCase> cases = {
        // The second OVER: the first chunk still waits for its HEAD 4, asked for behind the
        // OVER commands in flight, so nothing is stored.
        {"second overview chunk", "OVER 5-8", 0, ""},
        // HEAD 9 of the third chunk: the first two chunks are whole and stored, but no type
        // came yet, so "LASTHEADER" is not written.
        {"HEAD of the third chunk", "HEAD 9", 8, ""},
        // The second type chunk: every record is stored, and the types of the first chunk
        // (articles 1, 2, 3, 6) came, so "LASTHEADER" covers what is whole.
        {"second type chunk", "HDR Content-Type 7-", 14, "LASTHEADER=6\n"},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        OverviewServer offer;
        offer.cutOn = c.cutOn;
        ScriptedNntpServer server(ServeOverviewGroup(kGroup, heads, offer));
        SetDefaultNntpPort(server.Port());
        TestDir dir;
        ASSERT_EQ(CreateGroupDirectory(dir.Path(), kServer, kGroup), 1);
        HeaderDownloadParams params;
        params.server = kServer;
        params.group = kGroup;
        params.baseDir = dir.Path();
        params.mainDbPath = dir / "quillo.mdb";
        params.useOverview = true;
        params.overviewChunk = 4;
        DownloadRecorder recorder;
        EXPECT_EQ(DownloadHeaders(params, recorder, recorder), c.stored);
        ASSERT_TRUE(server.WaitForClosedConnections(1));
        ASSERT_EQ(recorder.messages.size(), 1u);
        const std::string groupDir = GroupDirectory(dir.Path(), kServer, kGroup);
        EXPECT_EQ(static_cast<int>(HeaderRows(groupDir).size()), c.stored);
        EXPECT_EQ(ReadWholeFile(HeaderIniPath(groupDir)),
                  "[HEADER]\ncount=14\nMIN=1\n" + c.lastHeader);
    }
}

TEST(OverviewDownloadTest, DepthOneKeepsTheOneAtATimeExchange) {
    const std::vector<HeadLines> heads = FoldedHeads(kGroup, "t");
    ScriptedNntpServer server(ServeOverviewGroup(kGroup, heads, {}));
    SetDefaultNntpPort(server.Port());
    TestDir dir;
    ASSERT_EQ(CreateGroupDirectory(dir.Path(), kServer, kGroup), 1);
    HeaderDownloadParams params;
    params.server = kServer;
    params.group = kGroup;
    params.baseDir = dir.Path();
    params.mainDbPath = dir / "quillo.mdb";
    params.useOverview = true;
    params.pipelineDepth = 1;
    DownloadRecorder recorder;
    EXPECT_EQ(DownloadHeaders(params, recorder, recorder), static_cast<int>(heads.size()));
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    std::string expected = "GROUP " + kGroup + "\r\n";
    for (std::size_t n = 1; n <= heads.size(); ++n)
        expected += "HEAD " + std::to_string(n) + "\r\n";
    EXPECT_EQ(server.Received(0), expected + "QUIT\r\nEXIT\r\n");
}

} // namespace
