// Prints the peak memory of the client against single hostile replies: each case runs in a child
// process of its own, fed by a scripted server in this one, and the child's peak resident size
// is read when it has ended. Not a test: the figures depend on the machine and the allocator.

#include "nntp/HeaderDownload.h"
#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"
#include "viewer/ArticleFetch.h"

#include "base/Progress.h"
#include "base/TempFile.h"

#include <cstdio>
#include <functional>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

class NoProgress : public IProgress, public IHeaderDownloadView {
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override {}
    void SetStatusText(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
};

class NoDisplay : public IArticleDisplay {
public:
    void ShowFetchError(const std::string&) override {}
    void ArticleFetched() override {}
    void ShowParts(int, const std::vector<CPartEntry>&) override {}
    void ArticleRead() override {}
};

// Sends `total` bytes made of `piece` repeated, after `head`, and `tail` after them.
NntpScript::Step Stream(std::string head, std::string piece, std::size_t total, std::string tail) {
    return [=](NntpServerConnection& c) {
        if (!c.Send(head))
            return;
        std::string block;
        while (block.size() < kMiB)
            block += piece;
        for (std::size_t sent = 0; sent < total; sent += block.size())
            if (!c.Send(block))
                return;
        c.Send(tail);
    };
}

// Runs the client in a child process; returns its peak resident size in MiB, as the child reads
// it when the client is done.
long PeakMiB(NntpScript script, const std::function<void()>& client) {
    ScriptedNntpServer server(std::move(script));
    SetDefaultNntpPort(server.Port());
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        client();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const long peak = usage.ru_maxrss / 1024;
        ::write(fds[1], &peak, sizeof peak);
        ::_exit(0);
    }
    ::close(fds[1]);
    long peak = -1;
    if (::read(fds[0], &peak, sizeof peak) != static_cast<ssize_t>(sizeof peak))
        peak = -1;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return peak;
}

} // namespace

int main() {
    SetNntpTimeouts(5000, 30000);
    TestDir base;
    TestDir temp;
    SetTempRoot(temp.Path());
    const std::string host = "127.0.0.1";
    const std::string group = "local.test";
    CreateGroupDirectory(base.Path(), host, group);
    CreateHeaderTable(GroupDirectory(base.Path(), host, group));
    {
        CDbTable table;
        table.Open(kHeaderTable, HeaderDbPath(GroupDirectory(base.Path(), host, group)));
        table.AddNew();
        table.SetField("NUM", "1");
        table.SetField("MESID", "<1@x>");
        table.Update();
    }
    const std::string greeting = "200 ready\r\n";
    const std::string groupReply = "211 1 1 1 local.test\r\n";

    auto download = [&] {
        HeaderDownloadParams params;
        params.server = host;
        params.group = group;
        params.baseDir = base.Path();
        params.mainDbPath = base / "quillo.mdb";
        NoProgress progress;
        DownloadHeaders(params, progress, progress);
    };
    auto list = [&] {
        CNntpSocket socket;
        socket.SetHost(host);
        socket.Open();
        socket.Connect(host, DefaultNntpPort());
        std::string text;
        socket.ReadResponse(text);
        socket.ListGroups();
    };
    auto article = [&] {
        // Each case fetches the article anew.
        std::remove(CacheFilePath(GroupDirectory(base.Path(), host, group), "<1@x>").c_str());
        NoDisplay display;
        ReadArticle(base.Path(), host, group, "1", display);
    };

    // A baseline: the same client against a tiny whole reply.
    std::printf("baseline header download:           %4ld MiB\n",
                PeakMiB(NntpScript()
                            .Send(greeting)
                            .Reply(groupReply)
                            .Reply("221 1 <1@x>\r\nSubject: s\r\n.\r\n"),
                        download));
    std::printf("200 MiB line without end (HEAD):     %4ld MiB\n",
                PeakMiB(NntpScript()
                            .Send(greeting)
                            .Reply(groupReply)
                            .Await()
                            .Do(Stream("221 1 <1@x>\r\nSubject: ", "s", 200 * kMiB, "")),
                        download));
    std::printf(
        "200 MiB Subject folded in 1 KiB lines: %4ld MiB\n",
        PeakMiB(NntpScript()
                    .Send(greeting)
                    .Reply(groupReply)
                    .Await()
                    .Do(Stream("221 1 <1@x>\r\nSubject: s\r\n",
                               "\t" + std::string(1021, 's') + "\r\n", 200 * kMiB, ".\r\n")),
                download));
    std::printf("LIST of 2,000,000 groups:            %4ld MiB\n",
                PeakMiB(NntpScript().Send(greeting).Await().Do(
                            Stream("215 list\r\n", "some.newsgroup.name.of.usual.length 2 1 y\r\n",
                                   2000000 * 43, ".\r\n")),
                        list));
    std::printf("LIST of 300 MiB of long names:       %4ld MiB\n",
                PeakMiB(NntpScript().Send(greeting).Await().Do(
                            Stream("215 list\r\n", "g." + std::string(990, 'n') + " 2 1 y\r\n",
                                   300 * kMiB, ".\r\n")),
                        list));
    std::printf(
        "ARTICLE of 20,000 parts:             %4ld MiB\n",
        PeakMiB(NntpScript()
                    .Send(greeting)
                    .Reply(groupReply)
                    .Await()
                    .Do(Stream("220 1 <1@x>\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n",
                               "--b\r\nContent-Type: text/plain\r\n\r\npart\r\n", 20000 * 42,
                               "--b--\r\n.\r\n")),
                article));
    std::printf("ARTICLE of 200 MiB body lines:       %4ld MiB\n",
                PeakMiB(NntpScript()
                            .Send(greeting)
                            .Reply(groupReply)
                            .Await()
                            .Do(Stream("220 1 <1@x>\r\nSubject: s\r\n\r\n",
                                       std::string(1000, 'b') + "\r\n", 200 * kMiB, ".\r\n")),
                        article));
    SetTempRoot("");
    return 0;
}
