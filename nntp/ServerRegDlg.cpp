#include "nntp/ServerRegDlg.h"

#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "ui/DialogUnits.h"
#include "ui/PumpMessages.h"
#include "ui/SjisText.h"
#include "ui/TreeItems.h"
#include "ui/UiSeam.h"

#include <QElapsedTimer>
#include <QFontMetrics>
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
constexpr int kDialogHeight = 139;
constexpr QRect kOkRect(197, 7, 23, 14);
constexpr QRect kCancelRect(175, 7, 23, 14);
constexpr QRect kTreeRect(7, 26, 213, 100);
constexpr QRect kHostRect(27, 8, 116, 14);
constexpr QRect kHostLabelRect(8, 11, 16, 8);
constexpr QRect kSearchRect(152, 7, 23, 14);
constexpr QRect kProgressRect(7, 126, 213, 6);

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdTree = 1000;
constexpr int kIdHost = 1001;
constexpr int kIdSearch = 1002;
constexpr int kIdProgress = 1003;
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

} // namespace

CServerRegDlg::CServerRegDlg(const std::string& settingsPath, const std::string& databasePath,
                             QWidget* parent)
    : QDialog(parent), m_settingsPath(settingsPath), m_databasePath(databasePath) {
    setObjectName(QString::number(IDD));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowTitle(Caption());
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

    m_progress = new QProgressBar(this);
    place(m_progress, QString::number(kIdProgress), kProgressRect);
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);

    setFixedSize(DialogUnitsToPixels(font(), QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    connect(m_okButton, &QPushButton::clicked, this, &CServerRegDlg::OnOK);
    connect(m_cancelButton, &QPushButton::clicked, this, &CServerRegDlg::reject);
    connect(m_searchButton, &QPushButton::clicked, this, &CServerRegDlg::OnSearch);
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
    {
        CNntpSocket socket;
        std::string code;
        switch (BeginConversation(socket, host, code)) {
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
            if (!listed && socket.GetFailure() != NntpFailure::None)
                ShowMessage(this, QString::fromStdString(ReplyFailureMessage(socket)),
                            MsgButtons::Ok, MsgIcon::Warning);
            else if (socket.GroupTableFull())
                ShowMessage(this, QString::fromStdString(GroupListFullMessage(count)),
                            MsgButtons::Ok, MsgIcon::Warning);
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
