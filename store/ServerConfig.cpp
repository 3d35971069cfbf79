#include "store/ServerConfig.h"

#include "settings/ProfileFile.h"
#include "store/DbTable.h"

#include <climits>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

namespace {

class CNoProgress : public IConfigProgress {
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override {}
};

// A number as the C library reads one: leading digits, anything else gives 0.
int ToNumber(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

std::string ReadValue(const CProfileFile& file, std::string_view section, std::string_view key,
                      std::string_view def) {
    return CutToBuffer(file.GetString(section, key, def), kConfigValueBufferSize);
}

// A value the settings file gives back exactly as written.
bool CanStoreValue(std::string_view value) {
    return value.size() < kConfigValueBufferSize &&
           value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Builds the registration tree the way the window adds items: a server or group is found by its
// text and added at the end when missing. The maps only spare the linear search.
class CRegTreeBuilder {
public:
    void AddServerGroup(const std::string& host, const std::string& group) {
        auto [server, added] = m_serverIndex.try_emplace(host, m_servers.size());
        if (added) {
            m_servers.push_back({host, {}});
            m_groupIndex.emplace_back();
        }
        auto& groups = m_groupIndex[server->second];
        auto [item, groupAdded] =
            groups.try_emplace(group, m_servers[server->second].groups.size());
        if (groupAdded)
            m_servers[server->second].groups.push_back({group, false, false});
    }

    RegGroupItem* Find(const std::string& host, const std::string& group) {
        auto server = m_serverIndex.find(host);
        if (server == m_serverIndex.end())
            return nullptr;
        auto& groups = m_groupIndex[server->second];
        auto item = groups.find(group);
        if (item == groups.end())
            return nullptr;
        return &m_servers[server->second].groups[item->second];
    }

    std::vector<RegServerItem> Take() { return std::move(m_servers); }

private:
    std::vector<RegServerItem> m_servers;
    std::unordered_map<std::string, std::size_t> m_serverIndex;
    std::vector<std::unordered_map<std::string, std::size_t>> m_groupIndex;
};

// The chosen-group entries "host,group" in key order; an entry without a comma is skipped.
template <typename OnEntry>
void ForEachSelection(const CProfileFile& file, IConfigProgress& progress, bool pump,
                      OnEntry onEntry) {
    const int k = ToNumber(ReadValue(file, kRegSection, kRegSelectedKey, "0"));
    for (int i = 0; i < k; ++i) {
        progress.SetProgressPos(i);
        if (pump)
            progress.PumpMessages();
        const std::string entry = ReadValue(file, kSelectionReadSection, std::to_string(i), "0");
        const std::size_t comma = entry.find(',');
        if (comma == std::string::npos)
            continue;
        onEntry(entry.substr(0, comma), entry.substr(comma + 1));
    }
}

} // namespace

bool IsGroupChosen(const RegGroupItem& group) {
    return group.checked != group.bold;
}

bool CanStoreHost(const std::string& host) {
    return CanStoreValue(host);
}

bool CanStoreGroup(const std::string& host, const std::string& group) {
    return CanStoreValue(host + "," + group);
}

int WriteServerConfig(const std::vector<RegServerItem>& servers, const std::string& iniPath,
                      const std::string& dbPath, IConfigProgress* progress,
                      ServerConfigWriteReport* report) {
    CNoProgress none;
    IConfigProgress& show = progress ? *progress : none;
    ServerConfigWriteReport ignored;
    ServerConfigWriteReport& result = report ? *report : ignored;
    result = ServerConfigWriteReport();

    // The settings file is changed in memory and written once; an unreadable one is not
    // overwritten, since its other sections would be lost.
    CProfileFile ini;
    if (!ini.Load(iniPath)) {
        result.settingsRead = false;
        return 0;
    }

    show.SetProgressRange(0, 100);
    int pos = 0;
    int selected = 0;
    int listed = 0;
    const std::vector<std::string> fields = {kGroupNameField};
    for (const RegServerItem& server : servers) {
        if (!CanStoreHost(server.host)) {
            result.skippedGroups += static_cast<int>(server.groups.size());
            continue;
        }
        ini.SetString(kServerListSection, std::to_string(listed++), server.host);

        DropTable(server.host, dbPath);
        CreateDatabaseTable(server.host, fields, dbPath);

        // One transaction for the whole list: a server may list a hundred thousand groups.
        CDbTable table;
        bool written = table.Open(server.host, dbPath) == 1 && table.BeginTrans() == 1;
        int count = 0;
        for (const RegGroupItem& group : server.groups) {
            show.SetProgressPos(pos);
            pos = (pos + 1) % 100;
            if (!CanStoreGroup(server.host, group.name)) {
                ++result.skippedGroups;
                continue;
            }
            written = written && table.AddNew() && table.SetField(kGroupNameField, group.name) &&
                      table.Update();
            ++count;
            // The counter names only values the file took.
            if (IsGroupChosen(group) &&
                ini.SetString(kSelectionWriteSection, std::to_string(selected),
                              server.host + "," + group.name))
                ++selected;
        }
        written = written && table.CommitTrans() == 1;
        table.Close();
        if (!written)
            ++result.tableFailures;
        ini.SetString(server.host, kServerCountKey, std::to_string(count));
    }
    show.SetProgressPos(0);

    ini.SetString(kRegSection, kRegCountKey, std::to_string(listed));
    ini.SetString(kRegSection, kRegSelectedKey, std::to_string(selected));
    result.settingsSaved = ini.Save(iniPath);
    return result.settingsSaved && result.tableFailures == 0 ? 1 : 0;
}

std::vector<RegServerItem> ReadServerConfig(const std::string& iniPath, const std::string& dbPath,
                                            IConfigProgress* progress) {
    CNoProgress none;
    IConfigProgress& show = progress ? *progress : none;
    CProfileFile ini;
    ini.Load(iniPath);
    CRegTreeBuilder tree;

    const int n = ToNumber(ReadValue(ini, kRegSection, kRegCountKey, "0"));
    for (int s = 0; s < n; ++s) {
        show.PumpMessages();
        const std::string host = ReadValue(ini, kServerListSection, std::to_string(s), "0");
        // One pass over the table gives the same names, in the same order, as reading record
        // by record, without opening the file once per group.
        CDbTable table;
        const int m = table.Open(host, dbPath) ? table.GetRecordCount() : -1;
        show.SetProgressRange(0, m);
        if (m > 0)
            table.MoveTo(0);
        std::string group;
        for (int i = 0; i < m; ++i) {
            show.SetProgressPos(i);
            table.GetField(kGroupNameField, "", group);
            tree.AddServerGroup(host, group);
            table.MoveNext();
        }
        table.Close();
        show.SetProgressPos(0);
    }

    const int k = ToNumber(ReadValue(ini, kRegSection, kRegSelectedKey, "0"));
    show.SetProgressRange(0, k);
    ForEachSelection(ini, show, true, [&](const std::string& host, const std::string& group) {
        if (RegGroupItem* item = tree.Find(host, group))
            item->bold = true;
    });
    show.SetProgressPos(0);
    return tree.Take();
}

std::vector<ChosenGroup> ReadChosenGroups(const std::string& iniPath) {
    CNoProgress none;
    CProfileFile ini;
    ini.Load(iniPath);
    std::vector<ChosenGroup> chosen;
    ForEachSelection(ini, none, false, [&](const std::string& host, const std::string& group) {
        chosen.push_back({host, group});
    });
    return chosen;
}
