// Prints how long the header tree fill of a generated group of 100,000 threaded headers takes,
// with a window that does nothing. Not a test: timings depend on the machine.

#include "HeaderTableWriter.h"
#include "store/HeaderStore.h"
#include "support/TestDir.h"
#include "threads/HeaderThreads.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 100000;
constexpr int kRuns = 3;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Counts what the window would be asked to do.
class CountingSink : public IHeaderTreeSink {
public:
    void SetProgressRange(int) override {}
    void Step(int) override {}
    int InsertItem(int parentId, const std::string&) override {
        if (parentId != 0)
            ++replies;
        return ++items;
    }
    void AppendIndexEntry(const std::string& entry) override { indexBytes += entry.size(); }
    void SetBold(int) override { ++bold; }
    void Expand(int) override {}
    void SetIcon(int, int, int) override {}

    int items = 0;
    int replies = 0;
    int bold = 0;
    std::size_t indexBytes = 0;
};

std::string MessageId(int k) {
    return "<" + std::to_string(20240101000000LL + k * 37LL) + "." + std::to_string(k) +
           "@news.example.co.jp>";
}

} // namespace

int main() {
    // Shift_JIS subjects: 日本語の質問, ニュースリーダーについて, 週末の予定
    const std::vector<std::string> japanese = {
        "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x8e\xbf\x96\xe2",
        "\x83\x6a\x83\x85\x81\x5b\x83\x58\x83\x8a\x81\x5b\x83\x5f\x81\x5b\x82\xc9\x82\xc2\x82\xa2"
        "\x82\xc4",
        "\x8f\x54\x96\x96\x82\xcc\x97\x5c\x92\xe8",
    };

    std::mt19937 random(20240101);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::vector<HeaderRecord> records;
    std::vector<std::string> subjects;
    records.reserve(kRecords);
    subjects.reserve(kRecords);
    for (int k = 0; k < kRecords; ++k) {
        HeaderRecord r;
        r.num = std::to_string(100000 + k);
        r.mesid = MessageId(k);
        const double roll = chance(random);
        if (k == 0 || roll < 0.30) {
            // A new thread.
            if (chance(random) < 0.25)
                subjects.push_back(japanese[k % japanese.size()] + " " + std::to_string(k));
            else
                subjects.push_back("Question about topic number " + std::to_string(k));
        } else if (roll < 0.33) {
            // A reply whose parent never reached this server.
            r.ref = MessageId(kRecords + k);
            subjects.push_back("Re: lost thread " + std::to_string(k));
        } else {
            // A reply to a recent article, as threads are mostly answered within days.
            const int back = 1 + static_cast<int>(chance(random) * std::min(k, 2000));
            const int parent = k - back;
            r.ref = MessageId(parent);
            const std::string& parentSubject = subjects[parent];
            subjects.push_back(parentSubject.rfind("Re: ", 0) == 0 ? parentSubject
                                                                   : "Re: " + parentSubject);
        }
        r.sub = subjects.back();
        if (chance(random) < 0.2)
            r.read = "YES";
        records.push_back(std::move(r));
    }

    TestDir dir;
    auto start = std::chrono::steady_clock::now();
    if (!WriteHeaderRecords(dir.Path(), records)) {
        std::fprintf(stderr, "cannot write the header table\n");
        return 1;
    }
    // Every tenth article is in the cache.
    for (int k = 0; k < kRecords; k += 10)
        WriteWholeFile(CacheFilePath(dir.Path(), records[k].mesid), "Subject: x\r\n\r\nbody\r\n");
    std::printf("generated %d records and %d cache files: %.3f s\n", kRecords, kRecords / 10,
                SecondsSince(start));

    double best = 1e9;
    CountingSink last;
    for (int run = 0; run < kRuns; ++run) {
        CountingSink sink;
        start = std::chrono::steady_clock::now();
        FillHeaderTree(dir.Path(), sink);
        const double seconds = SecondsSince(start);
        std::printf("fill %d: %.3f s\n", run + 1, seconds);
        if (seconds < best)
            best = seconds;
        last = sink;
    }
    std::printf("header tree fill of %d records: best %.3f s (%.2f us per record); %d items, "
                "%d under a parent, %d bold, %zu index bytes\n",
                kRecords, best, best * 1e6 / kRecords, last.items, last.replies, last.bold,
                last.indexBytes);
    return last.items == kRecords ? 0 : 1;
}
