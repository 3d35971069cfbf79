#include "app/MessageIdIndexList.h"
#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "nntp/NntpSocket.h"
#include "settings/ProfileFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "ui/PumpMessages.h"
#include "ui/ScriptedUi.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "../nntp/HeaderDownloadTestSupport.h"
#include "../nntp/NntpTestSupport.h"
#include "support/ModelItems.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kServer[] = "127.0.0.1";
const char kOne[] = "local.one";
const char kTwo[] = "local.two";

struct HeaderRow {
    std::string num;
    std::string mesid;
    std::string sub;
};

bool WriteHeaderTable(const std::string& groupDir, const std::vector<HeaderRow>& rows) {
    if (!CreateHeaderTable(groupDir))
        return false;
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(groupDir)) || !table.BeginTrans())
        return false;
    for (const HeaderRow& r : rows) {
        if (!table.AddNew() || !table.SetField("NUM", r.num) || !table.SetField("MESID", r.mesid) ||
            !table.SetField("SUB", r.sub) || !table.Update())
            return false;
    }
    return table.CommitTrans() && table.Close() == 1;
}

std::string HeadReply(int n) {
    const std::string number = std::to_string(n);
    return "221 " + number + " <" + number + "@example.org>\r\nFrom: Poster " + number + " <p" +
           number + "@example.org>\r\nSubject: Article " + number + "\r\nMessage-ID: <" + number +
           "@example.org>\r\n.\r\n";
}

// A group of `count` articles. Before it answers HEAD pauseAt, the server sets `waiting` and
// takes pauseMs; the client waits for that reply meanwhile.
NntpScript ServeHeads(const std::string& group, int count, int pauseAt, int pauseMs,
                      std::atomic<bool>* waiting) {
    return NntpScript()
        .Send("200 ready\r\n")
        .OnCommand([=](NntpServerConnection& c, const std::string& line) {
            if (line.starts_with("GROUP ")) {
                c.Send("211 " + std::to_string(count) + " 1 " + std::to_string(count) + " " +
                       group + "\r\n");
            } else if (line.starts_with("HEAD ")) {
                const int n = std::atoi(line.c_str() + 5);
                if (n == pauseAt && waiting) {
                    *waiting = true;
                    c.Pause(pauseMs);
                }
                c.Send(HeadReply(n));
            } else {
                // CAPABILITIES and LIST OVERVIEW.FMT: a server without an overview.
                c.Send("500 What?\r\n");
            }
        });
}

std::vector<std::string> Numbers(int first, int last) {
    std::vector<std::string> numbers;
    for (int n = first; n <= last; ++n)
        numbers.push_back(std::to_string(n));
    return numbers;
}

} // namespace

// The main window while it waits: whatever the user does during a long operation, the
// operation finishes on the group it started with, the files stay consistent and the commands
// end up in their rule states. Each case clicks during a pause of the scripted server (or during
// the header-tree fill) and then looks at the files and the trees.
class ReaderDlgBusyTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void articleFetchKeepsItsGroup();
    void headerTreeFillKeepsItsGroup();
    void downloadKeepsTheCommandsOff();
    void registrationWaitsForTheDownload();
    void closeDuringDownload_data();
    void closeDuringDownload();
    void closeDuringHeaderTreeFill();
    void closeDuringArticleFetch();

private:
    void Open();
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string GroupDir(const char* group) const { return GroupDirectory(Base(), kServer, group); }
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    bool IsEnabled(int id) const { return Control<QWidget>(id)->isEnabled(); }
    QTreeWidget* ServerTree() const { return Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE); }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    QTreeWidgetItem* GroupItem(const char* last) const;
    // A click of the user on the item, or on the button.
    static void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item);
    static void ClickItem(QTreeView* tree, const QModelIndex& item);
    void Click(int id) const { QTest::mouseClick(Control<QPushButton>(id), Qt::LeftButton); }
    // Runs action at the first event the window handles after flag was set.
    void OnceSet(const std::atomic<bool>& flag, std::function<void()> action);
    QStringList HeaderLabels() const;
    std::vector<std::string> StoredNumbers(const char* group) const {
        return Rows(HeaderDbPath(GroupDir(group)), "SELECT Num FROM Header ORDER BY rowid");
    }
    std::string Counters(const char* group) const {
        return ReadWholeFile(HeaderIniPath(GroupDir(group)));
    }

    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    std::unique_ptr<NntpSettingsGuard> m_nntp;
    std::unique_ptr<QTimer> m_probe;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ReaderDlgBusyTest::initTestCase() {
    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
}

void ReaderDlgBusyTest::cleanupTestCase() {
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
}

void ReaderDlgBusyTest::init() {
    // A wait that old faults would turn into a hang ends in seconds.
    m_nntp = std::make_unique<NntpSettingsGuard>(2000, 2000);
    SetNntpPumpHook(&PumpMessages);
}

void ReaderDlgBusyTest::cleanup() {
    m_probe.reset();
    m_dlg.reset();
    fs::current_path(m_oldDir);
    m_root.reset();
    m_ui.Clear();
    SetNntpPumpHook({});
    m_nntp.reset();
}

void ReaderDlgBusyTest::Open() {
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    const std::string ini = Base() + "/quillo.ini";
    QVERIFY(WriteProfileString(ini, "NNTPREG10", "Selected", "2"));
    QVERIFY(WriteProfileString(ini, "SELECTION", "0", std::string(kServer) + "," + kOne));
    QVERIFY(WriteProfileString(ini, "SELECTION", "1", std::string(kServer) + "," + kTwo));
    QVERIFY(WriteWholeFile(Base() + "/quillomb.htm", "<html><body>start</body></html>"));
    QVERIFY(CreateGroupDirectory(Base(), kServer, kOne));
    QVERIFY(CreateGroupDirectory(Base(), kServer, kTwo));
    // The main database holds the server's group list from its registration on.
    QVERIFY(CreateDatabaseTable("127001", {"name"}, Base() + "/quillo.mdb"));
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QApplication::setActiveWindow(m_dlg.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
}

QTreeWidgetItem* ReaderDlgBusyTest::GroupItem(const char* last) const {
    QTreeWidgetItem* local = ServerTree()->topLevelItem(0)->child(0)->child(0);
    for (int i = 0; i < local->childCount(); ++i)
        if (local->child(i)->text(0) == QLatin1String(last))
            return local->child(i);
    return nullptr;
}

void ReaderDlgBusyTest::ClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
    QVERIFY(item);
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

void ReaderDlgBusyTest::ClickItem(QTreeView* tree, const QModelIndex& item) {
    QVERIFY(item.isValid());
    tree->scrollTo(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(item).center());
}

void ReaderDlgBusyTest::OnceSet(const std::atomic<bool>& flag, std::function<void()> action) {
    m_probe = std::make_unique<QTimer>();
    m_probe->setInterval(5);
    connect(m_probe.get(), &QTimer::timeout, this, [this, &flag, action = std::move(action)] {
        if (!flag)
            return;
        m_probe->stop();
        action();
    });
    m_probe->start();
}

QStringList ReaderDlgBusyTest::HeaderLabels() const {
    QStringList labels;
    for (const QModelIndex& item : AllIndexes(HeaderTree()->model()))
        labels << item.data().toString();
    return labels;
}

// ---------------------------------------------------------------------------------------------

void ReaderDlgBusyTest::articleFetchKeepsItsGroup() {
    Open();
    QVERIFY(WriteHeaderTable(GroupDir(kOne), {{"1", "<a1@x>", "first of one"}}));
    QVERIFY(WriteHeaderTable(GroupDir(kTwo), {{"1", "<b1@x>", "first of two"}}));
    ClickItem(ServerTree(), GroupItem("one"));
    QCOMPARE(m_dlg->CurrentGroup(), std::string(kOne));

    // The server is slow to greet; the user clicks the other group meanwhile.
    const std::string article = "Subject: first of one\r\nMessage-ID: <a1@x>\r\n\r\nbody\r\n";
    std::atomic<bool> waiting{false};
    ScriptedNntpServer server(NntpScript()
                                  .Do([&](NntpServerConnection&) { waiting = true; })
                                  .Pause(500)
                                  .Send("200 ready\r\n")
                                  .OnCommand([&](NntpServerConnection& c, const std::string& line) {
                                      if (line.starts_with("GROUP "))
                                          c.Send("211 1 1 1 " + line.substr(6, line.size() - 8) +
                                                 "\r\n");
                                      else if (line.starts_with("ARTICLE "))
                                          c.Send("220 1 <a1@x> article\r\n" + article + ".\r\n");
                                  }));
    SetDefaultNntpPort(server.Port());
    bool loading = false; // the click came while the article was loading
    OnceSet(waiting, [&] {
        loading = m_dlg->ArticleLoading() == 1;
        ClickItem(ServerTree(), GroupItem("two"));
        HeaderTree()->setFocus();
        QTest::keyClick(HeaderTree(), Qt::Key_Up);
    });

    const QModelIndex first = HeaderTree()->model()->index(0, 0);
    ClickItem(HeaderTree(), first);
    QVERIFY(server.WaitForClosedConnections(1));

    QVERIFY(loading);
    QCOMPARE(server.Received(0), std::string("GROUP local.one\r\nARTICLE 1\r\nQUIT\r\nEXIT\r\n"));
    QCOMPARE(ReadWholeFile(CacheFilePath(GroupDir(kOne), "<a1@x>")), article);
    QVERIFY(!fs::exists(CacheFilePath(GroupDir(kTwo), "<a1@x>")));
    QVERIFY(!fs::exists(CacheFilePath(GroupDir(kTwo), "<b1@x>")));
    QCOMPARE(Rows(HeaderDbPath(GroupDir(kOne)), "SELECT READ FROM Header"),
             std::vector<std::string>{"YES"});
    QCOMPARE(Rows(HeaderDbPath(GroupDir(kTwo)), "SELECT READ FROM Header"),
             std::vector<std::string>{"<null>"});
    // The window still shows the group and the article it worked on.
    QCOMPARE(m_dlg->CurrentGroup(), std::string(kOne));
    QCOMPARE(ServerTree()->currentItem(), GroupItem("one"));
    QCOMPARE(HeaderLabels(), QStringList{QStringLiteral("1 first of one")});
    QCOMPARE(HeaderTree()->currentIndex(), HeaderTree()->model()->index(0, 0));
    for (int id : {1006, 1012, 1010, 1011, 1019, 1})
        QVERIFY2(IsEnabled(id), qPrintable(QString::number(id)));
    QVERIFY(m_ui.Messages().empty());
}

void ReaderDlgBusyTest::headerTreeFillKeepsItsGroup() {
    Open();
    // Enough records that the fill outlasts the interval between two event pumps many times
    // over, however fast the machine.
    constexpr int kRecords = 100000;
    std::vector<HeaderRow> rows;
    QStringList labels;
    for (int i = 1; i <= kRecords; ++i) {
        rows.push_back(
            {std::to_string(i), "<" + std::to_string(i) + "@one>", "subject " + std::to_string(i)});
        labels << QStringLiteral("%1 subject %1").arg(i);
    }
    QVERIFY(WriteHeaderTable(GroupDir(kOne), rows));
    QVERIFY(WriteHeaderTable(GroupDir(kTwo), {{"1", "<b1@x>", "first of two"}}));

    // The fill handles waiting events once it has begun: the other group is clicked then.
    bool armed = false;
    bool clicked = false;
    bool filling = false; // the click came in the middle of the fill
    connect(m_dlg->MessageIdIndex()->model(), &QAbstractItemModel::rowsInserted, this, [&] {
        if (armed)
            return;
        armed = true;
        QTimer::singleShot(0, this, [&] {
            clicked = true;
            filling = HeaderTree()->model()->rowCount() == 0 &&
                      Control<QProgressBar>(CReaderDlg::IDC_PROGRESS)->maximum() == kRecords;
            ClickItem(ServerTree(), GroupItem("two"));
        });
    });
    ClickItem(ServerTree(), GroupItem("one"));

    QVERIFY(clicked);
    QVERIFY(filling);
    QCOMPARE(m_dlg->CurrentGroup(), std::string(kOne));
    QCOMPARE(ServerTree()->currentItem(), GroupItem("one"));
    QCOMPARE(HeaderLabels(), labels);
    QCOMPARE(m_dlg->MessageIdIndexCount(), kRecords);
    QVERIFY(m_dlg->MessageIdIndexEntry(kRecords - 1).starts_with("99999 <100000@one> ,"));
    QVERIFY(!HeaderTree()->currentIndex().isValid());
    QVERIFY(IsEnabled(1006));
    QVERIFY(IsEnabled(1019));
    QVERIFY(!IsEnabled(1011));
}

void ReaderDlgBusyTest::downloadKeepsTheCommandsOff() {
    Open();
    ClickItem(ServerTree(), GroupItem("one"));
    std::atomic<bool> waiting{false};
    ScriptedNntpServer server(ServeHeads(kOne, 5, 3, 500, &waiting));
    // What a second update would find, should one start.
    server.AddConnection(ServeHeads(kTwo, 2, 0, 0, nullptr));
    SetDefaultNntpPort(server.Port());

    std::vector<bool> enabled; // update and exit, after each click
    bool downloading = false;  // the click came while the headers were read
    OnceSet(waiting, [&] {
        downloading = m_dlg->StatusText().startsWith(QString::fromUtf8("ヘッダー読み取り中 : "));
        ClickItem(ServerTree(), GroupItem("two"));
        enabled.push_back(IsEnabled(1006));
        enabled.push_back(IsEnabled(1));
        Click(1006);
        enabled.push_back(IsEnabled(1006));
        enabled.push_back(IsEnabled(1));
    });
    Click(1006);
    QVERIFY(server.WaitForClosedConnections(1));

    QVERIFY(downloading);
    QCOMPARE(enabled, std::vector<bool>(4, false));
    QCOMPARE(server.AcceptedConnections(), std::size_t(1));
    QCOMPARE(server.Received(0),
             "CAPABILITIES\r\nLIST OVERVIEW.FMT\r\nGROUP local.one\r\nHEAD 1\r\n"
             "HEAD 2\r\nHEAD 3\r\nHEAD 4\r\nHEAD 5\r\nQUIT\r\nEXIT\r\n");
    QCOMPARE(StoredNumbers(kOne), Numbers(1, 5));
    QCOMPARE(Counters(kOne), std::string("[HEADER]\ncount=5\nMIN=1\nLASTHEADER=5\n"));
    QVERIFY(!fs::exists(HeaderDbPath(GroupDir(kTwo))));
    QVERIFY(!fs::exists(HeaderIniPath(GroupDir(kTwo))));
    QCOMPARE(m_dlg->CurrentGroup(), std::string(kOne));
    QCOMPARE(ServerTree()->currentItem(), GroupItem("one"));
    QCOMPARE(HeaderLabels().size(), 5);
    // The rules afterwards: a group with headers and nothing selected.
    for (int id : {1006, 1012, 1010, 1019, 1})
        QVERIFY2(IsEnabled(id), qPrintable(QString::number(id)));
    QVERIFY(!IsEnabled(1011));
    QVERIFY(m_ui.Messages().empty());
}

void ReaderDlgBusyTest::registrationWaitsForTheDownload() {
    Open();
    ClickItem(ServerTree(), GroupItem("one"));
    const std::string iniBefore = ReadWholeFile(m_dlg->SettingsPath());
    std::atomic<bool> waiting{false};
    ScriptedNntpServer server(ServeHeads(kOne, 5, 3, 500, &waiting));
    SetDefaultNntpPort(server.Port());

    // Should the registration window open, it is cancelled as soon as it can be.
    bool registrationOpened = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, this, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != QLatin1String("129"))
            return;
        registrationOpened = true;
        auto* cancel = modal->findChild<QPushButton*>(QStringLiteral("2"));
        if (cancel && cancel->isEnabled())
            QTest::mouseClick(cancel, Qt::LeftButton);
    });
    answer.start();
    bool downloading = false; // the click came while the headers were read
    OnceSet(waiting, [&] {
        downloading = m_dlg->StatusText().startsWith(QString::fromUtf8("ヘッダー読み取り中 : "));
        Click(CReaderDlg::IDC_SERVER_REG);
    });
    Click(1006);
    QVERIFY(server.WaitForClosedConnections(1));
    QTest::qWait(100);
    answer.stop();

    QVERIFY(downloading);
    QVERIFY(!registrationOpened);
    QCOMPARE(StoredNumbers(kOne), Numbers(1, 5));
    QCOMPARE(Counters(kOne), std::string("[HEADER]\ncount=5\nMIN=1\nLASTHEADER=5\n"));
    QCOMPARE(AddressBookRows(m_dlg->DatabasePath()).size(), std::size_t(5));
    QCOMPARE(ReadWholeFile(m_dlg->SettingsPath()), iniBefore);
    QVERIFY(IsEnabled(CReaderDlg::IDC_SERVER_REG));
    QVERIFY(m_ui.Messages().empty());
}

void ReaderDlgBusyTest::closeDuringDownload_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Escape") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("close");
}

void ReaderDlgBusyTest::closeDuringDownload() {
    QFETCH(QString, how);
    Open();
    ClickItem(ServerTree(), GroupItem("one"));
    std::atomic<bool> waiting{false};
    ScriptedNntpServer server(ServeHeads(kOne, 10, 4, 500, &waiting));
    SetDefaultNntpPort(server.Port());

    bool visibleAfterClose = false;
    OnceSet(waiting, [&] {
        if (how == QLatin1String("escape")) {
            ServerTree()->setFocus();
            QTest::keyClick(ServerTree(), Qt::Key_Escape);
        } else {
            m_dlg->close();
        }
        visibleAfterClose = m_dlg->isVisible();
    });
    Click(1006);
    QVERIFY(server.WaitForClosedConnections(1));

    // The window stayed while the download went on to its next safe point, then closed.
    QVERIFY(visibleAfterClose);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
    // What arrived before the stop is stored, and the counters say so; nothing later was asked
    // for once the stop was seen.
    const std::vector<std::string> stored = StoredNumbers(kOne);
    const int k = static_cast<int>(stored.size());
    // The replies before the pause may still wait in the socket when the stop is seen.
    QVERIFY2(k >= 1 && k <= 4, qPrintable(QString::number(k)));
    QCOMPARE(stored, Numbers(1, k));
    QCOMPARE(Counters(kOne), "[HEADER]\ncount=10\nMIN=1\nLASTHEADER=" + std::to_string(k) + "\n");
    const std::string received = server.Received(0);
    QVERIFY(
        received.starts_with("CAPABILITIES\r\nLIST OVERVIEW.FMT\r\nGROUP local.one\r\nHEAD 1\r\n"));
    QVERIFY(received.ends_with("QUIT\r\nEXIT\r\n"));
    QVERIFY(m_ui.Messages().empty());
}

void ReaderDlgBusyTest::closeDuringHeaderTreeFill() {
    Open();
    // Enough records that the fill outlasts the interval between two event pumps many times
    // over, however fast the machine.
    constexpr int kRecords = 100000;
    std::vector<HeaderRow> rows;
    for (int i = 1; i <= kRecords; ++i)
        rows.push_back({std::to_string(i), "<" + std::to_string(i) + "@one>", "s"});
    QVERIFY(WriteHeaderTable(GroupDir(kOne), rows));
    bool armed = false;
    bool visibleAfterClose = false;
    connect(m_dlg->MessageIdIndex()->model(), &QAbstractItemModel::rowsInserted, this, [&] {
        if (armed)
            return;
        armed = true;
        QTimer::singleShot(0, this, [&] {
            QTest::keyClick(ServerTree(), Qt::Key_Escape);
            visibleAfterClose = m_dlg->isVisible();
        });
    });
    ClickItem(ServerTree(), GroupItem("one"));

    QVERIFY(armed);
    QVERIFY(visibleAfterClose);
    QVERIFY(!m_dlg->isVisible());
    // The fill stopped at its next step instead of reading all the records.
    QVERIFY2(m_dlg->MessageIdIndexCount() < kRecords,
             qPrintable(QString::number(m_dlg->MessageIdIndexCount())));
    QCOMPARE(Control<QProgressBar>(CReaderDlg::IDC_PROGRESS)->maximum(), 1);
}

void ReaderDlgBusyTest::closeDuringArticleFetch() {
    Open();
    QVERIFY(WriteHeaderTable(GroupDir(kOne), {{"1", "<a1@x>", "first of one"}}));
    ClickItem(ServerTree(), GroupItem("one"));
    const std::string article = "Subject: first of one\r\nMessage-ID: <a1@x>\r\n\r\nbody\r\n";
    std::atomic<bool> waiting{false};
    ScriptedNntpServer server(NntpScript()
                                  .Do([&](NntpServerConnection&) { waiting = true; })
                                  .Pause(300)
                                  .Send("200 ready\r\n")
                                  .Reply("211 1 1 1 local.one\r\n")
                                  .Reply("220 1 <a1@x> article\r\n" + article + ".\r\n"));
    SetDefaultNntpPort(server.Port());
    bool visibleAfterClose = false;
    OnceSet(waiting, [&] {
        QTest::keyClick(HeaderTree(), Qt::Key_Escape);
        visibleAfterClose = m_dlg->isVisible();
    });
    ClickItem(HeaderTree(), HeaderTree()->model()->index(0, 0));
    QVERIFY(server.WaitForClosedConnections(1));

    // The article came in whole and was marked read before the window closed.
    QVERIFY(visibleAfterClose);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(ReadWholeFile(CacheFilePath(GroupDir(kOne), "<a1@x>")), article);
    QCOMPARE(Rows(HeaderDbPath(GroupDir(kOne)), "SELECT READ FROM Header"),
             std::vector<std::string>{"YES"});
    QCOMPARE(m_dlg->ArticleLoading(), 0);
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ReaderDlgBusyTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReaderDlgBusyTest.moc"
