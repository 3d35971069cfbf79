// The main window's post, reply and settings commands offscreen: the settings check, the
// context each kind of compose window opens with, and posting inside the window's busy state.

#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "nntp/NntpSocket.h"
#include "post/PostClock.h"
#include "post/PostDlg.h"
#include "settings/ProfileFile.h"
#include "settings/UserSettings.h"
#include "store/HeaderStore.h"
#include "ui/PumpMessages.h"
#include "ui/ScriptedUi.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "../nntp/NntpTestSupport.h"
#include "../threads/HeaderTableWriter.h"
#include "support/ModelItems.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include "support/QtTestStrings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kLoadTimeout = 60000;
const char kServer[] = "127.0.0.1";
const char kGroup[] = "local.test";

const std::string kPlainArticle = "Subject: Re: root\r\nMessage-ID: <child@x>\r\n"
                                  "Content-Type: text/plain\r\n\r\nline one\r\nline two\r\n";
const std::string kHtmlArticle =
    "Subject: Re: root\r\nContent-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
    "--b\r\nContent-Type: text/html\r\n\r\n<p>one<br>two</p>\r\n--b--\r\n";

// The names of the modal windows that opened while action ran; each is handed to handle, which
// must close it.
QStringList ModalsDuring(const std::function<void()>& action,
                         const std::function<void(QDialog*)>& handle) {
    QStringList seen;
    QDialog* current = nullptr;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!modal || modal == current || modal->objectName() == QStringLiteral("102"))
            return;
        current = modal;
        seen << modal->objectName();
        handle(modal);
        if (modal->isVisible())
            modal->reject();
    });
    probe.start();
    action();
    probe.stop();
    return seen;
}

template <class T> T* Child(QWidget* w, int id) {
    return w->findChild<T*>(QString::number(id));
}

} // namespace

class ReaderDlgPostTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void settingsButtonOpensTheSettingsWindow();
    void settingsCheckComesFirst_data();
    void settingsCheckComesFirst();
    void postOpensANewArticleAndRefillsTheTree();
    void replyQuotesTheSelectedPart_data();
    void replyQuotesTheSelectedPart();
    void replyWithoutAPartStartsEmpty();
    void postingRunsWithTheCommandsOff();

private:
    void Open(const std::string& environment);
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string Ini() const { return Base() + "/quillo.ini"; }
    std::string GroupDir() const { return GroupDirectory(Base(), kServer, kGroup); }
    template <class T> T* Control(int id) const { return Child<T>(m_dlg.get(), id); }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    QListWidget* PartList() const { return Control<QListWidget>(CReaderDlg::IDC_PART_LIST); }
    QModelIndex Header(const QString& number) const;
    void Click(int id) { QTest::mouseClick(Control<QPushButton>(id), Qt::LeftButton); }
    // Selects the header and waits for its part to show.
    void ShowArticle(const QString& number);

    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ReaderDlgPostTest::initTestCase() {
    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
}

void ReaderDlgPostTest::cleanupTestCase() {
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
}

void ReaderDlgPostTest::cleanup() {
    m_dlg.reset();
    fs::current_path(m_oldDir);
    m_root.reset();
    m_ui.Clear();
    SetDefaultNntpPort(119);
    SetNntpPumpHook({});
}

void ReaderDlgPostTest::Open(const std::string& environment) {
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    QVERIFY(WriteWholeFile(Ini(), "[NNTPREG10]\nSelected=1\n[SELECTION]\n0=" +
                                      std::string(kServer) + "," + kGroup + "\n" + environment));
    QVERIFY(WriteWholeFile(Base() + "/quillomb.htm", "<html><body>start</body></html>"));
    QVERIFY(CreateGroupDirectory(Base(), kServer, kGroup));
    QVERIFY(WriteHeaderRecords(GroupDir(), {{"1", "<root@x>", "root", "", ""},
                                            {"2", "<child@x>", "Re: root", "<root@x>", ""},
                                            {"3", "<html@x>", "Re: root", "<root@x>", ""}}));
    QVERIFY(WriteWholeFile(CacheFilePath(GroupDir(), "<child@x>"), kPlainArticle));
    QVERIFY(WriteWholeFile(CacheFilePath(GroupDir(), "<html@x>"), kHtmlArticle));

    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    QSignalSpy start(m_dlg->HtmlView(), &QWebEngineView::loadFinished);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QVERIFY(start.count() > 0 || start.wait(kLoadTimeout));
    QTreeWidget* servers = Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE);
    servers->setCurrentItem(servers->topLevelItem(0)->child(0)->child(0)->child(0));
    QCOMPARE(m_dlg->CurrentGroup(), std::string(kGroup));
    QCOMPARE(HeaderTree()->model()->rowCount(), 1);
}

QModelIndex ReaderDlgPostTest::Header(const QString& number) const {
    for (const QModelIndex& item : AllIndexes(HeaderTree()->model()))
        if (item.data().toString().startsWith(number + QLatin1Char(' ')))
            return item;
    return {};
}

void ReaderDlgPostTest::ShowArticle(const QString& number) {
    QSignalSpy shown(m_dlg->HtmlView(), &QWebEngineView::loadFinished);
    HeaderTree()->setCurrentIndex(Header(number));
    QVERIFY(shown.count() > 0 || shown.wait(kLoadTimeout));
    QVERIFY(Control<QWidget>(CReaderDlg::IDC_REPLY)->isEnabled());
}

const std::string kComplete = "[ENVIRONMENT]\nNAME=Taro\nEMAIL=taro@example.jp\n";

void ReaderDlgPostTest::settingsButtonOpensTheSettingsWindow() {
    Open(kComplete);
    QString name;
    const QStringList seen =
        ModalsDuring([this] { Click(CReaderDlg::IDC_SETTINGS); },
                     [&](QDialog* dlg) { name = Child<QLineEdit>(dlg, 1013)->text(); });
    QCOMPARE(seen, QStringList{QStringLiteral("131")});
    QCOMPARE(name, QStringLiteral("Taro"));
    QVERIFY(m_ui.Requests().empty());
}

void ReaderDlgPostTest::settingsCheckComesFirst_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("stored");
    QTest::newRow("post without an address") << 1010 << "[ENVIRONMENT]\nNAME=Taro\n";
    QTest::newRow("reply without a name") << 1011 << "[ENVIRONMENT]\nEMAIL=t@x\n";
    QTest::newRow("post with nothing stored") << 1010 << "";
}

void ReaderDlgPostTest::settingsCheckComesFirst() {
    QFETCH(int, command);
    QFETCH(QString, stored);
    Open(stored.toStdString());
    ShowArticle(QStringLiteral("2"));
    // The settings window opens after the message; the user completes it there, yet no compose
    // window follows in this pass.
    const QStringList seen =
        ModalsDuring([&] { Click(command); },
                     [](QDialog* dlg) {
                         Child<QLineEdit>(dlg, 1013)->setText(QStringLiteral("Taro"));
                         Child<QLineEdit>(dlg, 1001)->setText(QStringLiteral("t@x"));
                         QTest::mouseClick(Child<QPushButton>(dlg, 1), Qt::LeftButton);
                     });
    QCOMPARE(seen, QStringList{QStringLiteral("131")});
    QCOMPARE(m_ui.Messages(), std::vector<QString>{QString::fromUtf8("環境設定を行ってください")});
    QVERIFY(CheckUserSettings(Ini()));

    // The next press opens the compose window.
    const QStringList next = ModalsDuring([&] { Click(command); }, [](QDialog*) {});
    QCOMPARE(next, QStringList{QStringLiteral("130")});
}

void ReaderDlgPostTest::postOpensANewArticleAndRefillsTheTree() {
    Open(kComplete);
    ShowArticle(QStringLiteral("2"));
    QStringList fields;
    bool html = true;
    QString body = QStringLiteral("?");
    const QStringList seen = ModalsDuring([this] { Click(CReaderDlg::IDC_POST); },
                                          [&](QDialog* dlg) {
                                              for (int id : {1013, 1014, 1015, 1016, 1017})
                                                  fields << Child<QLineEdit>(dlg, id)->text();
                                              html = Child<QCheckBox>(dlg, 1009)->isChecked();
                                              body =
                                                  Child<QPlainTextEdit>(dlg, 1030)->toPlainText();
                                          });
    QCOMPARE(seen, QStringList{QStringLiteral("130")});
    QCOMPARE(fields, QStringList({QStringLiteral("127.0.0.1"), QStringLiteral("local.test"),
                                  QString(), QString(), QString()}));
    QVERIFY(!html);
    QCOMPARE(body, QString());
    // Cancelled, yet the tree was filled again: nothing is selected any more.
    QVERIFY(!HeaderTree()->currentIndex().isValid());
    QVERIFY(Header(QStringLiteral("3")).isValid());
    QVERIFY(Control<QWidget>(CReaderDlg::IDC_POST)->isEnabled());
    QVERIFY(m_ui.Requests().empty());
}

void ReaderDlgPostTest::replyQuotesTheSelectedPart_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("part"); // the part-list entry chosen; empty: the one shown
    QTest::addColumn<QString>("references");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("body");
    QTest::newRow("plain body") << "2"
                                << ""
                                << "<root@x> <child@x>" << false << " > line one\n > line two\n";
    QTest::newRow("HTML part") << "3"
                               << ""
                               << "<root@x> <html@x>" << true << "<p>one<BR>\ntwo</p>\n";
    QTest::newRow("plain part of the HTML article") << "3"
                                                    << "1 PlainText1"
                                                    << "<root@x> <html@x>" << false << " > plain\n";
    QTest::newRow("header lines") << "2"
                                  << "0: Header"
                                  << "<root@x> <child@x>" << false
                                  << " > Subject: Re: root\n > Message-ID: <child@x>\n"
                                     " > Content-Type: text/plain\n > \n";
}

void ReaderDlgPostTest::replyQuotesTheSelectedPart() {
    QFETCH(QString, number);
    QFETCH(QString, part);
    QFETCH(QString, references);
    QFETCH(bool, html);
    QFETCH(QString, body);
    Open(kComplete);
    ShowArticle(number);
    if (!part.isEmpty()) {
        const QList<QListWidgetItem*> found = PartList()->findItems(part, Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        PartList()->setCurrentItem(found.front());
    }
    QStringList fields;
    bool ticked = !html;
    QString text;
    const QStringList seen = ModalsDuring([this] { Click(CReaderDlg::IDC_REPLY); },
                                          [&](QDialog* dlg) {
                                              for (int id : {1015, 1016, 1017})
                                                  fields << Child<QLineEdit>(dlg, id)->text();
                                              ticked = Child<QCheckBox>(dlg, 1009)->isChecked();
                                              text =
                                                  Child<QPlainTextEdit>(dlg, 1030)->toPlainText();
                                          });
    QCOMPARE(seen, QStringList{QStringLiteral("130")});
    QCOMPARE(fields,
             QStringList({QStringLiteral("Re: root"), references, QStringLiteral("Re: root")}));
    QCOMPARE(ticked, html);
    QCOMPARE(text, body);
    // No warning for the HTML box ticked by the reply.
    QVERIFY(m_ui.Requests().empty());
}

void ReaderDlgPostTest::replyWithoutAPartStartsEmpty() {
    Open(kComplete);
    ShowArticle(QStringLiteral("3"));
    PartList()->clearSelection();
    QString subject;
    bool html = true;
    QString body = QStringLiteral("?");
    ModalsDuring([this] { Click(CReaderDlg::IDC_REPLY); },
                 [&](QDialog* dlg) {
                     subject = Child<QLineEdit>(dlg, 1017)->text();
                     html = Child<QCheckBox>(dlg, 1009)->isChecked();
                     body = Child<QPlainTextEdit>(dlg, 1030)->toPlainText();
                 });
    QCOMPARE(subject, QStringLiteral("Re: root"));
    QVERIFY(!html);
    QCOMPARE(body, QString());
}

void ReaderDlgPostTest::postingRunsWithTheCommandsOff() {
    Open(kComplete + "SIG=--=20=0d=0aTaro\n");
    ShowArticle(QStringLiteral("2"));
    NntpSettingsGuard guard;
    // The window is kept alive while the server takes its time over the article.
    SetNntpPumpHook(&PumpMessages);
    ScriptedNntpServer server(NntpScript()
                                  .Send("200 ready\r\n")
                                  .Reply("340 Ok\r\n")
                                  .OnCommand([](NntpServerConnection& c, const std::string& line) {
                                      if (line == ".\r\n") {
                                          c.Pause(300);
                                          c.Send("240 Article received\r\n");
                                      }
                                  }));
    SetDefaultNntpPort(server.Port());

    QStringList offDuringPost;
    bool busyDuringPost = false;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, [&] {
        busyDuringPost = busyDuringPost || m_dlg->IsBusy();
        for (int id : {1006, 1010, 1011, 1012, 1})
            if (!Control<QWidget>(id)->isEnabled() && !offDuringPost.contains(QString::number(id)))
                offDuringPost << QString::number(id);
    });
    int result = -1;
    ModalsDuring([this] { Click(CReaderDlg::IDC_REPLY); },
                 [&](QDialog* dlg) {
                     auto* body = Child<QPlainTextEdit>(dlg, 1030);
                     body->moveCursor(QTextCursor::End);
                     body->insertPlainText(QStringLiteral("Agreed."));
                     watch.start();
                     QTest::mouseClick(Child<QPushButton>(dlg, 1), Qt::LeftButton);
                     watch.stop();
                     result = dlg->result();
                 });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(busyDuringPost);
    QVERIFY(!m_dlg->IsBusy());
    offDuringPost.sort();
    QCOMPARE(offDuringPost,
             QStringList({QStringLiteral("1"), QStringLiteral("1006"), QStringLiteral("1010"),
                          QStringLiteral("1011"), QStringLiteral("1012")}));
    // Back at rest, with the tree filled again.
    for (int id : {1006, 1010, 1012, 1})
        QVERIFY2(Control<QWidget>(id)->isEnabled(), qPrintable(QString::number(id)));
    QVERIFY(server.WaitForClosedConnections(1));
    const std::string received = server.Received(0);
    QVERIFY2(received.find("\r\nSubject: Re: root\r\n") != std::string::npos, received.c_str());
    QVERIFY(received.find("\r\nReferences: <root@x> <child@x>\r\n\r\n > line one\r\n > line "
                          "two\r\nAgreed.\r\n-- \r\nTaro\r\n\r\n.\r\n") != std::string::npos);
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ReaderDlgPostTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReaderDlgPostTest.moc"
