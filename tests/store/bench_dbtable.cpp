// Prints how long a scan of 100,000 records takes when one field of each is read, the way
// lookups work. Not a test: timings depend on the machine.

#include "store/DbTable.h"
#include "support/TestDir.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 100000;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    TestDir dir;
    const std::string db = dir / "header.mdb";
    const std::vector<std::string> fields = {"Num",       "Date", "From", "Subject", "Ref",
                                             "MessageID", "Type", "Flag", "Extra"};
    if (!CreateDatabaseTable("Header", fields, db)) {
        std::fprintf(stderr, "cannot create the table\n");
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    {
        CDbTable table;
        if (!table.Open("Header", db) || !table.BeginTrans()) {
            std::fprintf(stderr, "cannot open the table\n");
            return 1;
        }
        for (int i = 0; i < kRecords; ++i) {
            std::string n = std::to_string(i);
            table.AddNew();
            table.SetField("Num", n);
            table.SetField("Subject", "Subject of article " + n);
            table.SetField("MessageID", "<" + n + "@example.com>");
            table.Update();
        }
        table.CommitTrans();
    }
    double fill = SecondsSince(start);

    start = std::chrono::steady_clock::now();
    CDbTable table;
    table.Open("HEADER", db);
    const int records = table.GetRecordCount();
    table.MoveTo(0);
    std::size_t bytes = 0;
    std::string value;
    for (int i = 0; i < records; ++i) {
        table.GetField("MESSAGEID", "", value);
        bytes += value.size();
        table.MoveNext();
    }
    double scan = SecondsSince(start);

    std::printf("filled %d records in one transaction: %.3f s\n", kRecords, fill);
    std::printf("opened, counted and scanned %d records reading one field each: %.3f s "
                "(%.2f us per record, %zu bytes read)\n",
                records, scan, scan * 1e6 / records, bytes);
    return records == kRecords ? 0 : 1;
}
