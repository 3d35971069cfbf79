#include "app/ReaderDlg.h"

#include <QElapsedTimer>

#include "app/AboutDlg.h"
#include "app/HeaderTreeModel.h"
#include "app/MessageIdIndexList.h"
#include "base/SplitString.h"
#include "base/TempFile.h"
#include "nntp/HeaderDownload.h"
#include "nntp/NntpConversation.h"
#include "nntp/ServerRegDlg.h"
#include "nntp/ServerTrust.h"
#include "nntp/Synchronise.h"
#include "settings/AddressBookDlg.h"
#include "store/HeaderStore.h"
#include "store/ServerConfig.h"
#include "threads/HeaderSearch.h"
#include "threads/HeaderThreads.h"
#include "threads/MessageIdIndex.h"
#include "ui/CharsetText.h"
#include "ui/DialogUnits.h"
#include "ui/PumpMessages.h"
#include "ui/SjisText.h"
#include "ui/TreeItems.h"
#include "ui/UiSeam.h"
#include "viewer/ArticleFetch.h"
#include "viewer/HtmlViewCtl.h"

#include <QAction>
#include <QByteArray>
#include <QCheckBox>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

// The icons live in the quillo_ui library, whose resources must be asked for by name. Outside
// any namespace, as the resource's initialiser is declared in the global one.
static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

// Size of the dialog in dialog units: the controls' extent plus the left margin on the right.
constexpr int kDialogWidth = 367;
constexpr int kDialogHeight = 263;

// Pixels between the bottom of the header tree and the top of the article view.
constexpr int kHtmlViewGap = 2;

// The manual inside the program.
constexpr const char* kHelpResource = ":/help/quillo-help.htm";

// Item data of the part list: the entry's kind of file, its Shift_JIS text, and how its file's
// text is read (charset, transfer encoding).
constexpr int kPartDataRole = Qt::UserRole;
constexpr int kPartBytesRole = Qt::UserRole + 1;
constexpr int kPartCharsetRole = Qt::UserRole + 2;
constexpr int kPartTransferRole = Qt::UserRole + 3;

void MakeBold(QTreeWidgetItem* item) {
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
}

// The order of a sorted list box: by the bytes of the text, letters compared without regard to
// case, so "10 HtmlText10" comes before "2 HtmlText2".
bool PartTextLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto fold = [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
        };
        return fold(x) < fold(y);
    });
}

std::string CurrentDirectory() {
    std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
    return cwd ? std::string(cwd.get()) : std::string();
}

QIcon IconFromResource(int id) {
    QIcon icon;
    for (int size : {16, 32, 48, 256}) {
        const QString file = QStringLiteral(":/icons/%1-%2.png").arg(id).arg(size);
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon;
}

} // namespace

// What long core operations see of the window while they work. A core loop reports every step
// (a header download tens of thousands a second); showing each of them and handling events each
// time would cost the window many times what the loop itself costs. So between two pumps at most
// one status text and one position are shown every kProgressIntervalMs, the latest of each, and
// events are handled as often. A new range is shown at once, and so is everything after it until
// the next pump: the texts and positions that close an operation are always shown exactly.
class CReaderDlg::CWindowProgress final : public IProgress {
public:
    static constexpr qint64 kProgressIntervalMs = 30;

    explicit CWindowProgress(CReaderDlg& dlg) : m_dlg(dlg) {}
    void SetProgressRange(int low, int high) override {
        Flush();
        m_dlg.SetProgressRange(low, high);
        m_eager = true;
    }
    void SetProgressPos(int pos) override {
        m_pendingPos = pos;
        if (m_eager || Due())
            Flush();
    }
    void PumpMessages() override {
        m_eager = false;
        if (m_sincePump.isValid() && m_sincePump.elapsed() < kProgressIntervalMs)
            return;
        Flush();
        ::PumpMessages();
        m_sincePump.start();
        m_sinceShown.start();
    }
    void SetStatusText(const std::string& utf8) override {
        m_pendingText = utf8;
        m_hasText = true;
        if (m_eager || Due())
            Flush();
    }
    bool StopRequested() const override { return m_dlg.StopRequested(); }

    // The window showed a text or position of its own: what waits here is older.
    void DropText() { m_hasText = false; }
    void DropPos() { m_pendingPos.reset(); }

    // Shows what is still waiting.
    void Flush() {
        if (m_hasText) {
            m_hasText = false;
            m_dlg.m_status->setText(QString::fromStdString(m_pendingText));
        }
        if (m_pendingPos) {
            m_dlg.m_progress->setValue(*m_pendingPos);
            m_pendingPos.reset();
        }
        if (!m_sinceShown.isValid())
            m_sinceShown.start();
    }

private:
    bool Due() const {
        return !m_sinceShown.isValid() || m_sinceShown.elapsed() >= kProgressIntervalMs;
    }

    CReaderDlg& m_dlg;
    QElapsedTimer m_sinceShown;
    QElapsedTimer m_sincePump;
    bool m_eager = true;
    std::string m_pendingText;
    bool m_hasText = false;
    std::optional<int> m_pendingPos;
};

// The header tree and the message-ID index as the fill builds them. The tree's items wait
// outside the view until the fill ends (AttachHeaderItems).
class CReaderDlg::CHeaderTreeFill final : public IHeaderTreeSink {
public:
    explicit CHeaderTreeFill(CReaderDlg& dlg) : m_dlg(dlg) {}

    void SetProgressRange(int n) override {
        m_dlg.SetProgressRange(0, n);
        m_last = n;
        m_everyStep = n <= kEveryStepUpTo;
        m_dlg.m_headerModel->Reserve(n);
        m_dlg.m_messageIdIndex->Entries()->Reserve(n);
    }

    void Step(int i) override {
        // The bar repaints itself at once whenever its drawn length changes, which costs far
        // more than a record. A small group moves it record by record; a larger one whenever
        // events are handled, a few dozen times a second, which looks the same.
        if (m_everyStep || i == m_last)
            m_dlg.SetProgressPos(i);
        // Handling events for every record would cost more than the fill itself. Even reading
        // the clock costs a good part of a record, so it is read every few records only.
        if (m_sincePump.isValid()) {
            if (++m_stepsUnclocked < kStepsPerClock)
                return;
            m_stepsUnclocked = 0;
            if (m_sincePump.elapsed() < kPumpIntervalMs)
                return;
        }
        if (!m_everyStep)
            m_dlg.SetProgressPos(i);
        m_dlg.m_messageIdIndex->Entries()->Flush();
        ::PumpMessages();
        m_sincePump.start();
    }

    bool StopRequested() override { return m_dlg.StopRequested(); }

    int InsertItem(int parentId, const std::string& label) override {
        const int id = m_dlg.NextHeaderItemId();
        // The parent may be gone when a group change emptied the tree while events were
        // handled; the item then starts a thread of its own.
        m_dlg.m_headerModel->Insert(parentId, id, label);
        return id;
    }

    void AppendIndexEntry(const std::string& entry) override {
        CMessageIdIndexModel* entries = m_dlg.m_messageIdIndex->Entries();
        entries->Append(entry);
        // The rest reach the list whenever events are handled, and at the end.
        if (entries->rowCount() == 0)
            entries->Flush();
    }

    void SetBold(int id) override { m_dlg.m_headerModel->SetBold(id, true); }

    void Expand(int id) override {
        // Only an item in the view can be expanded; the fill's own items get there at its end.
        if (m_dlg.m_headerModel->IsShown(id))
            m_dlg.m_headerTree->setExpanded(m_dlg.m_headerModel->IndexOf(id), true);
        else if (m_dlg.m_headerModel->Contains(id))
            m_dlg.m_pendingExpansions.append(id);
    }

    void SetIcon(int id, int image, int selectedImage) override {
        m_dlg.m_headerModel->SetImages(id, image, selectedImage);
    }

private:
    static constexpr qint64 kPumpIntervalMs = 15;
    static constexpr int kEveryStepUpTo = 100;
    static constexpr int kStepsPerClock = 32;

    CReaderDlg& m_dlg;
    int m_last = 0;
    bool m_everyStep = true;
    int m_stepsUnclocked = 0;
    QElapsedTimer m_sincePump;
};

// What the article being shown does to the window. The tree item is held by its identifier, as
// the tree may be rebuilt while the fetch lets events through.
class CReaderDlg::CArticleView final : public IArticleDisplay {
public:
    CArticleView(CReaderDlg& dlg, int itemId) : m_dlg(dlg), m_itemId(itemId) {}

    void ShowFetchError(const std::string& message) override {
        ShowMessage(&m_dlg, QString::fromStdString(message), MsgButtons::Ok, MsgIcon::Warning);
    }
    void ArticleFetched() override { m_dlg.SetHeaderItemFetched(m_itemId); }
    void ShowParts(int parseResult, const std::vector<CPartEntry>& entries) override {
        m_dlg.FillPartList(parseResult, entries);
        m_dlg.ShowSelectedPart();
    }
    void ArticleRead() override { m_dlg.SetHeaderItemRead(m_itemId); }
    void ShowStatus(const std::string& utf8) override {
        m_dlg.SetStatusText(QString::fromStdString(utf8));
    }

private:
    CReaderDlg& m_dlg;
    int m_itemId;
};

// What the synchronisation does to the window: it selects the item of the article being
// fetched (the tree's selection handler stays out of the way meanwhile) and shows its messages.
class CReaderDlg::CSyncView final : public ISyncView {
public:
    explicit CSyncView(CReaderDlg& dlg) : m_dlg(dlg) {}
    void SelectItem(int itemId) override { m_dlg.SelectHeaderItem(itemId); }
    void ShowMessage(const std::string& utf8) override {
        ::ShowMessage(&m_dlg, QString::fromStdString(utf8), MsgButtons::Ok, MsgIcon::Warning);
    }

private:
    CReaderDlg& m_dlg;
};

CReaderDlg::CReaderDlg(QWidget* parent)
    : QDialog(parent), m_busy(
                           this, [this] { DisableCommands(); },
                           [this] {
                               m_configProgress->Flush();
                               EnableCommands();
                           },
                           [this](int result) { QDialog::done(result); }),
      m_configProgress(std::make_unique<CWindowProgress>(*this)) {
    InitResources();
    setObjectName(QString::number(IDD));
    // A fixed-size window with a caption, a system menu and a minimize box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(::DialogFont());
    setWindowTitle(Title());
    m_icon = IconFromResource(128);

    CreateControls();
    OnInitDialog();
}

CReaderDlg::~CReaderDlg() {
    // The article view goes first, before the rest of the window it lives in.
    delete m_htmlView;
    m_htmlView = nullptr;
}

QString CReaderDlg::Title() {
    return QStringLiteral("Quillo Version 1.01 Linux Edition");
}

QRect CReaderDlg::MapDialogRect(const QRect& du) const {
    return DialogUnitsToPixels(font(), du);
}

void CReaderDlg::CreateControls() {
    auto place = [this](QWidget* w, int id, int x, int y, int cx, int cy) {
        w->setObjectName(QString::number(id));
        w->setGeometry(MapDialogRect(QRect(x, y, cx, cy)));
    };
    auto button = [&](int id, const char* caption, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        place(b, id, x, y, cx, cy);
        return b;
    };
    auto checkBox = [&](int id, const char* caption, int x, int y, int cx, int cy) {
        auto* c = new QCheckBox(QString::fromUtf8(caption), this);
        place(c, id, x, y, cx, cy);
        return c;
    };

    // In the order of the window's tab sequence.
    m_btnServerReg = button(IDC_SERVER_REG, "ニュースサーバー登録削除", 7, 0, 97, 12);
    m_btnUpdate = button(IDC_UPDATE, "更新", 106, 0, 24, 13);
    m_btnSync = button(IDC_SYNC, "同期", 130, 0, 24, 13);
    m_chkLatestOnly = checkBox(IDC_LATEST_ONLY, "最新情報のみ", 155, 2, 58, 10);
    m_btnPost = button(IDC_POST, "投稿", 219, 0, 24, 13);
    m_btnReply = button(IDC_REPLY, "返信", 245, 0, 24, 13);
    m_btnAddressBook = button(IDC_ADDRESS_BOOK, "住所録", 281, 0, 24, 13);
    m_btnSettings = button(IDC_SETTINGS, "環境", 305, 0, 24, 13);
    m_btnExit = button(IDC_EXIT, "終了", 331, 0, 29, 13);
    m_btnExit->setDefault(true);

    m_serverTree = new QTreeWidget(this);
    place(m_serverTree, IDC_SERVER_TREE, 7, 13, 97, 199);
    m_serverTree->setHeaderHidden(true);
    m_serverTree->setRootIsDecorated(false);
    m_serverTree->setDragDropMode(QAbstractItemView::NoDragDrop);

    m_chkSearchHeader = checkBox(IDC_SEARCH_HEADER, "ヘッダー", 107, 17, 39, 10);
    m_chkSearchBody = checkBox(IDC_SEARCH_BODY, "本文", 147, 17, 29, 10);
    m_searchText = new QLineEdit(this);
    place(m_searchText, IDC_SEARCH_TEXT, 175, 15, 68, 14);
    m_btnSearch = button(IDC_SEARCH, "検索", 246, 16, 26, 13);
    m_btnHome = button(IDC_HOME, "ﾎｰﾑ", 289, 16, 23, 13);
    m_btnBack = button(IDC_BACK, "戻る", 313, 16, 23, 13);
    m_btnForward = button(IDC_FORWARD, "進む", 337, 16, 23, 13);

    m_headerTree = new QTreeView(this);
    place(m_headerTree, IDC_HEADER_TREE, 107, 31, 253, 86);
    m_headerModel = new CHeaderTreeModel(m_headerTree);
    m_headerTree->setModel(m_headerModel);
    m_headerTree->setHeaderHidden(true);
    m_headerTree->setRootIsDecorated(true);
    m_headerTree->setUniformRowHeights(true);
    m_headerTree->setDragDropMode(QAbstractItemView::NoDragDrop);

    m_articleEdit = new QPlainTextEdit(this);
    place(m_articleEdit, IDC_ARTICLE_EDIT, 107, 126, 253, 102);
    m_articleEdit->setReadOnly(true);

    m_partList = new QListWidget(this);
    place(m_partList, IDC_PART_LIST, 7, 212, 97, 30);

    m_status = new QLabel(this);
    place(m_status, IDC_STATUS, 7, 243, 353, 9);
    // Subjects and group names are shown as they are, never as markup.
    m_status->setTextFormat(Qt::PlainText);
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    m_progress = new QProgressBar(this);
    place(m_progress, IDC_PROGRESS, 7, 253, 353, 7);
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);

    setFixedSize(MapDialogRect(QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    connect(m_btnExit, &QPushButton::clicked, this, &CReaderDlg::OnOK);
    connect(m_btnServerReg, &QPushButton::clicked, this, &CReaderDlg::OnServerReg);
    connect(m_btnUpdate, &QPushButton::clicked, this, &CReaderDlg::OnUpdate);
    connect(m_btnSync, &QPushButton::clicked, this, &CReaderDlg::OnSync);
    connect(m_btnSearch, &QPushButton::clicked, this, &CReaderDlg::OnHeaderSearch);
    connect(m_serverTree, &QTreeWidget::itemSelectionChanged, this,
            &CReaderDlg::OnSelchangedServerTree);
    connect(m_headerTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnSelchangedHeaderTree(current); });
    connect(m_partList, &QListWidget::itemSelectionChanged, this, &CReaderDlg::ShowSelectedPart);
    connect(m_btnAddressBook, &QPushButton::clicked, this, &CReaderDlg::OnAddressBook);
    connect(m_btnBack, &QPushButton::clicked, this, &CReaderDlg::OnBack);
    connect(m_btnForward, &QPushButton::clicked, this, &CReaderDlg::OnForward);
    connect(m_btnHome, &QPushButton::clicked, this, &CReaderDlg::OnHome);
    connect(m_btnPost, &QPushButton::clicked, this, &CReaderDlg::OnPost);
    connect(m_btnReply, &QPushButton::clicked, this, &CReaderDlg::OnReply);
    connect(m_btnSettings, &QPushButton::clicked, this, &CReaderDlg::OnSettings);
}

void CReaderDlg::OnInitDialog() {
    CreateMenuCommands();
    CreateHtmlView();

    setWindowIcon(m_icon);

    // Header tree images: resources 138 to 145 at 16 x 16, on a white tree.
    m_iconList.clear();
    for (int id = 138; id < 138 + kHeaderIconCount; ++id)
        m_iconList.append(IconFromResource(id));
    QPalette palette = m_headerTree->palette();
    palette.setColor(QPalette::Base, Qt::white);
    m_headerTree->setPalette(palette);
    m_headerTree->setIconSize(QSize(16, 16));
    m_headerModel->SetIconSource(
        [this](int image, int selectedImage) { return HeaderIcon(image, selectedImage); });

    // Storage for the message-ID index, never shown.
    m_messageIdIndex = new CMessageIdIndexList(this);
    m_messageIdIndex->setObjectName(QString::fromUtf8(kMessageIdIndexName));
    m_messageIdIndex->setGeometry(QRect());
    m_messageIdIndex->hide();

    m_baseDir = CurrentDirectory();
    m_iniPath = m_baseDir + "/quillo.ini";
    m_mdbPath = m_baseDir + "/quillo.mdb";
    // Every conversation learns from here how to reach its server and whom to ask about a
    // certificate.
    SetNntpServerDirectory(MakeServerDirectory(m_iniPath));

    ResetServerTree();

    DisableCommands();

    m_chkSearchHeader->setChecked(true);
    m_chkSearchBody->setChecked(true);
    m_btnServerReg->setEnabled(true);
    m_chkLatestOnly->setChecked(true);
}

void CReaderDlg::CreateHtmlView() {
    // The view takes the place of edit 1001, reaching up to the header tree.
    QRect rect = m_articleEdit->geometry();
    rect.setTop(m_headerTree->geometry().bottom() + 1 + kHtmlViewGap);

    m_htmlFrame = new QFrame(this);
    m_htmlFrame->setObjectName(QStringLiteral("HTMLFrame"));
    m_htmlFrame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_htmlFrame->setGeometry(rect);
    auto* layout = new QVBoxLayout(m_htmlFrame);
    layout->setContentsMargins(1, 1, 1, 1);

    m_htmlView = new CHtmlViewCtl(m_htmlFrame);
    m_htmlView->setObjectName(QString::fromUtf8(kHtmlViewName));
    layout->addWidget(m_htmlView);
    m_htmlFrame->show();
    m_articleEdit->hide();

    m_htmlView->NavigateFile(CurrentDirectory() + "/quillomb.htm");
}

QIcon CReaderDlg::HeaderIcon(int image, int selectedImage) const {
    QIcon icon;
    auto add = [&](int index, QIcon::Mode mode) {
        if (index >= 0 && index < m_iconList.size())
            icon.addPixmap(m_iconList[index].pixmap(QSize(16, 16)), mode);
    };
    add(image, QIcon::Normal);
    add(selectedImage, QIcon::Selected);
    return icon;
}

void CReaderDlg::EnableCommands() {
    if (IsBusy())
        return;
    const bool group = !m_selPath[2].empty();
    m_btnUpdate->setEnabled(group);
    m_btnSync->setEnabled(group);
    m_btnPost->setEnabled(group);
    // The current item is the selected one: a click makes an item current before it becomes
    // selected, and the selection handler enables the commands in between.
    m_btnReply->setEnabled(m_headerTree->currentIndex().isValid());
    m_btnSearch->setEnabled(m_headerModel->rowCount() > 0);
    m_btnExit->setEnabled(true);
}

void CReaderDlg::DisableCommands() {
    m_btnUpdate->setEnabled(false);
    m_btnPost->setEnabled(false);
    m_btnReply->setEnabled(false);
    m_btnSync->setEnabled(false);
    m_btnSearch->setEnabled(false);
    m_btnExit->setEnabled(false);
}

void CReaderDlg::OnOK() {
    accept();
}

void CReaderDlg::done(int result) {
    if (!m_busy.DeferClose(result))
        QDialog::done(result);
}

void CReaderDlg::CreateMenuCommands() {
    // The window menu belongs to the window manager here, so the version information is
    // offered in the window's context menu and by its Alt key.
    const QString aboutText = QString::fromUtf8(kAboutMenuText);
    if (!aboutText.isEmpty()) {
        m_aboutAction = new QAction(aboutText, this);
        m_aboutAction->setObjectName(QString::number(kIdmAboutBox));
        m_aboutAction->setData(kIdmAboutBox);
        m_aboutAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
        m_aboutAction->setShortcutContext(Qt::WindowShortcut);
        connect(m_aboutAction, &QAction::triggered, this,
                [this] { OnSysCommand(m_aboutAction->data().toInt()); });
        addAction(m_aboutAction);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, &CReaderDlg::OnHelp);
}

void CReaderDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == kIdmAboutBox) {
        CAboutDlg about(m_icon, this);
        about.exec();
    }
}

std::string CReaderDlg::HelpFilePath() {
    const std::string dir = PrivateTempDirectory();
    return dir.empty() ? std::string() : dir + "/" + kHelpFileName;
}

void CReaderDlg::OnHelp() {
    // The manual travels inside the program and is put where a browser can open it.
    const std::string path = HelpFilePath();
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    QFile manual(QString::fromLatin1(kHelpResource));
    if (!path.empty() && manual.open(QIODevice::ReadOnly)) {
        QSaveFile out(file);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(manual.readAll());
            out.commit();
        }
    }
    Ui().StartHelp(file);
}

void CReaderDlg::ResetServerTree() {
    // Rebuilding is no selection by the user: the current group and the header tree stay.
    const QSignalBlocker quiet(m_serverTree);
    m_serverTree->clear();
    QTreeWidgetItem* root = FindOrInsertTreeChild(m_serverTree, kServerTreeRoot, nullptr);
    BuildServerTree();
    root->setExpanded(true);
    m_serverTree->viewport()->update();
}

void CReaderDlg::BuildServerTree() {
    for (const ChosenGroup& chosen : ReadChosenGroups(m_iniPath))
        AddGroupToTree(chosen.server, chosen.group);
}

QTreeWidgetItem* CReaderDlg::AddGroupToTree(const std::string& server, const std::string& group) {
    QTreeWidgetItem* root = m_serverTree->topLevelItem(0);
    if (!root)
        return nullptr;
    QTreeWidgetItem* item = FindOrInsertTreeChild(m_serverTree, server, root);

    std::vector<std::string> parts;
    const int count = std::min(SplitString(group, parts, kGroupNameParts, '.'), kGroupNameParts);
    for (int i = 0; i < count; ++i) {
        if (parts[i].empty())
            continue;
        QTreeWidgetItem* child = FindOrInsertTreeChild(m_serverTree, parts[i], item);
        item->setExpanded(true);
        item = child;
    }
    MakeBold(item);
    item->setExpanded(true);
    return item;
}

int CReaderDlg::RunServerRegistration(int& skippedGroups) {
    CServerRegDlg dlg(m_iniPath, m_mdbPath, this);
    const int result = dlg.exec();
    skippedGroups = dlg.SkippedGroupCount();
    return result;
}

void CReaderDlg::OnServerReg() {
    int skipped = 0;
    if (RunServerRegistration(skipped) != 1)
        return;
    ResetServerTree();
    SetStatusText(skipped > 0 ? QString::fromUtf8(kSkippedGroupsStatus).arg(skipped) : QString());
}

void CReaderDlg::OnSelchangedServerTree() {
    const int previous = m_clearingHeaderTree;
    m_clearingHeaderTree = 1;
    ClearHeaderTree();
    m_clearingHeaderTree = previous;

    const QList<QTreeWidgetItem*> selected = m_serverTree->selectedItems();
    QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.front();
    // Only bold items are whole groups (or a server chosen as a whole).
    if (!item || !item->font(0).bold())
        return;

    std::vector<QTreeWidgetItem*> chain;
    for (QTreeWidgetItem* p = item; p; p = p->parent())
        chain.push_back(p);
    std::reverse(chain.begin(), chain.end());

    // Items 2 onwards are the components of one dotted group name, taken whole however deep it
    // goes: a shorter name would be another group.
    std::string group;
    for (std::size_t i = 2; i < chain.size(); ++i) {
        const std::string part = TreeItemText(chain[i]);
        if (part.empty())
            continue;
        if (!group.empty())
            group += '.';
        group += part;
    }
    m_selPath.fill(std::string());
    for (std::size_t i = 0; i < 2 && i < chain.size(); ++i)
        m_selPath[i] = TreeItemText(chain[i]);
    m_selPath[2] = group;

    if (!group.empty()) {
        EnableCommands();
        CreateGroupDirectory(m_baseDir, m_selPath[1], group);
    } else {
        DisableCommands();
    }
    FillHeaderTree();
}

std::string CReaderDlg::CurrentGroupDirectory() const {
    return GroupDirectory(m_baseDir, m_selPath[1], m_selPath[2]);
}

int CReaderDlg::NextHeaderItemId() {
    // Never reused while the window lives, so an identifier from an earlier fill finds
    // nothing rather than somebody else's item.
    m_lastHeaderItemId = m_lastHeaderItemId == INT_MAX ? 1 : m_lastHeaderItemId + 1;
    return m_lastHeaderItemId;
}

void CReaderDlg::FillHeaderTree() {
    {
        const CBusyScope busy = BeginBusy();
        ClearHeaderTree();
        m_messageIdIndex->clear();

        CHeaderTreeFill fill(*this);
        ::FillHeaderTree(CurrentGroupDirectory(), fill);
        m_messageIdIndex->Entries()->Flush();
        AttachHeaderItems();
    }
    ResetProgress();
}

void CReaderDlg::ClearHeaderTree() {
    m_pendingExpansions.clear();
    m_headerModel->Clear();
}

void CReaderDlg::AttachHeaderItems() {
    // One insertion for the whole fill: the view lays its rows out once, not once per item.
    m_headerModel->ShowPending();
    for (int id : std::as_const(m_pendingExpansions))
        m_headerTree->setExpanded(m_headerModel->IndexOf(id), true);
    m_pendingExpansions.clear();
    m_headerTree->viewport()->update();
}

QModelIndex CReaderDlg::HeaderItem(int id) const {
    return m_headerModel->IndexOf(id);
}

int CReaderDlg::HeaderItemId(const QModelIndex& item) const {
    return item.model() == m_headerModel ? CHeaderTreeModel::IdOf(item) : 0;
}

QTreeView* CReaderDlg::HeaderTree() const {
    return m_headerTree;
}

CHeaderTreeModel* CReaderDlg::HeaderModel() const {
    return m_headerModel;
}

int CReaderDlg::MessageIdIndexCount() const {
    return m_messageIdIndex->count();
}

std::string CReaderDlg::MessageIdIndexEntry(int row) const {
    return m_messageIdIndex->Entries()->Entry(row);
}

void CReaderDlg::SetStatusText(const QString& text) {
    m_configProgress->DropText();
    m_status->setText(text);
}

void CReaderDlg::SetStatusTextSjis(const std::string& sjis) {
    m_configProgress->DropText();
    m_status->setText(FromSjisHeader(sjis));
}

QString CReaderDlg::StatusText() const {
    return m_status->text();
}

void CReaderDlg::SetProgressRange(int low, int high) {
    m_configProgress->DropPos();
    m_progress->setRange(low, high);
}

void CReaderDlg::SetProgressPos(int pos) {
    m_configProgress->DropPos();
    m_progress->setValue(pos);
}

void CReaderDlg::ResetProgress() {
    m_configProgress->DropPos();
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
}

IProgress& CReaderDlg::Progress() {
    return *m_configProgress;
}

void CReaderDlg::OnSelchangedHeaderTree(const QModelIndex& current) {
    if (m_clearingHeaderTree)
        return;
    if (!current.isValid())
        return;
    // The fetch lets events through, and with them further selections; they wait for nothing
    // and show nothing.
    if (m_loadingArticle)
        return;
    m_loadingArticle = 1;
    {
        const CBusyScope busy = BeginBusy();
        SetHeaderPath(current);
        const int itemId = HeaderItemId(current);
        const std::string label = TreeItemText(current);
        const std::size_t blank = label.find(' ');
        if (blank != std::string::npos) {
            CArticleView view(*this, itemId);
            // The server and group are taken as copies: the fetch waits for the server.
            const CArticleReadResult read = ReadArticle(m_baseDir, CurrentServer(), CurrentGroup(),
                                                        label.substr(0, blank), view);
            // A later search goes on from the record of the article shown.
            const int row = MessageIdIndexRow(read.m_recordIndex);
            if (row >= 0)
                m_messageIdIndex->setCurrentRow(row);
        }
    }
    m_loadingArticle = 0;
}

void CReaderDlg::SetHeaderPath(const QModelIndex& item) {
    std::vector<QModelIndex> chain;
    for (QModelIndex p = item; p.isValid(); p = p.parent())
        chain.push_back(p);
    // Deeper threads keep the item and its nearest ancestors: the top of the thread drops out.
    if (chain.size() > static_cast<std::size_t>(kHeaderPathLabels))
        chain.resize(kHeaderPathLabels);
    std::reverse(chain.begin(), chain.end());
    for (std::size_t i = 0; i < m_headerPath.size(); ++i)
        m_headerPath[i] = i < chain.size() ? TreeItemText(chain[i]) : std::string();
}

void CReaderDlg::FillPartList(int parseResult, const std::vector<CPartEntry>& entries) {
    std::vector<CPartEntry> sorted = entries;
    std::stable_sort(sorted.begin(), sorted.end(), [](const CPartEntry& a, const CPartEntry& b) {
        return PartTextLess(a.m_text, b.m_text);
    });

    // The caller shows the chosen entry once; filling and choosing show nothing by themselves.
    const QSignalBlocker quiet(m_partList);
    m_partList->setSortingEnabled(false);
    m_partList->clear();
    for (const CPartEntry& entry : sorted) {
        auto* row = new QListWidgetItem(FromSjis(entry.m_text));
        row->setData(kPartDataRole, entry.m_data);
        row->setData(kPartBytesRole, QByteArray::fromStdString(entry.m_text));
        row->setData(kPartCharsetRole, QByteArray::fromStdString(entry.m_charset));
        row->setData(kPartTransferRole, static_cast<int>(entry.m_transfer));
        m_partList->addItem(row);
    }

    int chosen = -1;
    if (parseResult == 1) {
        // "0: Header" and "1: Body".
        if (m_partList->count() > 1)
            chosen = 1;
    } else {
        for (int i = m_partList->count() - 1; i >= 0 && chosen < 0; --i) {
            const int data = m_partList->item(i)->data(kPartDataRole).toInt();
            if (data == kPartTextFile || data == kPartHtmlFile)
                chosen = i;
        }
    }
    if (chosen >= 0)
        m_partList->setCurrentRow(chosen);
}

std::vector<CPartEntry> CReaderDlg::PartListEntries() const {
    std::vector<CPartEntry> entries;
    for (int i = 0; i < m_partList->count(); ++i) {
        const QListWidgetItem* row = m_partList->item(i);
        entries.emplace_back(row->data(kPartBytesRole).toByteArray().toStdString(),
                             row->data(kPartDataRole).toInt(),
                             row->data(kPartCharsetRole).toByteArray().toStdString(),
                             static_cast<CTransfer>(row->data(kPartTransferRole).toInt()));
    }
    return entries;
}

void CReaderDlg::ShowSelectedPart() {
    const QList<QListWidgetItem*> selected = m_partList->selectedItems();
    if (selected.isEmpty())
        return;
    const QListWidgetItem* row = selected.front();
    const std::string path = PartFilePath(row->data(kPartBytesRole).toByteArray().toStdString(),
                                          row->data(kPartDataRole).toInt());
    if (!path.empty())
        m_htmlView->ShowPartFile(path,
                                 {row->data(kPartCharsetRole).toByteArray().toStdString(),
                                  static_cast<CTransfer>(row->data(kPartTransferRole).toInt())});
}

void CReaderDlg::SetHeaderItemFetched(int id) {
    if (!m_headerModel->Contains(id))
        return;
    m_headerModel->SetBold(id, false);
    SetHeaderItemRead(id);
    m_headerTree->viewport()->update();
}

void CReaderDlg::SetHeaderItemRead(int id) {
    m_headerModel->SetImages(id, kImageRead, kImageReadSelected);
}

int CReaderDlg::MessageIdIndexRow(int recordIndex) const {
    if (recordIndex < 0)
        return -1;
    // Entries are in record order, one per record with a Message-ID, so the row is at most the
    // record index and the record indexes rise with the rows.
    int low = 0;
    int high = std::min(recordIndex, m_messageIdIndex->count() - 1);
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const std::optional<CIndexEntry> entry = ParseIndexEntry(MessageIdIndexEntry(middle));
        const int found = entry ? entry->m_recordIndex : -1;
        if (found == recordIndex)
            return middle;
        if (found < recordIndex)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

std::string CReaderDlg::HomePagePath() const {
    return m_baseDir + "/" + kHomePageFile;
}

void CReaderDlg::OnAddressBook() {
    CAddressBookDlg dlg(m_mdbPath, this);
    dlg.exec();
}

void CReaderDlg::OnBack() {
    m_htmlView->GoBack();
}

void CReaderDlg::OnForward() {
    m_htmlView->GoForward();
}

void CReaderDlg::OnHome() {
    m_htmlView->NavigateFile(HomePagePath());
}

namespace {

// The download's messages as message boxes of the main window, and its emptying of the header
// tree before it connects.
class CDownloadView final : public IHeaderDownloadView {
public:
    CDownloadView(QWidget* window, std::function<void()> clearTree, std::function<void()> fillTree)
        : m_window(window), m_clearTree(std::move(clearTree)), m_fillTree(std::move(fillTree)) {}
    void ClearHeaderTree() override { m_clearTree(); }
    void ShowMessage(const std::string& utf8) override {
        ::ShowMessage(m_window, QString::fromStdString(utf8), MsgButtons::Ok, MsgIcon::Warning);
    }
    // The records are whole but for Content-Type, which the tree does not show: the user sees
    // the tree while the types come.
    void HeadersStored() override {
        m_fillTree();
        m_filled = true;
    }
    bool Filled() const { return m_filled; }

private:
    QWidget* m_window;
    std::function<void()> m_clearTree;
    std::function<void()> m_fillTree;
    bool m_filled = false;
};

} // namespace

void CReaderDlg::OnUpdate() {
    UpdateHeaders();
}

int CReaderDlg::UpdateHeaders() {
    if (CurrentGroup().empty())
        return 0;
    const CBusyScope busy = BeginBusy();
    SetStatusText(QString::fromUtf8("ヘッダー読み取り中"));
    m_headerTree->clearSelection();

    HeaderDownloadParams params;
    params.server = CurrentServer();
    params.group = CurrentGroup();
    params.baseDir = m_baseDir;
    params.mainDbPath = m_mdbPath;
    params.latestOnly = m_chkLatestOnly->isChecked();
    // The overview where the server has one: many times faster than HEAD for every article.
    params.useOverview = true;
    CDownloadView view(
        this,
        [this] {
            const int wasClearing = m_clearingHeaderTree;
            m_clearingHeaderTree = 1;
            ClearHeaderTree();
            m_clearingHeaderTree = wasClearing;
        },
        [this] { FillHeaderTree(); });
    const int stored = DownloadHeaders(params, Progress(), view);

    ResetProgress();
    // The window is about to close: a fill would only hold it up. A tree filled once every
    // record was stored shows what a fill would show now.
    if (!StopRequested() && !view.Filled())
        FillHeaderTree();
    SetStatusText(QString());
    return stored;
}

std::vector<std::string> CReaderDlg::MessageIdIndexEntries() const {
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(MessageIdIndexCount()));
    for (int row = 0; row < MessageIdIndexCount(); ++row)
        entries.push_back(MessageIdIndexEntry(row));
    return entries;
}

void CReaderDlg::SelectHeaderItem(int id) {
    const QModelIndex item = HeaderItem(id);
    if (item.isValid())
        m_headerTree->setCurrentIndex(item);
}

void CReaderDlg::OnSync() {
    if (CurrentGroup().empty())
        return;
    // One busy state from the update to the refilled tree.
    const CBusyScope busy = BeginBusy();
    SyncParams params;
    params.server = CurrentServer();
    params.group = CurrentGroup();
    params.baseDir = m_baseDir;
    // A server that could not be reached has said so once already.
    if (UpdateHeaders() < 0 || StopRequested())
        return;

    m_clearingHeaderTree = 1;
    CSyncView view(*this);
    SynchroniseArticles(params, MessageIdIndexEntries(), Progress(), view);
    m_clearingHeaderTree = 0;
    ResetProgress();
    // The status line keeps what the synchronisation left there: empty, or the articles that
    // could not be fetched. A window about to close needs no tree.
    if (!StopRequested())
        FillHeaderTree();
}

void CReaderDlg::OnHeaderSearch() {
    CSearchParams params;
    params.text = ToSjis(m_searchText->text());
    if (params.text.empty())
        return;
    params.groupDir = CurrentGroupDirectory();
    params.header = m_chkSearchHeader->isChecked();
    params.body = m_chkSearchBody->isChecked();
    CSearchResult found;
    {
        const CBusyScope busy = BeginBusy();
        // The search goes on after the entry of the article shown or found last.
        const int start = m_messageIdIndex->currentRow() + 1;
        found = SearchArticles(MessageIdIndexEntries(), start, params, Progress());
        ResetProgress();
        if (StopRequested())
            return;
        if (found.m_row < 0) {
            m_messageIdIndex->setCurrentRow(-1);
            ShowMessage(this, QString::fromUtf8(kSearchEndMessage));
            return;
        }
        m_messageIdIndex->setCurrentRow(found.m_row);
        // Shows the article, as a selection by the user would.
        SelectHeaderItem(found.m_itemId);
    }
    // Once the commands are on again: pressing the button again finds the next one.
    m_btnSearch->setFocus();
}
