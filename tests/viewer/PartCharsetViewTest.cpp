// Parts in charsets other than Shift_JIS, through the real article view: the part files keep the
// cache's bytes, and the part scheme serves them decoded and with their own charset.

#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "base/TempFile.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineScript>

#include <functional>
#include <memory>

Q_DECLARE_METATYPE(CPartFormat)

namespace {

// Loading finishes within this many milliseconds on a slow machine.
constexpr int kLoadTimeout = 60000;

constexpr CTransfer kNone = CTransfer::None;
constexpr CTransfer kBase64 = CTransfer::Base64;
constexpr CTransfer kQuoted = CTransfer::QuotedPrintable;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

class PartCharsetViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void partUrlCarriesTheFormat_data();
    void partUrlCarriesTheFormat();
    void prepareReply_data();
    void prepareReply();
    void partShowsInItsCharset_data();
    void partShowsInItsCharset();
    void backAndForwardKeepTheCharset();

private:
    static bool Load(CHtmlViewCtl& view, const std::function<void()>& start);
    static QString PlainText(CHtmlViewCtl& view);
    static QString CharacterSet(CHtmlViewCtl& view);
    std::string WritePart(const std::string& name, const std::string& bytes);

    std::unique_ptr<TestDir> m_root;
    std::string m_partDir;
};

void PartCharsetViewTest::initTestCase() {
    m_root = std::make_unique<TestDir>();
    SetTempRoot(m_root->Path());
    m_partDir = PrivateTempDirectory();
    QVERIFY(!m_partDir.empty());
}

void PartCharsetViewTest::cleanupTestCase() {
    SetTempRoot({});
}

bool PartCharsetViewTest::Load(CHtmlViewCtl& view, const std::function<void()>& start) {
    QSignalSpy spy(&view, &QWebEngineView::loadFinished);
    start();
    if (!spy.wait(kLoadTimeout))
        return false;
    return spy.takeFirst().at(0).toBool();
}

QString PartCharsetViewTest::PlainText(CHtmlViewCtl& view) {
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

QString PartCharsetViewTest::CharacterSet(CHtmlViewCtl& view) {
    QString value;
    bool done = false;
    view.page()->runJavaScript(QStringLiteral("document.characterSet"),
                               QWebEngineScript::ApplicationWorld, [&](const QVariant& result) {
                                   value = result.toString();
                                   done = true;
                               });
    if (!QTest::qWaitFor([&] { return done; }, kLoadTimeout))
        qWarning("no answer from the script");
    return value;
}

std::string PartCharsetViewTest::WritePart(const std::string& name, const std::string& bytes) {
    const std::string path = m_partDir + "/" + name;
    return WriteWholeFile(path, bytes) ? path : std::string();
}

// ---------------------------------------------------------------------------------------------

void PartCharsetViewTest::partUrlCarriesTheFormat_data() {
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<CPartFormat>("format"); // what the scheme reads from the URL

    QVERIFY(WriteWholeFile(m_partDir + "/PlainText1.txt", "x"));
    const std::string path = m_partDir + "/PlainText1.txt";
    const QString base = PartUrl(path).toString();
    QTest::newRow("none") << PartUrl(path) << CPartFormat{};
    QTest::newRow("utf-8") << PartUrl(path, {"UTF-8", kNone}) << CPartFormat{"UTF-8", kNone};
    QTest::newRow("base64") << PartUrl(path, {"", kBase64}) << CPartFormat{"", kBase64};
    QTest::newRow("both") << PartUrl(path, {"EUC-JP", kBase64}) << CPartFormat{"EUC-JP", kBase64};
    QTest::newRow("quoted-printable") << PartUrl(path, {"", kQuoted}) << CPartFormat{"", kQuoted};
    // Only canonical names the program knows reach the converters.
    QTest::newRow("label not canonical")
        << QUrl(base + QStringLiteral("?charset=utf8")) << CPartFormat{};
    QTest::newRow("unknown charset")
        << QUrl(base + QStringLiteral("?charset=x-evil&transfer=base64"))
        << CPartFormat{"", kBase64};
    QTest::newRow("other transfer")
        << QUrl(base + QStringLiteral("?charset=UTF-8&transfer=uuencode"))
        << CPartFormat{"UTF-8", kNone};
}

void PartCharsetViewTest::partUrlCarriesTheFormat() {
    QFETCH(QUrl, url);
    QFETCH(CPartFormat, format);
    std::string path;
    QByteArray contentType;
    CPartFormat read{"left over", kBase64};
    QVERIFY(ResolvePartUrl(url, path, contentType, read));
    QCOMPARE(read.m_charset, format.m_charset);
    QCOMPARE(read.m_transfer, format.m_transfer);
    QCOMPARE(contentType, QByteArray("text/plain; charset=Shift_JIS"));
    QVERIFY(path.ends_with("/PlainText1.txt"));
    // The format never opens a file the scheme would refuse.
    QVERIFY(!ResolvePartUrl(PartUrl("/etc/passwd", {"UTF-8", kBase64}), path, contentType, read));
    QCOMPARE(read, CPartFormat{});
}

void PartCharsetViewTest::prepareReply_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<CPartFormat>("format");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QByteArray>("type");   // as ResolvePartUrl gave it
    QTest::addColumn<QByteArray>("served"); // bytes served
    QTest::addColumn<QByteArray>("servedType");

    const QByteArray text = "text/plain; charset=Shift_JIS";
    const QByteArray html = "text/html; charset=Shift_JIS";
    QTest::newRow("shift_jis as it is") << QByteArray("\x93\xfa\r\r\n") << CPartFormat{} << false
                                        << text << QByteArray("\x93\xfa\r\r\n") << text;
    QTest::newRow("utf-8 without the stray cr")
        << QByteArray("\xe3\x80\x82\r\r\nx\r\n") << CPartFormat{"UTF-8", kNone} << false << text
        << QByteArray("\xe3\x80\x82\r\nx\r\n") << QByteArray("text/plain; charset=UTF-8");
    QTest::newRow("base64 utf-8 html")
        << QByteArray("PHA+5pel5pys6Kqe\r\nPC9wPg0K\r\n") << CPartFormat{"UTF-8", kBase64} << false
        << html << QByteArray("<p>日本語</p>\r\n") << QByteArray("text/html; charset=UTF-8");
    QTest::newRow("base64 iso-2022-jp as shift_jis")
        << QByteArray("GyRCJCIbKEINCg==\r\n") << CPartFormat{"ISO-2022-JP", kBase64} << false
        << text << QByteArray("\x82\xa0\r\n") << text;
    QTest::newRow("base64 without charset") << QByteArray("k/o=\r\n") << CPartFormat{"", kBase64}
                                            << false << text << QByteArray("\x93\xfa") << text;
    QTest::newRow("quoted-printable utf-8 joined") << QByteArray("a\xe6\x97=\r\n\xa5"
                                                                 "b\r\n")
                                                   << CPartFormat{"UTF-8", kQuoted} << false << text
                                                   << QByteArray("a\xe6\x97\xa5"
                                                                 "b\r\n")
                                                   << QByteArray("text/plain; charset=UTF-8");
    QTest::newRow("quoted-printable shift_jis joined")
        << QByteArray("around =\r\nthe\r\n") << CPartFormat{"", kQuoted} << false << text
        << QByteArray("around the\r\n") << text;
    QTest::newRow("header with utf-8 words")
        << QByteArray("From: =?UTF-8?B?5bGx55Sw?= <y@example.jp>\r\n"
                      "Subject: Re: =?UTF-8?B?5pel5pys?=\r\n\t=?UTF-8?B?6Kqe?= \x82\xa0\r\n\r\n")
        << CPartFormat{} << true << text
        << QByteArray("From: 山田 <y@example.jp>\r\nSubject: Re: 日本\r\n\t語 あ\r\n\r\n")
        << QByteArray("text/plain; charset=UTF-8");
    QTest::newRow("header without words")
        << QByteArray("Subject: \x82\xa0\r\n\r\n") << CPartFormat{} << true << text
        << QByteArray("Subject: \x82\xa0\r\n\r\n") << text;
}

void PartCharsetViewTest::prepareReply() {
    QFETCH(QByteArray, file);
    QFETCH(CPartFormat, format);
    QFETCH(bool, header);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, served);
    QFETCH(QByteArray, servedType);
    QCOMPARE(PreparePartReply(file, format, header, type), served);
    QCOMPARE(type, servedType);
}

// ---------------------------------------------------------------------------------------------

void PartCharsetViewTest::partShowsInItsCharset_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("bytes"); // the part file, as the parser wrote it
    QTest::addColumn<CPartFormat>("format");
    QTest::addColumn<QString>("expected"); // the page's text
    QTest::addColumn<QString>("charset");  // document.characterSet

    QTest::newRow("utf-8 plain") << QByteArray("PlainText1.txt")
                                 << QByteArray("日本語です。\r\n。\r\r\nx\r\n")
                                 << CPartFormat{"UTF-8", kNone} << U("日本語です。\n。\nx")
                                 << U("UTF-8");
    QTest::newRow("base64 utf-8") << QByteArray("body.txt")
                                  << QByteArray("5pel5pys6Kqe44Gn44GZ44CCDQrjgILjgIINCg==\r\n")
                                  << CPartFormat{"UTF-8", kBase64} << U("日本語です。\n。。")
                                  << U("UTF-8");
    // A <meta charset> in the part does not change what the reply says.
    QTest::newRow("euc-jp html")
        << QByteArray("HtmlText2.htm")
        << QByteArray("<html><head><meta charset=\"utf-8\"></head><body><p>\xc6\xfc\xcb\xdc"
                      "</p></body></html>\r\n")
        << CPartFormat{"EUC-JP", kNone} << U("日本") << U("EUC-JP");
    QTest::newRow("latin plain") << QByteArray("PlainText3.txt")
                                 << QByteArray("Caf\xe9 cr\xe8me \x80 5\r\n")
                                 << CPartFormat{"windows-1252", kNone} << U("Café crème € 5")
                                 << U("windows-1252");
    // 日 split by a soft line break that the fetch left in the part
    QTest::newRow("quoted-printable utf-8")
        << QByteArray("PlainText4.txt") << QByteArray("\xe6\x97=\r\n\xa5\xe6\x9c\xac\r\n")
        << CPartFormat{"UTF-8", kQuoted} << U("日本") << U("UTF-8");
    QTest::newRow("header words") << QByteArray("header.txt")
                                  << QByteArray("Subject: =?UTF-8?B?5pel5pys6Kqe?= "
                                                "=?UTF-8?Q?=E3=81=A7=E3=81=99?=\r\n\r\n")
                                  << CPartFormat{} << U("Subject: 日本語です") << U("UTF-8");
}

void PartCharsetViewTest::partShowsInItsCharset() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, bytes);
    QFETCH(CPartFormat, format);
    QFETCH(QString, expected);
    QFETCH(QString, charset);
    const std::string path = WritePart(name.toStdString(), bytes.toStdString());
    QVERIFY(!path.empty());
    CHtmlViewCtl view;
    view.resize(600, 400);
    view.show();
    QVERIFY(Load(view, [&] { view.ShowPartFile(path, format); }));
    QCOMPARE(view.url(), PartUrl(path, format));
    QCOMPARE(PlainText(view).trimmed(), expected);
    QCOMPARE(CharacterSet(view), charset);
    // The file keeps its bytes.
    QCOMPARE(QByteArray::fromStdString(ReadWholeFile(path)), bytes);
}

void PartCharsetViewTest::backAndForwardKeepTheCharset() {
    const std::string utf8 = WritePart("PlainText5.txt", "日本語\r\n");
    const std::string sjis = WritePart("PlainText6.txt", "\x93\xfa\x96\x7b\r\n");
    CHtmlViewCtl view;
    view.resize(600, 400);
    view.show();
    QVERIFY(Load(view, [&] { view.ShowPartFile(utf8, {"UTF-8", kNone}); }));
    QVERIFY(Load(view, [&] { view.ShowPartFile(sjis); }));
    QCOMPARE(PlainText(view).trimmed(), U("日本"));
    QVERIFY(Load(view, [&] { view.GoBack(); }));
    QCOMPARE(PlainText(view).trimmed(), U("日本語"));
    QVERIFY(Load(view, [&] { view.GoForward(); }));
    QCOMPARE(PlainText(view).trimmed(), U("日本"));
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    PartCharsetViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "PartCharsetViewTest.moc"
