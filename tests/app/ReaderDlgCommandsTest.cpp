#include "app/AboutDlg.h"
#include "app/MessageIdIndexList.h"
#include "app/ReaderDlg.h"
#include "nntp/ServerRegDlg.h"
#include "settings/ProfileFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "store/SafeName.h"
#include "store/ServerConfig.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"

#include "support/ModelItems.h"
#include "support/TestDir.h"

#include "support/QtTestStrings.h"

#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Shift_JIS texts: 表 and ソフト carry 0x5C ("\") as a trail byte.
const std::string kSjisHyou = "\x95\x5c";
const std::string kSjisSoft = "\x83\x5c\x83\x74\x83\x67";
const std::string kSjisParent = "\x90\x65\x8b\x4c\x8e\x96";  // 親記事
const std::string kSjisRe = "Re: " + kSjisParent;            // Re: 親記事
const std::string kSjisStray = "\x96\xc0\x8e\x71";           // 迷子
const std::string kSjisNihongo = "\x93\xfa\x96\x7b\x8c\xea"; // 日本語

// The tree as lines: two blanks per level, the shown text, then [b] when bold and [+] when
// expanded; with images, the normal and selected image of the item.
using ImageOf = std::function<QString(const QModelIndex&)>;

void DumpItem(const QTreeView* tree, const QModelIndex& item, int depth, const ImageOf& image,
              QStringList& out) {
    QString line = QString(depth * 2, QLatin1Char(' ')) + item.data().toString();
    if (IsBold(item))
        line += QStringLiteral(" [b]");
    if (tree->isExpanded(item))
        line += QStringLiteral(" [+]");
    if (image)
        line += QLatin1Char(' ') + image(item);
    out << line;
    for (int i = 0; i < tree->model()->rowCount(item); ++i)
        DumpItem(tree, tree->model()->index(i, 0, item), depth + 1, image, out);
}

QStringList DumpTree(const QTreeView* tree, const ImageOf& image = {}) {
    QStringList out;
    for (int i = 0; i < tree->model()->rowCount(); ++i)
        DumpItem(tree, tree->model()->index(i, 0), 0, image, out);
    return out;
}

// The child of an item of the header tree.
QModelIndex Child(const QModelIndex& item, int row) {
    return item.model()->index(row, 0, item);
}

QStringList Lines(std::initializer_list<const char*> utf8) {
    QStringList out;
    for (const char* line : utf8)
        out << QString::fromUtf8(line);
    return out;
}

struct HeaderRow {
    std::string num;
    std::string mesid;
    std::string sub;
    std::string ref;
    std::string read;
};

bool WriteHeaderTable(const std::string& groupDir, const std::vector<HeaderRow>& rows) {
    if (!CreateHeaderTable(groupDir))
        return false;
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(groupDir)) || !table.BeginTrans())
        return false;
    for (const HeaderRow& r : rows) {
        if (!table.AddNew() || !table.SetField("Num", r.num) || !table.SetField("MESID", r.mesid) ||
            !table.SetField("SUB", r.sub) || !table.SetField("REF", r.ref) ||
            !table.SetField("READ", r.read) || !table.Update())
            return false;
    }
    return table.CommitTrans() && table.Close() == 1;
}

} // namespace

// The main window's own commands: the server/group tree, group selection, the header tree, the
// status line and progress bar, help and the About box. Every case starts the window in a base
// directory of its own whose settings file it writes first.
class ReaderDlgCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void serverTree_data();
    void serverTree();
    void serverTreeKeepsShiftJisBytes();
    void initialCommandStates();
    void selectingAGroup();
    void groupNameDepth_data();
    void groupNameDepth();
    void selectingAComponentKeepsTheGroup();
    void serverChosenAsAWhole();
    void clearingFlagWhileTheHeaderTreeEmpties();
    void groupDirectoriesStayInsideTheBase_data();
    void groupDirectoriesStayInsideTheBase();
    void headerTreeOfAGroup();
    void headerTreeShowsEncodedWordsDecoded();
    void headerTreeProgressAndCommands();
    void largeGroupMovesTheBarWhenEventsAreHandled();
    void emptyGroupGivesAnEmptyTree();
    void refillReplacesTreeAndIndex();
    void statusLineAndProgress();
    void progressInterfaceDrivesTheWindow();
    void progressKeepsUpWithAFastLoop();
    void f1OpensTheManual_data();
    void f1OpensTheManual();
    void aboutBoxFromTheContextMenu();
    void altAOpensTheAboutBox();
    void registrationCancelledChangesNothing();
    void registrationRebuildsTheServerTree();
    void registrationCountsSkippedGroups();
    void articleViewGoesWithTheWindow();
    void largeGroupFillTime();

private:
    // Writes the chosen groups and starts the window in a fresh base directory.
    void Open(const std::vector<std::string>& selections, int selected = -1);
    std::string Base() const { return m_root->Path() + "/base"; }
    bool WriteNumberedGroup(const std::string& group, int count);
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    bool IsEnabled(int id) const { return Control<QWidget>(id)->isEnabled(); }
    QTreeWidget* ServerTree() const { return Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE); }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    // The item of the server/group tree reached by these shown texts below the root.
    QTreeWidgetItem* Item(const QStringList& path) const;
    void Select(QTreeWidgetItem* item) const { ServerTree()->setCurrentItem(item); }
    QString ImageName(const QModelIndex& item) const;
    int ImageIndex(const QIcon& icon, QIcon::Mode mode) const;
    // Runs action while a probe answers the first modal window with answer.
    void WhileModal(const std::function<void()>& action,
                    const std::function<bool(QWidget*)>& answer);

    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
};

void ReaderDlgCommandsTest::initTestCase() {
    m_oldDir = fs::current_path();
}

void ReaderDlgCommandsTest::cleanup() {
    m_dlg.reset();
    fs::current_path(m_oldDir);
    m_root.reset();
}

void ReaderDlgCommandsTest::Open(const std::vector<std::string>& selections, int selected) {
    m_dlg.reset();
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    const std::string ini = Base() + "/quillo.ini";
    if (selected != 0 || !selections.empty()) {
        const int count = selected < 0 ? static_cast<int>(selections.size()) : selected;
        QVERIFY(WriteProfileString(ini, "NNTPREG10", "Selected", std::to_string(count)));
        for (std::size_t i = 0; i < selections.size(); ++i)
            QVERIFY(WriteProfileString(ini, "SELECTION", std::to_string(i), selections[i]));
    }
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
}

QTreeWidgetItem* ReaderDlgCommandsTest::Item(const QStringList& path) const {
    QTreeWidgetItem* item = ServerTree()->topLevelItem(0);
    for (const QString& text : path) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; item && i < item->childCount() && !next; ++i)
            if (item->child(i)->text(0) == text)
                next = item->child(i);
        item = next;
    }
    return item;
}

int ReaderDlgCommandsTest::ImageIndex(const QIcon& icon, QIcon::Mode mode) const {
    const QImage shown = icon.pixmap(16, 16, mode).toImage();
    for (int i = 0; i < kHeaderIconCount; ++i)
        if (m_dlg->HeaderIcon(i, i).pixmap(16, 16).toImage() == shown)
            return i;
    return -1;
}

QString ReaderDlgCommandsTest::ImageName(const QModelIndex& item) const {
    return QStringLiteral("%1/%2")
        .arg(ImageIndex(IconOf(item), QIcon::Normal))
        .arg(ImageIndex(IconOf(item), QIcon::Selected));
}

void ReaderDlgCommandsTest::WhileModal(const std::function<void()>& action,
                                       const std::function<bool(QWidget*)>& answer) {
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != m_dlg.get() && answer(modal))
            probe.stop();
    });
    probe.start();
    action();
    probe.stop();
}

void ReaderDlgCommandsTest::serverTree_data() {
    QTest::addColumn<std::vector<std::string>>("selections");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("tree");

    using V = std::vector<std::string>;
    QTest::newRow("no settings file") << V{} << 0 << Lines({"NewsGroup [+]"});
    QTest::newRow("shared components")
        << V{"news.example.com,fj.comp.lang.c", "news.example.com,fj.comp.lang.cpp",
             "news.example.com,fj.rec.travel"}
        << -1
        << Lines({"NewsGroup [+]", "  news.example.com [+]", "    fj [+]", "      comp [+]",
                  "        lang [+]", "          c [b] [+]", "          cpp [b] [+]",
                  "      rec [+]", "        travel [b] [+]"});
    QTest::newRow("group inside another group")
        << V{"s,fj.comp", "s,fj.comp.lang"} << -1
        << Lines({"NewsGroup [+]", "  s [+]", "    fj [+]", "      comp [b] [+]",
                  "        lang [b] [+]"});
    QTest::newRow("servers in order of entries")
        << V{"b.example,alt.test", "a.example,alt.test", "b.example,misc"} << -1
        << Lines({"NewsGroup [+]", "  b.example [+]", "    alt [+]", "      test [b] [+]",
                  "    misc [b] [+]", "  a.example [+]", "    alt [+]", "      test [b] [+]"});
    QTest::newRow("letter case makes different items")
        << V{"s,alt.Test", "s,alt.test"} << -1
        << Lines({"NewsGroup [+]", "  s [+]", "    alt [+]", "      Test [b] [+]",
                  "      test [b] [+]"});
    QTest::newRow("empty components skipped")
        << V{"s,.a..b."} << -1
        << Lines({"NewsGroup [+]", "  s [+]", "    a [+]", "      b [b] [+]"});
    QTest::newRow("entry without comma skipped")
        << V{"s.example", "s,x.y"} << -1
        << Lines({"NewsGroup [+]", "  s [+]", "    x [+]", "      y [b] [+]"});
    QTest::newRow("split at the first comma")
        << V{"s,a,b.c"} << -1
        << Lines({"NewsGroup [+]", "  s [+]", "    a,b [+]", "      c [b] [+]"});
    QTest::newRow("empty group makes the server bold")
        << V{"s,", "t,x"} << -1
        << Lines({"NewsGroup [+]", "  s [b] [+]", "  t [+]", "    x [b] [+]"});
    QTest::newRow("entries beyond Selected ignored")
        << V{"s,one", "s,two", "s,three"} << 2
        << Lines({"NewsGroup [+]", "  s [+]", "    one [b] [+]", "    two [b] [+]"});
    QTest::newRow("missing entry reads as 0")
        << V{"s,one"} << 2 << Lines({"NewsGroup [+]", "  s [+]", "    one [b] [+]"});
    QTest::newRow("value cut at 1023 bytes")
        << V{"s," + std::string(1100, 'g')} << -1
        << QStringList{QStringLiteral("NewsGroup [+]"), QStringLiteral("  s [+]"),
                       QStringLiteral("    ") + QString(1021, QLatin1Char('g')) +
                           QStringLiteral(" [b] [+]")};
}

void ReaderDlgCommandsTest::serverTree() {
    QFETCH(std::vector<std::string>, selections);
    QFETCH(int, selected);
    QFETCH(QStringList, tree);
    Open(selections, selected);
    QCOMPARE(DumpTree(ServerTree()), tree);
    QVERIFY(!ServerTree()->currentItem());
}

void ReaderDlgCommandsTest::serverTreeKeepsShiftJisBytes() {
    Open({"s,fj." + kSjisHyou + "." + kSjisSoft, "s,fj." + kSjisHyou + ".x"});
    QCOMPARE(DumpTree(ServerTree()),
             Lines({"NewsGroup [+]", "  s [+]", "    fj [+]", "      表 [+]",
                    "        ソフト [b] [+]", "        x [b] [+]"}));
    QCOMPARE(TreeItemText(Item({"s", "fj", QString::fromUtf8("表")})), kSjisHyou);

    // The group name is put together from the stored bytes, not from the shown text.
    Select(Item({"s", "fj", QString::fromUtf8("表"), QString::fromUtf8("ソフト")}));
    QCOMPARE(m_dlg->CurrentGroup(), "fj." + kSjisHyou + "." + kSjisSoft);
    QVERIFY(fs::is_directory(GroupDirectory(Base(), "s", m_dlg->CurrentGroup())));
}

void ReaderDlgCommandsTest::initialCommandStates() {
    Open({"s,a.b"});
    for (int id : {1006, 1012, 1010, 1011, 1019, 1})
        QVERIFY2(!IsEnabled(id), qPrintable(QString::number(id)));
    for (int id : {1002, 1022, 1018, 1030, 1028, 1029, 1009, 1020, 1021, 1013})
        QVERIFY2(IsEnabled(id), qPrintable(QString::number(id)));
    QVERIFY(Control<QCheckBox>(1009)->isChecked());
    QVERIFY(m_dlg->CurrentServer().empty());
    QVERIFY(m_dlg->CurrentGroup().empty());
}

void ReaderDlgCommandsTest::selectingAGroup() {
    Open({"news.example.com,fj.comp.lang.c"});
    QVERIFY(!fs::exists(Base() + "/news.example.com"));
    Select(Item({"news.example.com", "fj", "comp", "lang", "c"}));

    const auto& path = m_dlg->SelectionPath();
    QCOMPARE(path[0], std::string("NewsGroup"));
    QCOMPARE(path[1], std::string("news.example.com"));
    QCOMPARE(path[2], std::string("fj.comp.lang.c"));
    for (int i = 3; i < kSelectionPathSize; ++i)
        QVERIFY2(path[i].empty(), qPrintable(QString::number(i)));
    QCOMPARE(m_dlg->CurrentGroupDirectory(), Base() + "/news.example.com/fj.comp.lang.c");
    QVERIFY(fs::is_directory(Base() + "/news.example.com/fj.comp.lang.c"));

    // A group with no headers yet: the group commands and exit, but nothing to reply to or
    // search in.
    for (int id : {1006, 1012, 1010, 1})
        QVERIFY2(IsEnabled(id), qPrintable(QString::number(id)));
    QVERIFY(!IsEnabled(1011));
    QVERIFY(!IsEnabled(1019));
    QCOMPARE(HeaderTree()->model()->rowCount(), 0);
}

void ReaderDlgCommandsTest::groupNameDepth_data() {
    QTest::addColumn<int>("components");
    QTest::newRow("one") << 1;
    QTest::newRow("seventeen") << 17;
    QTest::newRow("eighteen") << 18;
    QTest::newRow("nineteen") << 19;
    QTest::newRow("twenty-five") << 25;
}

void ReaderDlgCommandsTest::groupNameDepth() {
    // However deep, the group is the whole name: a prefix of it would be another group.
    QFETCH(int, components);
    std::string group;
    QStringList path{QStringLiteral("s")};
    for (int i = 1; i <= components; ++i) {
        const std::string part = "c" + std::to_string(i);
        group += (i > 1 ? "." : "") + part;
        path << QString::fromStdString(part);
    }
    Open({"s," + group});
    QTreeWidgetItem* leaf = Item(path);
    QVERIFY(leaf);
    QVERIFY(leaf->font(0).bold());
    Select(leaf);
    QCOMPARE(m_dlg->CurrentServer(), std::string("s"));
    QCOMPARE(m_dlg->CurrentGroup(), group);
    const auto& selection = m_dlg->SelectionPath();
    for (int i = 3; i < kSelectionPathSize; ++i)
        QVERIFY2(selection[i].empty(), qPrintable(QString::number(i)));
    QCOMPARE(m_dlg->CurrentGroupDirectory(), Base() + "/s/" + group);
    QVERIFY(fs::is_directory(Base() + "/s/" + group));
    QVERIFY(IsEnabled(1006));
}

void ReaderDlgCommandsTest::selectingAComponentKeepsTheGroup() {
    Open({"s,fj.comp.lang.c", "s,fj.comp.lang.cpp"});
    Select(Item({"s", "fj", "comp", "lang", "c"}));
    const std::string groupDir = m_dlg->CurrentGroupDirectory();
    QVERIFY(WriteHeaderTable(groupDir, {{"1", "<a@x>", "one", "", ""}}));
    Select(Item({"s", "fj", "comp", "lang", "cpp"}));
    Select(Item({"s", "fj", "comp", "lang", "c"}));
    QCOMPARE(HeaderTree()->model()->rowCount(), 1);
    QVERIFY(IsEnabled(1019));

    for (const QStringList& component : {QStringList{"s", "fj", "comp", "lang"},
                                         QStringList{"s", "fj"}, QStringList{"s"}, QStringList{}}) {
        Select(Item(component));
        QVERIFY2(ServerTree()->currentItem() == Item(component), qPrintable(component.join('.')));
        QCOMPARE(HeaderTree()->model()->rowCount(), 0);
        QCOMPARE(m_dlg->CurrentServer(), std::string("s"));
        QCOMPARE(m_dlg->CurrentGroup(), std::string("fj.comp.lang.c"));
        QCOMPARE(m_dlg->CurrentGroupDirectory(), groupDir);
        for (int id : {1006, 1012, 1010, 1})
            QVERIFY2(IsEnabled(id), qPrintable(QString::number(id)));
    }
    // Buttons keep the state of the last fill: the emptied tree was not refilled.
    QVERIFY(IsEnabled(1019));
}

void ReaderDlgCommandsTest::serverChosenAsAWhole() {
    Open({"s,", "t,a.b"});
    Select(Item({"t", "a", "b"}));
    QCOMPARE(m_dlg->CurrentGroup(), std::string("a.b"));

    Select(Item({"s"}));
    QVERIFY(Item({"s"})->font(0).bold());
    QCOMPARE(m_dlg->CurrentServer(), std::string("s"));
    QVERIFY(m_dlg->CurrentGroup().empty());
    for (int id : {1006, 1012, 1010, 1011, 1019})
        QVERIFY2(!IsEnabled(id), qPrintable(QString::number(id)));
    // The header tree fill ran (on nothing) and gave exit back.
    QVERIFY(IsEnabled(1));
    QCOMPARE(HeaderTree()->model()->rowCount(), 0);
    // No group, so no directory for the server either.
    QVERIFY(!fs::exists(Base() + "/s"));
}

void ReaderDlgCommandsTest::clearingFlagWhileTheHeaderTreeEmpties() {
    Open({"s,a", "s,b"});
    Select(Item({"s", "a"}));
    QVERIFY(WriteHeaderTable(m_dlg->CurrentGroupDirectory(), {{"1", "<a@x>", "one", "", ""}}));

    for (int before : {0, 1}) {
        Select(Item({"s", "b"}));
        Select(Item({"s", "a"}));
        QCOMPARE(HeaderTree()->model()->rowCount(), 1);
        // Selected as a user would, without reading the article: no server is behind "s".
        m_dlg->SetArticleLoading(1);
        HeaderTree()->setCurrentIndex(HeaderTree()->model()->index(0, 0));
        m_dlg->SetArticleLoading(0);

        std::vector<int> seen;
        auto watch = connect(HeaderTree()->model(), &QAbstractItemModel::modelAboutToBeReset,
                             [&] { seen.push_back(m_dlg->HeaderTreeClearing()); });
        m_dlg->SetHeaderTreeClearing(before);
        Select(Item({"s"}));
        disconnect(watch);
        // Emptied once by the group change, with the flag set, and the flag given back.
        QCOMPARE(seen, std::vector<int>{1});
        QCOMPARE(m_dlg->HeaderTreeClearing(), before);
        m_dlg->SetHeaderTreeClearing(0);
    }
}

void ReaderDlgCommandsTest::groupDirectoriesStayInsideTheBase_data() {
    QTest::addColumn<std::string>("server");
    QTest::addColumn<std::string>("group");
    QTest::addColumn<QStringList>("itemPath");
    QTest::newRow("server ../x") << std::string("../x") << std::string("g")
                                 << QStringList{"../x", "g"};
    QTest::newRow("server ..") << std::string("..") << std::string("g") << QStringList{"..", "g"};
    QTest::newRow("absolute server")
        << std::string("/tmp") << std::string("g") << QStringList{"/tmp", "g"};
    QTest::newRow("group with slashes")
        << std::string("s") << std::string("a/./b") << QStringList{"s", "a/", "/b"};
}

void ReaderDlgCommandsTest::groupDirectoriesStayInsideTheBase() {
    QFETCH(std::string, server);
    QFETCH(std::string, group);
    QFETCH(QStringList, itemPath);
    Open({server + "," + group});
    QTreeWidgetItem* item = Item(itemPath);
    QVERIFY(item);
    Select(item);
    QCOMPARE(m_dlg->CurrentServer(), server);

    // Exactly one new directory in the base, holding exactly the group's.
    const std::string serverDir = Base() + "/" + SafeName(server);
    const std::string groupDir = serverDir + "/" + SafeName(m_dlg->CurrentGroup());
    QCOMPARE(m_dlg->CurrentGroupDirectory(), groupDir);
    QVERIFY(fs::is_directory(groupDir));
    std::vector<std::string> inBase;
    for (const auto& e : fs::directory_iterator(Base()))
        inBase.push_back(e.path().filename().string());
    std::vector<std::string> expected{SafeName(server), "quillo.ini"};
    std::sort(inBase.begin(), inBase.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(inBase, expected);
    std::vector<std::string> inServer;
    for (const auto& e : fs::directory_iterator(serverDir))
        inServer.push_back(e.path().filename().string());
    QCOMPARE(inServer, std::vector<std::string>{SafeName(m_dlg->CurrentGroup())});
    // And nothing beside the base.
    std::vector<std::string> inRoot;
    for (const auto& e : fs::directory_iterator(m_root->Path()))
        inRoot.push_back(e.path().filename().string());
    QCOMPARE(inRoot, std::vector<std::string>{"base"});
}

void ReaderDlgCommandsTest::headerTreeOfAGroup() {
    Open({"s,fj.test"});
    const std::string groupDir = GroupDirectory(Base(), "s", "fj.test");
    QVERIFY(CreateGroupDirectory(Base(), "s", "fj.test"));
    const std::vector<HeaderRow> rows = {
        {"1", "<a@x>", kSjisParent, "", ""},            // not cached, unread
        {"2", "<b@x>", kSjisRe, "<a@x>", "1"},          // cached, read
        {"3", "<c@x>", kSjisStray, "<zz@x>", ""},       // parent missing; empty cache file
        {"4", "", "no message-id", "", ""},             // no item, no entry
        {"5", "plain-id", kSjisSoft, "", ""},           // no brackets: weight and icon kept
        {"6", "<d@x>", "deep", "<a@x> <b@x>", "yes"},   // the last reference is the parent
        {"7", "<e@x>", "early reply", "<f@x>", ""},     // parent comes later
        {"8", "<f@x>", "late parent", "", ""},          //
        {"9", "<a@x>", "same id again", "", ""},        // the earlier <a@x> stays the parent
        {"10", "<g@x>", "to a", "<a@x>", ""},           //
        {"11", "<h@x>", std::string(300, 's'), "", ""}, // subject cut to 255 bytes
    };
    QVERIFY(WriteHeaderTable(groupDir, rows));
    QVERIFY(WriteWholeFile(CacheFilePath(groupDir, "<b@x>"), "article b\r\n"));
    QVERIFY(WriteWholeFile(CacheFilePath(groupDir, "<c@x>"), ""));
    QVERIFY(WriteWholeFile(CacheFilePath(groupDir, "<e@x>"), "article e\r\n"));
    QVERIFY(WriteWholeFile(CacheFilePath(groupDir, "<f@x>"), "article f\r\n"));
    QVERIFY(WriteWholeFile(CacheFilePath(groupDir, "<h@x>"), "article h\r\n"));

    Select(Item({"s", "fj", "test"}));

    const ImageOf image = [this](const QModelIndex& item) { return ImageName(item); };
    const QStringList expected = {
        QString::fromUtf8("1 親記事 [b] [+] 0/1"),
        QString::fromUtf8("  2 Re: 親記事 [+] 2/3"),
        QString::fromUtf8("    6 deep [b] 2/3"),
        QString::fromUtf8("  10 to a [b] 0/1"),
        QString::fromUtf8("3 迷子 [b] 0/1"),
        QString::fromUtf8("5 ソフト 0/0"),
        QString::fromUtf8("7 early reply 0/1"),
        QString::fromUtf8("8 late parent 0/1"),
        QString::fromUtf8("9 same id again [b] 0/1"),
        QStringLiteral("11 ") + QString(255, QLatin1Char('s')) + QStringLiteral(" 0/1"),
    };
    QCOMPARE(DumpTree(HeaderTree(), image), expected);
    QCOMPARE(TreeItemText(HeaderTree()->model()->index(2, 0)), "5 " + kSjisSoft);
    QVERIFY(!fs::exists(CacheFilePath(groupDir, "<c@x>")));
    QVERIFY(fs::exists(CacheFilePath(groupDir, "<b@x>")));

    // One index entry per item, in record order, naming the record and the item.
    struct Entry {
        int record;
        std::string mesid;
        QModelIndex item;
    };
    const QModelIndex top = HeaderTree()->model()->index(0, 0);
    const std::vector<Entry> entries = {
        {0, "<a@x>", top},
        {1, "<b@x>", Child(top, 0)},
        {2, "<c@x>", HeaderTree()->model()->index(1, 0)},
        {4, "plain-id", HeaderTree()->model()->index(2, 0)},
        {5, "<d@x>", Child(Child(top, 0), 0)},
        {6, "<e@x>", HeaderTree()->model()->index(3, 0)},
        {7, "<f@x>", HeaderTree()->model()->index(4, 0)},
        {8, "<a@x>", HeaderTree()->model()->index(5, 0)},
        {9, "<g@x>", Child(top, 1)},
        {10, "<h@x>", HeaderTree()->model()->index(6, 0)},
    };
    QCOMPARE(m_dlg->MessageIdIndexCount(), static_cast<int>(entries.size()));
    QCOMPARE(m_dlg->MessageIdIndex()->count(), static_cast<int>(entries.size()));
    std::vector<int> ids;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const int id = m_dlg->HeaderItemId(entries[k].item);
        QVERIFY(id != 0);
        ids.push_back(id);
        QCOMPARE(m_dlg->HeaderItem(id), entries[k].item);
        const std::string text =
            std::to_string(entries[k].record) + " " + entries[k].mesid + " ," + std::to_string(id);
        QCOMPARE(m_dlg->MessageIdIndexEntry(static_cast<int>(k)), text);
        QCOMPARE(m_dlg->MessageIdIndex()->model()->index(static_cast<int>(k), 0).data().toString(),
                 QString::fromStdString(text));
    }
    std::sort(ids.begin(), ids.end());
    QVERIFY(std::adjacent_find(ids.begin(), ids.end()) == ids.end());
    QVERIFY(!m_dlg->HeaderItem(0).isValid());
    QVERIFY(m_dlg->MessageIdIndexEntry(static_cast<int>(entries.size())).empty());

    // The fill selects nothing; search has items to look through.
    QVERIFY(!HeaderTree()->currentIndex().isValid());
    QVERIFY(IsEnabled(1019));
    QVERIFY(!IsEnabled(1011));
}

void ReaderDlgCommandsTest::headerTreeShowsEncodedWordsDecoded() {
    Open({"s,fj.test"});
    const std::string groupDir = GroupDirectory(Base(), "s", "fj.test");
    QVERIFY(CreateGroupDirectory(Base(), "s", "fj.test"));
    // 80 × あ in one UTF-8 word; the label's 255 bytes of subject end inside it.
    const std::string longWord =
        "=?UTF-8?B?"
        "44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44"
        "GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC"
        "44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44"
        "GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC44GC?=";
    const std::vector<HeaderRow> rows = {
        {"1", "<a@x>", "=?UTF-8?B?5pel5pys6Kqe44Gu6KiY5LqL?=", "", ""},
        {"2", "<b@x>", "Re: =?UTF-8?B?5pel5pys?= =?UTF-8?B?6Kqe?=", "<a@x>", ""},
        {"3", "<c@x>", "=?EUC-JP?B?u7PFxA==?= " + kSjisNihongo, "", ""},
        {"4", "<d@x>", "=?ISO-8859-15?Q?Caf=E9?= =?x-unknown?Q?a?=", "", ""},
        {"5", "<e@x>", longWord, "", ""},
    };
    QVERIFY(WriteHeaderTable(groupDir, rows));

    Select(Item({"s", "fj", "test"}));

    QStringList expected = Lines({"1 日本語の記事 [b] [+]", "  2 Re: 日本語 [b]",
                                  "3 山田 日本語 [b]", "4 Café =?x-unknown?Q?a?= [b]"});
    expected << QStringLiteral("5 ") + QString(61, QChar(0x3042)) + QStringLiteral(" [b]");
    QCOMPARE(DumpTree(HeaderTree()), expected);
    // The items keep the stored bytes: a reply's subject is the stored one.
    QCOMPARE(TreeItemText(Child(HeaderTree()->model()->index(0, 0), 0)), "2 " + rows[1].sub);
    QCOMPARE(TreeItemText(HeaderTree()->model()->index(3, 0)), "5 " + longWord.substr(0, 255));
}

// The group of server s holding records 1..count, each with a Message-ID of its own.
bool ReaderDlgCommandsTest::WriteNumberedGroup(const std::string& group, int count) {
    std::vector<HeaderRow> rows;
    for (int i = 1; i <= count; ++i)
        rows.push_back({std::to_string(i), "<" + std::to_string(i) + "@x>", "s", "", ""});
    return CreateGroupDirectory(Base(), "s", group) &&
           WriteHeaderTable(GroupDirectory(Base(), "s", group), rows);
}

void ReaderDlgCommandsTest::headerTreeProgressAndCommands() {
    Open({"s,g"});
    QVERIFY(WriteNumberedGroup("g", 5));

    auto* progress = Control<QProgressBar>(CReaderDlg::IDC_PROGRESS);
    std::vector<int> positions;
    std::vector<int> maxima;
    std::vector<bool> commandsEnabled;
    connect(progress, &QProgressBar::valueChanged, [&](int value) {
        positions.push_back(value);
        maxima.push_back(progress->maximum());
        commandsEnabled.push_back(IsEnabled(1) || IsEnabled(1006) || IsEnabled(1019));
    });
    Select(Item({"s", "g"}));

    // One step per record and one past the last, over 0..n; then back to rest.
    QCOMPARE(positions, (std::vector<int>{1, 2, 3, 4, 5, 0}));
    QCOMPARE(maxima, (std::vector<int>{5, 5, 5, 5, 5, 1}));
    QCOMPARE(HeaderTree()->model()->rowCount(), 5);
    // Commands are off for the whole fill and back on before the bar comes to rest.
    QCOMPARE(commandsEnabled, (std::vector<bool>{false, false, false, false, false, true}));
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 1);
    QCOMPARE(progress->value(), 0);
    for (int id : {1006, 1012, 1010, 1019, 1})
        QVERIFY2(IsEnabled(id), qPrintable(QString::number(id)));
}

void ReaderDlgCommandsTest::largeGroupMovesTheBarWhenEventsAreHandled() {
    // Past a hundred records the bar moves no oftener than events are handled (every 32
    // records at most), rising, and still ends at n before it comes to rest.
    Open({"s,big"});
    constexpr int kRecords = 640;
    QVERIFY(WriteNumberedGroup("big", kRecords));
    auto* progress = Control<QProgressBar>(CReaderDlg::IDC_PROGRESS);
    std::vector<int> positions;
    connect(progress, &QProgressBar::valueChanged, [&](int value) { positions.push_back(value); });
    Select(Item({"s", "big"}));
    QCOMPARE(HeaderTree()->model()->rowCount(), kRecords);
    QVERIFY2(positions.size() >= 2 && positions.size() <= kRecords / 32 + 2,
             qPrintable(QString::number(positions.size())));
    QCOMPARE(positions[positions.size() - 2], kRecords);
    QCOMPARE(positions.back(), 0);
    QVERIFY(std::is_sorted(positions.begin(), positions.end() - 1));
}

void ReaderDlgCommandsTest::emptyGroupGivesAnEmptyTree() {
    Open({"s,nothing", "s,empty"});
    // A table without records, and a group without a header database.
    QVERIFY(CreateGroupDirectory(Base(), "s", "empty"));
    QVERIFY(WriteHeaderTable(GroupDirectory(Base(), "s", "empty"), {}));
    for (const char* group : {"empty", "nothing"}) {
        Select(Item({"s", QString::fromLatin1(group)}));
        QCOMPARE(HeaderTree()->model()->rowCount(), 0);
        QCOMPARE(m_dlg->MessageIdIndexCount(), 0);
        QVERIFY(!IsEnabled(1019));
        QVERIFY(!IsEnabled(1011));
        QVERIFY(IsEnabled(1006));
        QVERIFY(IsEnabled(1));
        auto* progress = Control<QProgressBar>(CReaderDlg::IDC_PROGRESS);
        QCOMPARE(progress->maximum(), 1);
        QCOMPARE(progress->value(), 0);
    }
}

void ReaderDlgCommandsTest::refillReplacesTreeAndIndex() {
    Open({"s,g"});
    QVERIFY(CreateGroupDirectory(Base(), "s", "g"));
    const std::string groupDir = GroupDirectory(Base(), "s", "g");
    QVERIFY(WriteHeaderTable(groupDir,
                             {{"1", "<a@x>", "one", "", ""}, {"2", "<b@x>", "two", "<a@x>", ""}}));
    Select(Item({"s", "g"}));
    const QModelIndex oldItem = HeaderTree()->model()->index(0, 0);
    const int oldId = m_dlg->HeaderItemId(oldItem);
    m_dlg->SetArticleLoading(1); // no server is behind "s"
    HeaderTree()->setCurrentIndex(Child(oldItem, 0));
    m_dlg->SetArticleLoading(0);
    m_dlg->EnableCommands();
    QVERIFY(IsEnabled(1011));

    QVERIFY(WriteWholeFile(CacheFilePath(groupDir, "<a@x>"), "cached\r\n"));
    m_dlg->FillHeaderTree();
    QCOMPARE(DumpTree(HeaderTree()), Lines({"1 one [+]", "  2 two [b]"}));
    QCOMPARE(m_dlg->MessageIdIndexCount(), 2);
    // Identifiers of the old tree find nothing any more.
    QVERIFY(!m_dlg->HeaderItem(oldId).isValid());
    const int newId = m_dlg->HeaderItemId(HeaderTree()->model()->index(0, 0));
    QVERIFY(newId != oldId);
    QCOMPARE(m_dlg->MessageIdIndexEntry(0), "0 <a@x> ," + std::to_string(newId));
    // Nothing is selected after a fill, so there is nothing to reply to.
    QVERIFY(!IsEnabled(1011));
}

void ReaderDlgCommandsTest::statusLineAndProgress() {
    Open({});
    auto* status = Control<QLabel>(CReaderDlg::IDC_STATUS);
    m_dlg->SetStatusText(QString::fromUtf8("ヘッダー読み取り中 : %1 / %2 ").arg(3).arg(9));
    QCOMPARE(status->text(), QString::fromUtf8("ヘッダー読み取り中 : 3 / 9 "));
    QCOMPARE(m_dlg->StatusText(), status->text());
    // Data text, and markup shown as it is.
    m_dlg->SetStatusTextSjis(kSjisNihongo + " <b>" + kSjisSoft + "</b>");
    QCOMPARE(status->text(), QString::fromUtf8("日本語 <b>ソフト</b>"));
    QCOMPARE(status->textFormat(), Qt::PlainText);
    // A stored header value shows its encoded words decoded.
    m_dlg->SetStatusTextSjis("1 =?UTF-8?B?5pel5pys?= =?UTF-8?B?6Kqe?= " + kSjisSoft);
    QCOMPARE(status->text(), QString::fromUtf8("1 日本語 ソフト"));
    m_dlg->SetStatusText(QString());
    QCOMPARE(status->text(), QString());

    auto* progress = Control<QProgressBar>(CReaderDlg::IDC_PROGRESS);
    m_dlg->SetProgressRange(100000, 250000);
    m_dlg->SetProgressPos(123456);
    QCOMPARE(progress->minimum(), 100000);
    QCOMPARE(progress->maximum(), 250000);
    QCOMPARE(progress->value(), 123456);
    m_dlg->ResetProgress();
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 1);
    QCOMPARE(progress->value(), 0);
}

void ReaderDlgCommandsTest::progressKeepsUpWithAFastLoop() {
    Open({});
    auto* progress = Control<QProgressBar>(CReaderDlg::IDC_PROGRESS);
    auto* status = Control<QLabel>(CReaderDlg::IDC_STATUS);
    IProgress& shown = m_dlg->Progress();
    // A loop reporting every step: events are handled a few dozen times a second, not once
    // per step, and the window shows the latest text and position at each of those times.
    int handled = 0;
    QTimer counter;
    counter.setInterval(0);
    connect(&counter, &QTimer::timeout, [&] { ++handled; });
    counter.start();
    shown.SetProgressRange(1, 100000);
    QElapsedTimer clock;
    clock.start();
    int steps = 0;
    for (int n = 1; n <= 100000 && clock.elapsed() < 200; ++n, ++steps) {
        shown.SetStatusText("step " + std::to_string(n));
        shown.PumpMessages();
        shown.SetProgressPos(n);
    }
    const qint64 elapsed = clock.elapsed();
    counter.stop();
    QVERIFY2(steps > 1000, qPrintable(QString::number(steps)));
    QVERIFY2(handled <= elapsed / 15 + 4, qPrintable(QString::number(handled)));
    QVERIFY(handled >= 1);
    // What waits is shown by the next pump that is due.
    QTest::qWait(40);
    shown.PumpMessages();
    QCOMPARE(status->text(), QString::fromStdString("step " + std::to_string(steps)));
    QCOMPARE(progress->value(), steps);

    // A text the window sets itself is not overwritten by an older one still waiting.
    shown.SetStatusText("older");
    m_dlg->SetStatusText(QStringLiteral("own"));
    QTest::qWait(40);
    shown.PumpMessages();
    QCOMPARE(status->text(), QStringLiteral("own"));

    // The end of an operation is shown exactly, however soon it follows the last step.
    shown.SetStatusText("last");
    shown.SetProgressPos(99);
    shown.SetProgressRange(0, 1);
    shown.SetProgressPos(0);
    shown.SetStatusText("");
    QCOMPARE(status->text(), QString());
    QCOMPARE(progress->maximum(), 1);
    QCOMPARE(progress->value(), 0);

    // What a busy operation left waiting is shown when it ends.
    {
        const CBusyScope busy = m_dlg->BeginBusy();
        shown.PumpMessages();
        shown.SetStatusText("during");
        shown.SetStatusText("final");
    }
    QCOMPARE(status->text(), QStringLiteral("final"));
}

void ReaderDlgCommandsTest::progressInterfaceDrivesTheWindow() {
    Open({});
    auto* progress = Control<QProgressBar>(CReaderDlg::IDC_PROGRESS);
    IProgress& shown = m_dlg->Progress();
    shown.SetProgressRange(0, 40);
    shown.SetProgressPos(17);
    QCOMPARE(progress->maximum(), 40);
    QCOMPARE(progress->value(), 17);

    // Status texts of core operations are the program's own, in UTF-8.
    shown.SetStatusText("現在記事を読み取り中");
    QCOMPARE(Control<QLabel>(CReaderDlg::IDC_STATUS)->text(),
             QString::fromUtf8("現在記事を読み取り中"));

    // Pumping delivers what is waiting.
    bool delivered = false;
    QTimer::singleShot(0, m_dlg.get(), [&] { delivered = true; });
    shown.PumpMessages();
    QVERIFY(delivered);

    // A whole configuration load through it leaves the bar at 0.
    QVERIFY(WriteServerConfig({{"s", {{"a", true, false}, {"b", false, false}}}},
                              m_dlg->SettingsPath(), m_dlg->DatabasePath(), &shown));
    QCOMPARE(ReadServerConfig(m_dlg->SettingsPath(), m_dlg->DatabasePath(), &shown).size(),
             std::size_t(1));
    QCOMPARE(progress->value(), 0);
}

void ReaderDlgCommandsTest::f1OpensTheManual_data() {
    QTest::addColumn<int>("focus"); // control with the keyboard focus, 0: the window
    QTest::newRow("window") << 0;
    QTest::newRow("server tree") << 1000;
    QTest::newRow("header tree") << 1007;
    QTest::newRow("search text") << 1013;
    QTest::newRow("register button") << 1002;
}

void ReaderDlgCommandsTest::f1OpensTheManual() {
    QFETCH(int, focus);
    Open({});
    QApplication::setActiveWindow(m_dlg.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    QWidget* target = focus ? Control<QWidget>(focus) : m_dlg.get();
    target->setFocus();

    CScriptedUi ui;
    ui.SetHelpResult(false); // a missing viewer is not reported
    {
        CUiSeamScope scope(ui);
        QTest::keyClick(target, Qt::Key_F1);
    }
    QCOMPARE(ui.Requests().size(), std::size_t(1));
    QCOMPARE(ui.Requests()[0].kind, CScriptedUi::Kind::Help);
    QVERIFY(ui.Messages().empty());

    // The manual the program carries, put where a browser can read it.
    const std::string path = QFile::encodeName(ui.Requests()[0].text).toStdString();
    QCOMPARE(path, CReaderDlg::HelpFilePath());
    QCOMPARE(fs::path(path).filename().string(), std::string("quillo-help.htm"));
    const std::string manual = ReadWholeFile(QUILLO_RESOURCES_DIR "/help/quillo-help.htm");
    QVERIFY(manual.size() > 1000);
    QCOMPARE(ReadWholeFile(path), manual);
    QVERIFY(m_dlg->isVisible());
}

void ReaderDlgCommandsTest::aboutBoxFromTheContextMenu() {
    Open({});
    QCOMPARE(m_dlg->contextMenuPolicy(), Qt::ActionsContextMenu);
    const QList<QAction*> actions = m_dlg->actions();
    QCOMPARE(actions.size(), 1);
    QAction* about = actions.front();
    QCOMPARE(about->text(), QString::fromUtf8("QUILLO のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    QCOMPARE(about->shortcut(), QKeySequence(Qt::ALT | Qt::Key_A));
    QCOMPARE(about->data().toInt(), 16);

    QString name;
    QString title;
    QStringList texts;
    bool hasIcon = false;
    bool modal = false;
    WhileModal([&] { about->trigger(); },
               [&](QWidget* box) {
                   name = box->objectName();
                   title = box->windowTitle();
                   modal = box->isModal();
                   for (QLabel* label : box->findChildren<QLabel*>()) {
                       if (!label->pixmap().isNull())
                           hasIcon = true;
                       else
                           texts << label->text();
                   }
                   auto* back = box->findChild<QPushButton*>(QStringLiteral("1"));
                   if (!back)
                       return false;
                   texts << back->text();
                   QTest::mouseClick(back, Qt::LeftButton);
                   return true;
               });
    QCOMPARE(name, QStringLiteral("100"));
    QCOMPARE(title, QString::fromUtf8("QUILLOのﾊﾞｰｼﾞｮﾝ情報"));
    QVERIFY(modal);
    QVERIFY(hasIcon);
    QVERIFY2(texts.contains(QStringLiteral("QUILLO Version 1.01")), qPrintable(texts.join('|')));
    QVERIFY2(texts.contains(QString::fromUtf8("戻る")), qPrintable(texts.join('|')));
    QVERIFY(!QApplication::activeModalWidget());
}

void ReaderDlgCommandsTest::altAOpensTheAboutBox() {
    Open({});
    QApplication::setActiveWindow(m_dlg.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    Control<QWidget>(1000)->setFocus();
    QString name;
    WhileModal([&] { QTest::keyClick(Control<QWidget>(1000), Qt::Key_A, Qt::AltModifier); },
               [&](QWidget* box) {
                   name = box->objectName();
                   QTest::keyClick(box, Qt::Key_Escape);
                   return true;
               });
    QCOMPARE(name, QStringLiteral("100"));
    QVERIFY(m_dlg->isVisible());
}

void ReaderDlgCommandsTest::registrationCancelledChangesNothing() {
    Open({"s,a.b"});
    Select(Item({"s", "a", "b"}));
    const QStringList before = DumpTree(ServerTree());
    const std::string iniBefore = ReadWholeFile(m_dlg->SettingsPath());

    QString name;
    WhileModal([&] { QTest::mouseClick(Control<QPushButton>(1002), Qt::LeftButton); },
               [&](QWidget* reg) {
                   name = reg->objectName();
                   auto* cancel = reg->findChild<QPushButton*>(QStringLiteral("2"));
                   if (!cancel || !cancel->isEnabled())
                       return false;
                   QTest::mouseClick(cancel, Qt::LeftButton);
                   return true;
               });
    QCOMPARE(name, QStringLiteral("129"));
    QCOMPARE(DumpTree(ServerTree()), before);
    QCOMPARE(ReadWholeFile(m_dlg->SettingsPath()), iniBefore);
    QCOMPARE(ServerTree()->currentItem(), Item({"s", "a", "b"}));
    QCOMPARE(m_dlg->CurrentGroup(), std::string("a.b"));
}

void ReaderDlgCommandsTest::registrationRebuildsTheServerTree() {
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    // A registered server with one chosen group and one not chosen.
    QVERIFY(WriteServerConfig({{"s", {{"a.b", true, false}, {"a.c", false, false}}}},
                              Base() + "/quillo.ini", Base() + "/quillo.mdb"));
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QCOMPARE(DumpTree(ServerTree()),
             Lines({"NewsGroup [+]", "  s [+]", "    a [+]", "      b [b] [+]"}));

    Select(Item({"s", "a", "b"}));
    QVERIFY(WriteHeaderTable(m_dlg->CurrentGroupDirectory(), {{"1", "<a@x>", "one", "", ""}}));
    m_dlg->FillHeaderTree();
    QCOMPARE(HeaderTree()->model()->rowCount(), 1);

    // Tick the group not chosen yet and register.
    WhileModal([&] { QTest::mouseClick(Control<QPushButton>(1002), Qt::LeftButton); },
               [&](QWidget* reg) {
                   auto* tree = reg->findChild<QTreeWidget*>(QStringLiteral("1000"));
                   auto* ok = reg->findChild<QPushButton*>(QStringLiteral("1"));
                   if (!tree || !ok || !ok->isEnabled() || tree->topLevelItemCount() == 0)
                       return false;
                   const QList<QTreeWidgetItem*> found = tree->findItems(
                       QStringLiteral("a.c"), Qt::MatchExactly | Qt::MatchRecursive);
                   if (found.size() != 1)
                       return false;
                   found.front()->setCheckState(0, Qt::Checked);
                   QTest::mouseClick(ok, Qt::LeftButton);
                   return true;
               });

    QCOMPARE(ReadChosenGroups(m_dlg->SettingsPath()),
             (std::vector<ChosenGroup>{{"s", "a.b"}, {"s", "a.c"}}));
    QCOMPARE(DumpTree(ServerTree()), Lines({"NewsGroup [+]", "  s [+]", "    a [+]",
                                            "      b [b] [+]", "      c [b] [+]"}));
    // The current group and its headers are left as they were.
    QCOMPARE(m_dlg->CurrentServer(), std::string("s"));
    QCOMPARE(m_dlg->CurrentGroup(), std::string("a.b"));
    QCOMPARE(HeaderTree()->model()->rowCount(), 1);
    QVERIFY(IsEnabled(1006));
}

void ReaderDlgCommandsTest::registrationCountsSkippedGroups() {
    Open({});
    m_dlg->SetStatusText(QStringLiteral("before"));
    // Two names the settings file can hold and two it cannot, all ticked.
    WhileModal([&] { QTest::mouseClick(Control<QPushButton>(1002), Qt::LeftButton); },
               [&](QWidget* window) {
                   auto* reg = qobject_cast<CServerRegDlg*>(window);
                   auto* ok = window->findChild<QPushButton*>(QStringLiteral("1"));
                   auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("1000"));
                   if (!reg || !ok || !ok->isEnabled())
                       return false;
                   for (const char* name : {"a.b", "bad\r\nname", "a.c"})
                       reg->AddServerGroup("s", name);
                   reg->AddServerGroup("s", std::string(1100, 'x'));
                   for (QTreeWidgetItemIterator it(tree); *it; ++it)
                       (*it)->setCheckState(0, Qt::Checked);
                   QTest::mouseClick(ok, Qt::LeftButton);
                   return true;
               });
    QCOMPARE(Control<QLabel>(CReaderDlg::IDC_STATUS)->text(),
             QString::fromUtf8("設定ファイルに書けないグループ名 2 件を除きました"));
    QCOMPARE(ReadChosenGroups(m_dlg->SettingsPath()),
             (std::vector<ChosenGroup>{{"s", "a.b"}, {"s", "a.c"}}));
    QCOMPARE(DumpTree(ServerTree()), Lines({"NewsGroup [+]", "  s [+]", "    a [+]",
                                            "      b [b] [+]", "      c [b] [+]"}));

    // A registration that leaves nothing out empties the line again.
    WhileModal([&] { QTest::mouseClick(Control<QPushButton>(1002), Qt::LeftButton); },
               [&](QWidget* window) {
                   auto* ok = window->findChild<QPushButton*>(QStringLiteral("1"));
                   if (!ok || !ok->isEnabled())
                       return false;
                   QTest::mouseClick(ok, Qt::LeftButton);
                   return true;
               });
    QCOMPARE(Control<QLabel>(CReaderDlg::IDC_STATUS)->text(), QString());
    QCOMPARE(ReadChosenGroups(m_dlg->SettingsPath()),
             (std::vector<ChosenGroup>{{"s", "a.b"}, {"s", "a.c"}}));
}

void ReaderDlgCommandsTest::articleViewGoesWithTheWindow() {
    Open({});
    QPointer<CHtmlViewCtl> view = m_dlg->HtmlView();
    QVERIFY(view);
    QObject* window = m_dlg.get();
    bool windowStillWhole = false;
    connect(view, &QObject::destroyed, [&] {
        // Still the main window, not yet the QWidget that clears away the children.
        windowStillWhole = qobject_cast<CReaderDlg*>(window) != nullptr;
    });
    m_dlg.reset();
    QVERIFY(!view);
    QVERIFY(windowStillWhole);
}

void ReaderDlgCommandsTest::largeGroupFillTime() {
    if (qEnvironmentVariableIsEmpty("QUILLO_BENCH"))
        QSKIP("set QUILLO_BENCH=1 to time the fill of a large group");
    const int n = qEnvironmentVariableIntValue("QUILLO_BENCH") > 1
                      ? qEnvironmentVariableIntValue("QUILLO_BENCH")
                      : 100000;
    Open({"s,big"});
    QVERIFY(CreateGroupDirectory(Base(), "s", "big"));
    std::vector<HeaderRow> rows;
    for (int i = 0; i < n; ++i) {
        // Threads of ten: a root and nine replies to the article before.
        const std::string ref = i % 10 ? "<" + std::to_string(i - 1) + "@big>" : "";
        rows.push_back({std::to_string(i + 1), "<" + std::to_string(i) + "@big>",
                        "subject " + std::to_string(i), ref, ""});
    }
    QVERIFY(WriteHeaderTable(GroupDirectory(Base(), "s", "big"), rows));
    QElapsedTimer timer;
    timer.start();
    Select(Item({"s", "big"}));
    qInfo("filled %d headers in %lld ms", n, static_cast<long long>(timer.elapsed()));
    QCOMPARE(HeaderTree()->model()->rowCount(), (n + 9) / 10);
    QCOMPARE(m_dlg->MessageIdIndexCount(), n);
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ReaderDlgCommandsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReaderDlgCommandsTest.moc"
