// Prints how long a search through 10,000 cached articles of about 3 KB takes when nothing
// matches (every article is read up to the end of its first paragraph), for each choice of the
// check boxes. The files are fresh, so they are read from the page cache. Not a test: timings
// depend on the machine.
//
//   bench_header_search [ARTICLES] [RUNS]

#include "threads/HeaderSearch.h"

#include "base/Progress.h"
#include "store/HeaderStore.h"
#include "support/TestDir.h"
#include "threads/MessageIdIndex.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class NoProgress : public IProgress {
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override {}
};

// A header of about 900 bytes, a first paragraph of about 500 and the rest of the article.
std::string Article(int i) {
    std::string a = "Path: inn.quillo.test!not-for-mail\r\n"
                    "From: Poster " +
                    std::to_string(i) + " <poster" + std::to_string(i) +
                    "@host.example.jp>\r\n"
                    "Newsgroups: fj.bench.search\r\n"
                    "Subject: Benchmark article number " +
                    std::to_string(i) +
                    " about threading\r\n"
                    "Date: Mon, 1 Jun 2026 12:00:00 +0900\r\n"
                    "Message-ID: <" +
                    std::to_string(i) + "@bench.example.jp>\r\n";
    if (i > 0)
        a += "References: <" + std::to_string(i - 1) + "@bench.example.jp>\r\n";
    a += "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
         "Content-Transfer-Encoding: 7bit\r\nMIME-Version: 1.0\r\n"
         "Organization: Quillo benchmark\r\nLines: 40\r\n"
         "Xref: inn.quillo.test fj.bench.search:" +
         std::to_string(i) + "\r\n";
    while (a.size() < 900)
        a += "X-Filler: some header text to bring the header to a usual size\r\n";
    a += "\r\n";
    for (int line = 0; line < 8; ++line)
        a += "The first paragraph speaks of headers, threads and news servers.\r\n";
    a += "\r\n";
    while (a.size() < 3000)
        a += "Later paragraphs are never read by the search at all, only stored.\r\n";
    return a;
}

} // namespace

int main(int argc, char** argv) {
    const int articles = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    TestDir dir;
    std::vector<std::string> entries;
    for (int i = 0; i < articles; ++i) {
        const std::string mesid = "<" + std::to_string(i) + "@bench.example.jp>";
        if (!WriteWholeFile(CacheFilePath(dir.Path(), mesid), Article(i))) {
            std::fprintf(stderr, "cannot write the articles\n");
            return 1;
        }
        entries.push_back(FormatIndexEntry(i, mesid, i + 1));
    }

    struct Boxes {
        const char* name;
        bool header;
        bool body;
    };
    for (const Boxes& boxes :
         {Boxes{"header and body", true, true}, Boxes{"header only", true, false},
          Boxes{"body only", false, true}}) {
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            NoProgress progress;
            const auto start = std::chrono::steady_clock::now();
            const CSearchResult found = SearchArticles(
                entries, 0, {dir.Path(), "no such text", boxes.header, boxes.body}, progress);
            times.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            if (found.m_row != -1) {
                std::fprintf(stderr, "found something\n");
                return 1;
            }
        }
        std::sort(times.begin(), times.end());
        std::printf("%d articles, %s, %d runs: median %.3f s (%.3f - %.3f)\n", articles, boxes.name,
                    runs, times[times.size() / 2], times.front(), times.back());
    }
    return 0;
}
