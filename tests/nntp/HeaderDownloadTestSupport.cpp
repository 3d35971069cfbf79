#include "HeaderDownloadTestSupport.h"

#include <iconv.h>
#include <sqlite3.h>

std::string Iconv(const std::string& text, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no iconv>";
    std::string in = text;
    std::string out(in.size() * 2 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1))
        return "<not convertible>";
    out.resize(out.size() - outLeft);
    return out;
}

std::string Sjis(const std::string& utf8) {
    return Iconv(utf8, "UTF-8", "CP932");
}

std::vector<std::string> Rows(const std::string& dbPath, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* handle = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                row += i ? "|" : "";
                if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
                    row += "<null>";
                } else {
                    const char* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, i));
                    row.append(bytes ? bytes : "", sqlite3_column_bytes(stmt, i));
                }
            }
            rows.push_back(row);
        }
    } else {
        rows.push_back(std::string("<error: ") + sqlite3_errmsg(handle) + ">");
    }
    sqlite3_finalize(stmt);
    sqlite3_close(handle);
    return rows;
}

std::vector<std::string> HeaderRows(const std::string& groupDir) {
    return Rows(groupDir + "/header.mdb", "SELECT Num, MESID, \"FROM\", SUB, DATE, MEDIA, REF, "
                                          "READ, HIDE FROM Header ORDER BY rowid");
}

std::vector<std::string> AddressBookRows(const std::string& mainDbPath) {
    return Rows(mainDbPath, "SELECT Name, Mail, Server, \"Group\" FROM \"@Mail\" ORDER BY rowid");
}

void DownloadRecorder::SetProgressRange(int low, int high) {
    calls.push_back("range:" + std::to_string(low) + "-" + std::to_string(high));
}

void DownloadRecorder::SetProgressPos(int pos) {
    calls.push_back("pos:" + std::to_string(pos));
}

void DownloadRecorder::PumpMessages() {
    calls.push_back("pump");
    ++pumps;
    if (onPump)
        onPump();
}

bool DownloadRecorder::StopRequested() const {
    return stopFromPump > 0 && pumps >= stopFromPump;
}

void DownloadRecorder::SetStatusText(const std::string& utf8) {
    calls.push_back("status:" + utf8);
}

void DownloadRecorder::ClearHeaderTree() {
    calls.push_back("clear-tree");
}

void DownloadRecorder::ShowMessage(const std::string& utf8) {
    calls.push_back("message:" + utf8);
    messages.push_back(utf8);
}
