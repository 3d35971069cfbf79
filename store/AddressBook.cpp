#include "store/AddressBook.h"

#include "store/DbTable.h"

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

} // namespace

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
