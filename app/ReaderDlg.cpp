#include "app/ReaderDlg.h"

#include "app/TreeItems.h"
#include "viewer/HtmlViewCtl.h"

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
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>
#include <unistd.h>

// The icons live in the quillo_ui library, whose resources must be asked for by name. Outside
// any namespace, as the resource's initialiser is declared in the global one.
static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

// Size of the dialog in dialog units: the controls' extent plus the left margin on the right.
constexpr int kDialogWidth = 367;
constexpr int kDialogHeight = 263;

// Dialog font: a Japanese face at the size dialogs use.
constexpr const char* kDialogFontFamily = "Noto Sans CJK JP";
constexpr int kDialogFontPoints = 9;

// Pixels between the bottom of the header tree and the top of the article view.
constexpr int kHtmlViewGap = 2;

// Root item of the server/group tree.
constexpr const char* kTreeRoot = "NewsGroup";

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

CReaderDlg::CReaderDlg(QWidget* parent) : QDialog(parent) {
    InitResources();
    setObjectName(QString::number(IDD));
    // A fixed-size window with a caption, a system menu and a minimize box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    QFont font(QString::fromUtf8(kDialogFontFamily), kDialogFontPoints);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setWindowTitle(Title());
    m_icon = IconFromResource(128);

    CreateControls();
    OnInitDialog();
}

CReaderDlg::~CReaderDlg() = default;

QString CReaderDlg::Title() {
    return QStringLiteral("Quillo Version 1.01 Linux Edition");
}

QRect CReaderDlg::MapDialogRect(const QRect& du) const {
    const QFontMetrics fm(font());
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = (letters / 26 + 1) / 2;
    const int baseY = fm.height();
    return QRect(du.x() * baseX / 4, du.y() * baseY / 8, du.width() * baseX / 4,
                 du.height() * baseY / 8);
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

    m_headerTree = new QTreeWidget(this);
    place(m_headerTree, IDC_HEADER_TREE, 107, 31, 253, 86);
    m_headerTree->setHeaderHidden(true);
    m_headerTree->setRootIsDecorated(true);
    m_headerTree->setDragDropMode(QAbstractItemView::NoDragDrop);

    m_articleEdit = new QPlainTextEdit(this);
    place(m_articleEdit, IDC_ARTICLE_EDIT, 107, 126, 253, 102);
    m_articleEdit->setReadOnly(true);

    m_partList = new QListWidget(this);
    place(m_partList, IDC_PART_LIST, 7, 212, 97, 30);

    m_status = new QLabel(this);
    place(m_status, IDC_STATUS, 7, 243, 353, 9);
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    m_progress = new QProgressBar(this);
    place(m_progress, IDC_PROGRESS, 7, 253, 353, 7);
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);

    setFixedSize(MapDialogRect(QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    connect(m_btnExit, &QPushButton::clicked, this, &CReaderDlg::OnOK);
}

void CReaderDlg::OnInitDialog() {
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

    // Storage for the message-ID index, never shown.
    m_messageIdIndex = new QListWidget(this);
    m_messageIdIndex->setObjectName(QString::fromUtf8(kMessageIdIndexName));
    m_messageIdIndex->setGeometry(QRect());
    m_messageIdIndex->hide();

    m_baseDir = CurrentDirectory();
    m_iniPath = m_baseDir + "/quillo.ini";
    m_mdbPath = m_baseDir + "/quillo.mdb";

    // Root of the server/group tree. BuildServerTree, which hangs the registered servers and
    // groups of the settings file below it, is called here once it exists.
    auto* root = FindOrInsertTreeChild(m_serverTree, kTreeRoot, nullptr);
    root->setExpanded(true);

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
    const bool group = !m_selPath[2].empty();
    m_btnUpdate->setEnabled(group);
    m_btnSync->setEnabled(group);
    m_btnPost->setEnabled(group);
    m_btnReply->setEnabled(m_headerTree->currentItem() &&
                           m_headerTree->currentItem()->isSelected());
    m_btnSearch->setEnabled(m_headerTree->topLevelItemCount() > 0);
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
