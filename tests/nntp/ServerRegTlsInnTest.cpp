// The registration window and the main window against the project's INN with TLS and a login
// (tools/inn.sh start): a server on 563 with TLS and on 119 with STARTTLS, with the test user;
// a wrong password; a certificate for another name. Skipped when INN does not listen on both.

#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/ServerRegDlg.h"
#include "nntp/ServerTrust.h"
#include "nntp/TlsEngine.h"
#include "store/HeaderStore.h"
#include "store/ServerConfig.h"
#include "store/ServerConnection.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"
#include "viewer/PartScheme.h"

#include "HeaderDownloadTestSupport.h"
#include "support/QtTestStrings.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <ctime>
#include <filesystem>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kUser = "quillotest";
const std::string kPassword = "quillo-test-pass";
const std::string kWrongName = "wrong-name.quillo.test";

bool Listens(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool listens = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return listens;
}

} // namespace

class ServerRegTlsInnTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void registersWithTlsAndLogin_data();
    void registersWithTlsAndLogin();
    void wrongPasswordShowsTheReplyAndStoresNothing();
    void certificateForAnotherNameIsAskedAbout();
    void mainWindowUpdatesAndReadsOverTls();

private:
    template <class T> static T* Control(const QWidget& w, int id) {
        return w.findChild<T*>(QString::number(id));
    }
    std::unique_ptr<CServerRegDlg> OpenDialog();
    // Fills the connection fields and searches host.
    void Search(CServerRegDlg& dlg, const std::string& host, int security,
                const std::string& password);
    QTreeWidgetItem* GroupItem(CServerRegDlg& dlg, const std::string& host);
    std::string Ini() const { return m_dir->Path() + "/quillo.ini"; }
    std::string Db() const { return m_dir->Path() + "/quillo.mdb"; }

    std::string m_group;
    std::unique_ptr<TestDir> m_dir;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ServerRegTlsInnTest::initTestCase() {
    if (!Listens(119) || !Listens(kNntpTlsPort))
        QSKIP("INN does not listen on 119 and 563 (tools/inn.sh start)");
    // A protected group of its own for every run.
    m_group =
        "quillo.private.w" + std::to_string(std::time(nullptr)) + "p" + std::to_string(::getpid());
    const QString data = QString::fromStdString(TestDataDir());
    QProcess load;
    load.setProcessChannelMode(QProcess::MergedChannels);
    load.start(data + QStringLiteral("/../../tools/inn.sh"),
               {QStringLiteral("load"), QStringLiteral("--group"), QString::fromStdString(m_group),
                data + QStringLiteral("/articles/01-plain-ascii.art"),
                data + QStringLiteral("/articles/02-japanese-jis.art")});
    QVERIFY(load.waitForFinished(120000));
    QVERIFY2(load.exitCode() == 0, load.readAll().constData());
}

void ServerRegTlsInnTest::init() {
    m_dir = std::make_unique<TestDir>();
    m_ui.Clear();
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
    SetNntpTimeouts(10000, 10000);
}

void ServerRegTlsInnTest::cleanup() {
    m_uiScope.reset();
    m_dir.reset();
    SetNntpResolver({});
    SetNntpServerDirectory(nullptr);
}

void ServerRegTlsInnTest::cleanupTestCase() {
    SetNntpTimeouts(60000, 60000);
}

std::unique_ptr<CServerRegDlg> ServerRegTlsInnTest::OpenDialog() {
    auto dlg = std::make_unique<CServerRegDlg>(Ini(), Db());
    dlg->show();
    [&] { QTRY_VERIFY(Control<QPushButton>(*dlg, 1)->isEnabled()); }();
    return dlg;
}

void ServerRegTlsInnTest::Search(CServerRegDlg& dlg, const std::string& host, int security,
                                 const std::string& password) {
    Control<QLineEdit>(dlg, 1001)->setText(QString::fromStdString(host));
    Control<QComboBox>(dlg, 1005)->setCurrentIndex(security);
    Control<QLineEdit>(dlg, 1006)->setText(QString::fromStdString(kUser));
    Control<QLineEdit>(dlg, 1007)->setText(QString::fromStdString(password));
    Control<QPushButton>(dlg, 1002)->click();
}

QTreeWidgetItem* ServerRegTlsInnTest::GroupItem(CServerRegDlg& dlg, const std::string& host) {
    const QList<QTreeWidgetItem*> found = Control<QTreeWidget>(dlg, 1000)->findItems(
        QString::fromStdString(m_group), Qt::MatchExactly | Qt::MatchRecursive);
    for (QTreeWidgetItem* item : found)
        if (item->parent() && TreeItemText(item->parent()) == host)
            return item;
    return nullptr;
}

void ServerRegTlsInnTest::registersWithTlsAndLogin_data() {
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("stored");
    QTest::newRow("implicit TLS on 563") << 2 << QStringLiteral("tls");
    QTest::newRow("STARTTLS on 119") << 1 << QStringLiteral("starttls");
}

void ServerRegTlsInnTest::registersWithTlsAndLogin() {
    QFETCH(int, security);
    QFETCH(QString, stored);
    auto dlg = OpenDialog();
    QVERIFY(Control<QLabel>(*dlg, 1009)->text().contains(QStringLiteral("quillo.pwd")));
    Search(*dlg, "localhost", security, kPassword);
    QCOMPARE(m_ui.Messages(), std::vector<QString>{});
    QTreeWidgetItem* item = GroupItem(*dlg, "localhost");
    QVERIFY2(item, "the protected group is not listed");
    item->setCheckState(0, Qt::Checked);
    Control<QPushButton>(*dlg, 1)->click();
    QCOMPARE(dlg->result(), int(QDialog::Accepted));

    const std::string ini = ReadWholeFile(Ini());
    QVERIFY(ini.find("[NNTPCONN localhost]\nPort=0\nSecurity=" + stored.toStdString() +
                     "\nUser=quillotest\nAllowPlainLogin=0\nTrustedCertificate=\n") !=
            std::string::npos);
    QVERIFY(ini.find(kPassword) == std::string::npos);
    const std::string pwd = m_dir->Path() + "/quillo.pwd";
    QCOMPARE(ReadWholeFile(pwd), "[localhost]\nquillotest=" + kPassword + "\n");
    struct stat st {};
    QCOMPARE(::stat(pwd.c_str(), &st), 0);
    QCOMPARE(st.st_mode & 07777, 0600u);
    QCOMPARE(ReadChosenGroups(Ini()), (std::vector<ChosenGroup>{{"localhost", m_group}}));

    // Reopened, choosing the server shows what was stored.
    auto again = OpenDialog();
    QTreeWidget* tree = Control<QTreeWidget>(*again, 1000);
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    QCOMPARE(Control<QComboBox>(*again, 1005)->currentIndex(), security);
    QCOMPARE(Control<QLineEdit>(*again, 1006)->text(), QString::fromStdString(kUser));
    QCOMPARE(Control<QLineEdit>(*again, 1007)->text(), QString::fromStdString(kPassword));
}

void ServerRegTlsInnTest::wrongPasswordShowsTheReplyAndStoresNothing() {
    auto dlg = OpenDialog();
    Search(*dlg, "localhost", 2, "not-the-password");
    QCOMPARE(m_ui.Messages(), std::vector<QString>{QString::fromUtf8(
                                  "認証に失敗しました\n'481 Authentication failed'")});
    QVERIFY(!GroupItem(*dlg, "localhost"));
    Control<QPushButton>(*dlg, 1)->click();
    QVERIFY(ReadWholeFile(Ini()).find("NNTPCONN") == std::string::npos);
    QVERIFY(!fs::exists(m_dir->Path() + "/quillo.pwd"));
}

void ServerRegTlsInnTest::certificateForAnotherNameIsAskedAbout() {
    SetNntpResolver([](const std::string& host) {
        return host == kWrongName ? std::vector<std::string>{"127.0.0.1"}
                                  : std::vector<std::string>{};
    });
    auto dlg = OpenDialog();

    // No: refused, and nothing listed.
    m_ui.QueueAnswer(MsgAnswer::No);
    Search(*dlg, kWrongName, 2, kPassword);
    std::vector<QString> shown = m_ui.Messages();
    QCOMPARE(shown.size(), std::size_t(2));
    QVERIFY(shown[0].startsWith(QString::fromUtf8(
        "サーバーの証明書を確認できませんでした。\n\nサーバー: wrong-name.quillo.test:563\n"
        "理由: 証明書がこのサーバーの名前のものではありません (hostname mismatch)\n"
        "発行先: CN=localhost,O=Quillo tests\n発行者: CN=Quillo test CA,O=Quillo tests\n"
        "SHA-256 フィンガープリント:\n")));
    QCOMPARE(m_ui.Requests()[0].buttons, MsgButtons::YesNo);
    QCOMPARE(shown[1], QString::fromUtf8("サーバーの証明書を信頼できないため、接続を中止しました\n"
                                         "証明書がこのサーバーの名前のものではありません "
                                         "(hostname mismatch)"));
    QVERIFY(!GroupItem(*dlg, kWrongName));

    // Yes: listed, and the certificate stored with "登録".
    m_ui.Clear();
    m_ui.QueueAnswer(MsgAnswer::Yes);
    Search(*dlg, kWrongName, 2, kPassword);
    QCOMPARE(m_ui.Messages().size(), std::size_t(1));
    QVERIFY(GroupItem(*dlg, kWrongName));
    Control<QPushButton>(*dlg, 1)->click();
    const std::string trusted = ReadServerConnection(Ini(), kWrongName).trustedFingerprint;
    QCOMPARE(trusted.size(), std::size_t(95)); // 32 hex pairs and 31 colons
    QVERIFY(shown[0].contains(QString::fromStdString(trusted)));

    // The program's conversations now go through without asking.
    m_ui.Clear();
    SetNntpServerDirectory(MakeServerDirectory(Ini()));
    CNntpSocket socket;
    std::string code, message;
    QCOMPARE(BeginConversation(socket, kWrongName, code, message), NntpStart::Ready);
    EndConversation(socket);
    QVERIFY(m_ui.Messages().empty());
}

void ServerRegTlsInnTest::mainWindowUpdatesAndReadsOverTls() {
    // Registered as a user does, then used from the main window in the base directory.
    const std::string base = m_dir->Path();
    {
        auto dlg = OpenDialog();
        Search(*dlg, "localhost", 2, kPassword);
        QTreeWidgetItem* item = GroupItem(*dlg, "localhost");
        QVERIFY(item);
        item->setCheckState(0, Qt::Checked);
        Control<QPushButton>(*dlg, 1)->click();
    }
    QVERIFY(WriteWholeFile(base + "/quillomb.htm", "<html><body>start</body></html>"));
    const fs::path oldDir = fs::current_path();
    fs::current_path(base);
    TestDir temp;
    SetTempRoot(temp.Path());
    {
        CReaderDlg main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QTreeWidget* servers = Control<QTreeWidget>(main, CReaderDlg::IDC_SERVER_TREE);
        const QList<QTreeWidgetItem*> leaf =
            servers->findItems(QString::fromStdString(m_group.substr(m_group.rfind('.') + 1)),
                               Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(leaf.size(), 1);
        servers->setCurrentItem(leaf.front());
        QCOMPARE(main.CurrentGroup(), m_group);
        QTest::mouseClick(Control<QPushButton>(main, CReaderDlg::IDC_UPDATE), Qt::LeftButton);
        QCOMPARE(m_ui.Messages(), std::vector<QString>{});
        const std::string groupDir = GroupDirectory(base, "localhost", m_group);
        QCOMPARE(HeaderRows(groupDir).size(), std::size_t(2));

        // Reading article 1 fetches it over TLS into its cache file.
        QTreeView* headers = Control<QTreeView>(main, CReaderDlg::IDC_HEADER_TREE);
        QModelIndex first;
        for (int i = 0; i < headers->model()->rowCount(); ++i)
            if (TreeItemText(headers->model()->index(i, 0)).starts_with("1 "))
                first = headers->model()->index(i, 0);
        QVERIFY(first.isValid());
        headers->setCurrentIndex(first);
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (const auto& entry : fs::directory_iterator(groupDir))
                    if (entry.path().extension() == ".ntx" &&
                        ReadWholeFile(entry.path()).find("Welcome to the Quillo demo group") !=
                            std::string::npos)
                        return true;
                return false;
            },
            30000));
        QCOMPARE(m_ui.Messages(), std::vector<QString>{});
    }
    fs::current_path(oldDir);
    SetTempRoot({});
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ServerRegTlsInnTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "ServerRegTlsInnTest.moc"
