#pragma once

#include "nntp/NntpConversation.h"
#include "store/ServerConfig.h"

#include <QDialog>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class IPasswordStore;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTreeWidget;
class QTreeWidgetItem;

// Shown by "登録" when it could not write the configuration. Without the settings file the
// window stays open.
inline constexpr char kSettingsUnreadableMessage[] =
    "設定ファイルを読み込めません。登録は保存されていません。";
inline constexpr char kSettingsUnsavedMessage[] =
    "設定ファイルに書き込めません。登録は保存されていません。";
inline constexpr char kGroupListUnsavedMessage[] =
    "グループ一覧をデータベースに書き込めませんでした。";

// The window in which the user registers news servers and chooses groups: a search lists a
// server's groups under it, ticks choose or un-choose groups (bold marks a group chosen
// before), and "登録" writes the whole tree to the settings file and the main database.
// exec() gives Accepted (1) after "登録" and Rejected (0) after "中止".
//
// Below the host name the user gives how the server is reached: port (empty: the usual one),
// encryption, user name and password, and whether the password may travel unencrypted. A
// search uses them; the settings of a server whose search succeeded are stored with "登録"
// (the password in the password store, whose kind the window names), so a wrong password
// stores nothing. Choosing a server in the tree shows its stored settings.
class CServerRegDlg : public QDialog {
    Q_OBJECT

public:
    // Dialog template number, also the window's objectName.
    enum { IDD = 129 };

    CServerRegDlg(const std::string& settingsPath, const std::string& databasePath,
                  QWidget* parent = nullptr);
    ~CServerRegDlg() override;

    static QString Caption();
    // The host name the edit holds when the window opens.
    static QString DefaultHost();

    // Finds or adds the server under the root item and the group under the server, both at
    // the end when new; new items are unchecked and not bold.
    void AddServerGroup(const std::string& host, const std::string& group);

    // Handler of "検索": lists the groups of the host in the edit under that host.
    void OnSearch();
    // Loads the configuration into the tree; does something only the first time, which comes
    // just after the window is first shown.
    void OnPaint();
    // Handler of "登録": writes the configuration from the tree, then closes with Accepted. When
    // the settings file cannot be read or saved, a message box says so and the window stays
    // open; when a server's group list cannot be stored, a message box says so before it
    // closes.
    void OnOK();
    // Groups the last "登録" left out because the settings file cannot hold their names.
    int SkippedGroupCount() const { return m_skippedGroups; }

    // The tree as the configuration describes it: servers in tree order, each with its groups
    // in tree order and their check and bold marks.
    std::vector<RegServerItem> TreeServers() const;

    // The connection fields as settings (the trusted certificate left empty) and the password.
    NntpServerProfile FieldProfile() const;
    // Shows the stored settings and password of host in the fields.
    void LoadConnection(const std::string& host);

    // "中止" and Escape; ignored while "中止" is disabled, so a search or load in progress is
    // never cut off by closing the window under it.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A server item with its groups by name, so placing a group does not search the children.
    struct ServerNode {
        QTreeWidgetItem* item = nullptr;
        std::unordered_map<std::string, QTreeWidgetItem*> groups;
    };

    void CreateControls();
    QTreeWidgetItem* RootItem();
    // AddServerGroup for a whole list, added to the tree in one go. A list without a new group
    // adds nothing, not even the server.
    void AddServerGroups(const std::string& host, const std::vector<std::string>& groups);
    QTreeWidgetItem* FindGroupItem(const std::string& host, const std::string& group) const;
    void SetButtonsEnabled(bool ok, bool cancel, bool search);
    void CreateConnectionControls();
    void OnSecurityChanged(int index);
    void OnTreeItemChanged(QTreeWidgetItem* item);
    void SaveConnections();

    std::string m_settingsPath;
    std::string m_databasePath;
    bool m_firstPaint = true;
    bool m_searching = false;
    int m_skippedGroups = 0;

    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_searchButton = nullptr;
    QTreeWidget* m_tree = nullptr;
    QLineEdit* m_hostEdit = nullptr;
    QProgressBar* m_progress = nullptr;
    QTreeWidgetItem* m_root = nullptr;
    std::unordered_map<std::string, ServerNode> m_servers;

    QLineEdit* m_portEdit = nullptr;
    QComboBox* m_securityCombo = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QCheckBox* m_allowPlainCheck = nullptr;
    QLabel* m_storeLabel = nullptr;
    std::shared_ptr<IPasswordStore> m_passwords;
    // Settings that a search has proved, stored by "登録".
    std::map<std::string, NntpServerProfile> m_proven;
};
