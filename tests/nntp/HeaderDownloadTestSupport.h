#pragma once

#include "base/Progress.h"
#include "nntp/HeaderDownload.h"

#include <functional>
#include <string>
#include <vector>

// Shift_JIS (code page 932) of a UTF-8 text, through the C library's iconv rather than the code
// under test.
// text converted by the C library from one character set to another; a marker text on failure.
std::string Iconv(const std::string& text, const char* from, const char* to);
std::string Sjis(const std::string& utf8);

// Rows of a query straight through SQLite, columns joined by "|", NULL as "<null>".
std::vector<std::string> Rows(const std::string& dbPath, const std::string& sql);
// The group's table "Header" in record order: NUM|MESID|FROM|SUB|DATE|MEDIA|REF|READ|HIDE.
std::vector<std::string> HeaderRows(const std::string& groupDir);
// The address book in record order: Name|Mail|Server|Group.
std::vector<std::string> AddressBookRows(const std::string& mainDbPath);

// Records what the download shows, in order: "status:TEXT", "range:LOW-HIGH", "pos:N",
// "pump", "clear-tree", "message:TEXT".
class DownloadRecorder : public IProgress, public IHeaderDownloadView {
public:
    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int pos) override;
    void PumpMessages() override;
    void SetStatusText(const std::string& utf8) override;
    void ClearHeaderTree() override;
    void ShowMessage(const std::string& utf8) override;
    bool StopRequested() const override;

    std::vector<std::string> calls;
    std::vector<std::string> messages;
    // Runs at every PumpMessages, to look at the files while the download is under way.
    std::function<void()> onPump;
    // From this pump on (counting from 1), the user has asked to close the window; 0: never.
    int stopFromPump = 0;
    int pumps = 0;
};
