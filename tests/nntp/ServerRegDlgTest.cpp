#include "nntp/ServerRegDlg.h"

#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "ui/DialogUnits.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"

#include "NntpTestSupport.h"
#include "support/QtTestStrings.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kGreeting = "200 news.example.org ready\r\n";
const std::string kHost = "127.0.0.1";
const std::string kTranscript = "LIST\r\nQUIT\r\nEXIT\r\n";

std::string ListReply(const std::vector<std::string>& groups) {
    std::string reply = "215 list of newsgroups follows\r\n";
    for (const std::string& g : groups)
        reply += g + " 0000000010 0000000001 y\r\n";
    return reply + ".\r\n";
}

NntpScript ListScript(const std::vector<std::string>& groups) {
    return NntpScript().Send(kGreeting).Reply(ListReply(groups));
}

// What a group item shows: its bytes, and its check and bold marks.
struct GroupMark {
    std::string name;
    bool checked = false;
    bool bold = false;
    bool operator==(const GroupMark&) const = default;
};

} // namespace

namespace QTest {
template <> inline char* toString(const std::vector<GroupMark>& groups) {
    QByteArray text = "[";
    for (const GroupMark& g : groups)
        text += QByteArray::fromStdString(g.name) + (g.checked ? " checked" : "") +
                (g.bold ? " bold" : "") + "; ";
    return qstrdup((text + "]").constData());
}
template <> inline char* toString(const std::vector<std::string>& names) {
    QByteArray text = "[";
    for (const std::string& n : names)
        text += QByteArray::fromStdString(n) + "; ";
    return qstrdup((text + "]").constData());
}
} // namespace QTest

class ServerRegDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void window();
    void controls_data();
    void controls();
    void openingLoadsAnEmptyConfiguration();
    void openingShowsServersGroupsAndChosenBold();
    void searchListsGroupsInListOrder();
    void repeatedSearchMerges();
    void searchWithoutGroupsAddsNoServer_data();
    void searchWithoutGroupsAddsNoServer();
    void failureMessages_data();
    void failureMessages();
    void cutRepliesShowWhyAndAddNothing_data();
    void cutRepliesShowWhyAndAddNothing();
    void buttonsDuringSearch();
    void registerWritesTheFilesAndAccepts();
    void cancelWritesNothing();
    void unstorableGroupNamesAreSkipped();
    void settingsFileFailureKeepsTheWindowOpen_data();
    void settingsFileFailureKeepsTheWindowOpen();
    void groupListFailureIsReported();
    void reopeningShowsChosenGroupsBold();
    void japaneseHostIsStoredAsShiftJis();
    void checkBoxesAreIndependent();
    void addServerGroupFindsOrAdds();
    void largeServerIsListedWhole();

private:
    std::unique_ptr<CServerRegDlg> OpenDialog();
    void Search(CServerRegDlg& dlg, const std::string& host);
    template <class T> static T* Control(const QDialog& dlg, int id) {
        return dlg.findChild<T*>(QString::number(id));
    }
    static QTreeWidgetItem* Root(const QDialog& dlg);
    static QTreeWidgetItem* ServerItem(const QDialog& dlg, const std::string& host);
    static std::vector<std::string> ServerNames(const QDialog& dlg);
    static std::vector<GroupMark> Groups(const QDialog& dlg, const std::string& host);
    static std::vector<std::string> TableNames(const std::string& host, const std::string& db);
    // Buttons 1, 2 and 1002 enabled as given.
    static bool Buttons(const QDialog& dlg, bool ok, bool cancel, bool search);

    std::string Ini() const { return *m_dir / "quillo.ini"; }
    std::string Db() const { return *m_dir / "quillo.mdb"; }

    std::unique_ptr<TestDir> m_dir;
    std::unique_ptr<NntpSettingsGuard> m_settings;
    std::unique_ptr<CScriptedUi> m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ServerRegDlgTest::init() {
    m_dir = std::make_unique<TestDir>();
    m_settings = std::make_unique<NntpSettingsGuard>();
    m_ui = std::make_unique<CScriptedUi>();
    m_uiScope = std::make_unique<CUiSeamScope>(*m_ui);
}

void ServerRegDlgTest::cleanup() {
    m_uiScope.reset();
    m_ui.reset();
    m_settings.reset();
    m_dir.reset();
}

std::unique_ptr<CServerRegDlg> ServerRegDlgTest::OpenDialog() {
    auto dlg = std::make_unique<CServerRegDlg>(Ini(), Db());
    dlg->show();
    // Loaded once the window is shown: until then the three buttons are off.
    [&] { QVERIFY(Buttons(*dlg, false, false, false)); }();
    [&] { QTRY_VERIFY(Buttons(*dlg, true, true, true)); }();
    return dlg;
}

void ServerRegDlgTest::Search(CServerRegDlg& dlg, const std::string& host) {
    Control<QLineEdit>(dlg, 1001)->setText(QString::fromStdString(host));
    Control<QPushButton>(dlg, 1002)->click();
}

QTreeWidgetItem* ServerRegDlgTest::Root(const QDialog& dlg) {
    auto* tree = Control<QTreeWidget>(dlg, 1000);
    return tree->topLevelItemCount() == 1 ? tree->topLevelItem(0) : nullptr;
}

QTreeWidgetItem* ServerRegDlgTest::ServerItem(const QDialog& dlg, const std::string& host) {
    QTreeWidgetItem* root = Root(dlg);
    for (int i = 0; root && i < root->childCount(); ++i) {
        if (TreeItemText(root->child(i)) == host)
            return root->child(i);
    }
    return nullptr;
}

std::vector<std::string> ServerRegDlgTest::ServerNames(const QDialog& dlg) {
    std::vector<std::string> names;
    QTreeWidgetItem* root = Root(dlg);
    for (int i = 0; root && i < root->childCount(); ++i)
        names.push_back(TreeItemText(root->child(i)));
    return names;
}

std::vector<GroupMark> ServerRegDlgTest::Groups(const QDialog& dlg, const std::string& host) {
    std::vector<GroupMark> groups;
    QTreeWidgetItem* server = ServerItem(dlg, host);
    for (int i = 0; server && i < server->childCount(); ++i) {
        QTreeWidgetItem* item = server->child(i);
        groups.push_back(
            {TreeItemText(item), item->checkState(0) == Qt::Checked, item->font(0).bold()});
    }
    return groups;
}

std::vector<std::string> ServerRegDlgTest::TableNames(const std::string& host,
                                                      const std::string& db) {
    std::vector<std::string> names;
    const int n = CountRecords(host, db);
    for (int i = 0; i < n; ++i) {
        std::string name;
        ReadRecordField(host, "name", i, "(none)", name, db);
        names.push_back(name);
    }
    return names;
}

bool ServerRegDlgTest::Buttons(const QDialog& dlg, bool ok, bool cancel, bool search) {
    return Control<QPushButton>(dlg, 1)->isEnabled() == ok &&
           Control<QPushButton>(dlg, 2)->isEnabled() == cancel &&
           Control<QPushButton>(dlg, 1002)->isEnabled() == search;
}

void ServerRegDlgTest::window() {
    CServerRegDlg dlg(Ini(), Db());
    QCOMPARE(dlg.objectName(), QStringLiteral("129"));
    QCOMPARE(dlg.windowTitle(), QString::fromUtf8("ＮＮＴＰサーバー登録"));
    QCOMPARE(dlg.size(), DialogUnitsToPixels(dlg.font(), QRect(0, 0, 227, 197)).size());
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
}

void ServerRegDlgTest::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("1") << "1"
                       << "QPushButton" << QString::fromUtf8("登録") << QRect(197, 7, 23, 14);
    QTest::newRow("2") << "2"
                       << "QPushButton" << QString::fromUtf8("中止") << QRect(175, 7, 23, 14);
    QTest::newRow("1000") << "1000"
                          << "QTreeWidget" << QString() << QRect(7, 84, 213, 100);
    QTest::newRow("1001") << "1001"
                          << "QLineEdit" << QStringLiteral("localhost") << QRect(27, 8, 116, 14);
    QTest::newRow("label") << "-1"
                           << "QLabel" << QString::fromUtf8("ＵＲＬ") << QRect(8, 11, 16, 8);
    QTest::newRow("1002") << "1002"
                          << "QPushButton" << QString::fromUtf8("検索") << QRect(152, 7, 23, 14);
    QTest::newRow("1003") << "1003"
                          << "QProgressBar" << QString() << QRect(7, 184, 213, 6);
    // How the server is reached, between the host name and the tree.
    QTest::newRow("1004") << "1004"
                          << "QLineEdit" << QString() << QRect(32, 26, 30, 12);
    QTest::newRow("port label") << "-1"
                                << "QLabel" << QString::fromUtf8("ポート") << QRect(8, 28, 22, 8);
    QTest::newRow("1005") << "1005"
                          << "QComboBox" << QString::fromUtf8("なし") << QRect(96, 26, 124, 12);
    QTest::newRow("security label")
        << "-1"
        << "QLabel" << QString::fromUtf8("暗号化") << QRect(68, 28, 26, 8);
    QTest::newRow("1006") << "1006"
                          << "QLineEdit" << QString() << QRect(46, 41, 64, 12);
    QTest::newRow("user label") << "-1"
                                << "QLabel" << QString::fromUtf8("ユーザー名")
                                << QRect(8, 43, 36, 8);
    QTest::newRow("1007") << "1007"
                          << "QLineEdit" << QString() << QRect(152, 41, 68, 12);
    QTest::newRow("password label")
        << "-1"
        << "QLabel" << QString::fromUtf8("パスワード") << QRect(114, 43, 36, 8);
    QTest::newRow("1008") << "1008"
                          << "QCheckBox"
                          << QString::fromUtf8("暗号化しない接続でもパスワードを送る")
                          << QRect(8, 56, 212, 10);
}

void ServerRegDlgTest::controls() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QRect, rect);
    CServerRegDlg dlg(Ini(), Db());
    QList<QWidget*> found = dlg.findChildren<QWidget*>(name, Qt::FindDirectChildrenOnly);
    // Statics share one name; the caption tells them apart.
    if (name == "-1")
        found.removeIf([&](QWidget* w) { return qobject_cast<QLabel*>(w)->text() != caption; });
    QCOMPARE(found.size(), 1);
    QWidget* w = found.front();
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
    const QRect pixels = DialogUnitsToPixels(dlg.font(), rect);
    if (auto* l = qobject_cast<QLabel*>(w); l && name == "-1") {
        // The label may reach to the edit so that its caption is whole.
        QCOMPARE(l->text(), caption);
        QCOMPARE(l->pos(), pixels.topLeft());
        QCOMPARE(l->height(), pixels.height());
        QVERIFY(l->width() >= pixels.width());
        QWidget* next = l->buddy() ? l->buddy() : Control<QLineEdit>(dlg, 1001);
        QCOMPARE(l->geometry().right() + 1, next->x());
        QVERIFY(l->fontMetrics().horizontalAdvance(caption) <= l->width());
        return;
    }
    QCOMPARE(w->geometry(), pixels);
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        QCOMPARE(b->text(), caption);
        QVERIFY(b->fontMetrics().horizontalAdvance(caption) <= b->width() - 4);
        QCOMPARE(b->isDefault(), name == "1");
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        QCOMPARE(e->text(), caption);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        QCOMPARE(c->currentText(), caption);
        QCOMPARE(c->count(), 3);
        QCOMPARE(c->itemText(1), QStringLiteral("STARTTLS"));
        QCOMPARE(c->itemText(2), QString::fromUtf8("TLS (接続の最初から)"));
    } else if (auto* k = qobject_cast<QCheckBox*>(w)) {
        QCOMPARE(k->text(), caption);
        QVERIFY(!k->isChecked());
    }
}

void ServerRegDlgTest::openingLoadsAnEmptyConfiguration() {
    auto dlg = OpenDialog();
    QTreeWidgetItem* root = Root(*dlg);
    QVERIFY(root);
    QCOMPARE(TreeItemText(root), std::string("NewsGroup Control"));
    QVERIFY(root->isExpanded());
    QCOMPARE(root->childCount(), 0);
    QCOMPARE(root->checkState(0), Qt::Unchecked);
    QVERIFY(root->flags() & Qt::ItemIsUserCheckable);
    // At rest, and not Qt's busy bar, which an empty range would give.
    auto* progress = Control<QProgressBar>(*dlg, 1003);
    QCOMPARE(progress->value(), 0);
    QVERIFY(progress->maximum() > progress->minimum());
    QVERIFY(m_ui->Requests().empty());
}

void ServerRegDlgTest::openingShowsServersGroupsAndChosenBold() {
    QVERIFY(WriteWholeFile(Ini(), "[NNTPREG10]\r\nCount=2\r\nSelected=4\r\n"
                                  "[ServerList]\r\n0=news.a.example\r\n1=127.0.0.1\r\n"
                                  "[SELECTION]\r\n0=news.a.example,fj.b\r\n1=127.0.0.1,x.y\r\n"
                                  "2=127.0.0.1,missing\r\n3=nowhere,fj.b\r\n"));
    // The table repeats a name; the tree shows it once.
    QVERIFY(CreateDatabaseTable("news.a.example", {"name"}, Db()));
    for (const char* g : {"fj.a", "fj.b", "fj.a"})
        QVERIFY(AppendRecordField("news.a.example", "name", g, Db()));
    QVERIFY(CreateDatabaseTable(kHost, {"name"}, Db()));
    for (const char* g : {"x.z", "x.y"})
        QVERIFY(AppendRecordField(kHost, "name", g, Db()));

    auto dlg = OpenDialog();
    QCOMPARE(ServerNames(*dlg), (std::vector<std::string>{"news.a.example", kHost}));
    QCOMPARE(Groups(*dlg, "news.a.example"),
             (std::vector<GroupMark>{{"fj.a", false, false}, {"fj.b", false, true}}));
    QCOMPARE(Groups(*dlg, kHost),
             (std::vector<GroupMark>{{"x.z", false, false}, {"x.y", false, true}}));
    QVERIFY(Root(*dlg)->isExpanded());
    QCOMPARE(Control<QProgressBar>(*dlg, 1003)->value(), 0);
}

void ServerRegDlgTest::searchListsGroupsInListOrder() {
    ScriptedNntpServer server(ListScript({"fj.news", "alt.Test", "alt.test", "0.first"}));
    SetDefaultNntpPort(server.Port());
    auto dlg = OpenDialog();
    Search(*dlg, kHost);
    QCOMPARE(ServerNames(*dlg), std::vector<std::string>{kHost});
    QCOMPARE(Groups(*dlg, kHost),
             (std::vector<GroupMark>{{"fj.news"}, {"alt.Test"}, {"alt.test"}, {"0.first"}}));
    QTreeWidgetItem* group = ServerItem(*dlg, kHost)->child(0);
    QVERIFY(group->flags() & Qt::ItemIsUserCheckable);
    QCOMPARE(group->checkState(0), Qt::Unchecked);
    QVERIFY(Root(*dlg)->isExpanded());
    QVERIFY(Buttons(*dlg, true, true, true));
    QVERIFY(m_ui->Requests().empty());
    QVERIFY(server.WaitForClosedConnections(1));
    QCOMPARE(server.Received(0), kTranscript);
}

void ServerRegDlgTest::repeatedSearchMerges() {
    ScriptedNntpServer server;
    server.AddConnection(ListScript({"a.one", "a.two", "a.three"}));
    server.AddConnection(ListScript({"a.four", "a.two", "a.five", "a.four"}));
    SetDefaultNntpPort(server.Port());
    auto dlg = OpenDialog();
    Search(*dlg, kHost);
    ServerItem(*dlg, kHost)->child(1)->setCheckState(0, Qt::Checked);
    Search(*dlg, kHost);
    // Groups missing from the second list stay; new ones follow; each group once, marks kept.
    QCOMPARE(ServerNames(*dlg), std::vector<std::string>{kHost});
    QCOMPARE(Groups(*dlg, kHost),
             (std::vector<GroupMark>{
                 {"a.one"}, {"a.two", true, false}, {"a.three"}, {"a.four"}, {"a.five"}}));
    QVERIFY(server.WaitForClosedConnections(2));
    QCOMPARE(server.Received(0), kTranscript);
    QCOMPARE(server.Received(1), kTranscript);
}

void ServerRegDlgTest::searchWithoutGroupsAddsNoServer_data() {
    QTest::addColumn<std::string>("reply");
    QTest::addColumn<QString>("message"); // empty: none
    QTest::newRow("empty list") << ListReply({}) << QString();
    // A server that wants a login before LIST says so.
    QTest::newRow("list needs a login")
        << std::string("480 authentication required\r\n")
        << QString::fromUtf8("このサーバーはユーザー名とパスワードを求めています。"
                             "サーバー登録でユーザー名とパスワードを設定してください\n"
                             "'480 authentication required'");
    QTest::newRow("refused list") << std::string("502 no permission\r\n") << QString();
    QTest::newRow("only short lines")
        << std::string("215 list\r\na.b 1 1\r\nc.d\r\n.\r\n") << QString();
}

void ServerRegDlgTest::searchWithoutGroupsAddsNoServer() {
    QFETCH(std::string, reply);
    QFETCH(QString, message);
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(reply));
    SetDefaultNntpPort(server.Port());
    auto dlg = OpenDialog();
    Search(*dlg, kHost);
    QCOMPARE(Root(*dlg)->childCount(), 0);
    QCOMPARE(m_ui->Messages(),
             message.isEmpty() ? std::vector<QString>{} : std::vector<QString>{message});
    QVERIFY(Buttons(*dlg, true, true, true));
    QVERIFY(server.WaitForClosedConnections(1));
    QCOMPARE(server.Received(0), kTranscript);
}

void ServerRegDlgTest::failureMessages_data() {
    QTest::addColumn<std::string>("greeting"); // empty: the port refuses the connection
    QTest::addColumn<QString>("message");
    QTest::newRow("refused port") << std::string()
                                  << QString::fromUtf8("ソケット接続エラーが発生しました");
    QTest::newRow("201 greeting") << std::string("201 news.example.org ready (no posting)\r\n")
                                  << QString::fromUtf8(" 接続エラーが発生しました '201' ");
    QTest::newRow("502 greeting") << std::string("502 no permission\r\n")
                                  << QString::fromUtf8(" 接続エラーが発生しました '502' ");
}

void ServerRegDlgTest::failureMessages() {
    QFETCH(std::string, greeting);
    QFETCH(QString, message);
    RefusingPort refusing;
    std::unique_ptr<ScriptedNntpServer> server;
    if (greeting.empty()) {
        SetDefaultNntpPort(refusing.Port());
    } else {
        server = std::make_unique<ScriptedNntpServer>(NntpScript().Send(greeting));
        SetDefaultNntpPort(server->Port());
    }
    auto dlg = OpenDialog();
    Search(*dlg, kHost);
    QCOMPARE(m_ui->Messages(), std::vector<QString>{message});
    QCOMPARE(m_ui->Requests().front().buttons, MsgButtons::Ok);
    QCOMPARE(Root(*dlg)->childCount(), 0);
    QVERIFY(Root(*dlg)->isExpanded());
    QVERIFY(Buttons(*dlg, true, true, true));
    if (server) {
        // Refused before any command.
        QVERIFY(server->WaitForClosedConnections(1));
        QCOMPARE(server->Received(0), std::string());
    }
}

void ServerRegDlgTest::cutRepliesShowWhyAndAddNothing_data() {
    QTest::addColumn<std::string>("greeting");
    QTest::addColumn<std::string>("listReply"); // then the server closes
    QTest::addColumn<std::string>("received");
    QTest::newRow("greeting cut") << std::string("200 news.exa") << std::string() << std::string();
    QTest::newRow("list cut") << kGreeting << std::string("215 list\r\na.b 1 1 y\r\nc.d 1")
                              << std::string("LIST\r\n");
}

void ServerRegDlgTest::cutRepliesShowWhyAndAddNothing() {
    QFETCH(std::string, greeting);
    QFETCH(std::string, listReply);
    QFETCH(std::string, received);
    NntpScript script = NntpScript().Send(greeting);
    if (!listReply.empty())
        script.Reply(listReply);
    ScriptedNntpServer server(script.Close());
    SetDefaultNntpPort(server.Port());
    auto dlg = OpenDialog();
    Search(*dlg, kHost);
    QCOMPARE(m_ui->Messages(), std::vector<QString>{QString::fromUtf8(
                                   " 接続エラーが発生しました 'サーバーが接続を切りました。' ")});
    QCOMPARE(Root(*dlg)->childCount(), 0);
    QVERIFY(Buttons(*dlg, true, true, true));
    QVERIFY(server.WaitForClosedConnections(1));
    QCOMPARE(server.Received(0), received);
}

void ServerRegDlgTest::buttonsDuringSearch() {
    // The list comes late, so the connection waits, keeping the window alive meanwhile.
    ScriptedNntpServer server(
        NntpScript().Send(kGreeting).Await().Pause(300).Send(ListReply({"a.b"})));
    SetDefaultNntpPort(server.Port());
    auto dlg = OpenDialog();
    int pumps = 0;
    bool statesHeld = true;
    SetNntpPumpHook([&] {
        ++pumps;
        statesHeld = statesHeld && Buttons(*dlg, false, false, true) &&
                     Control<QLineEdit>(*dlg, 1001)->isEnabled();
        // Neither closing the window nor a second search cuts into the running one.
        dlg->reject();
        Control<QPushButton>(*dlg, 1002)->click();
    });
    Search(*dlg, kHost);
    SetNntpPumpHook({});
    QVERIFY(pumps > 0);
    QVERIFY(statesHeld);
    QVERIFY(dlg->isVisible());
    QCOMPARE(Groups(*dlg, kHost), std::vector<GroupMark>{{"a.b"}});
    QVERIFY(Buttons(*dlg, true, true, true));
    QVERIFY(server.WaitForClosedConnections(1));
    QCOMPARE(server.AcceptedConnections(), std::size_t(1));
    QCOMPARE(server.Received(0), kTranscript);
}

void ServerRegDlgTest::registerWritesTheFilesAndAccepts() {
    ScriptedNntpServer server(ListScript({"fj.news", "alt.test", "fj.comp"}));
    SetDefaultNntpPort(server.Port());
    CServerRegDlg dlg(Ini(), Db());
    QTimer::singleShot(0, &dlg, [&] {
        if (QTest::qWaitFor([&] { return Buttons(dlg, true, true, true); })) {
            Search(dlg, kHost);
            if (QTreeWidgetItem* s = ServerItem(dlg, kHost)) {
                s->child(1)->setCheckState(0, Qt::Checked);
                s->child(2)->setCheckState(0, Qt::Checked);
            }
            Control<QPushButton>(dlg, 1)->click();
        }
        if (dlg.isVisible())
            dlg.done(99); // the test fails instead of hanging
    });
    QCOMPARE(dlg.exec(), 1);
    QCOMPARE(ReadWholeFile(Ini()), std::string("[ServerList]\n"
                                               "0=127.0.0.1\n"
                                               "[SELECTION]\n"
                                               "0=127.0.0.1,alt.test\n"
                                               "1=127.0.0.1,fj.comp\n"
                                               "[127.0.0.1]\n"
                                               "Count=3\n"
                                               "[NNTPREG10]\n"
                                               "Count=1\n"
                                               "Selected=2\n"));
    QCOMPARE(TableNames(kHost, Db()), (std::vector<std::string>{"fj.news", "alt.test", "fj.comp"}));
    // The table is named by the host without its dots.
    QCOMPARE(CountRecords("127001", Db()), 3);
}

void ServerRegDlgTest::cancelWritesNothing() {
    const std::string ini =
        "[NNTPREG10]\r\nCount=1\r\nSelected=1\r\n[ServerList]\r\n0=old.example\r\n"
        "[SELECTION]\r\n0=old.example,o.one\r\n";
    QVERIFY(WriteWholeFile(Ini(), ini));
    QVERIFY(CreateDatabaseTable("old.example", {"name"}, Db()));
    QVERIFY(AppendRecordField("old.example", "name", "o.one", Db()));
    const std::string db = ReadWholeFile(Db());

    ScriptedNntpServer server(ListScript({"n.one", "n.two"}));
    SetDefaultNntpPort(server.Port());
    CServerRegDlg dlg(Ini(), Db());
    QTimer::singleShot(0, &dlg, [&] {
        if (QTest::qWaitFor([&] { return Buttons(dlg, true, true, true); })) {
            Search(dlg, kHost);
            if (QTreeWidgetItem* s = ServerItem(dlg, kHost))
                s->child(0)->setCheckState(0, Qt::Checked);
            Control<QPushButton>(dlg, 2)->click();
        }
        if (dlg.isVisible())
            dlg.done(99);
    });
    QCOMPARE(dlg.exec(), 0);
    QCOMPARE(ServerNames(dlg), (std::vector<std::string>{"old.example", kHost}));
    QCOMPARE(ReadWholeFile(Ini()), ini);
    QCOMPARE(ReadWholeFile(Db()), db);
    QCOMPARE(CountRecords(kHost, Db()), -1);
}

void ServerRegDlgTest::unstorableGroupNamesAreSkipped() {
    // Names a server may list that the settings file cannot hold: they would end its line, or
    // be read back cut. All are ticked; none counts as chosen, and none is listed either.
    const std::string longName(1023 - kHost.size(), 'g'); // one byte too long with "host,"
    const std::string fits(1022 - kHost.size(), 'f');     // exactly 1,023 bytes with "host,"
    const std::vector<std::string> names = {
        "ok.one", "cr\rname", "lf\nname", std::string("nul\0name", 8), longName, fits, "ok.two"};
    CServerRegDlg dlg(Ini(), Db());
    QTimer::singleShot(0, &dlg, [&] {
        if (QTest::qWaitFor([&] { return Buttons(dlg, true, true, true); })) {
            for (const std::string& name : names)
                dlg.AddServerGroup(kHost, name);
            if (QTreeWidgetItem* s = ServerItem(dlg, kHost))
                for (int i = 0; i < s->childCount(); ++i)
                    s->child(i)->setCheckState(0, Qt::Checked);
            Control<QPushButton>(dlg, 1)->click();
        }
        if (dlg.isVisible())
            dlg.done(99);
    });
    QCOMPARE(dlg.exec(), 1);
    QCOMPARE(ReadWholeFile(Ini()), "[ServerList]\n"
                                   "0=127.0.0.1\n"
                                   "[SELECTION]\n"
                                   "0=127.0.0.1,ok.one\n"
                                   "1=127.0.0.1," +
                                       fits +
                                       "\n"
                                       "2=127.0.0.1,ok.two\n"
                                       "[127.0.0.1]\n"
                                       "Count=3\n"
                                       "[NNTPREG10]\n"
                                       "Count=1\n"
                                       "Selected=3\n");
    QCOMPARE(TableNames(kHost, Db()), (std::vector<std::string>{"ok.one", fits, "ok.two"}));
    QVERIFY(m_ui->Messages().empty());
}

void ServerRegDlgTest::settingsFileFailureKeepsTheWindowOpen_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("message");
    QTest::newRow("cannot be read") << QStringLiteral("read")
                                    << QString::fromUtf8("設定ファイルを読み込めません。"
                                                         "登録は保存されていません。");
    QTest::newRow("cannot be saved") << QStringLiteral("save")
                                     << QString::fromUtf8("設定ファイルに書き込めません。"
                                                          "登録は保存されていません。");
}

void ServerRegDlgTest::settingsFileFailureKeepsTheWindowOpen() {
    QFETCH(QString, failure);
    QFETCH(QString, message);
    // A directory where the file should be cannot be read; a file in a missing directory can be
    // read (as empty) but not saved.
    std::string ini = Ini();
    if (failure == QLatin1String("read"))
        QVERIFY(std::filesystem::create_directory(ini));
    else
        ini = *m_dir / "missing/quillo.ini";
    CServerRegDlg dlg(ini, Db());
    bool openAfterRegister = false;
    QTimer::singleShot(0, &dlg, [&] {
        if (QTest::qWaitFor([&] { return Buttons(dlg, true, true, true); })) {
            dlg.AddServerGroup(kHost, "fj.test");
            ServerItem(dlg, kHost)->child(0)->setCheckState(0, Qt::Checked);
            Control<QPushButton>(dlg, 1)->click();
            openAfterRegister = dlg.isVisible();
            Control<QPushButton>(dlg, 2)->click();
        }
        if (dlg.isVisible())
            dlg.done(99);
    });
    QCOMPARE(dlg.exec(), 0);
    QVERIFY(openAfterRegister);
    QCOMPARE(m_ui->Messages(), std::vector<QString>{message});
    QCOMPARE(m_ui->Requests().front().icon, MsgIcon::Warning);
    QVERIFY(!std::filesystem::is_regular_file(ini));
    // An unreadable file stops the registration before anything is written.
    if (failure == QLatin1String("read"))
        QVERIFY(!std::filesystem::exists(Db()));
}

void ServerRegDlgTest::groupListFailureIsReported() {
    // The main database cannot be written; the chosen groups still are.
    QVERIFY(std::filesystem::create_directory(Db()));
    CServerRegDlg dlg(Ini(), Db());
    QTimer::singleShot(0, &dlg, [&] {
        if (QTest::qWaitFor([&] { return Buttons(dlg, true, true, true); })) {
            dlg.AddServerGroup(kHost, "fj.test");
            ServerItem(dlg, kHost)->child(0)->setCheckState(0, Qt::Checked);
            Control<QPushButton>(dlg, 1)->click();
        }
        if (dlg.isVisible())
            dlg.done(99);
    });
    QCOMPARE(dlg.exec(), 1);
    QCOMPARE(m_ui->Messages(), std::vector<QString>{QString::fromUtf8(
                                   "グループ一覧をデータベースに書き込めませんでした。")});
    QCOMPARE(ReadWholeFile(Ini()), std::string("[ServerList]\n0=127.0.0.1\n[SELECTION]\n"
                                               "0=127.0.0.1,fj.test\n[127.0.0.1]\nCount=1\n"
                                               "[NNTPREG10]\nCount=1\nSelected=1\n"));
}

void ServerRegDlgTest::reopeningShowsChosenGroupsBold() {
    ScriptedNntpServer server(ListScript({"g.one", "g.two", "g.three", "g.four"}));
    SetDefaultNntpPort(server.Port());
    {
        auto dlg = OpenDialog();
        Search(*dlg, kHost);
        for (int i : {1, 2, 3})
            ServerItem(*dlg, kHost)->child(i)->setCheckState(0, Qt::Checked);
        Control<QPushButton>(*dlg, 1)->click();
        QCOMPARE(dlg->result(), 1);
    }
    {
        auto dlg = OpenDialog();
        QCOMPARE(Groups(*dlg, kHost), (std::vector<GroupMark>{{"g.one", false, false},
                                                              {"g.two", false, true},
                                                              {"g.three", false, true},
                                                              {"g.four", false, true}}));
        // Ticking a bold group un-chooses it, ticking a plain one chooses it; the rest stays.
        for (int i : {0, 1, 2})
            ServerItem(*dlg, kHost)->child(i)->setCheckState(0, Qt::Checked);
        Control<QPushButton>(*dlg, 1)->click();
    }
    // The third key stays behind the new count, as keys beyond the counts always do.
    QCOMPARE(ReadWholeFile(Ini()), std::string("[ServerList]\n"
                                               "0=127.0.0.1\n"
                                               "[SELECTION]\n"
                                               "0=127.0.0.1,g.one\n"
                                               "1=127.0.0.1,g.four\n"
                                               "2=127.0.0.1,g.four\n"
                                               "[127.0.0.1]\n"
                                               "Count=4\n"
                                               "[NNTPREG10]\n"
                                               "Count=1\n"
                                               "Selected=2\n"));
    {
        auto dlg = OpenDialog();
        QCOMPARE(Groups(*dlg, kHost), (std::vector<GroupMark>{{"g.one", false, true},
                                                              {"g.two", false, false},
                                                              {"g.three", false, false},
                                                              {"g.four", false, true}}));
    }
}

void ServerRegDlgTest::japaneseHostIsStoredAsShiftJis() {
    ScriptedNntpServer server(ListScript({"fj.\x93\xfa\x96\x7b"}));
    SetDefaultNntpPort(server.Port());
    SetNntpResolver([](const std::string&) { return std::vector<std::string>{"127.0.0.1"}; });
    // "ニュース.example" in Shift_JIS.
    const std::string sjisHost = "\x83\x6a\x83\x85\x81\x5b\x83\x58.example";
    auto dlg = OpenDialog();
    Control<QLineEdit>(*dlg, 1001)->setText(QString::fromUtf8("ニュース.example"));
    Control<QPushButton>(*dlg, 1002)->click();
    QCOMPARE(ServerNames(*dlg), std::vector<std::string>{sjisHost});
    QTreeWidgetItem* group = ServerItem(*dlg, sjisHost)->child(0);
    QCOMPARE(TreeItemText(group), std::string("fj.\x93\xfa\x96\x7b"));
    QCOMPARE(group->text(0), QString::fromUtf8("fj.日本"));
    group->setCheckState(0, Qt::Checked);
    Control<QPushButton>(*dlg, 1)->click();
    QCOMPARE(ReadWholeFile(Ini()), "[ServerList]\n0=" + sjisHost + "\n[SELECTION]\n0=" + sjisHost +
                                       ",fj.\x93\xfa\x96\x7b\n[" + sjisHost +
                                       "]\nCount=1\n[NNTPREG10]\nCount=1\nSelected=1\n");
    QCOMPARE(TableNames(sjisHost, Db()), std::vector<std::string>{"fj.\x93\xfa\x96\x7b"});
}

void ServerRegDlgTest::checkBoxesAreIndependent() {
    ScriptedNntpServer server(ListScript({"a.one", "a.two"}));
    SetDefaultNntpPort(server.Port());
    auto dlg = OpenDialog();
    Search(*dlg, kHost);
    // Server and root items have boxes of their own, which choose nothing.
    ServerItem(*dlg, kHost)->setCheckState(0, Qt::Checked);
    Root(*dlg)->setCheckState(0, Qt::Checked);
    QCOMPARE(Groups(*dlg, kHost), (std::vector<GroupMark>{{"a.one"}, {"a.two"}}));
    Control<QPushButton>(*dlg, 1)->click();
    QCOMPARE(ReadWholeFile(Ini()), std::string("[ServerList]\n0=127.0.0.1\n[127.0.0.1]\n"
                                               "Count=2\n[NNTPREG10]\nCount=1\n"
                                               "Selected=0\n"));
}

void ServerRegDlgTest::addServerGroupFindsOrAdds() {
    auto dlg = OpenDialog();
    dlg->AddServerGroup("b.example", "x");
    dlg->AddServerGroup("a.example", "y");
    dlg->AddServerGroup("b.example", "x");
    dlg->AddServerGroup("b.example", "X");
    dlg->AddServerGroup("B.example", "x");
    QCOMPARE(ServerNames(*dlg), (std::vector<std::string>{"b.example", "a.example", "B.example"}));
    QCOMPARE(Groups(*dlg, "b.example"), (std::vector<GroupMark>{{"x"}, {"X"}}));
    QCOMPARE(dlg->TreeServers().size(), std::size_t(3));
}

// A list far beyond ten thousand groups is kept whole, in order, and placing each group does
// not search the groups before it (a linear search per group would take minutes here).
void ServerRegDlgTest::largeServerIsListedWhole() {
    constexpr int kGroups = 30000;
    std::vector<std::string> names;
    for (int i = 0; i < kGroups; ++i)
        names.push_back("large." + std::to_string((i * 7919) % kGroups));
    ScriptedNntpServer server;
    server.AddConnection(ListScript(names));
    server.AddConnection(ListScript(names));
    SetDefaultNntpPort(server.Port());
    auto dlg = OpenDialog();
    QElapsedTimer timer;
    timer.start();
    Search(*dlg, kHost);
    Search(*dlg, kHost);
    QVERIFY2(timer.elapsed() < 20000, QByteArray::number(timer.elapsed()));
    QTreeWidgetItem* serverItem = ServerItem(*dlg, kHost);
    QVERIFY(serverItem);
    QCOMPARE(serverItem->childCount(), kGroups);
    for (int i : {0, 9999, 10000, 10001, kGroups - 1})
        QCOMPARE(TreeItemText(serverItem->child(i)), names[static_cast<std::size_t>(i)]);
    Control<QPushButton>(*dlg, 1)->click();
    QCOMPARE(CountRecords(kHost, Db()), kGroups);
    std::string last;
    ReadRecordField(kHost, "name", kGroups - 1, "", last, Db());
    QCOMPARE(last, names.back());
}

QTEST_MAIN(ServerRegDlgTest)
#include "ServerRegDlgTest.moc"
