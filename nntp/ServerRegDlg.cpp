#include "nntp/ServerRegDlg.h"

#include "nntp/NntpAuth.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/ServerTrust.h"
#include "nntp/TlsEngine.h"
#include "settings/KeychainPasswordStore.h"
#include "store/ServerConnection.h"
#include "ui/DialogUnits.h"
#include "ui/PumpMessages.h"
#include "ui/SjisText.h"
#include "ui/TreeItems.h"
#include "ui/UiSeam.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>

namespace {

// Size of the window and its controls in dialog units.
constexpr int kDialogWidth = 227;
constexpr int kDialogHeight = 197;
constexpr QRect kOkRect(197, 7, 23, 14);
constexpr QRect kCancelRect(175, 7, 23, 14);
constexpr QRect kTreeRect(7, 84, 213, 100);
constexpr QRect kHostRect(27, 8, 116, 14);
constexpr QRect kHostLabelRect(8, 11, 16, 8);
constexpr QRect kSearchRect(152, 7, 23, 14);
constexpr QRect kProgressRect(7, 184, 213, 6);
// How the server is reached, between the host name and the tree.
constexpr QRect kPortLabelRect(8, 28, 22, 8);
constexpr QRect kPortRect(32, 26, 30, 12);
constexpr QRect kSecurityLabelRect(68, 28, 26, 8);
constexpr QRect kSecurityRect(96, 26, 124, 12);
constexpr QRect kUserLabelRect(8, 43, 36, 8);
constexpr QRect kUserRect(46, 41, 64, 12);
constexpr QRect kPasswordLabelRect(114, 43, 36, 8);
constexpr QRect kPasswordRect(152, 41, 68, 12);
constexpr QRect kAllowPlainRect(8, 56, 212, 10);
constexpr QRect kStoreRect(8, 67, 212, 16);

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdTree = 1000;
constexpr int kIdHost = 1001;
constexpr int kIdSearch = 1002;
constexpr int kIdProgress = 1003;
constexpr int kIdPort = 1004;
constexpr int kIdSecurity = 1005;
constexpr int kIdUser = 1006;
constexpr int kIdPassword = 1007;
constexpr int kIdAllowPlain = 1008;
constexpr int kIdStore = 1009;
// Statics carry no control ID of their own.
constexpr const char* kStaticName = "-1";

constexpr qreal kSmallestLabelPoints = 7;

constexpr const char* kRootText = "NewsGroup Control";

// Three full-width letters need more than the label's 16 units in a Japanese face: the label
// may use the blank up to the edit, and a smaller size of the dialog font if even that is short.
void FitLabel(QLabel* label, int right) {
    label->resize(right - label->x(), label->height());
    QFont font = label->font();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > label->width() &&
           font.pointSizeF() > kSmallestLabelPoints)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

QTreeWidgetItem* NewItem(const std::string& text) {
    auto* item = new QTreeWidgetItem;
    SetTreeItemText(item, text);
    item->setCheckState(0, Qt::Unchecked);
    return item;
}

void SetBold(QTreeWidgetItem* item) {
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
}

bool IsBold(const QTreeWidgetItem* item) {
    const QVariant font = item->data(0, Qt::FontRole);
    return font.isValid() && font.value<QFont>().bold();
}

// The progress bar of the window while the configuration is read or written. A step per group
// would repaint the bar a hundred thousand times for a large server, which takes longer than the
// work itself, so a position is shown when it is the resting one (0) or when the last one shown
// has stood for a while.
class CProgressBarShow : public IConfigProgress {
public:
    explicit CProgressBarShow(QProgressBar* bar) : m_bar(bar) { m_shown.start(); }
    // An empty range (no groups or chosen groups) shows an empty bar, not Qt's busy one.
    void SetProgressRange(int low, int high) override {
        m_bar->setRange(low, high > low ? high : low + 1);
    }
    void SetProgressPos(int pos) override {
        if (pos != 0 && m_shown.elapsed() < kProgressStepMs)
            return;
        m_bar->setValue(pos);
        m_shown.restart();
    }
    void PumpMessages() override { ::PumpMessages(); }

private:
    static constexpr qint64 kProgressStepMs = 20;
    QProgressBar* m_bar;
    QElapsedTimer m_shown;
};

// During a search: the settings in the window for the searched host, so nothing is stored
// before "登録"; a certificate the user trusts is kept with them.
class CSearchDirectory : public INntpServerDirectory {
public:
    CSearchDirectory(QWidget* parent, std::string host, NntpServerProfile profile)
        : m_parent(parent), m_host(std::move(host)), m_profile(std::move(profile)) {}
    NntpServerProfile Find(const std::string& host) override {
        return host == m_host ? m_profile : NntpServerProfile{};
    }
    bool TrustCertificate(const std::string& host, int port,
                          const TlsCertificateInfo& certificate) override {
        if (host != m_host || !AskTrustCertificate(m_parent, host, port, certificate))
            return false;
        m_profile.connection.trustedFingerprint = certificate.fingerprint;
        return true;
    }
    const NntpServerProfile& Profile() const { return m_profile; }

private:
    QWidget* m_parent;
    std::string m_host;
    NntpServerProfile m_profile;
};

// Puts a directory in use for one search and the program's back afterwards.
class CDirectoryScope {
public:
    explicit CDirectoryScope(std::shared_ptr<INntpServerDirectory> directory)
        : m_previous(NntpServerDirectory()) {
        SetNntpServerDirectory(std::move(directory));
    }
    ~CDirectoryScope() { SetNntpServerDirectory(m_previous); }
    CDirectoryScope(const CDirectoryScope&) = delete;
    CDirectoryScope& operator=(const CDirectoryScope&) = delete;

private:
    std::shared_ptr<INntpServerDirectory> m_previous;
};

// The combo's entries in the order of NntpSecurity.
constexpr const char* kSecurityTexts[] = {"なし", "STARTTLS", "TLS (接続の最初から)"};

} // namespace

CServerRegDlg::CServerRegDlg(const std::string& settingsPath, const std::string& databasePath,
                             QWidget* parent)
    : QDialog(parent), m_settingsPath(settingsPath), m_databasePath(databasePath) {
    setObjectName(QString::number(IDD));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowTitle(Caption());
    m_passwords = OpenPasswordStore(m_settingsPath);
    CreateControls();
    m_hostEdit->setText(DefaultHost());
}

CServerRegDlg::~CServerRegDlg() = default;

QString CServerRegDlg::Caption() {
    return QString::fromUtf8("ＮＮＴＰサーバー登録");
}

QString CServerRegDlg::DefaultHost() {
    return QStringLiteral("localhost");
}

void CServerRegDlg::CreateControls() {
    auto place = [this](QWidget* w, const QString& name, const QRect& du) {
        w->setObjectName(name);
        w->setGeometry(DialogUnitsToPixels(font(), du));
    };
    auto button = [&](int id, const char* caption, const QRect& du) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        place(b, QString::number(id), du);
        return b;
    };

    // In the order of the window's tab sequence.
    m_okButton = button(kIdOk, "登録", kOkRect);
    m_okButton->setDefault(true);
    m_cancelButton = button(kIdCancel, "中止", kCancelRect);

    m_tree = new QTreeWidget(this);
    place(m_tree, QString::number(kIdTree), kTreeRect);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    // Every row is one line of text; this spares the tree measuring each of a long list.
    m_tree->setUniformRowHeights(true);

    m_hostEdit = new QLineEdit(this);
    place(m_hostEdit, QString::number(kIdHost), kHostRect);

    auto* label = new QLabel(QString::fromUtf8("ＵＲＬ"), this);
    label->setTextFormat(Qt::PlainText);
    place(label, QString::fromLatin1(kStaticName), kHostLabelRect);
    FitLabel(label, m_hostEdit->geometry().left());

    m_searchButton = button(kIdSearch, "検索", kSearchRect);
    CreateConnectionControls();

    m_progress = new QProgressBar(this);
    place(m_progress, QString::number(kIdProgress), kProgressRect);
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);

    setFixedSize(DialogUnitsToPixels(font(), QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    connect(m_okButton, &QPushButton::clicked, this, &CServerRegDlg::OnOK);
    connect(m_cancelButton, &QPushButton::clicked, this, &CServerRegDlg::reject);
    connect(m_searchButton, &QPushButton::clicked, this, &CServerRegDlg::OnSearch);
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { OnTreeItemChanged(item); });
}

void CServerRegDlg::CreateConnectionControls() {
    auto place = [this](QWidget* w, int id, const QRect& du) {
        w->setObjectName(id < 0 ? QString::fromLatin1(kStaticName) : QString::number(id));
        w->setGeometry(DialogUnitsToPixels(font(), du));
    };
    auto label = [&](const char* text, const QRect& du, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setTextFormat(Qt::PlainText);
        place(l, -1, du);
        FitLabel(l, buddy->geometry().left());
        l->setBuddy(buddy);
    };

    m_portEdit = new QLineEdit(this);
    place(m_portEdit, kIdPort, kPortRect);
    m_portEdit->setValidator(new QIntValidator(1, 65535, m_portEdit));
    label("ポート", kPortLabelRect, m_portEdit);

    m_securityCombo = new QComboBox(this);
    place(m_securityCombo, kIdSecurity, kSecurityRect);
    for (const char* text : kSecurityTexts)
        m_securityCombo->addItem(QString::fromUtf8(text));
    label("暗号化", kSecurityLabelRect, m_securityCombo);

    m_userEdit = new QLineEdit(this);
    place(m_userEdit, kIdUser, kUserRect);
    label("ユーザー名", kUserLabelRect, m_userEdit);

    m_passwordEdit = new QLineEdit(this);
    place(m_passwordEdit, kIdPassword, kPasswordRect);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    label("パスワード", kPasswordLabelRect, m_passwordEdit);

    m_allowPlainCheck =
        new QCheckBox(QString::fromUtf8("暗号化しない接続でもパスワードを送る"), this);
    place(m_allowPlainCheck, kIdAllowPlain, kAllowPlainRect);

    m_storeLabel = new QLabel(this);
    place(m_storeLabel, kIdStore, kStoreRect);
    m_storeLabel->setTextFormat(Qt::PlainText);
    m_storeLabel->setWordWrap(true);
    m_storeLabel->setText(QString::fromUtf8("パスワードの保存先: ") +
                          QString::fromUtf8(m_passwords->Description()));

    OnSecurityChanged(0);
    connect(m_securityCombo, &QComboBox::currentIndexChanged, this,
            &CServerRegDlg::OnSecurityChanged);
}

void CServerRegDlg::OnSecurityChanged(int index) {
    const bool tls = index == static_cast<int>(NntpSecurity::Tls);
    // An empty port means the usual one of the chosen encryption.
    m_portEdit->setPlaceholderText(QString::number(tls ? kNntpTlsPort : DefaultNntpPort()));
}

NntpServerProfile CServerRegDlg::FieldProfile() const {
    NntpServerProfile profile;
    ServerConnection& c = profile.connection;
    c.port = m_portEdit->text().toInt();
    c.security = static_cast<NntpSecurity>(std::clamp(m_securityCombo->currentIndex(), 0, 2));
    // Credentials travel as UTF-8 (RFC 4643).
    c.user = m_userEdit->text().trimmed().toStdString();
    c.allowPlainLogin = m_allowPlainCheck->isChecked();
    profile.password = m_passwordEdit->text().toStdString();
    return profile;
}

void CServerRegDlg::LoadConnection(const std::string& host) {
    const ServerConnection c = ReadServerConnection(m_settingsPath, host);
    m_portEdit->setText(c.port > 0 ? QString::number(c.port) : QString());
    m_securityCombo->setCurrentIndex(static_cast<int>(c.security));
    m_userEdit->setText(QString::fromStdString(c.user));
    m_allowPlainCheck->setChecked(c.allowPlainLogin);
    std::string password;
    if (!c.user.empty())
        m_passwords->Read(host, c.user, password);
    m_passwordEdit->setText(QString::fromStdString(password));
}

void CServerRegDlg::OnTreeItemChanged(QTreeWidgetItem* item) {
    if (!item || !m_root || item->parent() != m_root || m_searching)
        return;
    const std::string host = TreeItemText(item);
    m_hostEdit->setText(FromSjis(host));
    LoadConnection(host);
}

void CServerRegDlg::SaveConnections() {
    for (const auto& [host, profile] : m_proven) {
        ServerConnection c = profile.connection;
        // A certificate trusted before stays trusted unless the search trusted another one.
        if (c.trustedFingerprint.empty())
            c.trustedFingerprint = ReadServerConnection(m_settingsPath, host).trustedFingerprint;
        WriteServerConnection(m_settingsPath, host, c);
        if (!c.user.empty() && !profile.password.empty())
            m_passwords->Write(host, c.user, profile.password);
    }
}

QTreeWidgetItem* CServerRegDlg::RootItem() {
    if (!m_root) {
        m_root = NewItem(kRootText);
        m_tree->addTopLevelItem(m_root);
    }
    return m_root;
}

void CServerRegDlg::SetButtonsEnabled(bool ok, bool cancel, bool search) {
    m_okButton->setEnabled(ok);
    m_cancelButton->setEnabled(cancel);
    m_searchButton->setEnabled(search);
}

void CServerRegDlg::AddServerGroup(const std::string& host, const std::string& group) {
    AddServerGroups(host, {group});
}

void CServerRegDlg::AddServerGroups(const std::string& host,
                                    const std::vector<std::string>& groups) {
    if (groups.empty())
        return;
    QTreeWidgetItem* root = RootItem();
    auto [found, serverAdded] = m_servers.try_emplace(host);
    ServerNode& server = found->second;
    if (serverAdded) {
        server.item = NewItem(host);
        root->addChild(server.item);
    }

    QList<QTreeWidgetItem*> added;
    for (const std::string& group : groups) {
        auto [item, groupAdded] = server.groups.try_emplace(group, nullptr);
        if (!groupAdded)
            continue;
        item->second = NewItem(group);
        added.append(item->second);
    }
    if (added.isEmpty())
        return;
    // One insertion for the whole list, with the tree left unpainted meanwhile.
    const bool updates = m_tree->updatesEnabled();
    m_tree->setUpdatesEnabled(false);
    server.item->addChildren(added);
    m_tree->setUpdatesEnabled(updates);
}

QTreeWidgetItem* CServerRegDlg::FindGroupItem(const std::string& host,
                                              const std::string& group) const {
    const auto server = m_servers.find(host);
    if (server == m_servers.end())
        return nullptr;
    const auto item = server->second.groups.find(group);
    return item == server->second.groups.end() ? nullptr : item->second;
}

void CServerRegDlg::OnSearch() {
    // One conversation at a time: the button stays enabled while a search runs.
    if (m_searching)
        return;
    m_searching = true;
    m_okButton->setEnabled(false);
    m_cancelButton->setEnabled(false);

    const std::string host = ToSjis(m_hostEdit->text());
    NntpServerProfile fields = FieldProfile();
    fields.connection.trustedFingerprint =
        ReadServerConnection(m_settingsPath, host).trustedFingerprint;
    auto directory = std::make_shared<CSearchDirectory>(this, host, fields);
    {
        CDirectoryScope scope(directory);
        CNntpSocket socket;
        std::string code;
        std::string message;
        switch (BeginConversation(socket, host, code, message)) {
        case NntpStart::ConnectFailed:
            ShowMessage(this, QString::fromUtf8(kSocketConnectErrorMessage), MsgButtons::Ok,
                        MsgIcon::Warning);
            break;
        case NntpStart::Refused:
            // The code is the server's bytes; the message is shown as Unicode throughout.
            ShowMessage(this,
                        QString::fromUtf8(ConnectionErrorMessage(FromSjis(code).toStdString())),
                        MsgButtons::Ok, MsgIcon::Warning);
            break;
        case NntpStart::Failed:
            ShowMessage(this, QString::fromUtf8(message), MsgButtons::Ok, MsgIcon::Warning);
            break;
        case NntpStart::Cut:
            ShowMessage(this, QString::fromStdString(ReplyFailureMessage(socket)), MsgButtons::Ok,
                        MsgIcon::Warning);
            break;
        case NntpStart::Ready: {
            // A failed LIST leaves the table empty, so nothing is added.
            const bool listed = socket.ListGroups();
            std::vector<std::string> groups;
            const int count = socket.GetGroupCount();
            groups.reserve(static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i)
                groups.push_back(socket.GetGroupName(i));
            AddServerGroups(host, groups);
            EndConversation(socket);
            const std::string access =
                listed ? std::string() : AccessReplyMessage(socket.GetListStatus());
            if (!access.empty())
                ShowMessage(this, QString::fromUtf8(access), MsgButtons::Ok, MsgIcon::Warning);
            else if (!listed && socket.GetFailure() != NntpFailure::None)
                ShowMessage(this, QString::fromStdString(ReplyFailureMessage(socket)),
                            MsgButtons::Ok, MsgIcon::Warning);
            else if (socket.GroupTableFull())
                ShowMessage(this, QString::fromStdString(GroupListFullMessage(count)),
                            MsgButtons::Ok, MsgIcon::Warning);
            m_proven[host] = directory->Profile();
            break;
        }
        }
        m_okButton->setEnabled(true);
        m_cancelButton->setEnabled(true);
        socket.Cleanup();
        RootItem()->setExpanded(true);
    }
    m_searching = false;
}

void CServerRegDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_firstPaint) {
        // Loaded once the window is on screen, so it is visible while the load runs.
        SetButtonsEnabled(false, false, false);
        QTimer::singleShot(0, this, &CServerRegDlg::OnPaint);
    }
}

void CServerRegDlg::OnPaint() {
    if (!m_firstPaint)
        return;
    m_firstPaint = false;
    SetButtonsEnabled(false, false, false);
    QTreeWidgetItem* root = RootItem();

    CProgressBarShow progress(m_progress);
    const std::vector<RegServerItem> servers =
        ReadServerConfig(m_settingsPath, m_databasePath, &progress);
    std::vector<std::string> names;
    for (const RegServerItem& server : servers) {
        names.clear();
        names.reserve(server.groups.size());
        for (const RegGroupItem& group : server.groups)
            names.push_back(group.name);
        AddServerGroups(server.host, names);
        for (const RegGroupItem& group : server.groups) {
            if (!group.bold)
                continue;
            if (QTreeWidgetItem* item = FindGroupItem(server.host, group.name))
                SetBold(item);
        }
    }

    root->setExpanded(true);
    LoadConnection(ToSjis(m_hostEdit->text()));
    SetButtonsEnabled(true, true, true);
}

std::vector<RegServerItem> CServerRegDlg::TreeServers() const {
    std::vector<RegServerItem> servers;
    if (!m_root)
        return servers;
    servers.reserve(static_cast<std::size_t>(m_root->childCount()));
    for (int s = 0; s < m_root->childCount(); ++s) {
        const QTreeWidgetItem* serverItem = m_root->child(s);
        RegServerItem& server = servers.emplace_back();
        server.host = TreeItemText(serverItem);
        server.groups.reserve(static_cast<std::size_t>(serverItem->childCount()));
        for (int g = 0; g < serverItem->childCount(); ++g) {
            const QTreeWidgetItem* groupItem = serverItem->child(g);
            server.groups.push_back({TreeItemText(groupItem),
                                     groupItem->checkState(0) == Qt::Checked, IsBold(groupItem)});
        }
    }
    return servers;
}

void CServerRegDlg::OnOK() {
    CProgressBarShow progress(m_progress);
    ServerConfigWriteReport report;
    WriteServerConfig(TreeServers(), m_settingsPath, m_databasePath, &progress, &report);
    m_skippedGroups = report.skippedGroups;
    // Without the settings file nothing is registered: the user may try again or cancel.
    if (!report.settingsRead || !report.settingsSaved) {
        ShowMessage(this,
                    QString::fromUtf8(report.settingsRead ? kSettingsUnsavedMessage
                                                          : kSettingsUnreadableMessage),
                    MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    SaveConnections();
    // The chosen groups are registered; only this window's lists are incomplete next time.
    if (report.tableFailures > 0)
        ShowMessage(this, QString::fromUtf8(kGroupListUnsavedMessage), MsgButtons::Ok,
                    MsgIcon::Warning);
    accept();
}

void CServerRegDlg::reject() {
    if (!m_cancelButton->isEnabled())
        return;
    QDialog::reject();
}
