// Posting through the real windows to the project's INN on 127.0.0.1:119 (tools/inn.sh start):
// a Japanese plain article and an HTML article to a fresh group, read back through "更新" and
// the article view, then a reply and a reply to the reply, which must hang under their parents.
// The articles as the server keeps them are compared with the bytes the program must have sent.
// Skipped when nothing greets there with 200.
//
// With QUILLO_SHOT_PREFIX set, the compose window of the first reply and the main window with
// the last reply shown are saved as PREFIX-compose.png and PREFIX-reply.png (run it under Xvfb
// with QT_QPA_PLATFORM=xcb for real pixels).

#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "mime/ArticleParser.h"
#include "post/PostClock.h"
#include "post/PostDlg.h"
#include "settings/UserSettings.h"
#include "store/HeaderStore.h"
#include "store/ServerConfig.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "../app/InnTestSupport.h"
#include "../nntp/HeaderDownloadTestSupport.h"
#include "support/ModelItems.h"
#include "support/TestDir.h"

#include "support/QtTestStrings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWebEnginePage>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <locale>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kServer = "localhost";
constexpr int kTimeoutMs = 30000;
constexpr std::uint32_t kTick = 0x5157;

// What the user types (UTF-8); the half-width katakana reach the server full-width.
const char kName[] = "山田太郎";
const char kEmail[] = "taro@example.jp";
const char kSignature[] = "-- \n山田 太郎\nｼｸﾞﾈﾁｬ";
const char kPlainSubject[] = "日本語の投稿テスト ﾃｽﾄ";
const char kPlainBody[] = "こんにちは。\n.\n.dot\nﾊﾟｿｺﾝで書きました。";
const char kHtmlSubject[] = "HTML投稿";
const char kHtmlBody[] = "<html><body>\n<b>太字</b>です。<BR>\n二行目</body></html>";
const char kReplyLine[] = "賛成です。";

// Article n of the group as the server keeps it: header lines and body lines, unstuffed.
struct Served {
    std::vector<std::string> header;
    std::vector<std::string> body;
};

Served ServedParts(const std::string& group, int n) {
    Served article;
    bool inBody = false;
    for (const std::string& text : ServedArticle(group, n)) {
        if (!inBody && text.empty())
            inBody = true;
        else
            (inBody ? article.body : article.header).push_back(text);
    }
    return article;
}

// The header line with this name (and ": "), or "(missing NAME)".
std::string HeaderLine(const Served& article, const std::string& name) {
    for (const std::string& line : article.header)
        if (line.starts_with(name + ": "))
            return line;
    return "(missing " + name + ")";
}

// ISO-2022-JP of a line, back in ASCII at its end: the line break after it makes the converter
// write the escape, and is then taken off.
std::string Jis(const std::string& utf8) {
    std::string jis = Iconv(utf8 + "\n", "UTF-8", "ISO-2022-JP");
    jis.pop_back();
    return jis;
}

// An encoded word of Japanese text and the byte that ended its run, made with the C library's
// converter and Qt's base64, not with the program's codec.
std::string Word(const std::string& utf8, const std::string& tail = "") {
    const QByteArray bytes = QByteArray::fromStdString(Jis(utf8) + tail);
    return "=?ISO-2022-JP?B?" + bytes.toBase64().toStdString() + "?=";
}

std::vector<std::string> JisLines(const std::vector<std::string>& utf8) {
    std::vector<std::string> lines;
    for (const std::string& line : utf8)
        lines.push_back(Jis(line));
    return lines;
}

// The clock posting reads: now, with a fixed tick counter, so the test knows the boundary.
class CNowClock : public IPostClock {
public:
    CNowClock() : m_time(LocalTimeAt(std::time(nullptr))) {}
    std::tm LocalTime() override { return m_time; }
    std::uint32_t TickCount() override { return kTick; }
    std::tm m_time;
};

std::string Boundary(const std::tm& t) {
    char text[64];
    std::snprintf(text, sizeof text, "----=_QUILLOMB_0101_0911_%08x.%02d%02d%02d", kTick, t.tm_sec,
                  t.tm_min, t.tm_hour);
    return text;
}

// The Date value through the C++ library's own formatting in the classic locale.
std::string DateValue(const std::tm& t) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::put_time(&t, "%a, %d %b %Y %H:%M:%S %z");
    return out.str();
}

void Shot(QWidget* window, const char* name) {
    const QString prefix = qEnvironmentVariable("QUILLO_SHOT_PREFIX");
    if (prefix.isEmpty())
        return;
    QTest::qWait(1500);
    QPixmap pixmap = window->screen()->grabWindow(window->winId());
    if (pixmap.isNull())
        pixmap = window->grab();
    pixmap.save(prefix + QLatin1Char('-') + QLatin1String(name) + QStringLiteral(".png"));
}

} // namespace

class PostInnTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void postJapanesePlainArticle();
    void postHtmlArticle();
    void updateReadsBothBack();
    void plainArticleAsTyped();
    void htmlArticleShowsItsHtmlPart();
    void serverKeepsTheExpectedBytes();
    void replyHangsUnderItsParent();
    void replyToTheReplyNamesBothAncestors();

private:
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    QModelIndex Header(int num) const;
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string GroupDir() const { return GroupDirectory(Base(), kServer, m_group); }
    // Opens the compose window with the command, lets fill write the article, and posts it.
    int Compose(int command, const std::function<void(CPostDlg*)>& fill,
                const char* shot = nullptr);
    void Update();
    // Selects the header and waits until its part is shown.
    bool Show(int num);
    QString ViewText() const;
    std::string MessageId(int num) const;

    std::string m_group;
    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
    CNowClock m_clock;
    std::unique_ptr<CPostClockScope> m_clockScope;
};

void PostInnTest::initTestCase() {
    if (!InnGreets())
        QSKIP("nothing greets with 200 on 127.0.0.1:119 (tools/inn.sh start)");
    m_group =
        "quillo.test.post" + std::to_string(std::time(nullptr)) + "p" + std::to_string(::getpid());
    QProcess make;
    make.setProcessChannelMode(QProcess::MergedChannels);
    make.start(QString::fromStdString(TestDataDir()) + QStringLiteral("/../../tools/inn.sh"),
               {QStringLiteral("newgroup"), QString::fromStdString(m_group)});
    QVERIFY(make.waitForFinished(120000));
    QVERIFY2(make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0,
             make.readAll().constData());

    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
    m_clockScope = std::make_unique<CPostClockScope>(m_clock);
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    QVERIFY(WriteWholeFile(Base() + "/quillomb.htm", "<html><body>start</body></html>"));
    const std::string ini = Base() + "/quillo.ini";
    QCOMPARE(WriteServerConfig({{kServer, {{m_group, true, false}}}}, ini, Base() + "/quillo.mdb"),
             1);
    QVERIFY(WriteUserSettings(ini, {Sjis(kName), kEmail, ""}));

    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    QSignalSpy start(m_dlg->HtmlView(), &QWebEngineView::loadFinished);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QVERIFY(start.count() > 0 || start.wait(kTimeoutMs));

    // The signature through the settings window, as a user enters it.
    bool set = false;
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, [&] {
        QWidget* settings = QApplication::activeModalWidget();
        if (set || !settings || settings->objectName() != QStringLiteral("131"))
            return;
        set = true;
        settings->findChild<QPlainTextEdit*>(QStringLiteral("1014"))
            ->setPlainText(QString::fromUtf8(kSignature));
        QTest::mouseClick(settings->findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
    });
    probe.start();
    QTest::mouseClick(Control<QPushButton>(CReaderDlg::IDC_SETTINGS), Qt::LeftButton);
    probe.stop();
    QVERIFY(set);

    QTreeWidget* servers = Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE);
    QTreeWidgetItem* item = servers->topLevelItem(0)->child(0);
    while (item && item->childCount() > 0)
        item = item->child(0);
    QVERIFY(item);
    servers->setCurrentItem(item);
    QCOMPARE(m_dlg->CurrentGroup(), m_group);
}

void PostInnTest::cleanupTestCase() {
    m_dlg.reset();
    if (!m_oldDir.empty())
        fs::current_path(m_oldDir);
    m_root.reset();
    m_clockScope.reset();
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
}

QModelIndex PostInnTest::Header(int num) const {
    const QString prefix = QString::number(num) + QLatin1Char(' ');
    for (const QModelIndex& item : AllIndexes(HeaderTree()->model()))
        if (item.data().toString().startsWith(prefix))
            return item;
    return {};
}

int PostInnTest::Compose(int command, const std::function<void(CPostDlg*)>& fill,
                         const char* shot) {
    int result = -1;
    bool seen = false;
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<CPostDlg*>(QApplication::activeModalWidget());
        if (seen || !dlg)
            return;
        seen = true;
        probe.stop();
        fill(dlg);
        if (shot)
            Shot(dlg, shot);
        QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
        result = dlg->result();
        if (dlg->isVisible())
            dlg->reject();
    });
    probe.start();
    QTest::mouseClick(Control<QPushButton>(command), Qt::LeftButton);
    probe.stop();
    return result;
}

void PostInnTest::Update() {
    QTest::mouseClick(Control<QPushButton>(CReaderDlg::IDC_UPDATE), Qt::LeftButton);
}

bool PostInnTest::Show(int num) {
    const QModelIndex item = Header(num);
    if (!item.isValid())
        return false;
    QSignalSpy shown(m_dlg->HtmlView(), &QWebEngineView::loadFinished);
    HeaderTree()->setCurrentIndex(item);
    return (shown.count() > 0 || shown.wait(kTimeoutMs)) && shown.front().front().toBool();
}

QString PostInnTest::ViewText() const {
    // Shared with the callback, which may still come after a time-out.
    auto result = std::make_shared<std::optional<QString>>();
    m_dlg->HtmlView()->page()->toPlainText([result](const QString& text) { *result = text; });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, kTimeoutMs))
        qWarning("the view did not hand over its text");
    return result->value_or(QString());
}

std::string PostInnTest::MessageId(int num) const {
    const std::string line = HeaderLine(ServedParts(m_group, num), "Message-ID");
    return line.substr(std::string("Message-ID: ").size());
}

void PostInnTest::postJapanesePlainArticle() {
    const int result = Compose(CReaderDlg::IDC_POST, [](CPostDlg* dlg) {
        dlg->findChild<QLineEdit*>(QStringLiteral("1017"))
            ->setText(QString::fromUtf8(kPlainSubject));
        dlg->findChild<QPlainTextEdit*>(QStringLiteral("1030"))
            ->setPlainText(QString::fromUtf8(kPlainBody));
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(m_ui.Messages(),
             std::vector<QString>{QString::fromUtf8("投稿してもよろしいですか？")});
    m_ui.Clear();
}

void PostInnTest::postHtmlArticle() {
    const int result = Compose(CReaderDlg::IDC_POST, [](CPostDlg* dlg) {
        dlg->findChild<QLineEdit*>(QStringLiteral("1017"))
            ->setText(QString::fromUtf8(kHtmlSubject));
        QTest::mouseClick(dlg->findChild<QCheckBox*>(QStringLiteral("1009")), Qt::LeftButton);
        dlg->findChild<QPlainTextEdit*>(QStringLiteral("1030"))
            ->setPlainText(QString::fromUtf8(kHtmlBody));
    });
    QCOMPARE(result, int(QDialog::Accepted));
    // The HTML warning, answered OK, then the confirmation.
    QCOMPARE(m_ui.Messages().size(), std::size_t(2));
    m_ui.Clear();
}

void PostInnTest::updateReadsBothBack() {
    Update();
    QVERIFY(m_ui.Messages().empty());
    QCOMPARE(HeaderTree()->model()->rowCount(), 2);
    QVERIFY(Header(1).isValid());
    QVERIFY(Header(2).isValid());
    QCOMPARE(Header(1).data().toString(), QString::fromUtf8("1 日本語の投稿テスト テスト"));
    QCOMPARE(Header(2).data().toString(), QString::fromUtf8("2 HTML投稿"));
    const std::vector<std::string> rows = HeaderRows(GroupDir());
    QCOMPARE(rows.size(), std::size_t(2));
    const std::string from = "|" + Sjis(kName) + " <" + kEmail + " >|";
    for (const std::string& row : rows)
        QVERIFY2(row.find(from) != std::string::npos, row.c_str());
    QVERIFY(rows[0].find("|" + Sjis("日本語の投稿テスト テスト") + "|") != std::string::npos);
}

void PostInnTest::plainArticleAsTyped() {
    QVERIFY(Show(1));
    QCOMPARE(m_dlg->PartListEntries(),
             (std::vector<CPartEntry>{{"0: Header", kPartTextFile}, {"1: Body", kPartTextFile}}));
    // The body as the cache holds it after decoding: each line as typed, katakana full-width,
    // the signature and the empty line after it.
    const std::string cache = ReadWholeFile(CacheFilePath(GroupDir(), MessageId(1)));
    const std::string body = cache.substr(cache.find("\r\n\r\n") + 4);
    QCOMPARE(body, Sjis("こんにちは。\r\n.\r\n.dot\r\nパソコンで書きました。\r\n-- \r\n"
                        "山田 太郎\r\nシグネチャ\r\n\r\n"));
    const QStringList lines = ViewText().split(QLatin1Char('\n'));
    for (const char* expected :
         {"こんにちは。", ".", ".dot", "パソコンで書きました。", "山田 太郎"})
        QVERIFY2(lines.contains(QString::fromUtf8(expected)), expected);
}

void PostInnTest::htmlArticleShowsItsHtmlPart() {
    QVERIFY(Show(2));
    QCOMPARE(m_dlg->PartListEntries(), (std::vector<CPartEntry>{{"0: Header", kPartTextFile},
                                                                {"1 PlainText1", kPartTextFile},
                                                                {"2 HtmlText2", kPartHtmlFile}}));
    QCOMPARE(m_dlg->HtmlView()->url(), PartUrl(PartFilePath("2 HtmlText2", kPartHtmlFile)));
    const QString text = ViewText();
    QVERIFY2(text.contains(QString::fromUtf8("太字です。")), qPrintable(text));
    QVERIFY2(text.contains(QString::fromUtf8("二行目")), qPrintable(text));
    QVERIFY2(text.contains(QString::fromUtf8("シグネチャ")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("<b>")));
}

void PostInnTest::serverKeepsTheExpectedBytes() {
    const std::tm& t = m_clock.m_time;
    const Served plain = ServedParts(m_group, 1);
    QCOMPARE(HeaderLine(plain, "Content-Type"),
             std::string("Content-Type: text/plain; charset=\"iso-2022-jp\""));
    QCOMPARE(HeaderLine(plain, "Content-Transfer-Encoding"),
             std::string("Content-Transfer-Encoding: 7bit"));
    QCOMPARE(HeaderLine(plain, "Date"), "Date: " + DateValue(t));
    QCOMPARE(HeaderLine(plain, "From"), "From: " + Word(kName, " ") + "<" + kEmail + " >");
    QCOMPARE(HeaderLine(plain, "Newsgroups"), "Newsgroups: " + m_group);
    QCOMPARE(HeaderLine(plain, "MIME-Version"), std::string("MIME-Version: 1.0"));
    QCOMPARE(HeaderLine(plain, "Subject"),
             "Subject: " + Word("日本語の投稿テスト", " ") + Word("テスト"));
    QCOMPARE(HeaderLine(plain, "X-Newsreader"), std::string("X-Newsreader: Quillo2000 1.01.0910"));
    QVERIFY(HeaderLine(plain, "Path").ends_with("!localhost"));
    QCOMPARE(HeaderLine(plain, "References"), std::string("(missing References)"));
    const std::vector<std::string> signature = JisLines({"-- ", "山田 太郎", "シグネチャ"});
    std::vector<std::string> body =
        JisLines({"こんにちは。", ".", ".dot", "パソコンで書きました。"});
    body.insert(body.end(), signature.begin(), signature.end());
    body.push_back("");
    QCOMPARE(plain.body, body);

    const Served html = ServedParts(m_group, 2);
    const std::string boundary = Boundary(t);
    QCOMPARE(HeaderLine(html, "Content-Type"),
             "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"");
    QCOMPARE(HeaderLine(html, "Subject"), "Subject: HTML" + Word("投稿"));
    const std::vector<std::string> partHead = {"Content-Transfer-Encoding: 7bit", ""};
    std::vector<std::string> expected = {"--" + boundary,
                                         "Content-Type: text/plain; ",
                                         "\tcharset=\"iso-2022-jp\"",
                                         partHead[0],
                                         partHead[1],
                                         Jis("太字です。"),
                                         Jis("二行目")};
    expected.insert(expected.end(), signature.begin(), signature.end());
    for (const std::string& line :
         {std::string(), "--" + boundary, std::string("Content-Type: text/html; "),
          std::string("\tcharset=\"iso-2022-jp\""), partHead[0], partHead[1],
          std::string("<html><body>"), Jis("<b>太字</b>です。<BR>"), Jis("二行目")})
        expected.push_back(line);
    for (const std::string& line : signature)
        expected.push_back(line + "<BR>");
    for (const std::string& line :
         {std::string("</BODY></HTML>"), std::string(), "--" + boundary + "--"})
        expected.push_back(line);
    QCOMPARE(html.body, expected);
}

void PostInnTest::replyHangsUnderItsParent() {
    QVERIFY(Show(1));
    QString subject;
    QString quoted;
    const int result = Compose(
        CReaderDlg::IDC_REPLY,
        [&](CPostDlg* dlg) {
            subject = dlg->findChild<QLineEdit*>(QStringLiteral("1017"))->text();
            auto* body = dlg->findChild<QPlainTextEdit*>(QStringLiteral("1030"));
            quoted = body->toPlainText();
            body->moveCursor(QTextCursor::End);
            body->insertPlainText(QString::fromUtf8(kReplyLine));
        },
        "compose");
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(subject, QString::fromUtf8("Re: 日本語の投稿テスト テスト"));
    QVERIFY2(quoted.startsWith(QString::fromUtf8(" > こんにちは。\n > .\n > .dot\n")),
             qPrintable(quoted));
    m_ui.Clear();

    Update();
    const QModelIndex reply = Header(3);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.parent(), Header(1));
    QCOMPARE(reply.data().toString(), QString::fromUtf8("3 Re: 日本語の投稿テスト テスト"));
    const Served served = ServedParts(m_group, 3);
    // The parent has no References of its own: its Message-ID alone.
    QCOMPARE(HeaderLine(served, "References"), "References: " + MessageId(1));
    QCOMPARE(served.body.at(0), Jis(" > こんにちは。"));
}

void PostInnTest::replyToTheReplyNamesBothAncestors() {
    QVERIFY(Show(3));
    const int result = Compose(CReaderDlg::IDC_REPLY, [](CPostDlg* dlg) {
        auto* body = dlg->findChild<QPlainTextEdit*>(QStringLiteral("1030"));
        body->moveCursor(QTextCursor::End);
        body->insertPlainText(QStringLiteral("+1"));
    });
    QCOMPARE(result, int(QDialog::Accepted));
    Update();
    const QModelIndex reply = Header(4);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.parent(), Header(3));
    QCOMPARE(Header(3).parent(), Header(1));
    QCOMPARE(reply.data().toString(), QString::fromUtf8("4 Re: 日本語の投稿テスト テスト"));
    QCOMPARE(HeaderLine(ServedParts(m_group, 4), "References"),
             "References: " + MessageId(1) + " " + MessageId(3));
    QVERIFY(Show(4));
    Shot(m_dlg.get(), "reply");
    QVERIFY(m_ui.Messages().size() == 1);
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    PostInnTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "PostInnTest.moc"
