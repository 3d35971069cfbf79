// The compose window and the preview offscreen: how each kind of article opens, the HTML
// warning, tag stripping, drafts, the preview and its file, and posting through the window
// against the scripted server.

#include "post/PostDlg.h"
#include "post/HtmlPreviewDlg.h"

#include "../nntp/NntpTestSupport.h"
#include "PostTestSupport.h"
#include "base/TempFile.h"
#include "nntp/NntpSocket.h"
#include "settings/UserSettings.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"
#include "ui/ScriptedUi.h"
#include "ui/SjisText.h"
#include "viewer/ArticlePage.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "support/QtTestStrings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kLoadTimeout = 60000;

const char kHtmlWarning[] = "ＨＴＭＬ形式で送信すると対応していないニュースリーダーでは表示がおかし"
                            "くなることがありますがよろしいですか？";

// Runs check on the modal window that action opens, then closes that window.
bool WithModal(const std::function<void()>& action, const std::function<void(QDialog*)>& check) {
    bool seen = false;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!modal || seen || modal->objectName() == QStringLiteral("130"))
            return;
        seen = true;
        probe.stop();
        check(modal);
        modal->reject();
    });
    probe.start();
    action();
    probe.stop();
    return seen;
}

} // namespace

class PostDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void captionsFitTheirControls();
    void newArticleOpensEmpty();
    void plainReplyQuotesEveryLine();
    void htmlReplyTicksHtmlWithoutWarning();
    void missingPreloadLeavesTheBodyEmpty();
    void replyToAnotherCharset_data();
    void replyToAnotherCharset();
    void replySubjectInAnotherCharsetGoesOutAsItCame();
    void subjectPrefixRule_data();
    void subjectPrefixRule();
    void htmlWarningAnsweredCancelLeavesTheBoxUnticked();
    void stripTags_data();
    void stripTags();
    void saveThenLoadIntoAFreshWindow();
    void cancelledFileDialogsChangeNothing();
    void previewShowsTheBodySafelyAndDeletesItsFile_data();
    void previewShowsTheBodySafelyAndDeletesItsFile();
    void postSendsTheArticleAndCloses();
    void postAnsweredCancelSendsNothing();
    void postWithoutSubjectKeepsTheWindow();
    void postRefusedKeepsEverything();

private:
    void Open(CPostContext context);
    CPostContext Context(const std::string& replySubject = "", const std::string& preload = "");
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QString Text(int id) const { return Control<QLineEdit>(id)->text(); }
    QPlainTextEdit* Body() const { return Control<QPlainTextEdit>(CPostDlg::IDC_BODY); }
    QCheckBox* Html() const { return Control<QCheckBox>(CPostDlg::IDC_HTML); }
    void Click(int id) const { QTest::mouseClick(Control<QAbstractButton>(id), Qt::LeftButton); }

    std::unique_ptr<TestDir> m_dir;
    std::unique_ptr<TestDir> m_temp;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
    std::unique_ptr<CPostDlg> m_dlg;
};

void PostDlgTest::init() {
    m_dir = std::make_unique<TestDir>();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    m_ui.Clear();
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
}

void PostDlgTest::cleanup() {
    m_dlg.reset();
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
    m_dir.reset();
}

CPostContext PostDlgTest::Context(const std::string& replySubject, const std::string& preload) {
    CPostContext c;
    c.server = "127.0.0.1";
    c.newsgroup = "local.test";
    c.replySubject = replySubject;
    c.references = replySubject.empty() ? "" : "<p@x> <m@x>";
    c.settingsPath = *m_dir / "quillo.ini";
    c.preloadFile = preload;
    return c;
}

void PostDlgTest::Open(CPostContext context) {
    m_dlg = std::make_unique<CPostDlg>(std::move(context));
    m_dlg->show();
}

void PostDlgTest::controls_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("readOnly");
    const auto u = [](const char* s) { return QString::fromUtf8(s); };
    QTest::newRow("post") << 1 << "QPushButton" << u("投稿") << false;
    QTest::newRow("cancel") << 2 << "QPushButton" << u("ｷｬﾝｾﾙ") << false;
    QTest::newRow("server") << 1013 << "QLineEdit" << u("") << true;
    QTest::newRow("newsgroup") << 1014 << "QLineEdit" << u("") << true;
    QTest::newRow("reply subject") << 1015 << "QLineEdit" << u("") << true;
    QTest::newRow("references") << 1016 << "QLineEdit" << u("") << true;
    QTest::newRow("subject") << 1017 << "QLineEdit" << u("") << false;
    QTest::newRow("preview") << 1002 << "QPushButton" << u("ＨＴＭＬ表示") << false;
    QTest::newRow("strip tags") << 1006 << "QPushButton" << u("HTMLタグ削除") << false;
    QTest::newRow("html") << 1009 << "QCheckBox" << u("ＨＴＭＬヘッダーで送信") << false;
    QTest::newRow("load") << 1011 << "QPushButton" << u("読み込み") << false;
    QTest::newRow("save") << 1010 << "QPushButton" << u("一時保存") << false;
    QTest::newRow("body") << 1030 << "QPlainTextEdit" << u("") << false;
    QTest::newRow("status") << 1032 << "QLabel" << u("") << false;
}

void PostDlgTest::controls() {
    QFETCH(int, id);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(bool, readOnly);
    Open(Context());
    QCOMPARE(m_dlg->objectName(), QStringLiteral("130"));
    QCOMPARE(m_dlg->windowTitle(), QString::fromUtf8("ニュースを投稿"));
    QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());
    const QList<QWidget*> found = m_dlg->findChildren<QWidget*>(QString::number(id));
    QCOMPARE(found.size(), 1);
    QWidget* w = found.front();
    QVERIFY2(w->inherits(kind.toLatin1().constData()), w->metaObject()->className());
    QVERIFY(m_dlg->rect().contains(w->geometry()));
    QVERIFY(w->isEnabled());
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        QCOMPARE(b->text(), caption);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        QCOMPARE(e->isReadOnly(), readOnly);
}

void PostDlgTest::captionsFitTheirControls() {
    Open(Context());
    QStringList labels;
    for (QWidget* w : m_dlg->findChildren<QWidget*>()) {
        QString text;
        int room = w->width();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            room -= qobject_cast<QCheckBox*>(w) ? 18 : 4;
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
            if (l->objectName() == QStringLiteral("-1"))
                labels << text;
        } else {
            continue;
        }
        QVERIFY2(w->fontMetrics().horizontalAdvance(text) <= room, qPrintable(text));
    }
    QCOMPARE(labels,
             QStringList({QString::fromUtf8("サーバー："), QString::fromUtf8("ニュースグループ："),
                          QString::fromUtf8("返信元"), QString::fromUtf8("タイトル：")}));
}

void PostDlgTest::newArticleOpensEmpty() {
    Open(Context());
    QCOMPARE(Text(1013), QStringLiteral("127.0.0.1"));
    QCOMPARE(Text(1014), QStringLiteral("local.test"));
    for (int id : {1015, 1016, 1017})
        QCOMPARE(Text(id), QString());
    QVERIFY(!Html()->isChecked());
    QCOMPARE(Body()->toPlainText(), QString());
    QCOMPARE(m_dlg->focusWidget(), Control<QWidget>(1017));
    QVERIFY(m_ui.Requests().empty());
}

void PostDlgTest::plainReplyQuotesEveryLine() {
    const std::string part = PrivateTempDirectory() + "/PlainText1.txt";
    // 日本語 and a line with "<br>" in it; the last line has no line break.
    QVERIFY(WriteWholeFile(part, "Hello\r\n\x93\xfa\x96\x7b\x8c\xea\r\n\r\na<br>b"));
    Open(Context("Question", part));
    QCOMPARE(Text(1015), QStringLiteral("Question"));
    QCOMPARE(Text(1016), QStringLiteral("<p@x> <m@x>"));
    QCOMPARE(Text(1017), QStringLiteral("Re: Question"));
    QVERIFY(!Html()->isChecked());
    QCOMPARE(Body()->toPlainText(), QString::fromUtf8(" > Hello\n > 日本語\n > \n > a<BR>\nb\n"));
    QCOMPARE(m_dlg->BodyText(),
             std::string(" > Hello\r\n > \x93\xfa\x96\x7b\x8c\xea\r\n > \r\n > a<BR>\r\nb\r\n"));
    QVERIFY(m_ui.Requests().empty());
}

void PostDlgTest::htmlReplyTicksHtmlWithoutWarning() {
    const std::string part = PrivateTempDirectory() + "/HtmlText2.htm";
    QVERIFY(WriteWholeFile(part, "<html><body>one<br>two<BR>\r\nthree</body></html>\r\n"));
    Open(Context("Re: HTML", part));
    QCOMPARE(Text(1017), QStringLiteral("Re: HTML"));
    QVERIFY(Html()->isChecked());
    QVERIFY(m_ui.Requests().empty());
    QCOMPARE(Body()->toPlainText(),
             QStringLiteral("<html><body>one<BR>\ntwo<BR>\n\nthree</body></html>\n"));
}

void PostDlgTest::missingPreloadLeavesTheBodyEmpty() {
    Open(Context("Gone", PrivateTempDirectory() + "/PlainText9.txt"));
    QCOMPARE(Body()->toPlainText(), QString());
    QCOMPARE(Text(1017), QStringLiteral("Re: Gone"));
    QVERIFY(m_ui.Requests().empty());
}

// A part in another charset is quoted converted to Shift_JIS; what Shift_JIS lacks shows as 〓 and
// the status line says how many. The reply's subject shows its encoded words decoded.
void PostDlgTest::replyToAnotherCharset_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<int>("transfer");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("status");

    auto u = [](const char* utf8) { return QString::fromUtf8(utf8); };
    // 〜 (U+301C) is Shift_JIS 0x8160; é and 한 are not in Shift_JIS.
    QTest::newRow("utf-8") << QByteArray("PlainText1.txt") << QByteArray("日本語〜\r\ncafé 한\r\n")
                           << QByteArray("UTF-8") << int(CTransfer::None)
                           << u(" > 日本語～\n > caf〓 〓\n")
                           << u("Shift_JIS にない文字 2 個を〓にしました");
    // "。" took its line's CR into the line when the part was cut.
    QTest::newRow("utf-8 stray cr")
        << QByteArray("PlainText1.txt") << QByteArray("。\r\r\nx\r\n") << QByteArray("UTF-8")
        << int(CTransfer::None) << u(" > 。\n > x\n") << QString();
    QTest::newRow("base64 utf-8") << QByteArray("body.txt")
                                  << QByteArray("5pel5pys6Kqe44Gn44GZ44CCDQo=\r\n")
                                  << QByteArray("UTF-8") << int(CTransfer::Base64)
                                  << u(" > 日本語です。\n") << QString();
    QTest::newRow("euc-jp") << QByteArray("PlainText2.txt") << QByteArray("\xc6\xfc\xcb\xdc\r\n")
                            << QByteArray("EUC-JP") << int(CTransfer::None) << u(" > 日本\n")
                            << QString();
    QTest::newRow("windows-1252") << QByteArray("PlainText3.txt")
                                  << QByteArray("Caf\xe9 cr\xe8me\r\n")
                                  << QByteArray("windows-1252") << int(CTransfer::None)
                                  << u(" > Caf〓 cr〓me\n")
                                  << u("Shift_JIS にない文字 2 個を〓にしました");
    // Soft line breaks the fetch left are joined, in Shift_JIS too.
    QTest::newRow("quoted-printable")
        << QByteArray("body.txt") << QByteArray("around =\r\nthe\r\n") << QByteArray()
        << int(CTransfer::QuotedPrintable) << u(" > around the\n") << QString();
    // HTML is loaded without quoting, decoded.
    QTest::newRow("base64 html") << QByteArray("HtmlText2.htm")
                                 << QByteArray("PHA+5pel5pys6KqePC9wPg0K\r\n")
                                 << QByteArray("UTF-8") << int(CTransfer::Base64)
                                 << u("<p>日本語</p>\n") << QString();
}

void PostDlgTest::replyToAnotherCharset() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, charset);
    QFETCH(int, transfer);
    QFETCH(QString, body);
    QFETCH(QString, status);
    const std::string part = PrivateTempDirectory() + "/" + name.toStdString();
    QVERIFY(WriteWholeFile(part, file.toStdString()));
    CPostContext context = Context("=?UTF-8?B?5pel5pys6Kqe?= =?UTF-8?Q?=E3=81=A7=E3=81=99?=", part);
    context.preloadCharset = charset.toStdString();
    context.preloadTransfer = static_cast<CTransfer>(transfer);
    Open(context);
    QCOMPARE(Text(1015), QString::fromUtf8("日本語です"));
    QCOMPARE(Text(1017), QString::fromUtf8("Re: 日本語です"));
    QCOMPARE(Body()->toPlainText(), body);
    QCOMPARE(Control<QLabel>(CPostDlg::IDC_STATUS)->text(), status);
    // The part file keeps its bytes.
    QCOMPARE(QByteArray::fromStdString(ReadWholeFile(part)), file);
}

void PostDlgTest::subjectPrefixRule_data() {
    QTest::addColumn<QString>("replied");
    QTest::addColumn<QString>("subject");
    QTest::newRow("plain") << "hello"
                           << "Re: hello";
    QTest::newRow("Re: ") << "Re: hello"
                          << "Re: hello";
    QTest::newRow("RE: ") << "RE: hello"
                          << "RE: hello";
    QTest::newRow("no blank") << "Re:hello"
                              << "Re: Re:hello";
    QTest::newRow("short") << "Re"
                           << "Re: Re";
    QTest::newRow("Japanese") << QString::fromUtf8("返信") << QString::fromUtf8("Re: 返信");
}

void PostDlgTest::subjectPrefixRule() {
    QFETCH(QString, replied);
    QFETCH(QString, subject);
    CPostContext c = Context();
    c.replySubject = ToSjis(replied);
    Open(c);
    QCOMPARE(Text(1015), replied);
    QCOMPARE(Text(1017), subject);
}

void PostDlgTest::htmlWarningAnsweredCancelLeavesTheBoxUnticked() {
    Open(Context());
    m_ui.QueueAnswer(MsgAnswer::Cancel);
    QTest::mouseClick(Html(), Qt::LeftButton);
    QVERIFY(!Html()->isChecked());
    QCOMPARE(m_ui.Requests().size(), std::size_t(1));
    const CScriptedUi::Request& warning = m_ui.Requests().front();
    QCOMPARE(warning.text, QString::fromUtf8(kHtmlWarning));
    QCOMPARE(warning.caption, QString::fromUtf8("ＨＴＭＬ形式での送信注意事項"));
    QVERIFY(warning.buttons == MsgButtons::OkCancel);

    m_ui.QueueAnswer(MsgAnswer::Ok);
    QTest::mouseClick(Html(), Qt::LeftButton);
    QVERIFY(Html()->isChecked());
    QCOMPARE(m_ui.Requests().size(), std::size_t(2));
    // Unticking asks nothing.
    QTest::mouseClick(Html(), Qt::LeftButton);
    QVERIFY(!Html()->isChecked());
    QCOMPARE(m_ui.Requests().size(), std::size_t(2));
}

void PostDlgTest::stripTags_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("stripped");
    QTest::newRow("lines ending in <BR> keep their breaks") << "<b>one</b><BR>\ntwo<br>\nthree<BR>"
                                                            << "one\ntwo\nthree\n";
    QTest::newRow("without <BR> all on one line") << "<p>one</p>\n<p>two</p>\nthree"
                                                  << "onetwothree\n";
    QTest::newRow("tag over lines") << "a<font\ncolor=red>b<BR>\nc"
                                    << "ab\nc\n";
    QTest::newRow("nothing left") << "<p>\n</p>"
                                  << "";
}

void PostDlgTest::stripTags() {
    QFETCH(QString, body);
    QFETCH(QString, stripped);
    Open(Context());
    QTest::mouseClick(Html(), Qt::LeftButton);
    QVERIFY(Html()->isChecked());
    Body()->setPlainText(body);
    Click(CPostDlg::IDC_STRIP_TAGS);
    QCOMPARE(Body()->toPlainText(), stripped);
    QVERIFY(!Html()->isChecked());
    // Only the warning of ticking the box was asked.
    QCOMPARE(m_ui.Requests().size(), std::size_t(1));
}

void PostDlgTest::saveThenLoadIntoAFreshWindow() {
    Open(Context("Question", ""));
    Control<QLineEdit>(1017)->setText(QString::fromUtf8("Re: 質問"));
    Body()->setPlainText(QString::fromUtf8("本文\n\nlast"));
    const std::string draft = *m_dir / "draft.txt";
    m_ui.QueueFileName(QString::fromStdString(draft));
    Click(CPostDlg::IDC_SAVE);
    QCOMPARE(m_ui.Requests().size(), std::size_t(1));
    QVERIFY(m_ui.Requests().front().kind == CScriptedUi::Kind::SaveFile);
    // 質問 and 本文 in Shift_JIS.
    QCOMPARE(ReadWholeFile(draft),
             std::string("127.0.0.1\r\nlocal.test\r\nQuestion\r\n<p@x> <m@x>\r\n"
                         "Re: \x8e\xbf\x96\xe2\r\n\x96\x7b\x95\xb6\r\n\r\n"
                         "last\r\n"));

    m_dlg.reset();
    CPostContext other = Context();
    other.server = "other.example.org";
    other.newsgroup = "other.group";
    Open(other);
    m_ui.QueueFileName(QString::fromStdString(draft));
    Click(CPostDlg::IDC_LOAD);
    QVERIFY(m_ui.Requests().back().kind == CScriptedUi::Kind::OpenFile);
    QCOMPARE(m_ui.Requests().back().caption, QStringLiteral("Open Text File"));
    QCOMPARE(Text(1013), QStringLiteral("127.0.0.1"));
    QCOMPARE(Text(1014), QStringLiteral("local.test"));
    QCOMPARE(Text(1015), QStringLiteral("Question"));
    QCOMPARE(Text(1016), QStringLiteral("<p@x> <m@x>"));
    QCOMPARE(Text(1017), QString::fromUtf8("Re: 質問"));
    // The body gains one line break with each save and load.
    QCOMPARE(Body()->toPlainText(), QString::fromUtf8("本文\n\nlast\n"));
}

void PostDlgTest::cancelledFileDialogsChangeNothing() {
    Open(Context());
    Body()->setPlainText(QStringLiteral("kept"));
    Click(CPostDlg::IDC_SAVE);
    Click(CPostDlg::IDC_LOAD);
    QCOMPARE(m_ui.Requests().size(), std::size_t(2));
    QCOMPARE(Body()->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(Text(1013), QStringLiteral("127.0.0.1"));
    QVERIFY(fs::is_empty(m_dir->Path()));
}

void PostDlgTest::previewShowsTheBodySafelyAndDeletesItsFile_data() {
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("HTML") << true << ".htm";
    QTest::newRow("plain text") << false << ".txt";
}

void PostDlgTest::previewShowsTheBodySafelyAndDeletesItsFile() {
    QFETCH(bool, html);
    QFETCH(QString, suffix);
    Open(Context());
    if (html)
        QTest::mouseClick(Html(), Qt::LeftButton);
    // Anything the page asked of the network would connect here.
    ScriptedNntpServer listener;
    const QString body =
        QStringLiteral("<html><head><title>T</title></head><body>Hi<img "
                       "src=\"http://127.0.0.1:%1/x.png\"><script>document.title = "
                       "'ran';</script></body></html>")
            .arg(listener.Port());
    Body()->setPlainText(body);

    std::string file;
    bool loaded = false;
    QString title;
    const bool opened =
        WithModal([this] { Click(CPostDlg::IDC_PREVIEW); },
                  [&](QDialog* modal) {
                      auto* preview = qobject_cast<CHtmlPreviewDlg*>(modal);
                      QVERIFY(preview);
                      QCOMPARE(preview->objectName(), QStringLiteral("146"));
                      QCOMPARE(preview->windowTitle(), QString::fromUtf8("ＨＴＭＬプレビュー"));
                      file = preview->FilePath();
                      QCOMPARE(ReadWholeFile(file), body.toStdString());
                      CHtmlViewCtl* view =
                          preview->findChild<CHtmlViewCtl*>(QStringLiteral("HTML2"));
                      QCOMPARE(view, preview->View());
                      QSignalSpy spy(view, &QWebEngineView::loadFinished);
                      loaded = spy.wait(kLoadTimeout) && spy.front().front().toBool();
                      QCOMPARE(view->url(), PartUrl(file));
                      // The article view's page, in its guarded state for article parts.
                      auto* page = qobject_cast<CArticlePage*>(view->page());
                      QVERIFY(page && page->ShowsArticlePart());
                      QTest::qWait(500);
                      title = view->title();
                  });
    QVERIFY(opened);
    QVERIFY(loaded);
    QVERIFY2(QString::fromStdString(file).endsWith(suffix), file.c_str());
    QCOMPARE(fs::path(file).parent_path().string(), PrivateTempDirectory());
    // The script never ran; the remote image was never asked for.
    QVERIFY(title != QStringLiteral("ran"));
    QCOMPARE(listener.AcceptedConnections(), std::size_t(0));
    QVERIFY(!fs::exists(file));
    QVERIFY(m_ui.Requests().size() == (html ? 1u : 0u));
}

namespace {

// A server that takes one article.
NntpScript Accepting(const std::string& postReply = "340 Ok\r\n") {
    return NntpScript()
        .Send("200 news.example.org ready (posting ok)\r\n")
        .Reply(postReply)
        .OnCommand([](NntpServerConnection& c, const std::string& line) {
            if (line == ".\r\n")
                c.Send("240 Article received\r\n");
            else if (line == "QUIT\r\n")
                c.Send("205 Bye!\r\n");
        });
}

} // namespace

void PostDlgTest::postSendsTheArticleAndCloses() {
    NntpSettingsGuard guard;
    CFixedClock clock;
    CPostClockScope clockScope(clock);
    ScriptedNntpServer server(Accepting());
    SetDefaultNntpPort(server.Port());
    QVERIFY(WriteUserSettings(*m_dir / "quillo.ini", {"Taro", "t@x", "-- \r\nTaro"}));

    Open(Context("Question", ""));
    Body()->setPlainText(QStringLiteral("Answer."));
    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    Click(CPostDlg::IDC_POST);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
    QCOMPARE(m_ui.Messages(),
             std::vector<QString>{QString::fromUtf8("投稿してもよろしいですか？")});
    QCOMPARE(m_ui.Requests().front().caption, QString::fromUtf8("記事投稿"));
    QVERIFY(server.WaitForClosedConnections(1));
    QCOMPARE(server.Received(0),
             std::string("POST\r\nContent-Type: text/plain; charset=\"iso-2022-jp\"\r\n"
                         "Content-Transfer-Encoding: 7bit\r\n"
                         "Date: Wed, 08 Dec 1999 14:05:09 +0900\r\n"
                         "From: Taro <t@x >\r\nNewsgroups: local.test\r\nMIME-Version: 1.0\r\n"
                         "Path: 127.0.0.1\r\nSubject: Re: Question\r\n"
                         "X-Newsreader: Quillo2000 1.01.0910\r\nReferences: <p@x> <m@x>\r\n\r\n"
                         "Answer.\r\n-- \r\nTaro\r\n\r\n.\r\nQUIT\r\nEXIT\r\n"));
}

void PostDlgTest::postAnsweredCancelSendsNothing() {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(Accepting());
    SetDefaultNntpPort(server.Port());
    Open(Context("Question", ""));
    m_ui.QueueAnswer(MsgAnswer::Cancel);
    Click(CPostDlg::IDC_POST);
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(server.AcceptedConnections(), std::size_t(0));
    QCOMPARE(m_ui.Messages().size(), std::size_t(1));
}

void PostDlgTest::postWithoutSubjectKeepsTheWindow() {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(Accepting());
    SetDefaultNntpPort(server.Port());
    Open(Context());
    Body()->setPlainText(QStringLiteral("text"));
    Control<QWidget>(1030)->setFocus();
    Click(CPostDlg::IDC_POST);
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(m_ui.Messages(),
             (std::vector<QString>{QString::fromUtf8("投稿してもよろしいですか？"),
                                   QString::fromUtf8("この記事の項目名を指定してください")}));
    QCOMPARE(server.AcceptedConnections(), std::size_t(0));
    QCOMPARE(m_dlg->focusWidget(), Control<QWidget>(1017));
    for (int id : {1, 2, 1010, 1011})
        QVERIFY2(Control<QWidget>(id)->isEnabled(), qPrintable(QString::number(id)));
}

void PostDlgTest::postRefusedKeepsEverything() {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(Accepting("440 Posting not permitted\r\n"));
    SetDefaultNntpPort(server.Port());
    QVERIFY(WriteUserSettings(*m_dir / "quillo.ini", {"Taro", "t@x", ""}));
    Open(Context());
    Control<QLineEdit>(1017)->setText(QStringLiteral("Subject"));
    Body()->setPlainText(QStringLiteral("text"));
    Click(CPostDlg::IDC_POST);
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(m_ui.Messages().back(), QStringLiteral("440 Posting not permitted\r\n"));
    QCOMPARE(Body()->toPlainText(), QStringLiteral("text"));
    QCOMPARE(Text(1017), QStringLiteral("Subject"));
    QCOMPARE(Control<QLabel>(CPostDlg::IDC_STATUS)->text(), QString());
    for (int id : {1, 2, 1010, 1011})
        QVERIFY2(Control<QWidget>(id)->isEnabled(), qPrintable(QString::number(id)));
    QVERIFY(server.WaitForClosedConnections(1));
    QCOMPARE(server.Received(0), std::string("POST\r\nQUIT\r\nEXIT\r\n"));
}

void PostDlgTest::replySubjectInAnotherCharsetGoesOutAsItCame() {
    NntpSettingsGuard guard;
    CFixedClock clock;
    CPostClockScope clockScope(clock);
    ScriptedNntpServer server(Accepting());
    SetDefaultNntpPort(server.Port());
    QVERIFY(WriteUserSettings(*m_dir / "quillo.ini", {"Taro", "t@x", ""}));

    // é is not in Shift_JIS: the subject as shown could not be posted, the stored one can.
    Open(Context("=?UTF-8?Q?caf=C3=A9?=", ""));
    QCOMPARE(Text(1017), QString::fromUtf8("Re: café"));
    Body()->setPlainText(QStringLiteral("Answer."));
    Click(CPostDlg::IDC_POST);
    QVERIFY(server.WaitForClosedConnections(1));
    QVERIFY2(server.Received(0).find("\r\nSubject: Re: =?UTF-8?Q?caf=C3=A9?=\r\n") !=
                 std::string::npos,
             server.Received(0).c_str());
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    PostDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "PostDlgTest.moc"
