#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <array>
#include <string>

class CHtmlViewCtl;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// objectNames of the two controls made at run time (both carry control ID 1).
inline constexpr const char* kHtmlViewName = "HTML";
inline constexpr const char* kMessageIdIndexName = "MessageIdIndex";

// Entries of the selection path (the server/group tree's selected item and its ancestors) and
// of the header path (the header tree's).
inline constexpr int kSelectionPathSize = 20;
inline constexpr int kHeaderPathSize = 256;

// Icons of the header tree: resources 138 to 145, indexes 0 to 7.
inline constexpr int kHeaderIconCount = 8;

// The main window: a fixed-size dialog with the server/group tree on the left and the header
// tree, article view and command buttons on the right. Runs modally; closing it ends the
// program.
class CReaderDlg : public QDialog {
    Q_OBJECT

public:
    // Dialog template number, also the window's objectName.
    enum { IDD = 102 };
    // Control IDs; each control's objectName is its ID in decimal.
    enum ControlId {
        IDC_EXIT = 1,
        IDC_SERVER_TREE = 1000,
        IDC_ARTICLE_EDIT = 1001,
        IDC_SERVER_REG = 1002,
        IDC_PROGRESS = 1003,
        IDC_UPDATE = 1006,
        IDC_HEADER_TREE = 1007,
        IDC_LATEST_ONLY = 1009,
        IDC_POST = 1010,
        IDC_REPLY = 1011,
        IDC_SYNC = 1012,
        IDC_SEARCH_TEXT = 1013,
        IDC_SETTINGS = 1018,
        IDC_SEARCH = 1019,
        IDC_SEARCH_HEADER = 1020,
        IDC_SEARCH_BODY = 1021,
        IDC_ADDRESS_BOOK = 1022,
        IDC_PART_LIST = 1027,
        IDC_BACK = 1028,
        IDC_FORWARD = 1029,
        IDC_HOME = 1030,
        IDC_STATUS = 1032,
    };

    explicit CReaderDlg(QWidget* parent = nullptr);
    ~CReaderDlg() override;

    // Enables update, synchronise and post when a group is current, reply when the header tree
    // has a selected item, search when it has any item, and exit.
    void EnableCommands();
    // Disables update, post, reply, synchronise, search and exit, in that order; long
    // operations call it first and EnableCommands when done.
    void DisableCommands();

    // The current directory at start and the files kept in it.
    const std::string& BaseDirectory() const { return m_baseDir; }
    const std::string& SettingsPath() const { return m_iniPath; }
    const std::string& DatabasePath() const { return m_mdbPath; }

    CHtmlViewCtl* HtmlView() const { return m_htmlView; }
    QListWidget* MessageIdIndex() const { return m_messageIdIndex; }

    // Header-tree icon showing image (0-7) normally and selectedImage while selected.
    QIcon HeaderIcon(int image, int selectedImage) const;

    // A rectangle in dialog units in pixels, by the dialog font's average character width and
    // height (a horizontal unit is a quarter of the width, a vertical one an eighth of the
    // height).
    QRect MapDialogRect(const QRect& dialogUnits) const;

    // The window title.
    static QString Title();

protected:
    void OnOK();

private:
    void CreateControls();
    void OnInitDialog();
    void CreateHtmlView();

    CHtmlViewCtl* m_htmlView = nullptr;
    int m_clearingHeaderTree = 0; // 1 while the header tree is emptied on a group change
    int m_loadingArticle = 0;     // 1 while an article is being shown
    QList<QIcon> m_iconList;      // images of the header tree
    std::array<std::string, kSelectionPathSize> m_selPath;
    std::array<std::string, kHeaderPathSize> m_headerPath;
    std::string m_baseDir;
    std::string m_iniPath;
    std::string m_mdbPath;

    QPushButton* m_btnServerReg = nullptr;
    QPushButton* m_btnUpdate = nullptr;
    QPushButton* m_btnSync = nullptr;
    QCheckBox* m_chkLatestOnly = nullptr;
    QPushButton* m_btnPost = nullptr;
    QPushButton* m_btnReply = nullptr;
    QPushButton* m_btnAddressBook = nullptr;
    QPushButton* m_btnSettings = nullptr;
    QPushButton* m_btnExit = nullptr;
    QTreeWidget* m_serverTree = nullptr;
    QCheckBox* m_chkSearchHeader = nullptr;
    QCheckBox* m_chkSearchBody = nullptr;
    QLineEdit* m_searchText = nullptr;
    QPushButton* m_btnSearch = nullptr;
    QPushButton* m_btnHome = nullptr;
    QPushButton* m_btnBack = nullptr;
    QPushButton* m_btnForward = nullptr;
    QTreeWidget* m_headerTree = nullptr;
    QPlainTextEdit* m_articleEdit = nullptr;
    QListWidget* m_partList = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QFrame* m_htmlFrame = nullptr;
    QListWidget* m_messageIdIndex = nullptr;
    QIcon m_icon;
};
