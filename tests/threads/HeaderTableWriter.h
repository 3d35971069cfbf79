#pragma once

#include <string>
#include <vector>

// One record of a group's table "Header" as the header download leaves it; an empty value is
// stored as Null.
struct HeaderRecord {
    std::string num;
    std::string mesid;
    std::string sub;
    std::string ref;
    std::string read;
};

// Makes the group's header database with its table "Header" and adds the records in order.
// False when any step fails.
bool WriteHeaderRecords(const std::string& groupDir, const std::vector<HeaderRecord>& records);
