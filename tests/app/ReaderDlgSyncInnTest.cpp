// "同期" through the main window against the project's INN on 127.0.0.1:119: a fresh group
// holding tests/data/articles is updated and synchronised; every cache file then holds what the
// article display's own fetch makes of the article, and with the program pointed at a port where
// nothing listens every article still reads, from the cache. Skipped when nothing greets there
// with 200.

#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/NntpTestSupport.h"
#include "settings/ProfileFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"
#include "viewer/ArticleFetch.h"
#include "viewer/HtmlViewCtl.h"

#include "support/ModelItems.h"
#include "support/QtTestStrings.h"
#include "support/TestDir.h"

#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kServer = "localhost";
constexpr int kArticles = 14;
constexpr int kTimeoutMs = 30000;

bool InnGreets() {
    CNntpSocket socket;
    std::string code;
    std::string message;
    const bool ready = BeginConversation(socket, "127.0.0.1", code, message) == NntpStart::Ready;
    if (ready)
        EndConversation(socket);
    return ready;
}

} // namespace

class ReaderDlgSyncInnTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void syncCachesTheWholeGroup();
    void cacheFilesAreWhatTheArticleFetchMakes();
    void everyArticleReadsWithoutTheServer();

private:
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string GroupDir() const { return GroupDirectory(Base(), kServer, m_group); }
    // The message boxes shown so far, one text.
    QString Shown() const {
        QStringList texts;
        for (const QString& text : m_ui.Messages())
            texts << text;
        return texts.join(QStringLiteral(" | "));
    }
    // Message-IDs of the table "Header", in record order.
    std::vector<std::string> MessageIds() const;

    std::string m_group;
    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ReaderDlgSyncInnTest::initTestCase() {
    if (!InnGreets())
        QSKIP("nothing greets with 200 on 127.0.0.1:119 (tools/inn.sh start)");

    // A group of its own for every run: INN keeps each Message-ID once.
    m_group =
        "quillo.sync.w" + std::to_string(std::time(nullptr)) + "p" + std::to_string(::getpid());
    const QString data = QString::fromStdString(TestDataDir());
    QProcess load;
    load.setProcessChannelMode(QProcess::MergedChannels);
    load.start(data + QStringLiteral("/../../tools/inn.sh"),
               {QStringLiteral("load"), QStringLiteral("--group"), QString::fromStdString(m_group),
                data + QStringLiteral("/articles")});
    QVERIFY(load.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(load.readAll());
    QVERIFY2(load.exitStatus() == QProcess::NormalExit && load.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("fed 14, already there 0, rejected 0")),
             qPrintable(output));

    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    const std::string ini = Base() + "/quillo.ini";
    QVERIFY(WriteProfileString(ini, "NNTPREG10", "Selected", "1"));
    QVERIFY(WriteProfileString(ini, "SELECTION", "0", kServer + "," + m_group));
    QVERIFY(CreateDatabaseTable(kServer, {"GROUP"}, Base() + "/quillo.mdb"));
    QVERIFY(WriteWholeFile(Base() + "/quillomb.htm", "<html><body>start</body></html>"));
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));

    // The group's item is the last below the server: quillo, sync, then the group's own name.
    QTreeWidgetItem* item = Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE)->topLevelItem(0);
    for (int depth = 0; depth < 4 && item; ++depth)
        item = item->childCount() ? item->child(0) : nullptr;
    QVERIFY(item);
    Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE)->setCurrentItem(item);
    QCOMPARE(m_dlg->CurrentGroup(), m_group);
}

void ReaderDlgSyncInnTest::cleanupTestCase() {
    m_dlg.reset();
    if (!m_oldDir.empty())
        fs::current_path(m_oldDir);
    m_root.reset();
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
    SetDefaultNntpPort(119);
}

std::vector<std::string> ReaderDlgSyncInnTest::MessageIds() const {
    std::vector<std::string> ids;
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(GroupDir())))
        return ids;
    const int count = table.GetRecordCount();
    table.MoveTo(0);
    for (int i = 0; i < count; ++i, table.MoveNext()) {
        std::string mesid;
        table.GetField("MESID", "", mesid);
        ids.push_back(mesid);
    }
    return ids;
}

void ReaderDlgSyncInnTest::syncCachesTheWholeGroup() {
    QTest::mouseClick(Control<QPushButton>(CReaderDlg::IDC_SYNC), Qt::LeftButton);
    QVERIFY2(m_ui.Messages().empty(), qPrintable(Shown()));
    QCOMPARE(Control<QLabel>(CReaderDlg::IDC_STATUS)->text(), QString());

    const std::vector<std::string> ids = MessageIds();
    QCOMPARE(static_cast<int>(ids.size()), kArticles);
    for (const std::string& id : ids)
        QVERIFY2(fs::file_size(CacheFilePath(GroupDir(), id)) > 0, id.c_str());
    // The tree filled again shows every article as cached.
    const std::vector<QModelIndex> items = AllIndexes(HeaderTree()->model());
    for (const QModelIndex& item : items)
        QVERIFY2(!IsBold(item), qPrintable(item.data().toString()));
    QCOMPARE(static_cast<int>(items.size()), kArticles);
    // Nothing was shown or marked read on the way.
    QCOMPARE(Control<QListWidget>(CReaderDlg::IDC_PART_LIST)->count(), 0);
}

void ReaderDlgSyncInnTest::cacheFilesAreWhatTheArticleFetchMakes() {
    for (int num = 1; num <= kArticles; ++num) {
        const std::optional<std::string> id =
            LookUpMessageId(Base(), kServer, m_group, std::to_string(num));
        QVERIFY(id);
        const std::string single = m_temp->Path() + "/single.ntx";
        fs::remove(single);
        QCOMPARE(CacheArticle(single, std::to_string(num), kServer, m_group).m_state,
                 CacheState::Fetched);
        QCOMPARE(ReadWholeFile(CacheFilePath(GroupDir(), *id)), ReadWholeFile(single));
    }
}

void ReaderDlgSyncInnTest::everyArticleReadsWithoutTheServer() {
    // Anything that tried the network now would fail with a message.
    RefusingPort refusing;
    SetDefaultNntpPort(refusing.Port());
    for (int num = 1; num <= kArticles; ++num) {
        QModelIndex item;
        const std::string prefix = std::to_string(num) + " ";
        for (const QModelIndex& each : AllIndexes(HeaderTree()->model()))
            if (!item.isValid() && TreeItemText(each).starts_with(prefix))
                item = each;
        QVERIFY(item.isValid());
        HeaderTree()->setCurrentIndex(item);
        QVERIFY2(Control<QListWidget>(CReaderDlg::IDC_PART_LIST)->count() > 0,
                 qPrintable(item.data().toString()));
        std::string read;
        QVERIFY(ReadRecordField(kHeaderTable, "READ", num - 1, "", read, HeaderDbPath(GroupDir())));
        QCOMPARE(read, std::string("YES"));
    }
    QVERIFY2(m_ui.Messages().empty(), qPrintable(Shown()));
}

QTEST_MAIN(ReaderDlgSyncInnTest)
#include "ReaderDlgSyncInnTest.moc"
