#include "HeaderTableWriter.h"

#include "store/DbTable.h"
#include "store/HeaderStore.h"

bool WriteHeaderRecords(const std::string& groupDir, const std::vector<HeaderRecord>& records) {
    if (!CreateHeaderTable(groupDir))
        return false;
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(groupDir)) || !table.BeginTrans())
        return false;
    bool ok = true;
    for (const HeaderRecord& r : records) {
        ok = table.AddNew() && ok;
        ok = table.SetField("Num", r.num) && ok;
        ok = table.SetField("MESID", r.mesid) && ok;
        ok = table.SetField("SUB", r.sub) && ok;
        ok = table.SetField("REF", r.ref) && ok;
        ok = table.SetField("READ", r.read) && ok;
        ok = table.Update() && ok;
    }
    ok = table.CommitTrans() && ok;
    table.Close();
    return ok;
}
