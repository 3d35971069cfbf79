#pragma once

#include "store/AddressBook.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The address book window: the posters of the table "@Mail" as a tree of servers and their
// addresses, and the personal fields of the selected address, which "保存" writes back.
class CAddressBookDlg : public QDialog {
    Q_OBJECT

public:
    // Dialog template number, also the window's objectName.
    enum { IDD = 137 };
    enum ControlId {
        IDC_CLOSE = 1,
        IDC_TREE = 1000,
        IDC_NICKNAME = 1001,
        IDC_SAVE = 1002,
        IDC_BOLD = 1009,
        IDC_FULL_NAME = 1013,
        IDC_POSTAL_CODE = 1014,
        IDC_ADDRESS = 1015,
        IDC_BUILDING = 1016,
        IDC_PHONE = 1017,
        IDC_MOBILE_LABELLED = 1023, // beside "携帯番号"; holds FAX
        IDC_FAX_LABELLED = 1024,    // beside "ＦＡＸ"; holds 携帯
        IDC_HOME_PAGE = 1025,
        IDC_REM1 = 1026,
        IDC_REM5 = 1030,
    };

    explicit CAddressBookDlg(const std::string& databasePath, QWidget* parent = nullptr);
    ~CAddressBookDlg() override;

    static QString Caption();

    // Rebuilds the tree from the table: servers sorted, each expanded, with its addresses in
    // record order; an address whose record is marked BOLD is bold.
    void FillAddressTree();
    // The tree's selection changed: an address item shows its record; a server item (or none)
    // empties the fields. "保存" is enabled only while an address item's record is shown.
    void OnSelchangedTree();
    // "保存": writes the fields to the shown record, then fills the tree again.
    void OnSave();

private:
    void CreateControls();
    void ShowDetails(const CAddressDetails& details);
    CAddressDetails ControlDetails() const;

    std::string m_databasePath;
    QTreeWidget* m_tree = nullptr;
    QLineEdit* m_nickname = nullptr;
    QCheckBox* m_bold = nullptr;
    QLineEdit* m_fullName = nullptr;
    QLineEdit* m_postalCode = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_building = nullptr;
    QLineEdit* m_phone = nullptr;
    QLineEdit* m_fax = nullptr;
    QLineEdit* m_mobile = nullptr;
    QLineEdit* m_homePage = nullptr;
    QLineEdit* m_remarks[5] = {};
    QPushButton* m_save = nullptr;
    QPushButton* m_close = nullptr;
    // The record whose fields are shown; no record while a server item or nothing is selected.
    CAddressRef m_shown;
};
