#include "app/HeaderTreeModel.h"
#include "app/MessageIdIndexList.h"
#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "mime/ArticleParser.h"
#include "nntp/NntpSocket.h"
#include "settings/ProfileFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "ui/PumpMessages.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "../nntp/NntpTestSupport.h"
#include "support/ModelItems.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Loading a page finishes within this many milliseconds even on a slow machine.
constexpr int kLoadTimeout = 60000;

namespace {

const char kServer[] = "127.0.0.1";
const char kGroup[] = "local.test";

// What the window shows of the user's messages and of the server's replies.
const char kRefusedMessage[] =
    " 接続エラーが発生しました '接続を試みましたが、リジェクトされました。' ";

struct HeaderRow {
    std::string num;
    std::string mesid;
    std::string sub;
    std::string ref;
};

bool WriteHeaderTable(const std::string& groupDir, const std::vector<HeaderRow>& rows) {
    if (!CreateHeaderTable(groupDir))
        return false;
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(groupDir)) || !table.BeginTrans())
        return false;
    for (const HeaderRow& r : rows) {
        if (!table.AddNew() || !table.SetField("NUM", r.num) || !table.SetField("MESID", r.mesid) ||
            !table.SetField("SUB", r.sub) || !table.SetField("REF", r.ref) || !table.Update())
            return false;
    }
    return table.CommitTrans() && table.Close() == 1;
}

std::vector<std::string> FileLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// An article file as a server sends it after its "220 " line: CR LF, dot-stuffed, "." last.
std::string WireArticle(const std::string& bytes) {
    std::string wire;
    for (const std::string& line : FileLines(bytes))
        wire += (line.starts_with('.') ? "." : "") + line + "\r\n";
    return wire + ".\r\n";
}

// The cache file of an article of 7-bit text that nothing decodes: its lines with CR LF.
std::string PlainCacheBytes(const std::string& bytes) {
    std::string cache;
    for (const std::string& line : FileLines(bytes))
        cache += line + "\r\n";
    return cache;
}

std::string Fixture(const std::string& relative) {
    return ReadWholeFile(TestDataDir() + "/" + relative);
}

// A server that sends one article for ARTICLE number.
NntpScript ArticleScript(const std::string& number, const std::string& article, int pauseMs = 0) {
    NntpScript script;
    script.Send("200 ready\r\n").Reply("211 1 1 1 local.test\r\n").Await();
    if (pauseMs > 0)
        script.Pause(pauseMs);
    script.Send("220 " + number + " <x> article\r\n" + WireArticle(article));
    return script;
}

std::string Transcript(const std::string& number) {
    return "GROUP local.test\r\nARTICLE " + number + "\r\nQUIT\r\nEXIT\r\n";
}

using Entries = std::vector<CPartEntry>;

// A cache file of a short text article.
const std::string kSmallArticle = "Subject: small\r\nContent-Type: text/plain\r\n\r\nbody\r\n";

} // namespace

Q_DECLARE_METATYPE(Entries)

// The main window showing articles: selecting a header, the part list, the article view and its
// history. Every case starts the window in a base directory of its own with one group on the
// loopback server, whose header database the case writes.
class ReaderDlgArticleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void plainArticleIsFetchedOnce();
    void articleShown_data();
    void articleShown();
    void partListSortsPastNine();
    void partChoiceAndHistory();
    void selectionWhileLoadingIsIgnored();
    void selectionsThatShowNothing_data();
    void selectionsThatShowNothing();
    void fetchOutcomes_data();
    void fetchOutcomes();
    void headerPath_data();
    void headerPath();
    void indexEntryOfTheArticlesRecord();
    void largeArticleShowsWithoutFreezing();

private:
    // Starts the window on the group with these headers and shows the group.
    void Open(const std::vector<HeaderRow>& rows);
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string GroupDir() const { return GroupDirectory(Base(), kServer, kGroup); }
    std::string CachePath(const std::string& mesid) const {
        return CacheFilePath(GroupDir(), mesid);
    }
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    QListWidget* PartList() const { return Control<QListWidget>(CReaderDlg::IDC_PART_LIST); }
    CHtmlViewCtl* View() const { return m_dlg->HtmlView(); }
    // The header item whose shown text begins with the article number and a blank.
    QModelIndex Header(const QString& number) const;
    void Select(const QModelIndex& item) const { HeaderTree()->setCurrentIndex(item); }
    // Runs action and waits for the article view to finish the load it starts.
    bool Shows(const std::function<void()>& action) const;
    QString ViewText() const;
    QString SelectAllText() const;
    QString SelectedPart() const;
    QUrl PartUrlOf(const std::string& entry, int data) const {
        return PartUrl(PartFilePath(entry, data));
    }
    int ImageIndex(const QIcon& icon, QIcon::Mode mode) const;
    QString Images(const QModelIndex& item) const;
    std::string Read(int record) const;

    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ReaderDlgArticleTest::initTestCase() {
    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    QVERIFY(!PrivateTempDirectory().empty());
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
}

void ReaderDlgArticleTest::cleanupTestCase() {
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
}

void ReaderDlgArticleTest::cleanup() {
    m_dlg.reset();
    fs::current_path(m_oldDir);
    m_root.reset();
    m_ui.Clear();
    SetDefaultNntpPort(119);
    SetNntpPumpHook({});
}

void ReaderDlgArticleTest::Open(const std::vector<HeaderRow>& rows) {
    m_dlg.reset();
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    const std::string ini = Base() + "/quillo.ini";
    QVERIFY(WriteProfileString(ini, "NNTPREG10", "Selected", "1"));
    QVERIFY(WriteProfileString(ini, "SELECTION", "0", std::string(kServer) + "," + kGroup));
    QVERIFY(
        WriteWholeFile(Base() + "/quillomb.htm",
                       "<html><head><title>start</title></head><body>start page</body></html>"));
    QVERIFY(CreateGroupDirectory(Base(), kServer, kGroup));
    QVERIFY(WriteHeaderTable(GroupDir(), rows));

    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    // The start page must be in before a case counts the loads it causes.
    QSignalSpy start(m_dlg->HtmlView(), &QWebEngineView::loadFinished);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QVERIFY(start.count() > 0 || start.wait(kLoadTimeout));

    QTreeWidget* servers = Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE);
    QTreeWidgetItem* group = servers->topLevelItem(0)->child(0)->child(0)->child(0);
    QCOMPARE(group->text(0), QStringLiteral("test"));
    servers->setCurrentItem(group);
    QCOMPARE(m_dlg->CurrentGroup(), std::string(kGroup));
}

QModelIndex ReaderDlgArticleTest::Header(const QString& number) const {
    for (const QModelIndex& item : AllIndexes(HeaderTree()->model()))
        if (item.data().toString().startsWith(number + QLatin1Char(' ')))
            return item;
    return {};
}

bool ReaderDlgArticleTest::Shows(const std::function<void()>& action) const {
    QSignalSpy spy(View(), &QWebEngineView::loadFinished);
    action();
    if (spy.isEmpty() && !spy.wait(kLoadTimeout))
        return false;
    return spy.takeFirst().at(0).toBool();
}

QString ReaderDlgArticleTest::ViewText() const {
    QString text;
    bool done = false;
    View()->page()->toPlainText([&](const QString& result) {
        text = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kLoadTimeout))
        qWarning("no text from the page");
    return text;
}

// What a user who selects all and copies gets. The page's plain-text dump of a large text holds
// only the blocks laid out so far: those out of sight wait until they come near.
QString ReaderDlgArticleTest::SelectAllText() const {
    auto result = std::make_shared<std::optional<QString>>();
    View()->page()->runJavaScript(
        QStringLiteral("document.execCommand('selectAll'); window.getSelection().toString()"),
        QWebEngineScript::ApplicationWorld,
        [result](const QVariant& value) { *result = value.toString(); });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, kLoadTimeout))
        qWarning("no selection from the page");
    return result->value_or(QString());
}

QString ReaderDlgArticleTest::SelectedPart() const {
    const QList<QListWidgetItem*> selected = PartList()->selectedItems();
    return selected.size() == 1 ? selected.front()->text() : QStringLiteral("(none)");
}

int ReaderDlgArticleTest::ImageIndex(const QIcon& icon, QIcon::Mode mode) const {
    const QImage shown = icon.pixmap(16, 16, mode).toImage();
    for (int i = 0; i < kHeaderIconCount; ++i)
        if (m_dlg->HeaderIcon(i, i).pixmap(16, 16).toImage() == shown)
            return i;
    return -1;
}

QString ReaderDlgArticleTest::Images(const QModelIndex& item) const {
    return QStringLiteral("%1/%2")
        .arg(ImageIndex(IconOf(item), QIcon::Normal))
        .arg(ImageIndex(IconOf(item), QIcon::Selected));
}

std::string ReaderDlgArticleTest::Read(int record) const {
    std::string read;
    ReadRecordField(kHeaderTable, "READ", record, "", read, HeaderDbPath(GroupDir()));
    return read;
}

// ---------------------------------------------------------------------------------------------

void ReaderDlgArticleTest::plainArticleIsFetchedOnce() {
    const std::string article = Fixture("articles/01-plain-ascii.art");
    const std::string mesid = "<welcome.20240115@alice.example.org>";
    Open({{"1", mesid, "Welcome to the Quillo demo group", ""}});
    ScriptedNntpServer server(ArticleScript("1", article));
    SetDefaultNntpPort(server.Port());

    QModelIndex item = Header(QStringLiteral("1"));
    QVERIFY(item.isValid());
    QVERIFY(IsBold(item));
    QCOMPARE(Images(item), QStringLiteral("0/1"));
    QVERIFY(!Control<QWidget>(CReaderDlg::IDC_REPLY)->isEnabled());

    QVERIFY(Shows([&] { Select(item); }));
    QVERIFY(server.WaitForClosedConnections(1));
    QCOMPARE(server.Received(0), Transcript("1"));
    QCOMPARE(ReadWholeFile(CachePath(mesid)), PlainCacheBytes(article));

    QCOMPARE(m_dlg->PartListEntries(), (Entries{{"0: Header", 0}, {"1: Body", 0}}));
    QCOMPARE(SelectedPart(), QStringLiteral("1: Body"));
    QCOMPARE(View()->url(), PartUrlOf("1: Body", 0));
    QVERIFY(ViewText().startsWith(QStringLiteral("Hello everyone,\n")));
    QVERIFY(!IsBold(item));
    QCOMPARE(Images(item), QStringLiteral("2/3"));
    QCOMPARE(Read(0), std::string("YES"));
    QCOMPARE(m_dlg->ArticleLoading(), 0);
    QVERIFY(Control<QWidget>(CReaderDlg::IDC_REPLY)->isEnabled());
    QCOMPARE(m_dlg->MessageIdIndex()->currentRow(), 0);

    // From the cache the second time: no connection, the same parts.
    Select(QModelIndex());
    QElapsedTimer timer;
    qint64 handled = 0;
    timer.start();
    QVERIFY(Shows([&] {
        Select(item);
        handled = timer.elapsed();
    }));
    const qint64 shown = timer.elapsed();
    qInfo("cached article: handler %lld ms, shown in the view after %lld ms",
          static_cast<long long>(handled), static_cast<long long>(shown));
    QVERIFY2(handled < 200, qPrintable(QString::number(handled)));
    QCOMPARE(server.AcceptedConnections(), std::size_t(1));
    QCOMPARE(SelectedPart(), QStringLiteral("1: Body"));
    QVERIFY(ViewText().startsWith(QStringLiteral("Hello everyone,\n")));
    QVERIFY(m_ui.Messages().empty());
}

void ReaderDlgArticleTest::articleShown_data() {
    QTest::addColumn<QString>("fixture"); // an .art file fetched, or an .ntx file cached
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("texts"); // lines the view shows

    QTest::newRow("plain text") << "articles/01-plain-ascii.art"
                                << Entries{{"0: Header", 0}, {"1: Body", 0}} << "1: Body"
                                << QStringList{"Hello everyone,", "-- ", "Alice"};
    QTest::newRow("ISO-2022-JP body")
        << "articles/02-japanese-jis.art" << Entries{{"0: Header", 0}, {"1: Body", 0}} << "1: Body"
        << QStringList{QString::fromUtf8("山田です。"),
                       QString::fromUtf8("このグループは、日本語の記事が正しく表示されるかを確か"
                                         "めるためのものです。"),
                       QString::fromUtf8("山田太郎")};
    QTest::newRow("multipart/alternative shows the last part")
        << "articles/04-multipart-alternative.art"
        << Entries{{"0: Header", 0}, {"1 PlainText1", 0}, {"2 HtmlText2", 1}} << "2 HtmlText2"
        << QStringList{QString::fromUtf8("鈴木です。"),
                       QString::fromUtf8("同じ内容を、プレーンテキストと HTML "
                                         "の二つの形で送ります。")};
    QTest::newRow("no Content-Type shows the header")
        << "mime/no-content-type.ntx" << Entries{{"0: Header", 0}} << "0: Header"
        << QStringList{"Subject: no MIME at all"};
    QTest::newRow("mixed with an image part in the middle")
        << "mime/mixed-image.ntx"
        << Entries{{"0: Header", 0}, {"1 PlainText1", 0}, {"3 HtmlText3", 1}} << "3 HtmlText3"
        << QStringList{"see the picture"};
}

void ReaderDlgArticleTest::articleShown() {
    QFETCH(QString, fixture);
    QFETCH(Entries, entries);
    QFETCH(QString, selected);
    QFETCH(QStringList, texts);

    const std::string mesid = "<shown@example.org>";
    Open({{"5", mesid, "subject", ""}});
    const std::string bytes = Fixture(fixture.toStdString());
    QVERIFY(!bytes.empty());
    const bool fetched = fixture.endsWith(QStringLiteral(".art"));
    ScriptedNntpServer server;
    if (fetched)
        server.AddConnection(ArticleScript("5", bytes));
    else
        QVERIFY(WriteWholeFile(CachePath(mesid), bytes));
    SetDefaultNntpPort(server.Port());

    QVERIFY(Shows([&] { Select(Header(QStringLiteral("5"))); }));
    QCOMPARE(m_dlg->PartListEntries(), entries);
    QCOMPARE(SelectedPart(), selected);
    const std::vector<CPartEntry> shown = m_dlg->PartListEntries();
    const auto entry = std::find_if(shown.begin(), shown.end(), [&](const CPartEntry& e) {
        return QString::fromStdString(e.m_text) == selected;
    });
    QVERIFY(entry != shown.end());
    QCOMPARE(View()->url(), PartUrlOf(entry->m_text, entry->m_data));
    const QStringList lines = ViewText().split(QLatin1Char('\n'));
    for (const QString& text : texts)
        QVERIFY2(lines.contains(text), qPrintable(text + " in\n" + lines.join('\n')));
    if (fetched) {
        QVERIFY(server.WaitForClosedConnections(1));
        QCOMPARE(server.Received(0), Transcript("5"));
    }
    QCOMPARE(server.AcceptedConnections(), std::size_t(fetched ? 1 : 0));
    QCOMPARE(Read(0), std::string("YES"));
}

void ReaderDlgArticleTest::partListSortsPastNine() {
    // Eleven parts, odd ones plain, even ones HTML.
    std::string article = "Subject: many parts\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n"
                          "\r\n";
    for (int i = 1; i <= 11; ++i)
        article += std::string("--b\r\nContent-Type: text/") + (i % 2 ? "plain" : "html") +
                   "\r\n\r\npart " + std::to_string(i) + "\r\n";
    article += "--b--\r\n";
    Open({{"1", "<many@x>", "many parts", ""}});
    QVERIFY(WriteWholeFile(CachePath("<many@x>"), article));

    QVERIFY(Shows([&] { Select(Header(QStringLiteral("1"))); }));
    QCOMPARE(m_dlg->PartListEntries(), (Entries{{"0: Header", 0},
                                                {"1 PlainText1", 0},
                                                {"10 HtmlText10", 1},
                                                {"11 PlainText11", 0},
                                                {"2 HtmlText2", 1},
                                                {"3 PlainText3", 0},
                                                {"4 HtmlText4", 1},
                                                {"5 PlainText5", 0},
                                                {"6 HtmlText6", 1},
                                                {"7 PlainText7", 0},
                                                {"8 HtmlText8", 1},
                                                {"9 PlainText9", 0}}));
    QCOMPARE(SelectedPart(), QStringLiteral("9 PlainText9"));
    QCOMPARE(ViewText(), QStringLiteral("part 9\n"));

    // Item data stays with its entry: the tenth part is a web page.
    QVERIFY(Shows([&] { PartList()->setCurrentRow(2); }));
    QCOMPARE(View()->url(), PartUrlOf("10 HtmlText10", 1));
    QCOMPARE(ViewText(), QStringLiteral("part 10"));
}

void ReaderDlgArticleTest::partChoiceAndHistory() {
    Open({{"1", "<alt@x>", "alternative", ""}});
    ScriptedNntpServer server(ArticleScript("1", Fixture("articles/04-multipart-alternative.art")));
    SetDefaultNntpPort(server.Port());
    const QUrl home = QUrl::fromLocalFile(QString::fromStdString(Base() + "/quillomb.htm"));
    QCOMPARE(View()->url(), home);

    const QUrl html = PartUrlOf("2 HtmlText2", 1);
    const QUrl plain = PartUrlOf("1 PlainText1", 0);
    QVERIFY(Shows([&] { Select(Header(QStringLiteral("1"))); }));
    QCOMPARE(View()->url(), html);

    // Choosing the plain part shows it as text: the markup of the other part is gone.
    QVERIFY(Shows([&] { PartList()->setCurrentRow(1); }));
    QCOMPARE(View()->url(), plain);
    QCOMPARE(ViewText().split('\n').value(0), QString::fromUtf8("鈴木です。"));
    QVERIFY(!ViewText().contains(QStringLiteral("<p>")));
    QCOMPARE(m_dlg->PartListEntries().size(), std::size_t(3));

    auto click = [&](int id) { Control<QPushButton>(id)->click(); };
    struct Step {
        int button;
        QUrl url;
    };
    const std::vector<Step> steps = {
        {CReaderDlg::IDC_BACK, html},    {CReaderDlg::IDC_BACK, home},
        {CReaderDlg::IDC_FORWARD, html}, {CReaderDlg::IDC_FORWARD, plain},
        {CReaderDlg::IDC_HOME, home},    {CReaderDlg::IDC_BACK, plain},
        {CReaderDlg::IDC_FORWARD, home},
    };
    for (const Step& step : steps) {
        QVERIFY(Shows([&] { click(step.button); }));
        QCOMPARE(View()->url(), step.url);
    }
    QCOMPARE(View()->title(), QStringLiteral("start"));
    QCOMPARE(server.AcceptedConnections(), std::size_t(1));

    // Nothing further forward: the button does nothing.
    QSignalSpy started(View(), &QWebEngineView::loadStarted);
    click(CReaderDlg::IDC_FORWARD);
    QTest::qWait(300);
    QCOMPARE(started.count(), 0);
    QCOMPARE(View()->url(), home);
}

void ReaderDlgArticleTest::selectionWhileLoadingIsIgnored() {
    Open({{"1", "<first@x>", "first", ""}, {"2", "<second@x>", "second", ""}});
    // The server takes its time, and the window handles events while it waits.
    ScriptedNntpServer server(ArticleScript("1", Fixture("articles/01-plain-ascii.art"), 800));
    server.AddConnection(ArticleScript("2", Fixture("articles/02-japanese-jis.art")));
    SetDefaultNntpPort(server.Port());
    SetNntpPumpHook(&PumpMessages);

    QModelIndex first = Header(QStringLiteral("1"));
    QModelIndex second = Header(QStringLiteral("2"));
    int loadingSeen = -1;
    QModelIndex currentAfterClick;
    QTimer::singleShot(200, this, [&] {
        loadingSeen = m_dlg->ArticleLoading();
        // The user's click is held back altogether ...
        QTest::mouseClick(HeaderTree()->viewport(), Qt::LeftButton, {},
                          HeaderTree()->visualRect(second).center());
        currentAfterClick = HeaderTree()->currentIndex();
        // ... while a selection the program makes goes through, but loads nothing.
        Select(second);
    });
    QVERIFY(Shows([&] { Select(first); }));

    QCOMPARE(loadingSeen, 1);
    QCOMPARE(currentAfterClick, first);
    QCOMPARE(HeaderTree()->currentIndex(), second);
    QCOMPARE(server.AcceptedConnections(), std::size_t(1));
    QCOMPARE(server.Received(0), Transcript("1"));
    QVERIFY(fs::exists(CachePath("<first@x>")));
    QVERIFY(!fs::exists(CachePath("<second@x>")));
    QVERIFY(ViewText().startsWith(QStringLiteral("Hello everyone,\n")));
    QCOMPARE(m_dlg->HeaderPath()[0], TreeItemText(first));
    QVERIFY(IsBold(second));
    QCOMPARE(Images(second), QStringLiteral("0/1"));
    QCOMPARE(Read(1), std::string());
    QCOMPARE(m_dlg->ArticleLoading(), 0);

    // Once the first article is in, the next selection is handled.
    QVERIFY(Shows([&] { Select(first); }));
    QVERIFY(Shows([&] { Select(second); }));
    QCOMPARE(server.AcceptedConnections(), std::size_t(2));
    QCOMPARE(ViewText().split('\n').value(0), QString::fromUtf8("山田です。"));
}

void ReaderDlgArticleTest::selectionsThatShowNothing_data() {
    QTest::addColumn<QString>("label"); // of an item added by hand; empty: the filled item
    QTest::addColumn<int>("clearing");
    QTest::addColumn<int>("loading");

    QTest::newRow("header tree being cleared") << QString() << 1 << 0;
    QTest::newRow("another article loading") << QString() << 0 << 1;
    QTest::newRow("label without a blank") << QStringLiteral("1") << 0 << 0;
    QTest::newRow("number not in the table") << QStringLiteral("9 elsewhere") << 0 << 0;
    QTest::newRow("record without a Message-ID")
        << QStringLiteral("X1 number found in another letter case") << 0 << 0;
}

void ReaderDlgArticleTest::selectionsThatShowNothing() {
    QFETCH(QString, label);
    QFETCH(int, clearing);
    QFETCH(int, loading);

    Open({{"1", "<one@x>", "one", ""}, {"x1", "", "no Message-ID", ""}});
    ScriptedNntpServer server; // anything that connects is recorded, and nothing is answered
    SetDefaultNntpPort(server.Port());
    QModelIndex item = Header(QStringLiteral("1"));
    if (!label.isEmpty()) {
        m_dlg->HeaderModel()->Insert(0, 0, label.toStdString());
        m_dlg->HeaderModel()->ShowPending();
        item = HeaderTree()->model()->index(HeaderTree()->model()->rowCount() - 1, 0);
    }
    const QUrl before = View()->url();
    m_dlg->SetHeaderTreeClearing(clearing);
    m_dlg->SetArticleLoading(loading);

    QSignalSpy started(View(), &QWebEngineView::loadStarted);
    Select(item);
    QTest::qWait(200);

    QCOMPARE(m_dlg->HeaderTreeClearing(), clearing);
    QCOMPARE(m_dlg->ArticleLoading(), loading);
    QCOMPARE(server.AcceptedConnections(), std::size_t(0));
    QCOMPARE(PartList()->count(), 0);
    QCOMPARE(started.count(), 0);
    QCOMPARE(View()->url(), before);
    QVERIFY(!fs::exists(CachePath("<one@x>")));
    QCOMPARE(Read(0), std::string());
    QVERIFY(m_ui.Messages().empty());
    QCOMPARE(m_dlg->MessageIdIndex()->currentRow(), -1);
    // A guarded selection leaves even the header path alone.
    QCOMPARE(m_dlg->HeaderPath()[0].empty(), clearing || loading);
}

void ReaderDlgArticleTest::fetchOutcomes_data() {
    QTest::addColumn<int>("script"); // 0: a refused port, 1-3: the scripted server
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("received");
    QTest::addColumn<bool>("read"); // marked read, images 2/3 and the part list emptied

    QTest::newRow("connection refused")
        << 0 << QString::fromUtf8(kRefusedMessage) << QString() << false;
    QTest::newRow("greeting refused")
        << 1 << QString::fromUtf8(" 接続エラーが発生しました '502' ") << QString() << false;
    QTest::newRow("no such group")
        << 2 << QString() << QStringLiteral("GROUP local.test\r\nQUIT\r\nEXIT\r\n") << true;
    QTest::newRow("no such article")
        << 3 << QString() << QString::fromStdString(Transcript("1")) << true;
}

void ReaderDlgArticleTest::fetchOutcomes() {
    QFETCH(int, script);
    QFETCH(QString, message);
    QFETCH(QString, received);
    QFETCH(bool, read);

    Open({{"1", "<missing@x>", "missing", ""}, {"2", "<cached@x>", "cached", ""}});
    QVERIFY(WriteWholeFile(CachePath("<cached@x>"), kSmallArticle));
    // A left-over empty cache file counts as no article.
    QVERIFY(WriteWholeFile(CachePath("<missing@x>"), ""));

    ScriptedNntpServer server;
    RefusingPort refusing;
    if (script == 1)
        server.AddConnection(NntpScript().Send("502 no permission\r\n"));
    if (script == 2)
        server.AddConnection(NntpScript().Send("200 ready\r\n").Reply("411 no such group\r\n"));
    if (script == 3)
        server.AddConnection(NntpScript()
                                 .Send("200 ready\r\n")
                                 .Reply("211 1 1 1 local.test\r\n")
                                 .Reply("423 no such article\r\n"));
    SetDefaultNntpPort(script == 0 ? refusing.Port() : server.Port());

    // Another article is on show first.
    QVERIFY(Shows([&] { Select(Header(QStringLiteral("2"))); }));
    const QUrl shown = View()->url();
    QCOMPARE(shown, PartUrlOf("1: Body", 0));

    QModelIndex item = Header(QStringLiteral("1"));
    QSignalSpy started(View(), &QWebEngineView::loadStarted);
    Select(item);
    if (script > 0)
        QVERIFY(server.WaitForClosedConnections(1));
    QTest::qWait(200);

    QCOMPARE(m_ui.Messages(),
             message.isEmpty() ? std::vector<QString>{} : std::vector<QString>{message});
    if (!message.isEmpty())
        QCOMPARE(m_ui.Requests().front().icon, MsgIcon::Warning);
    QCOMPARE(QString::fromStdString(server.AcceptedConnections() ? server.Received(0) : ""),
             received);
    QVERIFY(!fs::exists(CachePath("<missing@x>")));
    QCOMPARE(started.count(), 0);
    QCOMPARE(View()->url(), shown);
    QCOMPARE(PartList()->count(), read ? 0 : 2);
    QCOMPARE(Read(0), std::string(read ? "YES" : ""));
    QCOMPARE(Images(item), read ? QStringLiteral("2/3") : QStringLiteral("0/1"));
    // Nothing arrived, so the article is still not in the cache.
    QVERIFY(IsBold(item));
    QCOMPARE(m_dlg->ArticleLoading(), 0);
}

void ReaderDlgArticleTest::headerPath_data() {
    QTest::addColumn<int>("depth");    // of the thread; the deepest reply is selected
    QTest::addColumn<int>("selected"); // level of the selected item, 0 the thread's start
    QTest::addColumn<int>("first");    // level of the path's first label

    QTest::newRow("thread start") << 1 << 0 << 0;
    QTest::newRow("reply of a reply") << 3 << 2 << 0;
    QTest::newRow("middle of a thread") << 5 << 2 << 0;
    QTest::newRow("twenty levels fill the path") << 20 << 19 << 0;
    QTest::newRow("twenty-one keep the nearest nineteen ancestors") << 21 << 20 << 1;
    QTest::newRow("thirty") << 30 << 29 << 10;
}

void ReaderDlgArticleTest::headerPath() {
    QFETCH(int, depth);
    QFETCH(int, selected);
    QFETCH(int, first);

    std::vector<HeaderRow> rows;
    for (int i = 0; i < depth; ++i)
        rows.push_back({std::to_string(i + 1), "<" + std::to_string(i) + "@x>",
                        "level " + std::to_string(i),
                        i ? "<" + std::to_string(i - 1) + "@x>" : ""});
    Open(rows);
    const std::string mesid = "<" + std::to_string(selected) + "@x>";
    QVERIFY(WriteWholeFile(CachePath(mesid), kSmallArticle));

    QModelIndex item = Header(QString::number(selected + 1));
    QVERIFY(item.isValid());
    QVERIFY(Shows([&] { Select(item); }));

    const auto& path = m_dlg->HeaderPath();
    const int labels = selected - first + 1;
    for (int i = 0; i < kHeaderPathSize; ++i) {
        const int level = first + i;
        const std::string expected =
            i < labels ? std::to_string(level + 1) + " level " + std::to_string(level)
                       : std::string();
        QCOMPARE(path[i], expected);
    }
    QCOMPARE(m_ui.Messages().size(), std::size_t(0));
}

void ReaderDlgArticleTest::indexEntryOfTheArticlesRecord() {
    // Record 1 has no Message-ID and so no entry: entry k no longer describes record k. Two
    // records carry number 3; the article of a number is the first record's.
    Open({{"1", "<a@x>", "a", ""},
          {"2", "", "no Message-ID", ""},
          {"3", "<c@x>", "c", ""},
          {"3", "<d@x>", "d", ""},
          {"4", "<e@x>", "e", ""}});
    for (const char* mesid : {"<a@x>", "<c@x>", "<e@x>"})
        QVERIFY(WriteWholeFile(CachePath(mesid), kSmallArticle));
    QCOMPARE(m_dlg->MessageIdIndexCount(), 4);

    struct Case {
        const char* subject;
        int row;
        const char* entryStart;
    };
    for (const Case& c : {Case{"c", 1, "2 <c@x> ,"}, Case{"e", 3, "4 <e@x> ,"},
                          Case{"a", 0, "0 <a@x> ,"}, Case{"d", 1, "2 <c@x> ,"}}) {
        QModelIndex item;
        for (const QModelIndex& each : AllIndexes(HeaderTree()->model()))
            if (!item.isValid() &&
                each.data().toString().endsWith(QLatin1Char(' ') + QLatin1String(c.subject)))
                item = each;
        QVERIFY(item.isValid());
        Select(item);
        QCOMPARE(m_dlg->MessageIdIndex()->currentRow(), c.row);
        QVERIFY2(m_dlg->MessageIdIndexEntry(c.row).starts_with(c.entryStart), c.subject);
    }
    QCOMPARE(m_dlg->MessageIdIndexRow(0), 0);
    QCOMPARE(m_dlg->MessageIdIndexRow(1), -1);
    QCOMPARE(m_dlg->MessageIdIndexRow(3), 2);
    QCOMPARE(m_dlg->MessageIdIndexRow(5), -1);
    QCOMPARE(m_dlg->MessageIdIndexRow(-1), -1);
}

void ReaderDlgArticleTest::largeArticleShowsWithoutFreezing() {
    // About 5 MB: 70,000 lines of Shift_JIS-free text.
    std::string article = "Subject: large\nContent-Type: text/plain\n\n";
    for (int i = 0; i < 70000; ++i)
        article += "line " + std::to_string(i) + " " + std::string(64, 'a' + i % 26) + "\n";
    article += "the last line\n";
    QVERIFY(article.size() > 5'000'000);
    Open({{"1", "<large@x>", "large", ""}});
    ScriptedNntpServer server(ArticleScript("1", article));
    SetDefaultNntpPort(server.Port());
    SetNntpPumpHook(&PumpMessages);

    // The longest time the window went without handling its events.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer tick;
    tick.setInterval(10);
    connect(&tick, &QTimer::timeout, this,
            [&] { longestGap = std::max(longestGap, sinceTick.restart()); });

    QElapsedTimer timer;
    timer.start();
    qint64 handled = 0;
    sinceTick.start();
    tick.start();
    QVERIFY(Shows([&] {
        Select(Header(QStringLiteral("1")));
        handled = timer.elapsed();
    }));
    const qint64 shown = timer.elapsed();
    const QString text = SelectAllText();
    tick.stop();
    qInfo("5 MB article: fetched and cut in %lld ms, shown after %lld ms; longest stretch "
          "without events %lld ms",
          static_cast<long long>(handled), static_cast<long long>(shown),
          static_cast<long long>(longestGap));
    QCOMPARE(static_cast<std::size_t>(fs::file_size(CachePath("<large@x>"))),
             PlainCacheBytes(article).size());
    QVERIFY(text.startsWith(QStringLiteral("line 0 aaaa")));
    // (A selection leaves out the line end after the last line.)
    QVERIFY2(text.endsWith(QStringLiteral("line 69999 ") + QString(64, QLatin1Char('h')) +
                           QStringLiteral("\nthe last line")),
             qPrintable(text.right(40)));
    QCOMPARE(SelectedPart(), QStringLiteral("1: Body"));
    QVERIFY2(longestGap < 1000, "the window stopped answering while the article was shown");
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ReaderDlgArticleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReaderDlgArticleTest.moc"
