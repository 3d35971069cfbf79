#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// ---- The address book window's view of the table ----

// Mail is read as a buffer of this size holds it, so an item's address is cut at 2,047 bytes.
inline constexpr std::size_t kAddressMailBufferSize = 2048;

// Which record an address item stands for: its position when the list was read, and the Mail
// value it held then. A record is read or written only while it still holds that Mail, so a
// table changed by another program since cannot have the wrong record overwritten.
struct CAddressRef {
    int m_record = -1;
    std::string m_mail;
};

// One address under a server: the text of Mail up to its last comma.
struct CAddressItem {
    std::string m_address;
    CAddressRef m_ref;
    bool m_bold = false; // BOLD is not empty
};

struct CAddressServer {
    std::string m_server;
    std::vector<CAddressItem> m_addresses; // in record order
};

// The address book as the window lists it: one entry per Server value, sorted by its text
// (letters compared without regard to case, then byte by byte), each with its addresses in
// record order. A record whose Mail has no comma gives no address (its server still stands); an
// address met again under the same server refers to the later record and is bold when either
// is. A record without Server is left out. Returns 1 when the table could be read, else 0 (and
// no servers).
int ReadAddressBookList(const std::string& dbPath, std::vector<CAddressServer>& servers);

// The personal fields of one record. The window binds "携帯番号" to FAX and "ＦＡＸ" to 携帯, as
// stored address books hold them.
struct CAddressDetails {
    std::string m_name; // Name: shown, never written by the window
    std::string m_fullName;
    std::string m_postalCode;
    std::string m_address;
    std::string m_building;
    std::string m_phone;
    std::string m_fax;
    std::string m_mobile;
    std::string m_homePage;
    std::string m_remarks[5];
    bool m_bold = false;
    bool operator==(const CAddressDetails&) const = default;
};

// Reads the record ref names. 1 when it was read; 0 when the table cannot be opened or the
// record at that position no longer holds ref's Mail (details are then left empty).
int ReadAddressDetails(const std::string& dbPath, const CAddressRef& ref, CAddressDetails& details);

// Writes BOLD ("YES" or Null), then 名前, 〒, 住所, アパート, 電話番号, FAX, 携帯, HP and REM1 to
// REM5 to the record ref names; Name, Mail, Server and Group are never written. 1 when written; 0
// when the table cannot be opened, the record no longer holds ref's Mail, or the write failed.
int WriteAddressDetails(const std::string& dbPath, const CAddressRef& ref,
                        const CAddressDetails& details);
