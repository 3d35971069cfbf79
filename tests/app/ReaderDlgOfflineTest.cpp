// The main window's commands for reading offline and finding: "同期" against a scripted
// server, "検索" over cached articles, and "住所録".

#include "app/MessageIdIndexList.h"
#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "nntp/NntpSocket.h"
#include "nntp/NntpTestSupport.h"
#include "settings/ProfileFile.h"
#include "store/AddressBook.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "ui/PumpMessages.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"

#include "support/ModelItems.h"
#include "support/QtTestStrings.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kServer[] = "127.0.0.1";
const char kGroup[] = "local.test";
const char kEndMessage[] = "最後まで検索しました";

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
    return "221 " + number + " <" + number + "@x>\r\nFrom: p" + number +
           "@example.org\r\nSubject: article " + number + "\r\nMessage-ID: <" + number +
           "@x>\r\n.\r\n";
}

std::string ArticleReply(int n) {
    const std::string number = std::to_string(n);
    return "220 " + number + " <" + number + "@x>\r\nSubject: article " + number + "\r\n\r\nbody " +
           number + "\r\n.\r\n";
}

std::string CacheBytes(int n) {
    const std::string number = std::to_string(n);
    return "Subject: article " + number + "\r\n\r\nbody " + number + "\r\n";
}

// The update's connection: HEAD n answered for 1 to 3, the overview probe refused.
NntpScript UpdateScript() {
    return NntpScript()
        .Send("200 ready\r\n")
        .OnCommand([](NntpServerConnection& c, const std::string& line) {
            if (line.starts_with("GROUP "))
                c.Send("211 3 1 3 local.test\r\n");
            else if (line.starts_with("HEAD "))
                c.Send(HeadReply(std::atoi(line.c_str() + 5)));
            else
                // CAPABILITIES and LIST OVERVIEW.FMT: a server without an overview.
                c.Send("500 What?\r\n");
        });
}

// The synchronisation's connection: ARTICLE n answered for the numbers given, 423 otherwise.
// With waiting, the reply to ARTICLE 2 comes pauseMs after waiting was set.
NntpScript ArticleScript(std::vector<int> served, std::atomic<bool>* waiting = nullptr,
                         int pauseMs = 0) {
    return NntpScript()
        .Send("200 ready\r\n")
        .Reply("211 3 1 3 local.test\r\n")
        .OnCommand([served, waiting, pauseMs](NntpServerConnection& c, const std::string& line) {
            if (!line.starts_with("ARTICLE "))
                return;
            const int n = std::atoi(line.c_str() + 8);
            if (n == 2 && waiting) {
                *waiting = true;
                c.Pause(pauseMs);
            }
            const bool known = std::find(served.begin(), served.end(), n) != served.end();
            c.Send(known ? ArticleReply(n) : "423 no such article\r\n");
        });
}

} // namespace

class ReaderDlgOfflineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void addressBookOpensOverTheMainDatabase();
    void syncFetchesEveryUncachedArticle();
    void syncAfterAFailedUpdateSaysSoOnce();
    void syncHoldsTheWindowAndStopsAtAClose();
    void searchHoldsTheWindow();
    void searchGoesOnAndWrapsAround();
    void searchStartsAfterTheShownArticle();
    void searchScope_data();
    void searchScope();
    void searchWithoutTextDoesNothing();

private:
    // The window in a base directory of its own, with one group chosen and selected, whose
    // header table holds the rows and whose cache holds the articles given (number: bytes).
    void Open(const std::vector<HeaderRow>& rows = {},
              const std::vector<std::pair<std::string, std::string>>& cached = {});
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string GroupDir() const { return GroupDirectory(Base(), kServer, kGroup); }
    QTreeView* HeaderTree() const { return Control<QTreeView>(1007); }
    QModelIndex Header(const QString& number) const;
    // Types the text, sets the boxes and presses "検索"; the label of the item then current.
    QString Search(const QString& text, bool header = true, bool body = true);
    std::vector<QString> Messages() const { return m_ui->Messages(); }
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    // Runs action; meanwhile answer is called with every modal window other than the main
    // one until it returns true.
    void WhileModal(const std::function<void()>& action,
                    const std::function<bool(QWidget*)>& answer);

    fs::path m_oldDir;
    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    std::unique_ptr<CScriptedUi> m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
    std::unique_ptr<CReaderDlg> m_dlg;
};

void ReaderDlgOfflineTest::initTestCase() {
    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
}

void ReaderDlgOfflineTest::cleanup() {
    m_dlg.reset();
    m_uiScope.reset();
    m_ui.reset();
    fs::current_path(m_oldDir);
    m_root.reset();
    SetDefaultNntpPort(119);
    SetNntpPumpHook({});
}

void ReaderDlgOfflineTest::Open(const std::vector<HeaderRow>& rows,
                                const std::vector<std::pair<std::string, std::string>>& cached) {
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    const std::string ini = Base() + "/quillo.ini";
    QVERIFY(WriteProfileString(ini, "NNTPREG10", "Selected", "1"));
    QVERIFY(WriteProfileString(ini, "SELECTION", "0", std::string(kServer) + "," + kGroup));
    // The main database as server registration leaves it.
    QVERIFY(CreateDatabaseTable(kServer, {"name"}, Base() + "/quillo.mdb"));
    QVERIFY(WriteWholeFile(Base() + "/quillomb.htm", "<html><body>start</body></html>"));
    QVERIFY(CreateGroupDirectory(Base(), kServer, kGroup));
    if (!rows.empty())
        QVERIFY(WriteHeaderTable(GroupDir(), rows));
    for (const auto& [mesid, bytes] : cached)
        QVERIFY(WriteWholeFile(CacheFilePath(GroupDir(), mesid), bytes));
    m_ui = std::make_unique<CScriptedUi>();
    m_uiScope = std::make_unique<CUiSeamScope>(*m_ui);
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    auto* servers = Control<QTreeWidget>(1000);
    QTreeWidgetItem* group = servers->topLevelItem(0)->child(0)->child(0)->child(0);
    QCOMPARE(group->text(0), QStringLiteral("test"));
    servers->setCurrentItem(group);
    QCOMPARE(m_dlg->CurrentGroup(), std::string(kGroup));
}

QModelIndex ReaderDlgOfflineTest::Header(const QString& number) const {
    for (const QModelIndex& item : AllIndexes(HeaderTree()->model()))
        if (item.data().toString().startsWith(number + QLatin1Char(' ')))
            return item;
    return {};
}

QString ReaderDlgOfflineTest::Search(const QString& text, bool header, bool body) {
    Control<QLineEdit>(1013)->setText(text);
    Control<QCheckBox>(1020)->setChecked(header);
    Control<QCheckBox>(1021)->setChecked(body);
    QTest::mouseClick(Control<QPushButton>(1019), Qt::LeftButton);
    return HeaderTree()->currentIndex().data().toString();
}

void ReaderDlgOfflineTest::WhileModal(const std::function<void()>& action,
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

void ReaderDlgOfflineTest::addressBookOpensOverTheMainDatabase() {
    Open();
    QVERIFY(
        AddAddressBookEntry("Taro", "taro@x.jp", "127.0.0.1", "local.test", m_dlg->DatabasePath()));
    QString name;
    QStringList tree;
    WhileModal([&] { QTest::mouseClick(Control<QPushButton>(1022), Qt::LeftButton); },
               [&](QWidget* book) {
                   name = book->objectName();
                   auto* t = book->findChild<QTreeWidget*>(QStringLiteral("1000"));
                   for (int i = 0; t && i < t->topLevelItemCount(); ++i) {
                       tree << t->topLevelItem(i)->text(0);
                       for (int j = 0; j < t->topLevelItem(i)->childCount(); ++j)
                           tree << t->topLevelItem(i)->child(j)->text(0);
                   }
                   QTest::mouseClick(book->findChild<QPushButton*>(QStringLiteral("1")),
                                     Qt::LeftButton);
                   return true;
               });
    QCOMPARE(name, QStringLiteral("137"));
    QCOMPARE(tree, (QStringList{"127.0.0.1", "taro@x.jp"}));
    QVERIFY(!QApplication::activeModalWidget());
}

void ReaderDlgOfflineTest::syncFetchesEveryUncachedArticle() {
    Open();
    ScriptedNntpServer server(UpdateScript());
    server.AddConnection(ArticleScript({1, 3}));
    SetDefaultNntpPort(server.Port());
    // Items are gone once the tree is filled again: their labels are taken as they come.
    QStringList labels;
    connect(HeaderTree()->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [&](const QModelIndex& item) {
                if (item.isValid())
                    labels << item.data().toString();
            });
    QTest::mouseClick(Control<QPushButton>(1012), Qt::LeftButton);

    QVERIFY(server.WaitForClosedConnections(2));
    QCOMPARE(server.Received(0),
             std::string("CAPABILITIES\r\nLIST OVERVIEW.FMT\r\nGROUP local.test\r\nHEAD 1\r\n"
                         "HEAD 2\r\nHEAD 3\r\nQUIT\r\nEXIT\r\n"));
    QCOMPARE(server.Received(1), std::string("GROUP local.test\r\nARTICLE 1\r\nARTICLE "
                                             "2\r\nARTICLE 3\r\nQUIT\r\nEXIT\r\n"));
    QCOMPARE(ReadWholeFile(CacheFilePath(GroupDir(), "<1@x>")), CacheBytes(1));
    QCOMPARE(ReadWholeFile(CacheFilePath(GroupDir(), "<3@x>")), CacheBytes(3));
    QVERIFY(!fs::exists(CacheFilePath(GroupDir(), "<2@x>")));

    // Each article's item was selected as it was fetched, and nothing was shown meanwhile.
    QCOMPARE(labels, (QStringList{"1 article 1", "2 article 2", "3 article 3"}));
    QCOMPARE(Control<QListWidget>(1027)->count(), 0);

    // The tree is filled again: cached articles in normal weight.
    QCOMPARE(HeaderTree()->model()->rowCount(), 3);
    QVERIFY(!IsBold(Header("1")));
    QVERIFY(IsBold(Header("2")));
    QVERIFY(!IsBold(Header("3")));
    QCOMPARE(Control<QLabel>(1032)->text(), QString::fromUtf8("1 件の記事を読み取れませんでした"));
    QCOMPARE(Control<QProgressBar>(1003)->maximum(), 1);
    QCOMPARE(Control<QProgressBar>(1003)->value(), 0);
    for (int id : {1006, 1012, 1010, 1019, 1})
        QVERIFY2(Control<QWidget>(id)->isEnabled(), qPrintable(QString::number(id)));
    QVERIFY(Messages().empty());
}

void ReaderDlgOfflineTest::syncAfterAFailedUpdateSaysSoOnce() {
    Open({{"1", "<1@x>", "one"}});
    RefusingPort refusing;
    SetDefaultNntpPort(refusing.Port());
    QTest::mouseClick(Control<QPushButton>(1012), Qt::LeftButton);
    QCOMPARE(Messages(),
             (std::vector<QString>{QString::fromUtf8(
                 " 接続エラーが発生しました '接続を試みましたが、リジェクトされました。' ")}));
    QCOMPARE(Control<QLabel>(1032)->text(), QString());
    QVERIFY(Control<QWidget>(1012)->isEnabled());
}

void ReaderDlgOfflineTest::syncHoldsTheWindowAndStopsAtAClose() {
    Open();
    std::atomic<bool> waiting{false};
    ScriptedNntpServer server(UpdateScript());
    server.AddConnection(ArticleScript({1, 2, 3}, &waiting, 2000));
    SetDefaultNntpPort(server.Port());
    // As the program does: the connection's waits keep the window alive.
    SetNntpPumpHook(&PumpMessages);

    bool busy = false;
    bool syncEnabled = true;
    QString selectedMeanwhile;
    bool visibleAfterClose = false;
    QTimer probe;
    probe.setInterval(5);
    connect(&probe, &QTimer::timeout, this, [&] {
        // The server holds back article 2 once asked for it; the window has moved on to it
        // once article 1 is in.
        const QModelIndex current = HeaderTree()->currentIndex();
        if (!waiting || !current.isValid() ||
            current.data().toString() != QStringLiteral("2 article 2"))
            return;
        probe.stop();
        busy = m_dlg->IsBusy();
        syncEnabled = Control<QWidget>(1012)->isEnabled();
        // The user's click on another article is held back.
        const QModelIndex third = Header("3");
        if (third.isValid()) {
            HeaderTree()->scrollTo(third);
            QTest::mouseClick(HeaderTree()->viewport(), Qt::LeftButton, {},
                              HeaderTree()->visualRect(third).center());
        }
        selectedMeanwhile = HeaderTree()->currentIndex().data().toString();
        m_dlg->close();
        visibleAfterClose = m_dlg->isVisible();
    });
    probe.start();
    QTest::mouseClick(Control<QPushButton>(1012), Qt::LeftButton);
    SetNntpPumpHook({});
    QVERIFY(server.WaitForClosedConnections(2));

    QVERIFY(busy);
    QVERIFY(!syncEnabled);
    QCOMPARE(selectedMeanwhile, QStringLiteral("2 article 2"));
    // The article being fetched came in whole; nothing after it was waited for, and the
    // window closed once the synchronisation had ended.
    QVERIFY(visibleAfterClose);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(ReadWholeFile(CacheFilePath(GroupDir(), "<1@x>")), CacheBytes(1));
    QCOMPARE(ReadWholeFile(CacheFilePath(GroupDir(), "<2@x>")), CacheBytes(2));
    QVERIFY(!fs::exists(CacheFilePath(GroupDir(), "<3@x>")));
    QVERIFY(server.Received(1).ends_with("QUIT\r\nEXIT\r\n"));
    QVERIFY(Messages().empty());
}

void ReaderDlgOfflineTest::searchHoldsTheWindow() {
    Open({{"1", "<1@x>", "one"}, {"2", "<2@x>", "two"}},
         {{"<1@x>", "Subject: one\r\n\r\nx\r\n"}, {"<2@x>", "Subject: two\r\n\r\nx\r\n"}});
    bool busy = false;
    bool searchEnabled = true;
    QTimer::singleShot(0, this, [&] {
        busy = m_dlg->IsBusy();
        searchEnabled = Control<QWidget>(1019)->isEnabled();
    });
    QCOMPARE(Search(QStringLiteral("two")), QStringLiteral("2 two"));
    QVERIFY(busy);
    QVERIFY(!searchEnabled);
    QVERIFY(!m_dlg->IsBusy());
    QVERIFY(Control<QWidget>(1019)->isEnabled());
}

void ReaderDlgOfflineTest::searchGoesOnAndWrapsAround() {
    Open({{"1", "<1@x>", "apple"},
          {"2", "", "no id"},
          {"3", "<3@x>", "pear"},
          {"4", "<4@x>", "apple pie"},
          {"5", "<5@x>", "apple, not cached"}},
         {{"<1@x>", "Subject: apple\r\n\r\nred\r\n"},
          {"<3@x>", "Subject: pear\r\n\r\ngreen\r\n"},
          {"<4@x>", "Subject: apple pie\r\n\r\nbaked\r\n"}});
    // Nothing is fetched: every article found is in the cache.
    RefusingPort refusing;
    SetDefaultNntpPort(refusing.Port());
    QApplication::setActiveWindow(m_dlg.get());

    QCOMPARE(Search(QStringLiteral("apple")), QStringLiteral("1 apple"));
    QVERIFY(Control<QPushButton>(1019)->hasFocus());
    QCOMPARE(m_dlg->MessageIdIndex()->currentRow(), 0);
    QCOMPARE(Search(QStringLiteral("apple")), QStringLiteral("4 apple pie"));
    QCOMPARE(m_dlg->MessageIdIndex()->currentRow(), 2);
    QVERIFY(Messages().empty());

    // Past the last entry: the message, and the next search starts from the first again.
    QCOMPARE(Search(QStringLiteral("apple")), QStringLiteral("4 apple pie"));
    QCOMPARE(Messages(), std::vector<QString>{QString::fromUtf8(kEndMessage)});
    QCOMPARE(m_dlg->MessageIdIndex()->currentRow(), -1);
    QCOMPARE(Search(QStringLiteral("apple")), QStringLiteral("1 apple"));
    QCOMPARE(Messages().size(), 1u);
    for (int id : {1006, 1012, 1010, 1011, 1019, 1})
        QVERIFY2(Control<QWidget>(id)->isEnabled(), qPrintable(QString::number(id)));
}

void ReaderDlgOfflineTest::searchStartsAfterTheShownArticle() {
    Open({{"1", "<1@x>", "apple"}, {"2", "<2@x>", "pear"}, {"3", "<3@x>", "apple pie"}},
         {{"<1@x>", "Subject: apple\r\n\r\nx\r\n"},
          {"<2@x>", "Subject: pear\r\n\r\nx\r\n"},
          {"<3@x>", "Subject: apple pie\r\n\r\nx\r\n"}});
    RefusingPort refusing;
    SetDefaultNntpPort(refusing.Port());
    HeaderTree()->setCurrentIndex(Header("2"));
    QCOMPARE(m_dlg->MessageIdIndex()->currentRow(), 1);
    QCOMPARE(Search(QStringLiteral("apple")), QStringLiteral("3 apple pie"));
    // The article found is shown, and marked read.
    QVERIFY(Control<QListWidget>(1027)->count() > 0);
    std::string read;
    ReadRecordField(kHeaderTable, "READ", 2, "", read, HeaderDbPath(GroupDir()));
    QCOMPARE(read, std::string("YES"));
}

void ReaderDlgOfflineTest::searchScope_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("header");
    QTest::addColumn<bool>("body");
    QTest::addColumn<QString>("found");
    QTest::newRow("header") << "Subject: second" << true << false << "2 two";
    QTest::newRow("body") << "green tea" << false << true << "2 two";
    QTest::newRow("body not in header only") << "green tea" << true << false << "";
    QTest::newRow("both clear") << "Subject" << false << false << "";
    QTest::newRow("second paragraph") << "later" << true << true << "";
    QTest::newRow("letter case") << "GREEN" << true << true << "";
}

void ReaderDlgOfflineTest::searchScope() {
    QFETCH(QString, text);
    QFETCH(bool, header);
    QFETCH(bool, body);
    QFETCH(QString, found);
    Open({{"1", "<1@x>", "one"}, {"2", "<2@x>", "two"}},
         {{"<1@x>", "Subject: first\r\n\r\nblack tea\r\n"},
          {"<2@x>", "Subject: second\r\n\r\ngreen tea\r\n\r\nlater\r\n"}});
    RefusingPort refusing;
    SetDefaultNntpPort(refusing.Port());
    QCOMPARE(Search(text, header, body), found);
    QCOMPARE(Messages(), found.isEmpty() ? std::vector<QString>{QString::fromUtf8(kEndMessage)}
                                         : std::vector<QString>{});
}

void ReaderDlgOfflineTest::searchWithoutTextDoesNothing() {
    Open({{"1", "<1@x>", "one"}}, {{"<1@x>", "Subject: one\r\n\r\nx\r\n"}});
    QCOMPARE(Search(QString()), QString());
    QVERIFY(Messages().empty());
    QVERIFY(Control<QWidget>(1019)->isEnabled());
}

QTEST_MAIN(ReaderDlgOfflineTest)
#include "ReaderDlgOfflineTest.moc"
