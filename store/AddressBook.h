#pragma once

#include <string>

// The address book: table "@Mail" of the main database, one record per poster's address and
// server, filled as headers are downloaded.
//
// Field names are stored as the data is, in Shift_JIS; the Japanese ones are spelled here
// byte by byte, so that every reader of the table uses these constants.
namespace AddressBookField {
inline constexpr char kName[] = "Name";
inline constexpr char kMail[] = "Mail"; // address + "," + server
inline constexpr char kServer[] = "Server";
inline constexpr char kGroup[] = "Group";               // where first seen on that server
inline constexpr char kFullName[] = "\x96\xbc\x91\x4f"; // 名前
inline constexpr char kPostalCode[] = "\x81\xa7";       // 〒
inline constexpr char kAddress[] = "\x8f\x5a\x8f\x8a";  // 住所
inline constexpr char kBuilding[] = "\x83\x41\x83\x70\x81\x5b\x83\x67"; // アパート
inline constexpr char kPhone[] = "\x93\x64\x98\x62\x94\xd4\x8d\x86";    // 電話番号
inline constexpr char kFax[] = "FAX";
inline constexpr char kMobile[] = "\x8c\x67\x91\xd1"; // 携帯
inline constexpr char kHomePage[] = "HP";
inline constexpr char kRem1[] = "REM1";
inline constexpr char kRem2[] = "REM2";
inline constexpr char kRem3[] = "REM3";
inline constexpr char kRem4[] = "REM4";
inline constexpr char kRem5[] = "REM5";
inline constexpr char kBold[] = "BOLD"; // "YES" when marked
} // namespace AddressBookField

// The name the table is created under, and the one it is looked for under.
inline constexpr char kAddressBookTable[] = "@Mail";
inline constexpr char kAddressBookLookupName[] = "@MAIL";

// Records a poster seen on server in group in the main database at dbPath, creating the table
// with its index on first use. Silent: 1 when a record was added; 0 when the database cannot
// be opened or the address is recorded for that server already.
int AddAddressBookEntry(const std::string& name, const std::string& address,
                        const std::string& server, const std::string& group,
                        const std::string& dbPath);

class CDbTable;

// Adds the poster's record to the open address book table: Mail is the address, a comma and
// the server, so one address is kept once per server. 1 when added, 0 when the table refused
// it (the address is recorded for that server already) or could not write.
int AppendAddressBookRecord(CDbTable& table, const std::string& name, const std::string& address,
                            const std::string& server, const std::string& group);
