// Speed of the synchronisation against a news server on 127.0.0.1 (normally the project's INN,
// loaded by tools/bench-synchronise.sh), directly and through a proxy that delays every piece of
// data by a fixed time each way. The group's headers are downloaded once; then each run
// synchronises into an empty cache (a fresh copy of the header store) and is timed. Every run's
// cache files are compared byte for byte with the first run's, so the depths are shown to give
// the same result.
//
//   bench_synchronise [--port P] [--delay-ms D] [--runs N] [--slow-runs N] [--depth N]... GROUP

#include "nntp/Synchronise.h"

#include "base/Progress.h"
#include "nntp/HeaderDownload.h"
#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/DelayProxy.h"
#include "support/TestDir.h"
#include "threads/HeaderThreads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
const std::string kServer = "127.0.0.1";

class QuietWindow : public IProgress, public IHeaderDownloadView, public ISyncView {
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override {}
    void SelectItem(int) override {}
    void ShowMessage(const std::string& utf8) override {
        std::fprintf(stderr, "message: %s\n", utf8.c_str());
    }
};

class IndexSink : public IHeaderTreeSink {
public:
    void SetProgressRange(int) override {}
    void Step(int) override {}
    int InsertItem(int, const std::string&) override { return ++m_lastId; }
    void AppendIndexEntry(const std::string& entry) override { entries.push_back(entry); }
    void SetBold(int) override {}
    void Expand(int) override {}
    void SetIcon(int, int, int) override {}
    std::vector<std::string> entries;

private:
    int m_lastId = 0;
};

std::map<std::string, std::string> CacheFiles(const std::string& groupDir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(groupDir))
        if (entry.path().extension() == kCacheFileSuffix)
            files[entry.path().filename().string()] = ReadWholeFile(entry.path().string());
    return files;
}

// CPU time of the calling thread (the proxy's threads are not counted).
double ThreadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    double seconds = 0;
    double cpu = 0;
    SyncResult result;
};

Run Synchronise(const std::string& headerDb, const std::string& group,
                const std::vector<std::string>& entries, int depth,
                std::map<std::string, std::string>& reference, bool& identical) {
    TestDir base;
    CreateGroupDirectory(base.Path(), kServer, group);
    const std::string groupDir = GroupDirectory(base.Path(), kServer, group);
    fs::copy_file(headerDb, HeaderDbPath(groupDir));
    QuietWindow window;
    Run run;
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    run.result = SynchroniseArticles({kServer, group, base.Path(), depth}, entries, window, window);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = ThreadCpuSeconds() - cpuStart;
    std::map<std::string, std::string> files = CacheFiles(groupDir);
    if (reference.empty())
        reference = std::move(files);
    else if (files != reference)
        identical = false;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    int port = 119;
    int delayMs = 10;
    int runs = 5;
    int slowRuns = 3;
    std::vector<int> depths;
    std::string group;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (arg == "--delay-ms" && i + 1 < argc)
            delayMs = std::atoi(argv[++i]);
        else if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (arg == "--slow-runs" && i + 1 < argc)
            slowRuns = std::atoi(argv[++i]);
        else if (arg == "--depth" && i + 1 < argc)
            depths.push_back(std::atoi(argv[++i]));
        else
            group = arg;
    }
    if (group.empty()) {
        std::fprintf(stderr,
                     "usage: %s [--port P] [--delay-ms D] [--runs N] [--slow-runs N] "
                     "[--depth N]... GROUP\n",
                     argv[0]);
        return 2;
    }
    if (depths.empty())
        depths = {1, kArticlePipelineDepth};
    SetNntpTimeouts(10000, 60000);
    SetDefaultNntpPort(port);

    // The header store, once.
    TestDir store;
    HeaderDownloadParams params;
    params.server = kServer;
    params.group = group;
    params.baseDir = store.Path();
    params.mainDbPath = store / "quillo.mdb";
    CreateGroupDirectory(store.Path(), kServer, group);
    CreateDatabaseTable("127001", {"GROUP"}, params.mainDbPath);
    QuietWindow window;
    const int headers = DownloadHeaders(params, window, window);
    const std::string groupDir = GroupDirectory(store.Path(), kServer, group);
    IndexSink index;
    FillHeaderTree(groupDir, index);
    std::printf("%s: %d headers, %zu index entries\n", group.c_str(), headers,
                index.entries.size());

    std::map<std::string, std::string> reference;
    bool identical = true;
    for (const bool slow : {false, true}) {
        std::unique_ptr<DelayProxy> proxy;
        if (slow) {
            proxy = std::make_unique<DelayProxy>(port, delayMs);
            SetDefaultNntpPort(proxy->Port());
        }
        const std::string network = slow ? "+" + std::to_string(2 * delayMs) + " ms" : "loopback";
        double oneAtATime = 0;
        for (int depth : depths) {
            const int count = slow && depth == 1 ? slowRuns : runs;
            std::vector<double> times;
            std::vector<double> cpu;
            Run last;
            for (int r = 0; r < count; ++r) {
                last = Synchronise(HeaderDbPath(groupDir), group, index.entries, depth, reference,
                                   identical);
                times.push_back(last.seconds);
                cpu.push_back(last.cpu);
            }
            std::sort(times.begin(), times.end());
            std::sort(cpu.begin(), cpu.end());
            const double median = times[times.size() / 2];
            if (depth == 1)
                oneAtATime = median;
            std::printf(
                "%-9s depth %4d: %d runs, %d fetched, %d failed, median %7.3f s "
                "(%.3f - %.3f), %6.0f articles/s, cpu %.0f us/article",
                network.c_str(), depth, count, last.result.m_fetched, last.result.m_failed, median,
                times.front(), times.back(), median > 0 ? last.result.m_fetched / median : 0.0,
                last.result.m_fetched ? 1e6 * cpu[cpu.size() / 2] / last.result.m_fetched : 0.0);
            if (depth != 1 && oneAtATime > 0)
                std::printf(", %.1f x one at a time", oneAtATime / median);
            std::printf("\n");
            std::fflush(stdout);
        }
        SetDefaultNntpPort(port);
    }
    std::printf("cache files of every run %s\n",
                identical ? "identical byte for byte" : "DIFFER between runs");
    return identical ? 0 : 1;
}
