#include "viewer/ArticlePage.h"
#include "viewer/ExternalLink.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartRequestGuard.h"
#include "viewer/PartScheme.h"
#include "viewer/TextAsHtml.h"

#include "base/TempFile.h"
#include "mime/Charset.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Loading finishes within this many milliseconds on a slow machine.
constexpr int kLoadTimeout = 60000;
// How long a page is given after loading to ask for anything more.
constexpr int kSettleTime = 700;

namespace {

// Shift_JIS bytes of texts the tests show, and what the view must make of them.
const char kSjisArticle[] = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x8b\x4c\x8e\x96\x82\xc5\x82\xb7";
const char kUtfArticle[] = "日本語の記事です";
// Second bytes 0x5C: a reader that took these for ASCII would show backslashes.
const char kSjisBackslash[] = "\x95\x5c\x8e\xa6\x83\x5c\x83\x74\x83\x67";
const char kUtfBackslash[] = "表示ソフト";
const char kSjisHalfWidth[] = "\x94\xbc\x8a\x70\xb6\xc5";
const char kUtfHalfWidth[] = "半角ｶﾅ";

// A 1×1 transparent PNG.
const QByteArray kPng = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=");

// A web server on 127.0.0.1 that counts the connections made to it and the requests it gets.
class LoopbackHttp : public QObject {
public:
    LoopbackHttp() {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] { Accept(); });
    }
    quint16 Port() const { return m_server.serverPort(); }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(Port()); }
    int Connections() const { return m_connections; }
    const std::vector<QByteArray>& Paths() const { return m_paths; }
    // What the server answers for a path ending in ".html"; a page saying "remote" by default.
    void SetPage(const QByteArray& html) { m_page = html; }

private:
    void Accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++m_connections;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }
    void Read(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> words = buffer.left(buffer.indexOf("\r\n")).split(' ');
        const QByteArray path = words.size() > 1 ? words[1] : QByteArray();
        m_paths.push_back(path);
        m_buffers.remove(socket);
        QByteArray type = "text/html";
        QByteArray body = m_page;
        if (path.endsWith(".png")) {
            type = "image/png";
            body = kPng;
        } else if (path.endsWith(".css")) {
            type = "text/css";
            body = "body { color: red; }";
        } else if (path.endsWith(".js")) {
            type = "application/javascript";
            body = "document.title = 'remote script';";
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    int m_connections = 0;
    std::vector<QByteArray> m_paths;
    QByteArray m_page = "<html><body>remote</body></html>";
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

// Records the links handed to the user's browser instead of opening them.
class RecordedLinks {
public:
    RecordedLinks() {
        m_previous = SetLinkOpener([this](const QUrl& url) {
            m_urls.push_back(url);
            return true;
        });
    }
    ~RecordedLinks() { SetLinkOpener(std::move(m_previous)); }
    const std::vector<QUrl>& Urls() const { return m_urls; }

private:
    LinkOpener m_previous;
    std::vector<QUrl> m_urls;
};

} // namespace

class ArticleViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void resolvePartUrl_data();
    void resolvePartUrl();
    void partShowsShiftJis_data();
    void partShowsShiftJis();
    void applicationWorldReadsPartWithScriptsOff();
    void scriptsInPartDoNotRun_data();
    void scriptsInPartDoNotRun();
    void scriptsStayOffWhileLeavingAPart_data();
    void scriptsStayOffWhileLeavingAPart();
    void partLoadsNothingRemote_data();
    void partLoadsNothingRemote();
    void leavingPartRunsNoHandlers_data();
    void leavingPartRunsNoHandlers();
    void leavingPageInAPlainViewRunsHandlers();
    void fileOutsideTempDirIsRefused_data();
    void fileOutsideTempDirIsRefused();
    void largePartLoadsWithoutFreezing();
    void largeTextPartShowsTheSameText_data();
    void largeTextPartShowsTheSameText();
    void clickedLinkOpensExternally_data();
    void clickedLinkOpensExternally();
    void linkOnHomePageStaysInView();
    void backAndForwardAcrossParts();

private:
    // A view on screen, ready for a test.
    std::unique_ptr<CHtmlViewCtl> NewView();
    // Runs start, then waits for the view's next loadFinished; its result.
    static bool Load(CHtmlViewCtl& view, const std::function<void()>& start);
    static QString PlainText(CHtmlViewCtl& view);
    // Evaluates script in the application's own world, which page settings do not reach.
    static QVariant AppScript(CHtmlViewCtl& view, const QString& script);
    // Writes bytes into the private temporary directory as name; its path.
    std::string WritePart(const std::string& name, const std::string& bytes);
    // A page with title and body, loading the resource markup; ${BASE} stands for the server.
    std::string Page(const std::string& title, const std::string& markup) const;
    // A page whose handlers for leaving it write "<event> handler ran" to the console.
    static std::string LeavingPage();
    // Clicks at the middle of the view, where the tests put their links.
    static void ClickMiddle(CHtmlViewCtl& view);

    std::unique_ptr<TestDir> m_root;
    std::unique_ptr<TestDir> m_home; // pages the program shows on purpose, outside the temp dir
    std::string m_partDir;
    std::unique_ptr<LoopbackHttp> m_http;
};

void ArticleViewTest::initTestCase() {
    m_root = std::make_unique<TestDir>();
    m_home = std::make_unique<TestDir>();
    SetTempRoot(m_root->Path());
    m_partDir = PrivateTempDirectory();
    QVERIFY(!m_partDir.empty());
}

void ArticleViewTest::cleanupTestCase() {
    SetTempRoot({});
}

void ArticleViewTest::init() {
    // A fresh server for every case, so that a connection the engine opens late for one case
    // is never counted against the next.
    m_http = std::make_unique<LoopbackHttp>();
    QVERIFY(m_http->Port() != 0);
}

void ArticleViewTest::cleanup() {
    m_http.reset();
}

std::unique_ptr<CHtmlViewCtl> ArticleViewTest::NewView() {
    auto view = std::make_unique<CHtmlViewCtl>();
    view->resize(600, 400);
    view->show();
    return view;
}

bool ArticleViewTest::Load(CHtmlViewCtl& view, const std::function<void()>& start) {
    QSignalSpy spy(&view, &QWebEngineView::loadFinished);
    start();
    if (!spy.wait(kLoadTimeout))
        return false;
    return spy.takeFirst().at(0).toBool();
}

QString ArticleViewTest::PlainText(CHtmlViewCtl& view) {
    QString text;
    bool done = false;
    view.page()->toPlainText([&](const QString& result) {
        text = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kLoadTimeout))
        qWarning("no text from the page");
    return text;
}

QVariant ArticleViewTest::AppScript(CHtmlViewCtl& view, const QString& script) {
    QVariant value;
    bool done = false;
    view.page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                               [&](const QVariant& result) {
                                   value = result;
                                   done = true;
                               });
    if (!QTest::qWaitFor([&] { return done; }, kLoadTimeout))
        qWarning("no answer from the script");
    return value;
}

std::string ArticleViewTest::WritePart(const std::string& name, const std::string& bytes) {
    const std::string path = m_partDir + "/" + name;
    if (!WriteWholeFile(path, bytes))
        return {};
    return path;
}

std::string ArticleViewTest::Page(const std::string& title, const std::string& markup) const {
    std::string page = "<html><head><meta charset=\"utf-8\"><title>" + title +
                       "</title></head><body><p id=\"text\">" + title + "</p>" + markup +
                       "</body></html>";
    const std::string base = m_http->Base().toStdString();
    for (std::size_t at; (at = page.find("${BASE}")) != std::string::npos;)
        page.replace(at, 7, base);
    return page;
}

void ArticleViewTest::ClickMiddle(CHtmlViewCtl& view) {
    QWidget* target = view.focusProxy() ? view.focusProxy() : &view;
    const QPoint middle(view.width() / 2, view.height() / 2);
    QTest::mouseMove(target, middle);
    QTest::mouseClick(target, Qt::LeftButton, {}, middle);
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::resolvePartUrl_data() {
    QTest::addColumn<QString>("name"); // created in the temp dir, unless it starts with '/'
    QTest::addColumn<QUrl>("url");     // empty: the part URL of the file
    QTest::addColumn<bool>("served");
    QTest::addColumn<QByteArray>("type");   // content type when served
    QTest::addColumn<QString>("canonical"); // the file served, relative to the temp dir

    const QString dir = QString::fromStdString(m_partDir);
    const QString outside = QString::fromStdString(*m_root / "outside.txt");
    QVERIFY(WriteWholeFile(outside.toStdString(), "secret"));
    QVERIFY(WriteWholeFile(m_partDir + "/body.txt", "x"));
    QVERIFY(WriteWholeFile(m_partDir + "/HtmlText2.htm", "x"));
    QVERIFY(WriteWholeFile(m_partDir + "/image.png", "x"));
    QVERIFY(WriteWholeFile(m_partDir + "/body.txt.bak", "x"));
    mkdir((m_partDir + "/folder.htm").c_str(), 0700);
    symlink(outside.toLocal8Bit().constData(), (m_partDir + "/link-out.txt").c_str());
    symlink((m_partDir + "/body.txt").c_str(), (m_partDir + "/link-in.txt").c_str());

    auto part = [&](const QString& name) { return PartUrl((dir + "/" + name).toStdString()); };
    QTest::newRow("text part") << "body.txt" << part("body.txt") << true
                               << QByteArray("text/plain; charset=Shift_JIS") << "body.txt";
    QTest::newRow("html part") << "HtmlText2.htm" << part("HtmlText2.htm") << true
                               << QByteArray("text/html; charset=Shift_JIS") << "HtmlText2.htm";
    QTest::newRow("dot segments inside")
        << "" << part("./x/../body.txt") << false << QByteArray() << "";
    QTest::newRow("link staying inside")
        << "" << part("link-in.txt") << true << QByteArray("text/plain; charset=Shift_JIS")
        << "body.txt";
    QTest::newRow("file outside") << "" << PartUrl(outside.toStdString()) << false << QByteArray()
                                  << "";
    QTest::newRow("dot-dot escape") << "" << part("../outside.txt") << false << QByteArray() << "";
    QTest::newRow("link leading out") << "" << part("link-out.txt") << false << QByteArray() << "";
    QTest::newRow("system file") << "" << PartUrl("/etc/passwd") << false << QByteArray() << "";
    QTest::newRow("other extension") << "" << part("image.png") << false << QByteArray() << "";
    QTest::newRow("extension not last")
        << "" << part("body.txt.bak") << false << QByteArray() << "";
    QTest::newRow("directory") << "" << part("folder.htm") << false << QByteArray() << "";
    QTest::newRow("missing") << "" << part("Body.txt") << false << QByteArray() << "";
    QTest::newRow("the directory itself")
        << "" << PartUrl(m_partDir) << false << QByteArray() << "";
    QTest::newRow("file scheme") << "" << QUrl::fromLocalFile(dir + "/body.txt") << false
                                 << QByteArray() << "";
    QTest::newRow("encoded dot-dot")
        << "" << QUrl(QStringLiteral("quillo-part:") + dir + "/%2E%2E/outside.txt") << false
        << QByteArray() << "";
}

void ArticleViewTest::resolvePartUrl() {
    QFETCH(QUrl, url);
    QFETCH(bool, served);
    QFETCH(QByteArray, type);
    QFETCH(QString, canonical);
    std::string path = "left over";
    QByteArray contentType = "left over";
    QCOMPARE(ResolvePartUrl(url, path, contentType), served);
    QCOMPARE(contentType, type);
    if (served) {
        char* real = realpath(m_partDir.c_str(), nullptr);
        QCOMPARE(QString::fromStdString(path),
                 QString::fromUtf8(real) + QLatin1Char('/') + canonical);
        free(real);
    } else {
        QCOMPARE(path, std::string());
    }
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::partShowsShiftJis_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    const QByteArray sjis =
        QByteArray(kSjisArticle) + "\r\n" + kSjisBackslash + "\r\n" + kSjisHalfWidth + "\r\n";
    const QString lines = QString::fromUtf8(kUtfArticle) + "\n" + QString::fromUtf8(kUtfBackslash) +
                          "\n" + QString::fromUtf8(kUtfHalfWidth);
    const QString paragraphs = QString::fromUtf8(kUtfArticle) + "\n\n" +
                               QString::fromUtf8(kUtfBackslash) + "\n\n" +
                               QString::fromUtf8(kUtfHalfWidth);
    QTest::newRow("plain text part") << QByteArray("PlainText1.txt") << sjis << lines;
    QTest::newRow("half-width kana in ascii")
        << QByteArray("PlainText3.txt") << QByteArray("Price: \xb6\xc5 100 yen\r\nOK\r\n")
        << QString::fromUtf8("Price: ｶﾅ 100 yen\nOK");
    QTest::newRow("header part with markup")
        << QByteArray("header.txt") << QByteArray("Subject: <b>") + kSjisArticle + "</b>\r\n"
        << QString::fromUtf8("Subject: <b>") + QString::fromUtf8(kUtfArticle) + "</b>";
    QTest::newRow("html claiming utf-8")
        << QByteArray("HtmlText2.htm")
        << QByteArray("<html><head><meta charset=\"utf-8\"></head><body><p>") + kSjisArticle +
               "</p><p>" + kSjisBackslash + "</p><p>" + kSjisHalfWidth + "</p></body></html>\r\n"
        << paragraphs;
    QTest::newRow("html claiming euc-jp by http-equiv")
        << QByteArray("HtmlText3.htm")
        << QByteArray("<html><head><meta http-equiv=\"Content-Type\" "
                      "content=\"text/html; charset=EUC-JP\"></head><body><p>") +
               kSjisArticle + "</p><p>" + kSjisBackslash + "</p><p>" + kSjisHalfWidth +
               "</p></body></html>\r\n"
        << paragraphs;
}

void ArticleViewTest::partShowsShiftJis() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const std::string path = WritePart(name.toStdString(), bytes.toStdString());
    auto view = NewView();
    QVERIFY(Load(*view, [&] { view->ShowPartFile(path); }));
    QCOMPARE(view->url(), PartUrl(path));
    QCOMPARE(PlainText(*view).trimmed(), expected);
    QCOMPARE(AppScript(*view, QStringLiteral("document.characterSet")).toString(),
             QStringLiteral("Shift_JIS"));
}

void ArticleViewTest::applicationWorldReadsPartWithScriptsOff() {
    const std::string path = WritePart(
        "HtmlText4.htm", Page("world", std::string("<p id=\"ja\">") + kSjisArticle + "</p>"));
    auto view = NewView();
    QVERIFY(Load(*view, [&] { view->ShowPartFile(path); }));
    QVERIFY(!view->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
    QCOMPARE(
        AppScript(*view, QStringLiteral("document.getElementById('ja').textContent")).toString(),
        QString::fromUtf8(kUtfArticle));
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::scriptsInPartDoNotRun_data() {
    QTest::addColumn<QByteArray>("markup");
    // Each script, if it ran, would change the title away from "T".
    QTest::newRow("inline script") << QByteArray("<script>document.title = 'ran';</script>");
    QTest::newRow("body onload") << QByteArray(
        "<img src=\"data:image/gif;base64,R0lGODlhAQABAAAAACw=\" "
        "onerror=\"document.title = 'ran'\" onload=\"document.title = 'ran'\">");
    QTest::newRow("deferred timer")
        << QByteArray("<script>setTimeout(function () { document.title = 'ran'; }, 10);</script>");
    QTest::newRow("svg onload") << QByteArray("<svg onload=\"document.title = 'ran'\"></svg>");
    QTest::newRow("details ontoggle")
        << QByteArray("<details open ontoggle=\"document.title = 'ran'\"><summary>s</summary>"
                      "</details>");
    QTest::newRow("javascript refresh")
        << QByteArray("<meta http-equiv=\"refresh\" content=\"0; url=javascript:document.title="
                      "'ran'\"><script>document.title = 'ran';</script>");
}

void ArticleViewTest::scriptsInPartDoNotRun() {
    QFETCH(QByteArray, markup);
    const std::string page = Page("T", markup.toStdString());
    const std::string part = WritePart("HtmlText5.htm", page);
    const std::string home = *m_home / "script.htm";
    QVERIFY(WriteWholeFile(home, page));

    auto view = NewView();
    QVERIFY(Load(*view, [&] { view->ShowPartFile(part); }));
    QTest::qWait(kSettleTime);
    QCOMPARE(view->title(), QStringLiteral("T"));
    QCOMPARE(AppScript(*view, QStringLiteral("document.title")).toString(), QStringLiteral("T"));

    // Shown on purpose, it runs no script either.
    QVERIFY(Load(*view, [&] { view->NavigateFile(home); }));
    QTest::qWait(kSettleTime);
    QCOMPARE(view->title(), QStringLiteral("T"));

    // The same page in a view of the engine's own runs its script: the checks above can see
    // one run.
    QWebEngineView plain;
    plain.resize(600, 400);
    plain.show();
    QSignalSpy loaded(&plain, &QWebEngineView::loadFinished);
    plain.load(QUrl::fromLocalFile(QString::fromStdString(home)));
    QVERIFY(loaded.wait(kLoadTimeout));
    QTRY_COMPARE_WITH_TIMEOUT(plain.title(), QStringLiteral("ran"), kLoadTimeout);
}

void ArticleViewTest::scriptsStayOffWhileLeavingAPart_data() {
    QTest::addColumn<QString>("next"); // "start" or "web"
    QTest::newRow("to the start page") << QStringLiteral("start");
    QTest::newRow("to a web page") << QStringLiteral("web");
}

void ArticleViewTest::scriptsStayOffWhileLeavingAPart() {
    // The part is still on show when the next page is asked for; turning scripts on for that
    // page would turn them on for the part as well.
    QFETCH(QString, next);
    const QByteArray script = "<script>document.title = 'ran';</script>";
    const std::string part = WritePart("HtmlText9.htm", Page("part", ""));
    const std::string start = *m_home / "start.htm";
    QVERIFY(WriteWholeFile(start, Page("T", script.toStdString())));
    m_http->SetPage("<html><head><title>T</title></head><body>" + script + "</body></html>");

    auto view = NewView();
    QVERIFY(Load(*view, [&] { view->ShowPartFile(part); }));
    std::vector<bool> scriptsOn;
    auto record = [&] {
        scriptsOn.push_back(
            view->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
    };
    connect(view.get(), &QWebEngineView::loadStarted, this, record);
    connect(view.get(), &QWebEngineView::urlChanged, this, record);
    QVERIFY(Load(*view, [&] {
        if (next == QLatin1String("start"))
            view->NavigateFile(start);
        else
            view->Navigate(m_http->Base() + QStringLiteral("/page.html"));
    }));
    record();
    QTest::qWait(kSettleTime);
    QVERIFY(scriptsOn.size() >= 2);
    QCOMPARE(std::count(scriptsOn.begin(), scriptsOn.end(), true), 0);
    QCOMPARE(view->title(), QStringLiteral("T"));
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::partLoadsNothingRemote_data() {
    QTest::addColumn<QByteArray>("markup");
    // Whether a request of this kind gets past the engine's own barrier once that is lowered, so
    // that the request guard is what stops it.
    QTest::addColumn<bool>("reachesGuard");
    QTest::newRow("image") << QByteArray("<img src=\"${BASE}/bug.png\">") << true;
    QTest::newRow("style sheet") << QByteArray("<link rel=\"stylesheet\" href=\"${BASE}/s.css\">")
                                 << true;
    QTest::newRow("css import") << QByteArray("<style>@import url(${BASE}/i.css);</style>") << true;
    QTest::newRow("css background")
        << QByteArray("<div style=\"background-image: url(${BASE}/bg.png); width: 10px; "
                      "height: 10px\"></div>")
        << true;
    QTest::newRow("frame") << QByteArray("<iframe src=\"${BASE}/frame.html\"></iframe>") << false;
    QTest::newRow("image in data frame")
        << QByteArray("<iframe src=\"data:text/html,<img src='${BASE}/inner.png'>\"></iframe>")
        << false;
    QTest::newRow("script") << QByteArray("<script src=\"${BASE}/s.js\"></script>") << false;
    QTest::newRow("object") << QByteArray("<object data=\"${BASE}/o.html\"></object>") << false;
    QTest::newRow("video poster")
        << QByteArray("<video poster=\"${BASE}/poster.png\" width=\"10\"></video>") << true;
    QTest::newRow("audio") << QByteArray("<audio src=\"${BASE}/a.ogg\" preload=\"auto\"></audio>")
                           << true;
    QTest::newRow("favicon") << QByteArray("<link rel=\"icon\" href=\"${BASE}/icon.png\">")
                             << false;
    QTest::newRow("picture source")
        << QByteArray("<picture><source srcset=\"${BASE}/p.png\"><img alt=\"x\"></picture>")
        << true;
    QTest::newRow("refresh to remote")
        << QByteArray("<meta http-equiv=\"refresh\" content=\"0; url=${BASE}/moved.html\">")
        << false;
}

void ArticleViewTest::partLoadsNothingRemote() {
    QFETCH(QByteArray, markup);
    QFETCH(bool, reachesGuard);
    const std::string page = Page("bug", markup.toStdString());
    const std::string part = WritePart("HtmlText6.htm", page);

    auto view = NewView();
    const auto* articlePage = qobject_cast<CArticlePage*>(view->page());
    QVERIFY(articlePage);
    QVERIFY(Load(*view, [&] { view->ShowPartFile(part); }));
    QTest::qWait(kSettleTime);
    QCOMPARE(m_http->Connections(), 0);
    QCOMPARE(view->url(), PartUrl(part));

    // With the engine's own barrier against local pages reaching the network lowered for the
    // whole profile, the request guard alone keeps the part from loading anything.
    QWebEngineSettings* defaults = view->page()->profile()->settings();
    defaults->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    const int blockedBefore = articlePage->RequestGuard().BlockedCount();
    bool shown = Load(*view, [&] { view->page()->triggerAction(QWebEnginePage::Reload); });
    QTest::qWait(kSettleTime);
    QCOMPARE(m_http->Connections(), 0);
    QCOMPARE(view->url(), PartUrl(part));
    QCOMPARE(articlePage->RequestGuard().BlockedCount() > blockedBefore, reachesGuard);

    // A view without the guard, on the same profile, does reach the server then: the guard is
    // what stopped the request.
    if (reachesGuard) {
        QWebEngineView plain;
        plain.resize(600, 400);
        plain.show();
        QSignalSpy plainLoaded(&plain, &QWebEngineView::loadFinished);
        plain.load(PartUrl(part));
        shown = shown && plainLoaded.wait(kLoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!m_http->Paths().empty(), kLoadTimeout);
    }
    defaults->resetAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls);
    QVERIFY(shown);

    // The same page from the web, visited on purpose, asks the server for more than itself:
    // the counts above can see a request of every kind.
    const std::size_t before = m_http->Paths().size();
    m_http->SetPage(QByteArray::fromStdString(page));
    QVERIFY(Load(*view, [&] { view->Navigate(m_http->Base() + QStringLiteral("/page.html")); }));
    QTRY_VERIFY_WITH_TIMEOUT(m_http->Paths().size() >= before + 2, kLoadTimeout);
}

// ---------------------------------------------------------------------------------------------

std::string ArticleViewTest::LeavingPage() {
    return "<html><head><title>leaving</title></head><body "
           "onbeforeunload=\"console.warn('beforeunload handler ran')\" "
           "onpagehide=\"console.warn('pagehide handler ran')\" "
           "onunload=\"console.warn('unload handler ran')\"><p>x</p></body></html>";
}

void ArticleViewTest::leavingPartRunsNoHandlers_data() {
    QTest::addColumn<QString>("next"); // "start", "web" or "part"
    QTest::newRow("to the start page") << QStringLiteral("start");
    QTest::newRow("to a web page") << QStringLiteral("web");
    QTest::newRow("to another part") << QStringLiteral("part");
}

void ArticleViewTest::leavingPartRunsNoHandlers() {
    // The handlers of the page being left run while the next page is already on its way; the
    // scripts allowed for that page must not reach them.
    QFETCH(QString, next);
    QTest::failOnWarning(QRegularExpression(QStringLiteral("handler ran")));
    const std::string part = WritePart("HtmlText8.htm", LeavingPage());
    const std::string other = WritePart("PlainText1.txt", "other part\r\n");
    const std::string start = *m_home / "start.htm";
    QVERIFY(WriteWholeFile(start, Page("start", "")));

    auto view = NewView();
    QVERIFY(Load(*view, [&] { view->ShowPartFile(part); }));
    QTest::qWait(300);
    QVERIFY(Load(*view, [&] {
        if (next == QLatin1String("start"))
            view->NavigateFile(start);
        else if (next == QLatin1String("web"))
            view->Navigate(m_http->Base() + QStringLiteral("/page.html"));
        else
            view->ShowPartFile(other);
    }));
    QTest::qWait(kSettleTime);
}

void ArticleViewTest::leavingPageInAPlainViewRunsHandlers() {
    // The same page in a view of the engine's own runs them: the check above can see a handler
    // run.
    for (const char* event : {"beforeunload", "pagehide", "unload"})
        QTest::ignoreMessage(QtWarningMsg, (std::string(event) + " handler ran").c_str());
    const std::string page = *m_home / "leaving.htm";
    QVERIFY(WriteWholeFile(page, LeavingPage()));
    QWebEngineView view;
    view.resize(600, 400);
    view.show();
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    view.load(QUrl::fromLocalFile(QString::fromStdString(page)));
    QVERIFY(loaded.wait(kLoadTimeout));
    QTest::qWait(300);
    view.load(QUrl(m_http->Base() + QStringLiteral("/page.html")));
    QVERIFY(loaded.wait(kLoadTimeout));
    QTest::qWait(kSettleTime);
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::fileOutsideTempDirIsRefused_data() {
    QTest::addColumn<QString>("path");
    const std::string outside = *m_home / "outside.txt";
    QVERIFY(WriteWholeFile(outside, "secret outside"));
    symlink(outside.c_str(), (m_partDir + "/pointer.txt").c_str());
    QTest::newRow("beside the temp dir") << QString::fromStdString(outside);
    QTest::newRow("dot-dot out of it") << QString::fromStdString(
        m_partDir + "/../../" + outside.substr(outside.rfind('/', outside.rfind('/') - 1) + 1));
    QTest::newRow("link out of it") << QString::fromStdString(m_partDir + "/pointer.txt");
}

void ArticleViewTest::fileOutsideTempDirIsRefused() {
    QFETCH(QString, path);
    QCOMPARE(ReadWholeFile(path.toStdString()), std::string("secret outside"));
    auto view = NewView();
    Load(*view, [&] { view->ShowPartFile(path.toStdString()); });
    QVERIFY(!PlainText(*view).contains(QStringLiteral("secret")));
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::largePartLoadsWithoutFreezing() {
    // 5 MB of Japanese lines, numbered so the end of the file can be found in the view.
    std::string bytes;
    int lines = 0;
    while (bytes.size() < 5'000'000) {
        bytes += std::to_string(++lines) + " " + kSjisArticle + kSjisBackslash + kSjisArticle +
                 kSjisBackslash + "\r\n";
    }
    bytes += "END\r\n";
    const std::string path = WritePart("PlainText9.txt", bytes);

    auto view = NewView();
    // The longest the window went without handling its events while the part loaded.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout,
            [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    QSignalSpy loaded(view.get(), &QWebEngineView::loadFinished);
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start();
    view->ShowPartFile(path);
    // When the first lines are on the page: what the reader waits for.
    qint64 firstText = -1;
    while (loaded.isEmpty() && clock.elapsed() < kLoadTimeout) {
        if (firstText < 0 &&
            AppScript(*view, QStringLiteral("document.body ? document.body.textContent.length : 0"))
                    .toLongLong() > 0)
            firstText = clock.elapsed();
        QTest::qWait(50);
    }
    const qint64 complete = clock.elapsed();
    ticker.stop();
    QCOMPARE(loaded.size(), 1);
    QVERIFY(loaded.front().at(0).toBool());

    // What a user who selects all and copies gets. (The page's plain-text dump holds only the
    // blocks laid out so far: those out of sight wait until they come near.)
    const QString text = AppScript(*view, QStringLiteral("document.execCommand('selectAll'); "
                                                         "window.getSelection().toString()"))
                             .toString()
                             .trimmed();
    qInfo("5 MB part: %zu bytes; first lines shown after %lld ms, whole part loaded after %lld "
          "ms; longest pause of the window's event loop %lld ms",
          bytes.size(), firstText, complete, longestGap);
    QVERIFY(firstText >= 0);
    QVERIFY(text.startsWith(QStringLiteral("1 ") + QString::fromUtf8(kUtfArticle)));
    QVERIFY(text.endsWith(QString::number(lines) + QLatin1Char(' ') +
                          QString::fromUtf8(kUtfArticle) + QString::fromUtf8(kUtfBackslash) +
                          QString::fromUtf8(kUtfArticle) + QString::fromUtf8(kUtfBackslash) +
                          QStringLiteral("\nEND")));
    QVERIFY2(longestGap < 1000, "the window stopped answering while the part loaded");
}

void ArticleViewTest::largeTextPartShowsTheSameText_data() {
    QTest::addColumn<QByteArray>("charset"); // of the part; empty: the program's own Shift_JIS
    QTest::newRow("Shift_JIS") << QByteArray();
    QTest::newRow("UTF-8") << QByteArray(kCharsetUtf8);
}

void ArticleViewTest::largeTextPartShowsTheSameText() {
    // Past the size at which a text part is served as a page of blocks: markup characters stay
    // text, empty lines at the start of a block stay, a part in another charset is read in it,
    // and the file is left as it was.
    QFETCH(QByteArray, charset);
    const std::string word = charset.isEmpty() ? std::string(kSjisArticle) : kUtfArticle;
    std::string bytes;
    QString expected;
    for (int n = 1; bytes.size() <= kTextAsHtmlThreshold + 1000; ++n) {
        const std::string line = std::to_string(n) + " <b>&amp;</b> " + word;
        bytes += line + (n % 7 == 0 ? "\r\n\r\n" : "\r\n");
        expected += QString::number(n) + QStringLiteral(" <b>&amp;</b> ") +
                    QString::fromUtf8(kUtfArticle) + (n % 7 == 0 ? "\n\n" : "\n");
    }
    const std::string path = WritePart("PlainText10.txt", bytes);
    auto view = NewView();
    QVERIFY(Load(*view, [&] {
        view->ShowPartFile(path, {charset.toStdString(), CTransfer::None});
    }));
    QCOMPARE(AppScript(*view, QStringLiteral("document.body.textContent")).toString(), expected);
    QCOMPARE(AppScript(*view, QStringLiteral("document.getElementsByTagName('b').length")).toInt(),
             0);
    // Served as blocks, not as one text the engine lays out whole.
    QVERIFY(
        AppScript(*view, QStringLiteral("document.getElementsByTagName('pre').length")).toInt() >
        1);
    QCOMPARE(ReadWholeFile(path), bytes);
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::clickedLinkOpensExternally_data() {
    QTest::addColumn<QByteArray>("markup"); // something to click covering the whole view
    QTest::addColumn<QByteArray>("opened"); // the address handed to the browser; empty: none
    const QByteArray cover = " style=\"position: fixed; left: 0; top: 0; width: 100%; height: "
                             "100%; display: block\"";
    QTest::newRow("web link") << "<a href=\"${BASE}/page.html\"" + cover + ">link</a>"
                              << QByteArray("${BASE}/page.html");
    QTest::newRow("web link for a new window")
        << "<a href=\"${BASE}/page.html?new\" target=\"_blank\"" + cover + ">link</a>"
        << QByteArray("${BASE}/page.html?new");
    QTest::newRow("mail link") << "<a href=\"mailto:someone@example.org\"" + cover + ">mail</a>"
                               << QByteArray("mailto:someone@example.org");
    QTest::newRow("news link") << "<a href=\"news:fj.comp.misc\"" + cover + ">news</a>"
                               << QByteArray("news:fj.comp.misc");
    QTest::newRow("local file link")
        << "<a href=\"file:///etc/passwd\"" + cover + ">file</a>" << QByteArray();
    QTest::newRow("form sent to the web")
        << "<form action=\"${BASE}/submit.html\" method=\"get\"><input type=\"submit\" "
           "value=\"go\"" +
               cover + "></form>"
        << QByteArray();
}

void ArticleViewTest::clickedLinkOpensExternally() {
    QFETCH(QByteArray, markup);
    QFETCH(QByteArray, opened);
    RecordedLinks links;
    const std::string path = WritePart("HtmlText7.htm", Page("links", markup.toStdString()));

    auto view = NewView();
    QVERIFY(Load(*view, [&] { view->ShowPartFile(path); }));
    QTest::qWait(300); // the first frame must be on screen before it takes clicks
    ClickMiddle(*view);
    if (!opened.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(links.Urls().size(), std::size_t(1), kLoadTimeout);
        QCOMPARE(links.Urls().front(), QUrl(QString::fromLatin1(opened).replace(
                                           QStringLiteral("${BASE}"), m_http->Base())));
    }
    QTest::qWait(kSettleTime);
    QCOMPARE(links.Urls().size(), std::size_t(opened.isEmpty() ? 0 : 1));
    QCOMPARE(view->url(), PartUrl(path));
    QCOMPARE(m_http->Connections(), 0);
}

void ArticleViewTest::linkOnHomePageStaysInView() {
    RecordedLinks links;
    const std::string home = *m_home / "home.htm";
    QVERIFY(WriteWholeFile(home, Page("home", "<a href=\"${BASE}/page.html\" style=\"position: "
                                              "fixed; left: 0; top: 0; width: 100%; height: "
                                              "100%; display: block\">link</a>")));
    auto view = NewView();
    QVERIFY(Load(*view, [&] { view->NavigateFile(home); }));
    QTest::qWait(300);
    QVERIFY(Load(*view, [&] { ClickMiddle(*view); }));
    QCOMPARE(view->url(), QUrl(m_http->Base() + QStringLiteral("/page.html")));
    QCOMPARE(links.Urls().size(), std::size_t(0));
}

// ---------------------------------------------------------------------------------------------

void ArticleViewTest::backAndForwardAcrossParts() {
    const std::string home = *m_home / "start.htm";
    QVERIFY(WriteWholeFile(home, Page("start", "<script>document.title = 'start ran';</script>")));
    const std::string first = WritePart("PlainText1.txt", std::string(kSjisArticle) + "\r\n");
    const std::string second = WritePart(
        "HtmlText2.htm", Page("second", std::string("<p>") + kSjisBackslash +
                                            "</p><script>document.title = 'ran';</script>"));
    const QString firstText = QString::fromUtf8(kUtfArticle);
    const QString secondText = QStringLiteral("second\n\n") + QString::fromUtf8(kUtfBackslash);
    auto view = NewView();
    auto* page = qobject_cast<CArticlePage*>(view->page());
    QVERIFY(page);
    auto scriptsOn = [&] {
        return view->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled);
    };

    QVERIFY(Load(*view, [&] { view->NavigateFile(home); }));
    QVERIFY(!scriptsOn());
    QVERIFY(Load(*view, [&] { view->ShowPartFile(first); }));
    QCOMPARE(PlainText(*view).trimmed(), firstText);
    QVERIFY(Load(*view, [&] { view->ShowPartFile(second); }));
    QCOMPARE(PlainText(*view).trimmed(), secondText);

    struct Step {
        const char* what;
        void (CHtmlViewCtl::*move)();
        const std::string* part; // null: the start page
    };
    const Step steps[] = {
        {"back to the first part", &CHtmlViewCtl::GoBack, &first},
        {"back to the start page", &CHtmlViewCtl::GoBack, nullptr},
        {"forward to the first part", &CHtmlViewCtl::GoForward, &first},
        {"forward to the second part", &CHtmlViewCtl::GoForward, &second},
    };
    for (const Step& step : steps) {
        QVERIFY2(Load(*view, [&] { (view.get()->*step.move)(); }), step.what);
        if (step.part) {
            QCOMPARE(view->url(), PartUrl(*step.part));
            QCOMPARE(PlainText(*view).trimmed(), step.part == &first ? firstText : secondText);
            QVERIFY2(!scriptsOn(), step.what);
            QVERIFY2(page->ShowsArticlePart(), step.what);
        } else {
            QCOMPARE(view->url(), QUrl::fromLocalFile(QString::fromStdString(home)));
            QCOMPARE(view->title(), QStringLiteral("start"));
            QVERIFY2(!scriptsOn(), step.what);
            QVERIFY2(!page->ShowsArticlePart(), step.what);
        }
    }
    QTest::qWait(kSettleTime);
    QCOMPARE(view->title(), QStringLiteral("second"));
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ArticleViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ArticleViewTest.moc"
