// Prints how long the address book window takes to open over 100,000 records: the table read
// alone, and the whole window (fill of the tree, until it is shown). Two shapes: three servers,
// and a thousand servers (a server item per hundred records, so sorting the servers shows).
// Not a test: timings depend on the machine. Runs offscreen unless a platform is chosen.
//
//   bench_address_book [RECORDS] [RUNS]

#include "settings/AddressBookDlg.h"

#include "store/AddressBook.h"
#include "store/DbTable.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of the process so far: on a busy machine it shows the work apart from the waiting.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The table "@Mail" with records of realistic size spread over the servers in turn, one in
// ten marked BOLD and with a few personal fields filled in.
bool MakeBook(const std::string& db, int records, int servers) {
    if (!CreateDatabaseTable("news.example.com", {"name"}, db) ||
        !AddAddressBookEntry("first", "first@example.jp", "news0.example.com", "fj.test", db))
        return false;
    CDbTable table;
    if (!table.Open(kAddressBookLookupName, db) || !table.BeginTrans())
        return false;
    for (int i = 1; i < records; ++i) {
        const std::string server = "news" + std::to_string((i * 7) % servers) + ".example.com";
        const std::string address =
            "poster" + std::to_string(i) + "@host" + std::to_string(i % 97) + ".example.jp";
        if (!AppendAddressBookRecord(table, "Poster " + std::to_string(i), address, server,
                                     "fj.test"))
            return false;
        if (i % 10 == 0) {
            table.MoveTo(i);
            table.Edit();
            table.SetField(AddressBookField::kBold, "YES");
            table.SetField(AddressBookField::kPhone, "03-1234-5678");
            table.Update();
        }
    }
    return table.CommitTrans() == 1;
}

struct Figures {
    double median;
    double low;
    double high;
};

Figures Summary(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front(), times.back()};
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;

    for (int servers : {3, 1000}) {
        TestDir dir;
        const std::string db = dir / "quillo.mdb";
        if (!MakeBook(db, records, servers)) {
            std::fprintf(stderr, "cannot make the address book\n");
            return 1;
        }
        std::vector<double> reads;
        std::vector<double> windows;
        std::vector<double> readCpu;
        std::vector<double> windowCpu;
        int items = 0;
        for (int run = 0; run < runs; ++run) {
            auto start = std::chrono::steady_clock::now();
            double cpu = CpuSeconds();
            {
                std::vector<CAddressServer> list;
                ReadAddressBookList(db, list);
            }
            reads.push_back(SecondsSince(start));
            readCpu.push_back(CpuSeconds() - cpu);

            start = std::chrono::steady_clock::now();
            cpu = CpuSeconds();
            CAddressBookDlg dlg(db);
            dlg.show();
            if (!QTest::qWaitForWindowExposed(&dlg))
                return 1;
            QApplication::processEvents();
            windows.push_back(SecondsSince(start));
            windowCpu.push_back(CpuSeconds() - cpu);
            auto* tree = dlg.findChild<QTreeWidget*>(QStringLiteral("1000"));
            items = tree->topLevelItemCount();
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                items += tree->topLevelItem(i)->childCount();
        }
        const Figures read = Summary(reads);
        const Figures window = Summary(windows);
        std::printf("%d records, %d servers (%d items), %d runs\n", records, servers, items, runs);
        std::printf("  table read:   median %.3f s (%.3f - %.3f), cpu median %.3f s\n", read.median,
                    read.low, read.high, Summary(readCpu).median);
        std::printf("  window shown: median %.3f s (%.3f - %.3f), cpu median %.3f s\n",
                    window.median, window.low, window.high, Summary(windowCpu).median);
    }
    return 0;
}
