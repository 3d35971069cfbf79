#include "store/AddressBook.h"

#include "base/AsciiCase.h"
#include "store/DbTable.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

const std::vector<std::string>& AddressBookFields() {
    using namespace AddressBookField;
    static const std::vector<std::string> fields = {
        kName, kMail,   kServer,   kGroup, kFullName, kPostalCode, kAddress, kBuilding, kPhone,
        kFax,  kMobile, kHomePage, kRem1,  kRem2,     kRem3,       kRem4,    kRem5,     kBold};
    return fields;
}

// One record per address and server: Mail holds both, and this index refuses a second.
CDbIndex MailIndex() {
    CDbIndex index;
    index.m_name = "Mail";
    index.m_fields = {AddressBookField::kMail};
    index.m_primary = true;
    index.m_unique = true;
    index.m_required = true;
    index.m_ignoreNulls = true;
    index.m_clustered = false;
    index.m_foreign = false;
    return index;
}

// A text as a fixed buffer of size bytes holds it: cut at size - 1 bytes and at a zero byte.
std::string_view CutAsBuffer(std::string_view text, std::size_t size) {
    return text.substr(0, std::min(text.find('\0'), size - 1));
}

// Server names in the order of a sorted tree: letters without regard to case, ties by bytes.
bool ServerLess(const std::string& a, const std::string& b) {
    const auto folded = [](char x, char y) {
        return static_cast<unsigned char>(AsciiLower(x)) <
               static_cast<unsigned char>(AsciiLower(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded))
        return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded))
        return false;
    return a < b;
}

// An address met again under one server is one item, where it was first met: it refers to the
// last record met and is bold when any of them is. Addresses are sorted only to find the same
// ones, as a table kept by this program holds each address once per server.
void MergeSameAddresses(std::vector<CAddressItem>& items) {
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return items[a].m_address < items[b].m_address;
    });
    std::vector<bool> merged(items.size(), false);
    bool any = false;
    for (std::size_t k = 0; k < order.size();) {
        std::size_t end = k + 1;
        while (end < order.size() && items[order[end]].m_address == items[order[k]].m_address)
            ++end;
        // order[k] is the first met of the run, order[end - 1] the last.
        CAddressItem& kept = items[order[k]];
        for (std::size_t j = k + 1; j < end; ++j) {
            kept.m_bold = kept.m_bold || items[order[j]].m_bold;
            merged[order[j]] = true;
            any = true;
        }
        if (end - k > 1)
            kept.m_ref = std::move(items[order[end - 1]].m_ref);
        k = end;
    }
    if (!any)
        return;
    std::size_t out = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (merged[i])
            continue;
        if (out != i)
            items[out] = std::move(items[i]);
        ++out;
    }
    items.resize(out);
}

// The record ref names, with the table open and the cursor on it; false when it is gone.
bool MoveToRecord(CDbTable& table, const std::string& dbPath, const CAddressRef& ref) {
    if (ref.m_record < 0 || ref.m_mail.empty())
        return false;
    if (!table.Open(kAddressBookLookupName, dbPath) || !table.MoveTo(ref.m_record))
        return false;
    std::string mail;
    table.GetField(AddressBookField::kMail, "", mail);
    return mail == ref.m_mail;
}

} // namespace

int ReadAddressBookList(const std::string& dbPath, std::vector<CAddressServer>& servers) {
    servers.clear();
    try {
        CDbTable table;
        if (!table.Open(kAddressBookLookupName, dbPath))
            return 0;
        const int count = table.GetRecordCount();
        table.MoveTo(0);
        // Found by name, not by walking the list: the list may hold a server per record.
        std::unordered_map<std::string, std::size_t> serverAt;
        std::string server;
        std::string mail;
        std::string bold;
        for (int i = 0; i < count; ++i, table.MoveNext()) {
            table.GetField(AddressBookField::kServer, "", server);
            if (server.empty())
                continue;
            const auto [found, added] = serverAt.try_emplace(server, servers.size());
            if (added)
                servers.push_back(CAddressServer{server, {}});
            CAddressServer& entry = servers[found->second];

            table.GetField(AddressBookField::kMail, "", mail);
            const std::string_view shown = CutAsBuffer(mail, kAddressMailBufferSize);
            const std::size_t comma = shown.rfind(',');
            if (comma == std::string_view::npos)
                continue;
            table.GetField(AddressBookField::kBold, "", bold);
            entry.m_addresses.push_back(
                CAddressItem{std::string(shown.substr(0, comma)), {i, mail}, !bold.empty()});
        }
        table.Close();
        for (CAddressServer& entry : servers)
            MergeSameAddresses(entry.m_addresses);
        std::stable_sort(servers.begin(), servers.end(),
                         [](const CAddressServer& a, const CAddressServer& b) {
                             return ServerLess(a.m_server, b.m_server);
                         });
        return 1;
    } catch (...) {
        servers.clear();
        return 0;
    }
}

int ReadAddressDetails(const std::string& dbPath, const CAddressRef& ref,
                       CAddressDetails& details) {
    using namespace AddressBookField;
    details = CAddressDetails();
    try {
        CDbTable table;
        if (!MoveToRecord(table, dbPath, ref))
            return 0;
        table.GetField(kName, "", details.m_name);
        table.GetField(kFullName, "", details.m_fullName);
        table.GetField(kPostalCode, "", details.m_postalCode);
        table.GetField(kAddress, "", details.m_address);
        table.GetField(kBuilding, "", details.m_building);
        table.GetField(kPhone, "", details.m_phone);
        table.GetField(kFax, "", details.m_fax);
        table.GetField(kMobile, "", details.m_mobile);
        table.GetField(kHomePage, "", details.m_homePage);
        const char* const remarks[] = {kRem1, kRem2, kRem3, kRem4, kRem5};
        for (int i = 0; i < 5; ++i)
            table.GetField(remarks[i], "", details.m_remarks[i]);
        std::string bold;
        table.GetField(kBold, "", bold);
        details.m_bold = !bold.empty();
        table.Close();
        return 1;
    } catch (...) {
        details = CAddressDetails();
        return 0;
    }
}

int WriteAddressDetails(const std::string& dbPath, const CAddressRef& ref,
                        const CAddressDetails& details) {
    using namespace AddressBookField;
    try {
        CDbTable table;
        if (!MoveToRecord(table, dbPath, ref) || !table.Edit())
            return 0;
        table.SetField(kBold, details.m_bold ? "YES" : "");
        table.SetField(kFullName, details.m_fullName);
        table.SetField(kPostalCode, details.m_postalCode);
        table.SetField(kAddress, details.m_address);
        table.SetField(kBuilding, details.m_building);
        table.SetField(kPhone, details.m_phone);
        table.SetField(kFax, details.m_fax);
        table.SetField(kMobile, details.m_mobile);
        table.SetField(kHomePage, details.m_homePage);
        const char* const remarks[] = {kRem1, kRem2, kRem3, kRem4, kRem5};
        for (int i = 0; i < 5; ++i)
            table.SetField(remarks[i], details.m_remarks[i]);
        const int written = table.Update();
        table.Close();
        return written;
    } catch (...) {
        return 0;
    }
}

int AddAddressBookEntry(const std::string& name, const std::string& address,
                        const std::string& server, const std::string& group,
                        const std::string& dbPath) {
    try {
        CDbTable table;
        if (!table.OpenDatabase(dbPath)) {
            return 0;
        }
        if (!table.OpenTableDef(kAddressBookLookupName)) {
            if (table.CreateTable(kAddressBookTable, AddressBookFields())) {
                table.CreateIndex(MailIndex());
            }
            table.AppendTableDef();
        }
        if (!table.OpenTableDef(kAddressBookLookupName)) {
            table.Close();
            return 0;
        }
        const int added = table.OpenRecordset()
                              ? AppendAddressBookRecord(table, name, address, server, group)
                              : 0;
        table.Close();
        return added;
    } catch (...) {
        return 0;
    }
}

int AppendAddressBookRecord(CDbTable& table, const std::string& name, const std::string& address,
                            const std::string& server, const std::string& group) {
    if (!table.AddNew())
        return 0;
    table.SetField(AddressBookField::kName, name);
    table.SetField(AddressBookField::kMail, address + "," + server);
    table.SetField(AddressBookField::kServer, server);
    table.SetField(AddressBookField::kGroup, group);
    return table.Update();
}
