// The main window against the project's INN on 127.0.0.1:119 (tools/inn.sh start): register
// "localhost" through the registration window, choose a fresh group holding tests/data/articles,
// download its headers with "更新" and read every article through the window. Skipped when
// nothing greets there with 200.

#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "mime/ArticleParser.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "store/ServerConfig.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "../nntp/HeaderDownloadTestSupport.h"
#include "InnTestSupport.h"
#include "support/ModelItems.h"
#include "support/TestDir.h"

#include "support/QtTestStrings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWebEnginePage>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kServer = "localhost";
// A page load or a server reply comes well within this on any machine that runs the tests.
constexpr int kTimeoutMs = 30000;

// One line of ISO-2022-JP (ASCII at its end) in Shift_JIS, through the C library.
std::string JisLineToSjis(const std::string& jis) {
    return Iconv(jis, "ISO-2022-JP", "CP932");
}

// The articles of tests/data/articles: file NN is article NN of the fresh group.
struct Article {
    int num;
    std::string id;      // Message-ID as in the file; the loader tags it with the group
    std::string from;    // UTF-8
    std::string subject; // UTF-8
    std::string date;
    std::string media;
    int parent; // the article REF names, 0 for none
};

const std::string kAscii = "text/plain; charset=US-ASCII";
const std::string kJis = "text/plain; charset=ISO-2022-JP";

const std::vector<Article>& Articles() {
    static const std::vector<Article> articles = {
        {1, "welcome.20240115@alice.example.org", "Alice Walker <alice@example.org>",
         "Welcome to the Quillo demo group", "Mon, 15 Jan 2024 09:12:00 +0000", kAscii, 0},
        {2, "20240115210300.2f1c@taro.example.jp", "山田太郎 <taro@example.jp>",
         "日本語の記事の表示テスト", "Mon, 15 Jan 2024 21:03:00 +0900", kJis, 0},
        {3, "kv-settings.1705411805@bob.example.net", "bob@example.net (Bob Stone)",
         "Writing key=value settings", "Tue, 16 Jan 2024 14:30:05 +0100", kAscii, 0},
        {4, "html-sample.1705376400@hanako.example.jp", "鈴木花子 <hanako@example.jp>",
         "HTML形式の記事の例", "Tue, 16 Jan 2024 12:40:00 +0900",
         "multipart/alternative; boundary=\"quillo-alt-4f2a9c\"", 0},
        {5, "editor-question.8812@carol.example.com", "\"Carol Jones\" <carol@example.com>",
         "Which editor do you use for long articles?", "Wed, 17 Jan 2024 08:00:00 -0500", kAscii,
         0},
        {6, "re-editor.0117.1045@dave.example.org", "<dave@example.org>",
         "Re: Which editor do you use for long articles?", "Wed, 17 Jan 2024 10:45:12 -0500",
         kAscii, 5},
        {7, "c0ffee.20240118072040@eve.example.com", "eve@example.com",
         "Re: Which editor do you use for long articles?", "Thu, 18 Jan 2024 07:20:40 +0900",
         kAscii, 6},
        {8, "re-benkyokai.20240117191530@hanako.example.jp", "hanako@example.jp (鈴木花子)",
         "Re: 秋葉原の勉強会について", "Wed, 17 Jan 2024 19:15:30 +0900", kJis, 9},
        {9, "benkyokai.20240117@taro.example.jp", "山田太郎 <taro@example.jp>",
         "秋葉原の勉強会について", "Wed, 17 Jan 2024 09:00:00 +0900", kJis, 0},
        {10, "dots.20240119160500@frank.example.net", "Frank Miller <frank@example.net>",
         "Lines that begin with a dot", "Fri, 19 Jan 2024 16:05:00 +0000", kAscii, 0},
        {11, "long-subject.0118@ichiro.example.jp", "田中一郎 <ichiro@example.jp>",
         "長い件名の折り返しの試験：エンコードされた語が二行にまたがる場合",
         "Thu, 18 Jan 2024 08:30:00 +0900", kJis, 0},
        {12, "benkyokai-re2.1705583100@ichiro.example.net",
         "\"Ichiro Tanaka\" <ichiro@example.net>", "Re: 秋葉原の勉強会について",
         "Thu, 18 Jan 2024 22:05:00 +0900", kJis, 8},
        {13, "folding-notes.20240120@grace.example.org", "Grace Lee <grace@example.org>",
         "Notes on folding long header lines in news articles", "Sat, 20 Jan 2024 11:11:11 +0000",
         kAscii, 0},
        {14, "raw-jis.19991119234500@jiro.example.ne.jp", "jiro@example.ne.jp (佐藤次郎)",
         "古い形式の記事（ヘッダーに生の JIS）", "Fri, 19 Nov 1999 23:45:00 +0900", kJis, 0},
    };
    return articles;
}

// "<local@domain>" with ".tag" after the local part, as the loader feeds it.
std::string TaggedId(const std::string& id, const std::string& tag) {
    const std::size_t at = id.find('@');
    return "<" + id.substr(0, at) + "." + tag + id.substr(at) + ">";
}

// Table "Header" in record order; read is the READ field of every record.
std::vector<std::string> ExpectedHeaderRows(const std::string& group, const std::string& read) {
    std::vector<std::string> rows;
    for (const Article& a : Articles()) {
        const std::string ref =
            a.parent ? TaggedId(Articles()[a.parent - 1].id, group) : std::string("<null>");
        rows.push_back(std::to_string(a.num) + "|" + TaggedId(a.id, group) + "|" + Sjis(a.from) +
                       "|" + Sjis(a.subject) + "|" + a.date + "|" + a.media + "|" + ref + "|" +
                       read + "|<null>");
    }
    return rows;
}

std::vector<std::string> ExpectedPosterRows(const std::string& group) {
    const std::string tail = "," + kServer + "|" + kServer + "|" + group;
    // Articles 8 and 9 come from posters seen before (4 and 2), 14 from a new one.
    return {"Alice Walker|alice@example.org" + tail,
            Sjis("山田太郎") + "|taro@example.jp" + tail,
            "(Bob Stone)|bob@example.net" + tail,
            Sjis("鈴木花子") + "|hanako@example.jp" + tail,
            "Carol Jones|carol@example.com" + tail,
            "dave@example.org|dave@example.org" + tail,
            "eve@example.com|eve@example.com" + tail,
            "Frank Miller|frank@example.net" + tail,
            Sjis("田中一郎") + "|ichiro@example.jp" + tail,
            "Ichiro Tanaka|ichiro@example.net" + tail,
            "Grace Lee|grace@example.org" + tail,
            "(" + Sjis("佐藤次郎") + ")|jiro@example.ne.jp" + tail};
}

// The header tree: threads 5-6-7 and 9-8-12, where 8 arrives before its parent and stays at
// the top with its own reply below it.
struct TreeRow {
    int num;
    int depth;
    bool hasChildren;
};
const std::vector<TreeRow> kTreeRows = {
    {1, 0, false},  {2, 0, false},  {3, 0, false},  {4, 0, false},  {5, 0, true},
    {6, 1, true},   {7, 2, false},  {8, 0, true},   {12, 1, false}, {9, 0, false},
    {10, 0, false}, {11, 0, false}, {13, 0, false}, {14, 0, false},
};

// The tree as the Shift_JIS bytes of its items: two blanks per level, the item's text, then
// [b] when bold and [+] when expanded.
void DumpItemBytes(const QTreeView* tree, const QModelIndex& item, int depth,
                   std::vector<std::string>& out) {
    out.push_back(std::string(static_cast<std::size_t>(depth) * 2, ' ') + TreeItemText(item) +
                  (IsBold(item) ? " [b]" : "") + (tree->isExpanded(item) ? " [+]" : ""));
    for (int i = 0; i < tree->model()->rowCount(item); ++i)
        DumpItemBytes(tree, tree->model()->index(i, 0, item), depth + 1, out);
}

std::vector<std::string> DumpTreeBytes(const QTreeView* tree) {
    std::vector<std::string> out;
    for (int i = 0; i < tree->model()->rowCount(); ++i)
        DumpItemBytes(tree, tree->model()->index(i, 0), 0, out);
    return out;
}

// Uncached articles are bold and their parents expanded; the first item is expanded always.
std::vector<std::string> ExpectedTree(bool uncached) {
    std::vector<std::string> out;
    for (const TreeRow& row : kTreeRows) {
        const bool expanded = row.num == kTreeRows.front().num || (uncached && row.hasChildren);
        out.push_back(std::string(static_cast<std::size_t>(row.depth) * 2, ' ') +
                      std::to_string(row.num) + " " + Sjis(Articles()[row.num - 1].subject) +
                      (uncached ? " [b]" : "") + (expanded ? " [+]" : ""));
    }
    return out;
}

// Lines of a cache file whose bytes differ from what the server sent by more than the
// ISO-2022-JP to Shift_JIS conversion: encoded words, and quoted-printable after its
// declaration. Each must match exactly one line of its article.
struct DecodedLine {
    int num;
    const char* served; // the line the server sent begins with this
    const char* cached; // UTF-8 of the whole line in the cache
};
const std::vector<DecodedLine> kDecodedLines = {
    {2, "From: =?", "From: 山田太郎 <taro@example.jp>"},
    {2, "Subject: =?", "Subject: 日本語の記事の表示テスト"},
    {3, "In a settings file",
     "In a settings file, write each option as key=value with no blanks around ="},
    {3, "    timeout=", "    timeout=30"},
    {3, "    retries=", "    retries=5"},
    {3, "soft line break", "soft line break, which the reader joins again. "},
    {3, "A literal", "A literal \"=20\" is written as =3D20 on the wire."},
    {4, "From: =?", "From: 鈴木花子 <hanako@example.jp>"},
    {4, "Subject: =?", "Subject: HTML形式の記事の例"},
    {8, "From: ", "From: hanako@example.jp (鈴木花子)"},
    {8, "Subject: ", "Subject: Re: 秋葉原の勉強会について"},
    {9, "From: ", "From: 山田太郎 <taro@example.jp>"},
    {9, "Subject: ", "Subject: 秋葉原の勉強会について"},
    {11, "From: ", "From: 田中一郎 <ichiro@example.jp>"},
    {11, "Subject: ", "Subject: 長い件名の折り返しの試験：エンコード"},
    {11, "\t=?", "\tされた語が二行にまたがる場合"},
    {12, "Subject: ", "Subject: Re: 秋葉原の勉強会について"},
};

} // namespace

// The window end to end against a real server. The cases run in order on one window and one
// fresh group: registration, download, reading every article, then downloads that must change
// nothing.
class ReaderDlgInnTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void registerTheServerAndChooseTheGroup();
    void updateStoresTheGroup();
    void updateAgainDuplicatesNothing();
    void readEachArticle_data();
    void readEachArticle();
    void updateAfterReadingKeepsTheReadMarks();

private:
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QTreeWidget* ServerTree() const { return Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE); }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    QListWidget* PartList() const { return Control<QListWidget>(CReaderDlg::IDC_PART_LIST); }
    CHtmlViewCtl* View() const { return m_dlg->HtmlView(); }
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string GroupDir() const { return GroupDirectory(Base(), kServer, m_group); }
    // The item of the server/group tree reached by these shown texts below the root.
    QTreeWidgetItem* ServerItem(const QStringList& path) const;
    // The header item whose label begins with the article number and a blank.
    QModelIndex HeaderItem(int num) const;
    // Presses "更新" and checks what every download leaves behind.
    void Update(bool latestOnly, const std::string& ini, const std::string& read);
    bool Shows(const std::function<void()>& action) const;
    QString ViewText() const;
    void CompareRows(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected) const;

    std::string m_group;
    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ReaderDlgInnTest::initTestCase() {
    if (!InnGreets())
        QSKIP("nothing greets with 200 on 127.0.0.1:119 (tools/inn.sh start)");

    // A group of its own for every run: INN keeps each Message-ID once.
    m_group =
        "quillo.test.w" + std::to_string(std::time(nullptr)) + "p" + std::to_string(::getpid());
    std::string output;
    QVERIFY2(LoadIntoGroup(m_group, TestDataDir() + "/articles", output), output.c_str());
    QVERIFY2(output.find("fed 14, already there 0, rejected 0") != std::string::npos,
             output.c_str());

    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    QVERIFY(WriteWholeFile(Base() + "/quillomb.htm",
                           "<html><head><title>start</title></head><body>start</body></html>"));
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    QSignalSpy start(View(), &QWebEngineView::loadFinished);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QVERIFY(start.count() > 0 || start.wait(kTimeoutMs));
}

void ReaderDlgInnTest::cleanupTestCase() {
    m_dlg.reset();
    if (!m_oldDir.empty())
        fs::current_path(m_oldDir);
    // Kept on request, for a look at the files or to start the program on them.
    const QString keep = qEnvironmentVariable("QUILLO_INN_KEEP_BASE");
    if (m_root && !keep.isEmpty()) {
        std::error_code error;
        fs::remove_all(keep.toStdString(), error);
        fs::copy(Base(), keep.toStdString(), fs::copy_options::recursive, error);
        qInfo("base directory kept in %s (group %s)", qPrintable(keep), m_group.c_str());
    }
    m_root.reset();
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
}

QTreeWidgetItem* ReaderDlgInnTest::ServerItem(const QStringList& path) const {
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

QModelIndex ReaderDlgInnTest::HeaderItem(int num) const {
    const std::string prefix = std::to_string(num) + " ";
    for (const QModelIndex& item : AllIndexes(HeaderTree()->model()))
        if (TreeItemText(item).starts_with(prefix))
            return item;
    return {};
}

bool ReaderDlgInnTest::Shows(const std::function<void()>& action) const {
    QSignalSpy spy(View(), &QWebEngineView::loadFinished);
    action();
    if (spy.isEmpty() && !spy.wait(kTimeoutMs))
        return false;
    return spy.takeFirst().at(0).toBool();
}

QString ReaderDlgInnTest::ViewText() const {
    QString text;
    bool done = false;
    View()->page()->toPlainText([&](const QString& result) {
        text = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kTimeoutMs))
        qWarning("no text from the page");
    return text;
}

void ReaderDlgInnTest::CompareRows(const std::vector<std::string>& actual,
                                   const std::vector<std::string>& expected) const {
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
        QCOMPARE(actual[i], expected[i]);
    QCOMPARE(actual.size(), expected.size());
}

void ReaderDlgInnTest::registerTheServerAndChooseTheGroup() {
    // The registration window is modal: a probe drives it once its configuration is loaded.
    QString name;
    QString host;
    bool ticked = false;
    bool busy = false;
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, [&] {
        QWidget* reg = QApplication::activeModalWidget();
        if (busy || !reg || reg == m_dlg.get())
            return;
        auto* ok = reg->findChild<QPushButton*>(QStringLiteral("1"));
        auto* cancel = reg->findChild<QPushButton*>(QStringLiteral("2"));
        auto* search = reg->findChild<QPushButton*>(QStringLiteral("1002"));
        auto* edit = reg->findChild<QLineEdit*>(QStringLiteral("1001"));
        auto* tree = reg->findChild<QTreeWidget*>(QStringLiteral("1000"));
        if (!ok || !cancel || !search || !edit || !tree || !ok->isEnabled())
            return;
        busy = true;
        probe.stop();
        name = reg->objectName();
        host = edit->text();
        edit->setText(QString::fromStdString(kServer));
        // The search runs to its end inside the click.
        QTest::mouseClick(search, Qt::LeftButton);
        const QList<QTreeWidgetItem*> found =
            tree->findItems(QString::fromStdString(m_group), Qt::MatchExactly | Qt::MatchRecursive);
        if (found.size() == 1 && found.front()->parent() &&
            found.front()->parent()->text(0) == QString::fromStdString(kServer)) {
            found.front()->setCheckState(0, Qt::Checked);
            ticked = true;
            QTest::mouseClick(ok, Qt::LeftButton);
        } else {
            QTest::mouseClick(cancel, Qt::LeftButton);
        }
    });
    probe.start();
    QTest::mouseClick(Control<QPushButton>(CReaderDlg::IDC_SERVER_REG), Qt::LeftButton);
    probe.stop();

    QCOMPARE(name, QStringLiteral("129"));
    QCOMPARE(host, QStringLiteral("localhost"));
    QVERIFY2(ticked, "the fresh group is not in the list under localhost");
    QVERIFY(m_ui.Messages().empty());
    QCOMPARE(ReadChosenGroups(m_dlg->SettingsPath()),
             (std::vector<ChosenGroup>{{kServer, m_group}}));

    // The main tree shows the group, split at its dots.
    const QString leaf = QString::fromStdString(m_group.substr(std::string("quillo.test.").size()));
    QTreeWidgetItem* item = ServerItem(
        {QStringLiteral("localhost"), QStringLiteral("quillo"), QStringLiteral("test"), leaf});
    QVERIFY(item);
    QVERIFY(item->font(0).bold());
    QCOMPARE(ServerTree()->topLevelItem(0)->childCount(), 1);

    ServerTree()->setCurrentItem(item);
    QCOMPARE(m_dlg->CurrentServer(), kServer);
    QCOMPARE(m_dlg->CurrentGroup(), m_group);
    QVERIFY(fs::is_directory(GroupDir()));
    QCOMPARE(HeaderTree()->model()->rowCount(), 0);
    QVERIFY(Control<QWidget>(CReaderDlg::IDC_UPDATE)->isEnabled());
}

void ReaderDlgInnTest::Update(bool latestOnly, const std::string& ini, const std::string& read) {
    QVERIFY(Control<QWidget>(CReaderDlg::IDC_UPDATE)->isEnabled());
    Control<QCheckBox>(CReaderDlg::IDC_LATEST_ONLY)->setChecked(latestOnly);
    QTest::mouseClick(Control<QPushButton>(CReaderDlg::IDC_UPDATE), Qt::LeftButton);

    QVERIFY(m_ui.Messages().empty());
    CompareRows(HeaderRows(GroupDir()), ExpectedHeaderRows(m_group, read));
    if (QTest::currentTestFailed())
        return;
    CompareRows(AddressBookRows(m_dlg->DatabasePath()), ExpectedPosterRows(m_group));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(ReadWholeFile(HeaderIniPath(GroupDir())), ini);

    // Refilled, nothing selected, the window at rest.
    CompareRows(DumpTreeBytes(HeaderTree()), ExpectedTree(read == "<null>"));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_dlg->MessageIdIndexCount(), 14);
    QVERIFY(!HeaderTree()->currentIndex().isValid());
    QCOMPARE(m_dlg->StatusText(), QString());
    for (int id : {1006, 1012, 1010, 1019, 1})
        QVERIFY2(Control<QWidget>(id)->isEnabled(), qPrintable(QString::number(id)));
}

void ReaderDlgInnTest::updateStoresTheGroup() {
    QVERIFY(!m_dlg->CurrentGroup().empty());
    // With "最新情報のみ" (checked at start) and nothing stored yet, the whole range.
    QVERIFY(Control<QCheckBox>(CReaderDlg::IDC_LATEST_ONLY)->isChecked());
    Update(true, "[HEADER]\ncount=14\nMIN=1\nLASTHEADER=14\n", "<null>");
    if (QTest::currentTestFailed())
        return;

    // What the tree shows, for the Japanese subjects too; 日本語 as bytes written out.
    const QModelIndex japanese = HeaderItem(2);
    QVERIFY(japanese.isValid());
    QVERIFY(TreeItemText(japanese).starts_with("2 \x93\xfa\x96\x7b\x8c\xea"));
    for (const TreeRow& row : kTreeRows) {
        const QModelIndex item = HeaderItem(row.num);
        QVERIFY(item.isValid());
        QCOMPARE(item.data().toString(),
                 QString::number(row.num) + QLatin1Char(' ') +
                     QString::fromStdString(Articles()[row.num - 1].subject));
    }
    for (int k = 0; k < 14; ++k) {
        const std::string entry = m_dlg->MessageIdIndexEntry(k);
        const std::string expected =
            std::to_string(k) + " " + TaggedId(Articles()[k].id, m_group) + " ,";
        QVERIFY2(entry.starts_with(expected), entry.c_str());
        QCOMPARE(m_dlg->HeaderItem(std::stoi(entry.substr(expected.size()))), HeaderItem(k + 1));
    }
}

void ReaderDlgInnTest::updateAgainDuplicatesNothing() {
    // Latest only: the last article stored is asked for again and rewritten in its place.
    Update(true, "[HEADER]\ncount=14\nMIN=14\nLASTHEADER=14\n", "<null>");
    if (QTest::currentTestFailed())
        return;
    // The whole range: every record found by its Message-ID and rewritten.
    Update(false, "[HEADER]\ncount=14\nMIN=1\nLASTHEADER=14\n", "<null>");
}

void ReaderDlgInnTest::readEachArticle_data() {
    using Entries = std::vector<CPartEntry>;
    QTest::addColumn<int>("num");
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("shown"); // lines the view shows

    const Entries body = {{"0: Header", kPartTextFile}, {"1: Body", kPartTextFile}};
    auto add = [&](int num, const char* what, const QStringList& shown) {
        QTest::addRow("%02d %s", num, what) << num << body << QStringLiteral("1: Body") << shown;
    };
    auto u = [](const char* utf8) { return QString::fromUtf8(utf8); };
    add(1, "plain ASCII", {u("Hello everyone,"), u("-- "), u("Alice")});
    // JIS 2141 is 0x8160 in the cache, which the page's Shift_JIS reads as U+FF5E.
    add(2, "ISO-2022-JP",
        {u("山田です。"), u("全角の記号（「」・ー～）と、英数字 ABC 123 を混ぜてみました。"),
         u("山田太郎")});
    // The body's soft line breaks, left in its file by the fetch, are joined as it is shown.
    QTest::addRow("03 quoted-printable")
        << 3
        << Entries{{"0: Header", kPartTextFile},
                   {"1: Body", kPartTextFile, "", CTransfer::QuotedPrintable}}
        << QStringLiteral("1: Body")
        << QStringList{u("In a settings file, write each option as key=value with no blanks "
                         "around the equals sign, for example:"),
                       u("    timeout=30"),
                       u("A literal \"=20\" is written as =3D20 on the wire.")};
    QTest::addRow("04 multipart/alternative shows the HTML part")
        << 4
        << Entries{{"0: Header", kPartTextFile},
                   {"1 PlainText1", kPartTextFile},
                   {"2 HtmlText2", kPartHtmlFile}}
        << QStringLiteral("2 HtmlText2")
        << QStringList{u("鈴木です。"), u("読めるほうで読んでください。")};
    add(5, "thread root", {u("Carol")});
    add(6, "thread reply",
        {u("> editor?"),
         u("External. I keep a plain text file per draft and paste it in when done.")});
    add(7, "second reply", {u("mistake.")});
    add(8, "late reply",
        {u("> 来週の土曜日、秋葉原で勉強会を開きます。"),
         u("参加します。資料は当日配られるのでしょうか。")});
    add(9, "late parent", {u("テーマはネットニュースの仕組みです。")});
    add(10, "dot lines", {u("."), u(".x"), u("..")});
    add(11, "folded Japanese subject", {u("二行目を TAB で始めて折り返してあります。")});
    add(12, "folded references", {u("資料は前日までにこのグループに投稿するそうです。")});
    add(13, "folded ASCII subject",
        {u("Posting programs fold long header fields at a blank like this.")});
    add(14, "raw JIS headers",
        {u("昔のニュースリーダーは、件名や差出人に JIS のコードをそのまま書いていました。")});
}

void ReaderDlgInnTest::readEachArticle() {
    using Entries = std::vector<CPartEntry>;
    QFETCH(int, num);
    QFETCH(Entries, entries);
    QFETCH(QString, selected);
    QFETCH(QStringList, shown);
    QVERIFY(!m_dlg->CurrentGroup().empty());

    const Article& article = Articles()[num - 1];
    const std::string mesid = TaggedId(article.id, m_group);
    const std::string cachePath = CacheFilePath(GroupDir(), mesid);
    QVERIFY(!fs::exists(cachePath));
    const QModelIndex item = HeaderItem(num);
    QVERIFY(item.isValid());
    QVERIFY(IsBold(item));

    // Chosen as a user does, with the mouse: the tree makes the item current before it selects
    // it.
    HeaderTree()->scrollTo(item);
    const QPoint at = HeaderTree()->visualRect(item).center();
    QVERIFY(Shows([&] { QTest::mouseClick(HeaderTree()->viewport(), Qt::LeftButton, {}, at); }));
    QCOMPARE(HeaderTree()->currentIndex(), item);
    QVERIFY(HeaderTree()->selectionModel()->isSelected(item));
    QVERIFY(m_ui.Messages().empty());

    // The cache holds every line the server sent, decoded, with CR LF.
    const std::vector<std::string> served = ServedArticle(m_group, num);
    QVERIFY(served.size() > 8);
    std::string expected;
    int decoded = 0;
    for (const std::string& line : served) {
        std::string cached = JisLineToSjis(line);
        for (const DecodedLine& d : kDecodedLines) {
            if (d.num == num && line.starts_with(d.served)) {
                cached = Sjis(d.cached);
                ++decoded;
            }
        }
        expected += cached + "\r\n";
    }
    // Every table line of the article met exactly one served line.
    QCOMPARE(decoded,
             static_cast<int>(std::count_if(kDecodedLines.begin(), kDecodedLines.end(),
                                            [&](const DecodedLine& d) { return d.num == num; })));
    const std::string cache = ReadWholeFile(cachePath);
    QCOMPARE(cache, expected);
    if (num == 2) {
        // "・ー〜）" written out: 〜 is JIS 2141, 0x81 0x60.
        QVERIFY(cache.find("\x81\x45\x81\x5b\x81\x60\x81\x6a") != std::string::npos);
    }
    if (num == 10) {
        // The lines a server sends dot-stuffed, back as they were written.
        QVERIFY(cache.find("\r\n.\r\nand the one after") != std::string::npos);
        QVERIFY(cache.find("\r\n.x\r\n") != std::string::npos);
        QVERIFY(cache.find("\r\n..\r\nA reader must") != std::string::npos);
    }

    QCOMPARE(m_dlg->PartListEntries(), entries);
    const QList<QListWidgetItem*> chosen = PartList()->selectedItems();
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.front()->text(), selected);
    const CPartEntry& entry = entries[static_cast<std::size_t>(PartList()->row(chosen.front()))];
    QCOMPARE(View()->url(), PartUrl(PartFilePath(entry.m_text, entry.m_data),
                                    {entry.m_charset, entry.m_transfer}));
    const QStringList lines = ViewText().split(QLatin1Char('\n'));
    for (const QString& text : shown)
        QVERIFY2(lines.contains(text),
                 qPrintable(text + QStringLiteral(" not in\n") + lines.join(QLatin1Char('\n'))));

    QVERIFY(!IsBold(item));
    std::string read;
    QVERIFY(ReadRecordField(kHeaderTable, "READ", num - 1, "", read, HeaderDbPath(GroupDir())));
    QCOMPARE(read, std::string("YES"));
    // The article shown can be answered.
    QVERIFY(Control<QWidget>(CReaderDlg::IDC_REPLY)->isEnabled());
}

void ReaderDlgInnTest::updateAfterReadingKeepsTheReadMarks() {
    for (int num = 1; num <= 14; ++num)
        QVERIFY2(
            fs::file_size(CacheFilePath(GroupDir(), TaggedId(Articles()[num - 1].id, m_group))) > 0,
            qPrintable(QString::number(num)));
    Update(false, "[HEADER]\ncount=14\nMIN=1\nLASTHEADER=14\n", "YES");
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ReaderDlgInnTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReaderDlgInnTest.moc"
