// The header download against the project's INN on 127.0.0.1:119 (tools/inn.sh start). Skipped
// when nothing listens there.

#include "nntp/HeaderDownload.h"

#include "HeaderDownloadTestSupport.h"
#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kInnPort = 119;
const std::string kServer = "localhost";

bool InnListens() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kInnPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool listens = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return listens;
}

// Runs a command; its exit status and what it wrote to stdout and stderr.
int RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    return ::pclose(pipe);
}

struct Article {
    int num;
    std::string id; // Message-ID as in the file; the loader tags it with the group
    std::string from;
    std::string subject;
    std::string date;
    std::string media;
    int parent; // the article REF names, 0 for none
};

const std::string kAscii = "text/plain; charset=US-ASCII";
const std::string kJis = "text/plain; charset=ISO-2022-JP";

// What tests/data/articles hold, as the store keeps it (Shift_JIS).
std::vector<Article> Articles() {
    return {
        {1, "welcome.20240115@alice.example.org", "Alice Walker <alice@example.org>",
         "Welcome to the Quillo demo group", "Mon, 15 Jan 2024 09:12:00 +0000", kAscii, 0},
        {2, "20240115210300.2f1c@taro.example.jp", Sjis("山田太郎") + " <taro@example.jp>",
         Sjis("日本語の記事の表示テスト"), "Mon, 15 Jan 2024 21:03:00 +0900", kJis, 0},
        {3, "kv-settings.1705411805@bob.example.net", "bob@example.net (Bob Stone)",
         "Writing key=value settings", "Tue, 16 Jan 2024 14:30:05 +0100", kAscii, 0},
        {4, "html-sample.1705376400@hanako.example.jp", Sjis("鈴木花子") + " <hanako@example.jp>",
         Sjis("HTML形式の記事の例"), "Tue, 16 Jan 2024 12:40:00 +0900",
         "multipart/alternative; boundary=\"quillo-alt-4f2a9c\"", 0},
        {5, "editor-question.8812@carol.example.com", "\"Carol Jones\" <carol@example.com>",
         "Which editor do you use for long articles?", "Wed, 17 Jan 2024 08:00:00 -0500", kAscii,
         0},
        {6, "re-editor.0117.1045@dave.example.org", "<dave@example.org>",
         "Re: Which editor do you use for long articles?", "Wed, 17 Jan 2024 10:45:12 -0500",
         kAscii, 5},
        {7, "c0ffee.20240118072040@eve.example.com", "eve@example.com",
         "Re: Which editor do you use for long articles?", "Thu, 18 Jan 2024 07:20:40 +0900",
         kAscii, 6},
        {8, "re-benkyokai.20240117191530@hanako.example.jp",
         "hanako@example.jp (" + Sjis("鈴木花子") + ")", "Re: " + Sjis("秋葉原の勉強会について"),
         "Wed, 17 Jan 2024 19:15:30 +0900", kJis, 9},
        {9, "benkyokai.20240117@taro.example.jp", Sjis("山田太郎") + " <taro@example.jp>",
         Sjis("秋葉原の勉強会について"), "Wed, 17 Jan 2024 09:00:00 +0900", kJis, 0},
        {10, "dots.20240119160500@frank.example.net", "Frank Miller <frank@example.net>",
         "Lines that begin with a dot", "Fri, 19 Jan 2024 16:05:00 +0000", kAscii, 0},
        {11, "long-subject.0118@ichiro.example.jp", Sjis("田中一郎") + " <ichiro@example.jp>",
         Sjis("長い件名の折り返しの試験：エンコードされた語が二行にまたがる場合"),
         "Thu, 18 Jan 2024 08:30:00 +0900", kJis, 0},
        // References folded onto a TAB line: REF is the second Message-ID.
        {12, "benkyokai-re2.1705583100@ichiro.example.net",
         "\"Ichiro Tanaka\" <ichiro@example.net>", "Re: " + Sjis("秋葉原の勉強会について"),
         "Thu, 18 Jan 2024 22:05:00 +0900", kJis, 8},
        {13, "folding-notes.20240120@grace.example.org", "Grace Lee <grace@example.org>",
         "Notes on folding long header lines in news articles", "Sat, 20 Jan 2024 11:11:11 +0000",
         kAscii, 0},
        {14, "raw-jis.19991119234500@jiro.example.ne.jp",
         "jiro@example.ne.jp (" + Sjis("佐藤次郎") + ")",
         Sjis("古い形式の記事（ヘッダーに生の JIS）"), "Fri, 19 Nov 1999 23:45:00 +0900", kJis, 0},
    };
}

// "<local@domain>" with ".tag" after the local part, as the loader feeds it.
std::string TaggedId(const std::string& id, const std::string& tag) {
    const std::size_t at = id.find('@');
    return "<" + id.substr(0, at) + "." + tag + id.substr(at) + ">";
}

std::vector<std::string> ExpectedHeaderRows(const std::string& tag) {
    const std::vector<Article> articles = Articles();
    std::vector<std::string> rows;
    for (const Article& a : articles) {
        const std::string ref =
            a.parent ? TaggedId(articles[a.parent - 1].id, tag) : std::string("<null>");
        rows.push_back(std::to_string(a.num) + "|" + TaggedId(a.id, tag) + "|" + a.from + "|" +
                       a.subject + "|" + a.date + "|" + a.media + "|" + ref + "|<null>|<null>");
    }
    return rows;
}

std::vector<std::string> ExpectedPosterRows(const std::string& group) {
    const std::string tail = "," + kServer + "|" + kServer + "|" + group;
    // Articles 8 and 9 come from posters seen before (2 and 4).
    return {"Alice Walker|alice@example.org" + tail,
            Sjis("山田太郎") + "|taro@example.jp" + tail,
            "(Bob Stone)|bob@example.net" + tail,
            Sjis("鈴木花子") + "|hanako@example.jp" + tail,
            "Carol Jones|carol@example.com" + tail,
            "dave@example.org|dave@example.org" + tail,
            "eve@example.com|eve@example.com" + tail,
            "Frank Miller|frank@example.net" + tail,
            Sjis("田中一郎") + "|ichiro@example.jp" + tail,
            "Ichiro Tanaka|ichiro@example.net" + tail,
            "Grace Lee|grace@example.org" + tail,
            "(" + Sjis("佐藤次郎") + ")|jiro@example.ne.jp" + tail};
}

TEST(HeaderDownloadInnTest, DownloadsTheFixtureGroupAndAgainWithoutDuplicates) {
    if (!InnListens())
        GTEST_SKIP() << "nothing listens on 127.0.0.1:119 (tools/inn.sh start)";
    SetDefaultNntpPort(kInnPort);

    // A group of its own for every run: INN keeps each Message-ID once.
    const std::string group =
        "quillo.test.t" + std::to_string(std::time(nullptr)) + "p" + std::to_string(::getpid());
    const std::string dataDir = TestDataDir();
    std::string output;
    ASSERT_EQ(RunCommand(dataDir + "/../../tools/inn.sh load --group " + group + " " + dataDir +
                             "/articles",
                         output),
              0)
        << output;
    ASSERT_NE(output.find("fed 14, already there 0, rejected 0"), std::string::npos) << output;

    TestDir base;
    ASSERT_EQ(CreateGroupDirectory(base.Path(), kServer, group), 1);
    const std::string groupDir = GroupDirectory(base.Path(), kServer, group);
    const std::string mainDb = base / "quillo.mdb";
    ASSERT_EQ(CreateDatabaseTable("localhost", {"GROUP"}, mainDb), 1);

    HeaderDownloadParams params;
    params.server = kServer;
    params.group = group;
    params.baseDir = base.Path();
    params.mainDbPath = mainDb;

    const std::vector<std::string> headerRows = ExpectedHeaderRows(group);
    const std::vector<std::string> posterRows = ExpectedPosterRows(group);
    const std::string ini = "[HEADER]\ncount=14\nMIN=1\nLASTHEADER=14\n";
    for (bool latestOnly : {false, false, true}) {
        SCOPED_TRACE(latestOnly ? "latest only" : "whole range");
        DownloadRecorder recorder;
        params.latestOnly = latestOnly;
        EXPECT_EQ(DownloadHeaders(params, recorder, recorder), latestOnly ? 1 : 14);
        EXPECT_TRUE(recorder.messages.empty());
        EXPECT_EQ(HeaderRows(groupDir), headerRows);
        EXPECT_EQ(AddressBookRows(mainDb), posterRows);
        EXPECT_EQ(ReadWholeFile(HeaderIniPath(groupDir)),
                  latestOnly ? "[HEADER]\ncount=14\nMIN=14\nLASTHEADER=14\n" : ini);
    }
}

} // namespace
