#pragma once

#include "base/Progress.h"

#include <cstddef>
#include <string>
#include <vector>

// The registered servers, their group lists and the chosen groups, kept in the settings file
// (quillo.ini) and the main database (quillo.mdb, one table of group names per server).
//
// The registration window is the only writer and rewrites everything from its tree; it and the
// main window read. The tree is described here without widgets: servers in tree order, each with
// its groups in tree order and their check and bold marks.

inline constexpr char kRegSection[] = "NNTPREG10";
inline constexpr char kRegCountKey[] = "Count";
inline constexpr char kRegSelectedKey[] = "Selected";
inline constexpr char kServerListSection[] = "ServerList";
// The writer and the readers spell the selection section differently; section names compare
// without regard to case, so both name one section.
inline constexpr char kSelectionWriteSection[] = "SELECTION";
inline constexpr char kSelectionReadSection[] = "Selection";
inline constexpr char kServerCountKey[] = "Count";
inline constexpr char kGroupNameField[] = "name";
// Values of the settings file are read into buffers of this size (cut at 1,023 bytes).
inline constexpr std::size_t kConfigValueBufferSize = 1024;

struct RegGroupItem {
    std::string name;
    bool checked = false; // the item's check box
    bool bold = false;    // chosen before, as read from the configuration
};

struct RegServerItem {
    std::string host;
    std::vector<RegGroupItem> groups;
};

// A chosen group as the main window reads it.
struct ChosenGroup {
    std::string server;
    std::string group;
    bool operator==(const ChosenGroup&) const = default;
};

// What the window shows while the configuration is read or written.
using IConfigProgress = IProgress;

// Bold marks a group chosen before, so checking a bold group un-chooses it and checking a plain
// group chooses it.
bool IsGroupChosen(const RegGroupItem& group);

// Whether the settings file can hold the server's name as a value: no CR, LF or NUL, and short
// enough to be read back whole.
bool CanStoreHost(const std::string& host);
// Whether it can hold "host,group" as a value, by the same rules.
bool CanStoreGroup(const std::string& host, const std::string& group);

// What writing the configuration came to.
struct ServerConfigWriteReport {
    bool settingsRead = true;  // false: the settings file could not be read; nothing was written
    bool settingsSaved = true; // false: the settings file could not be written
    int tableFailures = 0;     // server tables that could not be rebuilt whole
    // Groups left out because the settings file cannot hold their names (CanStoreGroup), or
    // their server's (CanStoreHost): neither listed nor chosen, nor counted.
    int skippedGroups = 0;
};

// Writes the whole configuration from the tree: "ServerList", each server's table rebuilt with one
// record per group in tree order, each server's "Count", the chosen groups as "SELECTION" keys
// "0", "1", ... ("host,group"), then "NNTPREG10" "Count" and "Selected". Keys beyond the new
// counts are left in place. Names the settings file cannot hold are left out (and counted in
// the report), never cut. 1 when everything was written; 0 when the settings file could not be
// read (then nothing is written) or saved, or a server's table could not be rebuilt.
int WriteServerConfig(const std::vector<RegServerItem>& servers, const std::string& iniPath,
                      const std::string& dbPath, IConfigProgress* progress = nullptr,
                      ServerConfigWriteReport* report = nullptr);

// The tree of the registration window: every stored group of every registered server (a server
// appears once it has a group; names repeated in the files are merged), with the chosen groups
// bold and nothing checked.
std::vector<RegServerItem> ReadServerConfig(const std::string& iniPath, const std::string& dbPath,
                                            IConfigProgress* progress = nullptr);

// The chosen groups in the order of their keys; entries without a comma are skipped, and the
// group part keeps any later commas.
std::vector<ChosenGroup> ReadChosenGroups(const std::string& iniPath);
