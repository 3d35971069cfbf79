#pragma once

#include "base/Progress.h"
#include "mime/ArticleParser.h"
#include "ui/BusyState.h"

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QList>
#include <array>
#include <memory>
#include <string>
#include <vector>

class CHtmlViewCtl;
class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class CHeaderTreeModel;
class CMessageIdIndexList;
class QModelIndex;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

// objectNames of the two controls made at run time (both carry control ID 1).
inline constexpr const char* kHtmlViewName = "HTML";
inline constexpr const char* kMessageIdIndexName = "MessageIdIndex";

// Entries of the selection path (the server/group tree's selected item and its ancestors) and
// of the header path (the header tree's).
inline constexpr int kSelectionPathSize = 20;
inline constexpr int kHeaderPathSize = 256;
// Labels the header path holds: the selected header item and at most 19 of its ancestors.
inline constexpr int kHeaderPathLabels = 20;

// Icons of the header tree: resources 138 to 145, indexes 0 to 7.
inline constexpr int kHeaderIconCount = 8;

// Root item of the server/group tree.
inline constexpr char kServerTreeRoot[] = "NewsGroup";
// A group name is split at "." into at most this many parts for the server/group tree.
inline constexpr int kGroupNameParts = 100;

// The version-information command of the window's menu (string 101, command 16).
inline constexpr char kAboutMenuText[] = "QUILLO のﾊﾞｰｼﾞｮﾝ情報(&A)...";
inline constexpr int kIdmAboutBox = 16;

// The home page of the article view: the start page in the base directory, which shows without
// a network.
inline constexpr char kHomePageFile[] = "quillomb.htm";

// The status line after a registration that left out group names the settings file cannot
// hold; %1 is their number.
inline constexpr char kSkippedGroupsStatus[] = "設定ファイルに書けないグループ名 %1 件を除きました";

// The program's own manual, opened by F1.
inline constexpr char kHelpFileName[] = "quillo-help.htm";

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

    // Hangs the chosen groups of the settings file below the root of the server/group tree.
    void BuildServerTree();
    // Adds the items of one chosen group: the server under the root, then one item per
    // non-empty component of the dotted group name, sharing items already there. The last item
    // (the server itself for an empty group) is made bold, as whole groups are, and expanded.
    QTreeWidgetItem* AddGroupToTree(const std::string& server, const std::string& group);

    // Rebuilds the header tree and the message-ID index from the current group's header
    // database.
    void FillHeaderTree();

    // ---- The busy state: one for every long operation of the window ----
    //
    // A long operation (header download, article fetch, header-tree fill, synchronisation,
    // posting, search, ...) holds a scope for its whole run:
    //
    //     const CBusyScope busy = BeginBusy();
    //     const std::string server = CurrentServer(); // work on copies, never on the members
    //     ...
    //     RunSomething(server, group, Progress());    // core loops pump through IProgress and
    //                                                 // end early once StopRequested()
    //
    // While a scope lives:
    // - the user's input to the window is held back: trees, part list, all buttons and check
    //   boxes, the search text, the article view, keys, shortcuts and the context menu. So the
    //   current server, group, article and part change only when the operation changes them:
    //   selecting a tree item, filling the part list or navigating the view from code works as
    //   usual, and the view keeps painting. Message boxes the operation shows take input;
    // - the commands are off (DisableCommands) and EnableCommands changes nothing;
    // - Escape, the close box and accept()/reject() do not close the window; they make
    //   StopRequested() (and Progress().StopRequested()) true instead.
    // Scopes nest. When the outermost one ends, EnableCommands sets the commands by the rules,
    // and a close asked for meanwhile is carried out.
    [[nodiscard]] CBusyScope BeginBusy() { return m_busy.Begin(); }
    bool IsBusy() const { return m_busy.IsBusy(); }
    // True once the user asked to close the window during the operation running now.
    bool StopRequested() const { return m_busy.StopRequested(); }

    // Enables update, synchronise and post when a group is current, reply when the header tree
    // has a selected item, search when it has any item, and exit. Does nothing while the window
    // is busy; the end of the busy state calls it.
    void EnableCommands();
    // Disables update, post, reply, synchronise, search and exit, in that order; long
    // operations call it first and EnableCommands when done.
    void DisableCommands();

    // Status line: fixed texts of the program, or Shift_JIS data (stored header values among
    // them, whose encoded words are decoded for the screen).
    void SetStatusText(const QString& text);
    void SetStatusTextSjis(const std::string& sjis);
    QString StatusText() const;
    // Progress bar; at rest its range is 0..1 and its position 0.
    void SetProgressRange(int low, int high);
    void SetProgressPos(int pos);
    void ResetProgress();
    // The status line, the progress bar, the message pump and the busy state's stop request, for
    // core operations that report through an interface.
    IProgress& Progress();

    // 1 while the header tree is being emptied or rebuilt by something other than the user, so
    // its selection handler stays out of the way.
    int HeaderTreeClearing() const { return m_clearingHeaderTree; }
    void SetHeaderTreeClearing(int flag) { m_clearingHeaderTree = flag; }
    int ArticleLoading() const { return m_loadingArticle; }
    void SetArticleLoading(int flag) { m_loadingArticle = flag; }

    // The selected item of the server/group tree and its ancestors, root first.
    const std::array<std::string, kSelectionPathSize>& SelectionPath() const { return m_selPath; }
    const std::string& CurrentServer() const { return m_selPath[1]; }
    const std::string& CurrentGroup() const { return m_selPath[2]; }
    // The directory of the current group.
    std::string CurrentGroupDirectory() const;

    // The header tree item a message-ID index entry names (an invalid index when there is none
    // in the view); and back (0 for none).
    QModelIndex HeaderItem(int id) const;
    int HeaderItemId(const QModelIndex& item) const;
    // The header tree (control 1007) and its items.
    QTreeView* HeaderTree() const;
    CHeaderTreeModel* HeaderModel() const;
    // The message-ID index: entries "%d %s ,%d" in Shift_JIS, exactly as the fill made them.
    int MessageIdIndexCount() const;
    std::string MessageIdIndexEntry(int row) const;
    // The row of the message-ID index whose entry describes the record at recordIndex, or -1.
    int MessageIdIndexRow(int recordIndex) const;

    // The labels of the selected header item and its ancestors, root first, the item's own label
    // last; the rest empty. A thread deeper than kHeaderPathLabels keeps the nearest ancestors.
    const std::array<std::string, kHeaderPathSize>& HeaderPath() const { return m_headerPath; }
    // The part list's entries in the order shown, with their Shift_JIS texts, item data and the
    // charset and transfer encoding their files are read with.
    std::vector<CPartEntry> PartListEntries() const;
    // Where the home button takes the article view.
    std::string HomePagePath() const;

    // The current directory at start and the files kept in it.
    const std::string& BaseDirectory() const { return m_baseDir; }
    const std::string& SettingsPath() const { return m_iniPath; }
    const std::string& DatabasePath() const { return m_mdbPath; }

    CHtmlViewCtl* HtmlView() const { return m_htmlView; }
    CMessageIdIndexList* MessageIdIndex() const { return m_messageIdIndex; }

    // Header-tree icon showing image (0-7) normally and selectedImage while selected.
    QIcon HeaderIcon(int image, int selectedImage) const;

    // A rectangle in dialog units in pixels, by the dialog font's average character width and
    // height (a horizontal unit is a quarter of the width, a vertical one an eighth of the
    // height).
    QRect MapDialogRect(const QRect& dialogUnits) const;

    // The window title.
    static QString Title();

    // Where the manual is written before it is opened.
    static std::string HelpFilePath();

    // Closing the window (accept, reject, Escape, the close box) waits for the end of a long
    // operation: see BeginBusy.
    void done(int result) override;

protected:
    void OnOK();
    // Window-menu commands; the version-information command shows the About box.
    void OnSysCommand(int id);
    // Opens the program's manual; whether that worked is not reported.
    void OnHelp();
    // Register/delete servers: the registration window, then the server/group tree again.
    void OnServerReg();
    // Button 1006: downloads the current group's headers, then refills the header tree.
    void OnUpdate();
    // Button 1012: the update, then every article of the group not cached yet is fetched into
    // the cache, its header item selected as it comes; the header tree is filled again.
    void OnSync();
    // Button 1019: selects (and so shows) the next cached article after the shown one whose
    // header lines or first paragraph, as the check boxes choose, hold the search text; past
    // the last article says so, and the next search starts from the first.
    void OnHeaderSearch();
    // A new item of the server/group tree was selected.
    void OnSelchangedServerTree();
    // A new item of the header tree was selected (current is the new item, or an invalid index
    // for none): shows its article, fetching it into the cache first when needed.
    void OnSelchangedHeaderTree(const QModelIndex& current);
    // Shows the file of the part list's selected entry in the article view.
    void ShowSelectedPart();
    // Button 1022: the address book window over the main database.
    void OnAddressBook();
    // The article view's history and home page.
    void OnBack();
    void OnForward();
    void OnHome();
    // Post and reply (buttons 1010 and 1011): the settings check, then the compose window for a
    // new article or for a reply to the selected header quoting the selected part; the header
    // tree is refilled after it closes. Settings (button 1018): the settings window.
    void OnPost();
    void OnReply();
    void OnSettings();

private:
    class CWindowProgress;
    class CHeaderTreeFill;
    class CArticleView;
    class CSyncView;

    void CreateControls();
    // The compose window with the context made for it, then the header tree again.
    void RunCompose(bool reply);
    void OnInitDialog();
    // The header download of OnUpdate; the result of DownloadHeaders (-1: no conversation).
    int UpdateHeaders();
    // The message-ID index's entries, in order.
    std::vector<std::string> MessageIdIndexEntries() const;
    // Makes the header item with this identifier the selected one (nothing when it is gone).
    void SelectHeaderItem(int id);
    void CreateHtmlView();
    void CreateMenuCommands();
    void ResetServerTree();
    // Runs the server registration window and returns how it ended, with the number of groups
    // it left out.
    int RunServerRegistration(int& skippedGroups);
    // A header item identifier not given out before: nonzero, so 0 keeps meaning "no item".
    int NextHeaderItemId();
    // Empties the header tree, with the items of a fill still on their way to it.
    void ClearHeaderTree();
    // Puts the items made by a fill into the header tree and expands those it asked for.
    void AttachHeaderItems();
    // Records the labels of item and its ancestors in the header path.
    void SetHeaderPath(const QModelIndex& item);
    // Lists the parts of the article shown, sorted by text without regard to letter case, and
    // selects the one to show first: "1: Body" for a whole text body (parseResult 1), else the
    // last entry of a text or HTML file.
    void FillPartList(int parseResult, const std::vector<CPartEntry>& entries);
    // The header item's look once its article is in the cache or read.
    void SetHeaderItemFetched(int id);
    void SetHeaderItemRead(int id);

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
    QTreeView* m_headerTree = nullptr;
    CHeaderTreeModel* m_headerModel = nullptr;
    QPlainTextEdit* m_articleEdit = nullptr;
    QListWidget* m_partList = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QFrame* m_htmlFrame = nullptr;
    CMessageIdIndexList* m_messageIdIndex = nullptr;
    QIcon m_icon;
    QAction* m_aboutAction = nullptr;

    CBusyState m_busy;
    std::unique_ptr<CWindowProgress> m_configProgress;
    // A fill builds its threads outside the view and hands them over at its end, since a tree
    // view lays out all its rows again whenever rows were added; the items it expands wait here.
    QList<int> m_pendingExpansions;
    int m_lastHeaderItemId = 0;
};
