// Articles in UTF-8, EUC-JP and Latin charsets through the main window against the project's INN
// on 127.0.0.1:119 (tools/inn.sh start): a fresh group holding tests/data/charsets is downloaded
// with "更新" and every article read. The stored files keep exactly the bytes the download and
// the fetch have always written; the tree, the view and the header part show the text decoded.
// Skipped when nothing greets there with 200.

#include "app/ReaderDlg.h"
#include "base/TempFile.h"
#include "mime/ArticleParser.h"
#include "settings/UserSettings.h"
#include "store/HeaderStore.h"
#include "store/ServerConfig.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "../nntp/HeaderDownloadTestSupport.h"
#include "InnTestSupport.h"
#include "support/ModelItems.h"
#include "support/QtTestStrings.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QLabel>
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
#include <QWebEnginePage>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kServer = "localhost";
constexpr int kArticleCount = 6;
// A page load comes well within this on any machine that runs the tests.
constexpr int kTimeoutMs = 30000;

// The articles of tests/data/charsets: file NN is article NN of the fresh group.
struct Article {
    int num;
    std::string id;     // Message-ID as in the file; the loader tags it with the group
    QString subject;    // as the tree shows it
    QStringList header; // lines the header part shows
};

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

const std::vector<Article>& Articles() {
    static const std::vector<Article> articles = {
        {1,
         "utf8-ja.20240122@taro.example.jp",
         U("UTF-8で書いた記事"),
         {U("From: 山田太郎 <taro@example.jp>"), U("Subject: UTF-8で書いた記事")}},
        {2,
         "utf8-b64.20240122@hanako.example.jp",
         U("Re: base64 で送られた本文の表示"),
         {U("From: 鈴木 花子 <hanako@example.jp>"), U("Subject: Re: base64 で送られた"),
          U("\t本文の表示")}},
        {3,
         "euc.20240122@jiro.example.ne.jp",
         U("EUC-JPの記事"),
         {U("From: 佐藤次郎 <jiro@example.ne.jp>"), U("Subject: EUC-JPの記事")}},
        {4,
         "latin1.20240122@rene.example.org",
         U("Café crème à Zürich"),
         {U("From: René Müller <rene@example.org>"), U("Subject: Café crème à Zürich")}},
        {5,
         "utf8-alt.20240122@ichiro.example.jp",
         U("HTMLとテキストの二本立て"),
         {U("From: 田中一郎 <ichiro@example.jp>"), U("Subject: HTMLとテキストの二本立て")}},
        // The ISO-2022-JP word was decoded when it was stored; the blank before it stays.
        {6,
         "mixed.20240122@saburo.example.jp",
         U("混在 した件名"),
         {U("From: 高橋三郎 <saburo@example.jp>"), U("Subject: 混在 した件名")}},
    };
    return articles;
}

// "<local@domain>" with ".tag" after the local part, as the loader feeds it.
std::string TaggedId(const std::string& id, const std::string& tag) {
    const std::size_t at = id.find('@');
    return "<" + id.substr(0, at) + "." + tag + id.substr(at) + ">";
}

// Lines whose bytes in the cache differ from what the server sent: ISO-2022-JP words and
// lines turned into Shift_JIS, quoted-printable decoded after its declaration. Every other
// line, 8-bit UTF-8, EUC-JP, Latin-1 and base64 alike, is stored as it came.
struct DecodedLine {
    int num;
    const char* served; // the line the server sent begins with this
    std::string cached; // the whole line in the cache
};

const std::vector<DecodedLine>& DecodedLines() {
    static const std::vector<DecodedLine> lines = {
        {5, "=E7=94=B0", "田中です。"},
        {5, "QP =E3", "QP の部分、"},
        {5, "=E8=A8=98", "記号 = も。"},
        // soft line breaks stay, and split characters: 字 is e5 | ad 97, 改 e6 94 | b9
        {5, "=E9=95=B7",
         "\xe9\x95\xb7\xe3\x81\x84\xe8\xa1\x8c\xe3\x81\xaf\xe4\xb8\x83\xe5\x8d\x81\xe5\x85"
         "\xad\xe6\x96\x87\xe5="},
        {5, "=AD=97",
         "\xad\x97\xe3\x81\x94\xe3\x81\xa8\xe3\x81\xab\xe8\xbb\x9f\xe3\x82\x89\xe3\x81\x8b"
         "\xe3\x81\x84\xe6\x94="},
        {5, "=B9=E8",
         "\xb9\xe8\xa1\x8c\xe3\x81\xa7\xe6\x8a\x98\xe3\x82\x8a\xe8\xbf\x94\xe3\x81\x95\xe3"
         "\x82\x8c\xe3\x81\xbe="},
        {5, "=E3=81=99=E3",
         "\xe3\x81\x99\xe3\x81\x8c\xe3\x80\x81\xe8\xaa\xad\xe3\x81\xbf\xe6\x89\x8b\xe3\x81"
         "\x8c\xe3\x81\xa4\xe3="},
        {5, "=81=AA",
         "\x81\xaa\xe3\x81\x8e\xe7\x9b\xb4\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82"},
        {6, "From: =?", Sjis("From: 高橋三郎 <saburo@example.jp>")},
        {6, "Subject: =?", "Subject: =?UTF-8?B?5re35Zyo?= " + Sjis("した件名")},
        {6, "\x1b$B9b66", Sjis("高橋です。")},
        {6, "\x1b$B7oL>", Sjis("件名の前半は UTF-8、後半は ISO-2022-JP の encoded word です。")},
    };
    return lines;
}

// What the download stores for an article: the served From and Subject as they came, except
// the ISO-2022-JP words of article 6.
std::string StoredField(int num, const std::vector<std::string>& served, const char* name) {
    for (const DecodedLine& d : DecodedLines())
        if (d.num == num && std::string(d.served) == std::string(name) + " =?")
            return d.cached.substr(std::string(name).size() + 1);
    return ServedField(served, name).value_or("<none>");
}

} // namespace

class ReaderDlgCharsetInnTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void updateStoresTheBytesAsEver();
    void readEachArticle_data();
    void readEachArticle();
    void replyQuotesThePartConverted();
    void searchFindsJapaneseInEveryCharset();

private:
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QTreeView* HeaderTree() const { return Control<QTreeView>(CReaderDlg::IDC_HEADER_TREE); }
    QListWidget* PartList() const { return Control<QListWidget>(CReaderDlg::IDC_PART_LIST); }
    CHtmlViewCtl* View() const { return m_dlg->HtmlView(); }
    std::string Base() const { return m_root->Path() + "/base"; }
    std::string GroupDir() const { return GroupDirectory(Base(), kServer, m_group); }
    QModelIndex HeaderItem(int num) const;
    bool Shows(const std::function<void()>& action) const;
    QStringList ViewLines() const;
    void CompareRows(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected) const;

    std::string m_group;
    std::unique_ptr<TestDir> m_temp;
    std::unique_ptr<TestDir> m_root;
    fs::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    CScriptedUi m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
};

void ReaderDlgCharsetInnTest::initTestCase() {
    if (!InnGreets())
        QSKIP("nothing greets with 200 on 127.0.0.1:119 (tools/inn.sh start)");

    // A group of its own for every run: INN keeps each Message-ID once.
    m_group =
        "quillo.test.c" + std::to_string(std::time(nullptr)) + "p" + std::to_string(::getpid());
    std::string output;
    QVERIFY2(LoadIntoGroup(m_group, TestDataDir() + "/charsets", output), output.c_str());
    QVERIFY2(output.find("fed 6, already there 0, rejected 0") != std::string::npos,
             output.c_str());

    m_oldDir = fs::current_path();
    m_temp = std::make_unique<TestDir>();
    SetTempRoot(m_temp->Path());
    m_uiScope = std::make_unique<CUiSeamScope>(m_ui);
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    QVERIFY(WriteWholeFile(Base() + "/quillomb.htm",
                           "<html><head><title>start</title></head><body>start</body></html>"));
    // The server and the group chosen, written as the registration window writes them.
    QVERIFY(WriteServerConfig({{kServer, {{m_group, true, false}}}}, Base() + "/quillo.ini",
                              Base() + "/quillo.mdb") == 1);
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    QSignalSpy start(View(), &QWebEngineView::loadFinished);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QVERIFY(start.count() > 0 || start.wait(kTimeoutMs));
}

void ReaderDlgCharsetInnTest::cleanupTestCase() {
    m_dlg.reset();
    if (!m_oldDir.empty())
        fs::current_path(m_oldDir);
    // Kept on request, to start the program on them (tools/screenshots.sh does).
    const QString keep = qEnvironmentVariable("QUILLO_INN_KEEP_BASE");
    if (m_root && !keep.isEmpty()) {
        std::error_code error;
        fs::remove_all(keep.toStdString(), error);
        fs::copy(Base(), keep.toStdString(), fs::copy_options::recursive, error);
        qInfo("base directory kept in %s (group %s)", qPrintable(keep), m_group.c_str());
    }
    m_root.reset();
    m_uiScope.reset();
    SetTempRoot({});
    m_temp.reset();
}

QModelIndex ReaderDlgCharsetInnTest::HeaderItem(int num) const {
    const std::string prefix = std::to_string(num) + " ";
    for (const QModelIndex& item : AllIndexes(HeaderTree()->model()))
        if (TreeItemText(item).starts_with(prefix))
            return item;
    return {};
}

bool ReaderDlgCharsetInnTest::Shows(const std::function<void()>& action) const {
    QSignalSpy spy(View(), &QWebEngineView::loadFinished);
    action();
    if (spy.isEmpty() && !spy.wait(kTimeoutMs))
        return false;
    return spy.takeFirst().at(0).toBool();
}

QStringList ReaderDlgCharsetInnTest::ViewLines() const {
    QString text;
    bool done = false;
    View()->page()->toPlainText([&](const QString& result) {
        text = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kTimeoutMs))
        qWarning("no text from the page");
    return text.split(QLatin1Char('\n'));
}

void ReaderDlgCharsetInnTest::CompareRows(const std::vector<std::string>& actual,
                                          const std::vector<std::string>& expected) const {
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
        QCOMPARE(actual[i], expected[i]);
    QCOMPARE(actual.size(), expected.size());
}

void ReaderDlgCharsetInnTest::updateStoresTheBytesAsEver() {
    QTreeWidget* serverTree = Control<QTreeWidget>(CReaderDlg::IDC_SERVER_TREE);
    const QList<QTreeWidgetItem*> found = serverTree->findItems(
        QString::fromStdString(m_group.substr(std::string("quillo.test.").size())),
        Qt::MatchExactly | Qt::MatchRecursive);
    QCOMPARE(found.size(), 1);
    serverTree->setCurrentItem(found.front());
    QCOMPARE(m_dlg->CurrentGroup(), m_group);
    QTest::mouseClick(Control<QPushButton>(CReaderDlg::IDC_UPDATE), Qt::LeftButton);
    QVERIFY(m_ui.Messages().empty());

    // header.mdb: the values as served, encoded words of other charsets included.
    std::vector<std::string> rows;
    std::vector<std::string> posters;
    for (const Article& a : Articles()) {
        const std::vector<std::string> served = ServedArticle(m_group, a.num);
        QVERIFY(served.size() > 8);
        const std::string from = StoredField(a.num, served, "From:");
        rows.push_back(std::to_string(a.num) + "|" + TaggedId(a.id, m_group) + "|" + from + "|" +
                       StoredField(a.num, served, "Subject:") + "|" +
                       ServedField(served, "Date:").value_or("") + "|" +
                       ServedField(served, "Content-Type:").value_or("") + "|<null>|<null>|<null>");
        posters.push_back(from.substr(0, from.find(" <")) + "|" +
                          from.substr(from.find('<') + 1, from.find('>') - from.find('<') - 1) +
                          "," + kServer + "|" + kServer + "|" + m_group);
    }
    CompareRows(HeaderRows(GroupDir()), rows);
    CompareRows(AddressBookRows(m_dlg->DatabasePath()), posters);
    // Encoded words of other charsets are still there: the rows above hold them as text.
    QVERIFY(rows[0].find("=?UTF-8?B?") != std::string::npos);

    // The tree shows them decoded, while its items keep the stored bytes.
    QCOMPARE(HeaderTree()->model()->rowCount(), kArticleCount);
    for (const Article& a : Articles()) {
        const QModelIndex item = HeaderItem(a.num);
        QVERIFY(item.isValid());
        QCOMPARE(item.data().toString(), QString::number(a.num) + QLatin1Char(' ') + a.subject);
        QVERIFY(IsBold(item));
    }
    QCOMPARE(TreeItemText(HeaderItem(1)), "1 =?UTF-8?B?VVRGLTjjgafmm7jjgYTjgZ/oqJjkuos=?=");
}

void ReaderDlgCharsetInnTest::readEachArticle_data() {
    using Entries = std::vector<CPartEntry>;
    QTest::addColumn<int>("num");
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("shown"); // lines the view shows

    auto body = [](const char* charset, CTransfer transfer) {
        return Entries{{"0: Header", kPartTextFile}, {"1: Body", kPartTextFile, charset, transfer}};
    };
    QTest::newRow("01 utf-8 8bit")
        << 1 << body("UTF-8", CTransfer::None) << U("1: Body")
        << QStringList{
               U("山田です。"),
               U("この記事は UTF-8 の 8 ビットで書きました。"),
               U("波ダッシュ〜と全角チルダ～、丸数字①、ハングル한글、アクセント付きのéも入れ"
                 "てあります。"),
               U("。"),
               U("-- "),
               U("山田太郎")};
    QTest::newRow("02 utf-8 base64")
        << 2 << body("UTF-8", CTransfer::Base64) << U("1: Body")
        << QStringList{U("鈴木です。"), U("本文全体が base64 で符号化されています。"),
                       U("一行が長くなっても、七十六文字ごとに折り返された base64 "
                         "の行を読み手がつなぎ直して、元の文章が一続きに表示されます。")};
    QTest::newRow("03 euc-jp") << 3 << body("EUC-JP", CTransfer::None) << U("1: Body")
                               << QStringList{U("佐藤です。"),
                                              U("古い UNIX の端末から EUC-JP で投稿しています。"),
                                              U("半角カナもｶﾀｶﾅで書けます。")};
    QTest::newRow("04 iso-8859-1")
        << 4 << body("windows-1252", CTransfer::None) << U("1: Body")
        << QStringList{U("Grüezi mitenand,"),
                       U("le café crème coûte 4,50 francs à la gare; ça va très bien."),
                       U("Ñandú, smørrebrød, Ærø.")};
    QTest::newRow("05 utf-8 alternative shows the html part")
        << 5
        << Entries{{"0: Header", kPartTextFile},
                   {"1 PlainText1", kPartTextFile, "UTF-8", CTransfer::QuotedPrintable},
                   {"2 HtmlText2", kPartHtmlFile, "UTF-8", CTransfer::Base64}}
        << U("2 HtmlText2")
        << QStringList{U("田中です。"), U("HTMLの部分は base64 で送っています。")};
    QTest::newRow("06 mixed words")
        << 6 << body("", CTransfer::None) << U("1: Body")
        << QStringList{U("高橋です。"),
                       U("件名の前半は UTF-8、後半は ISO-2022-JP の encoded word です。")};
}

void ReaderDlgCharsetInnTest::readEachArticle() {
    using Entries = std::vector<CPartEntry>;
    QFETCH(int, num);
    QFETCH(Entries, entries);
    QFETCH(QString, selected);
    QFETCH(QStringList, shown);
    QVERIFY(!m_dlg->CurrentGroup().empty());

    const Article& article = Articles()[static_cast<std::size_t>(num - 1)];
    const std::string cachePath = CacheFilePath(GroupDir(), TaggedId(article.id, m_group));
    QVERIFY(!fs::exists(cachePath));
    const QModelIndex item = HeaderItem(num);
    QVERIFY(item.isValid());
    HeaderTree()->scrollTo(item);
    const QPoint at = HeaderTree()->visualRect(item).center();
    QVERIFY(Shows([&] { QTest::mouseClick(HeaderTree()->viewport(), Qt::LeftButton, {}, at); }));
    QCOMPARE(HeaderTree()->currentIndex(), item);
    QVERIFY(m_ui.Messages().empty());

    // The cache holds every line as it came, but for the decodings the fetch always did.
    const std::vector<std::string> served = ServedArticle(m_group, num);
    QVERIFY(served.size() > 8);
    std::string expected;
    int decoded = 0;
    for (const std::string& line : served) {
        std::string cached = line;
        for (const DecodedLine& d : DecodedLines()) {
            if (d.num == num && line.starts_with(d.served)) {
                cached = d.cached;
                ++decoded;
            }
        }
        expected += cached + "\r\n";
    }
    QCOMPARE(decoded,
             static_cast<int>(std::count_if(DecodedLines().begin(), DecodedLines().end(),
                                            [&](const DecodedLine& d) { return d.num == num; })));
    QCOMPARE(ReadWholeFile(cachePath), expected);

    // The parts: each entry says how its file is read, and the view shows the text.
    QCOMPARE(m_dlg->PartListEntries(), entries);
    const QList<QListWidgetItem*> chosen = PartList()->selectedItems();
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.front()->text(), selected);
    const CPartEntry& entry = entries[static_cast<std::size_t>(PartList()->row(chosen.front()))];
    const std::string partPath = PartFilePath(entry.m_text, entry.m_data);
    QCOMPARE(View()->url(), PartUrl(partPath, {entry.m_charset, entry.m_transfer}));
    QStringList lines = ViewLines();
    for (const QString& text : shown)
        QVERIFY2(lines.contains(text),
                 qPrintable(text + QStringLiteral(" not in\n") + lines.join(QLatin1Char('\n'))));

    // The header part shows From and Subject decoded.
    QVERIFY(Shows([&] { PartList()->setCurrentRow(0); }));
    lines = ViewLines();
    for (const QString& text : article.header)
        QVERIFY2(lines.contains(text),
                 qPrintable(text + QStringLiteral(" not in\n") + lines.join(QLatin1Char('\n'))));
    // Its file keeps the cache's header bytes.
    const std::string cache = ReadWholeFile(cachePath);
    QCOMPARE(ReadWholeFile(PartFilePath("0: Header", kPartTextFile)),
             cache.substr(0, cache.find("\r\n\r\n") + 4));

    if (num == 5) {
        // The plain part of the alternative, decoded by the fetch and shown as UTF-8.
        QVERIFY(Shows([&] { PartList()->setCurrentRow(1); }));
        lines = ViewLines();
        // Soft line breaks joined again, split characters whole.
        for (const QString& text : {U("田中です。"), U("QP の部分、"), U("記号 = も。"),
                                    U("長い行は七十六文字ごとに軟らかい改行で折り返されますが、読み"
                                      "手がつなぎ直します。")})
            QVERIFY2(lines.contains(text), qPrintable(text));
    }
    QVERIFY(!IsBold(item));
}

void ReaderDlgCharsetInnTest::replyQuotesThePartConverted() {
    QVERIFY(WriteUserSettings(m_dlg->SettingsPath(), {"Taro", "taro@example.jp", ""}));
    const QModelIndex item = HeaderItem(1);
    QVERIFY(item.isValid());
    QVERIFY(Shows([&] { HeaderTree()->setCurrentIndex(item); }));
    QCOMPARE(PartList()->selectedItems().size(), 1);
    QCOMPARE(PartList()->selectedItems().front()->text(), U("1: Body"));

    QStringList fields;
    QString body;
    QString status;
    QString name;
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dlg || dlg == m_dlg.get() || !name.isEmpty())
            return;
        name = dlg->objectName();
        for (int id : {1015, 1017})
            fields << dlg->findChild<QLineEdit*>(QString::number(id))->text();
        body = dlg->findChild<QPlainTextEdit*>(QStringLiteral("1030"))->toPlainText();
        status = dlg->findChild<QLabel*>(QStringLiteral("1032"))->text();
        dlg->reject();
    });
    probe.start();
    QTest::mouseClick(Control<QPushButton>(CReaderDlg::IDC_REPLY), Qt::LeftButton);
    probe.stop();

    QCOMPARE(name, QStringLiteral("130"));
    QCOMPARE(fields, QStringList({U("UTF-8で書いた記事"), U("Re: UTF-8で書いた記事")}));
    // 〜 becomes Shift_JIS's ～; Hangul and é are not in Shift_JIS.
    QCOMPARE(body, U(" > 山田です。\n"
                     " > この記事は UTF-8 の 8 ビットで書きました。\n"
                     " > 波ダッシュ～と全角チルダ～、丸数字①、ハングル〓〓、アクセント付きの〓も"
                     "入れてあります。\n"
                     " > 。\n > \n > -- \n > 山田太郎\n"));
    QCOMPARE(status, U("Shift_JIS にない文字 3 個を〓にしました"));
}

void ReaderDlgCharsetInnTest::searchFindsJapaneseInEveryCharset() {
    auto* text = Control<QLineEdit>(CReaderDlg::IDC_SEARCH_TEXT);
    auto* search = Control<QPushButton>(CReaderDlg::IDC_SEARCH);
    // Each search goes on after the article found last.
    const struct {
        const char* text;
        int found; // 0: searched to the end
    } steps[] = {
        {"波ダッシュ〜と全角チルダ～", 1}, // UTF-8 8-bit body; 〜 as Shift_JIS has it
        {"鈴木です。", 2},                 // base64 UTF-8 body
        {"佐藤です", 3},                   // EUC-JP body
        {"混在 した件名", 6},              // a UTF-8 word beside a stored ISO-2022-JP one
        {"UTF-8で書いた記事", 0},          // article 1's subject, behind the last article found
        {"UTF-8で書いた記事", 1},          // and from the first again
    };
    for (const auto& step : steps) {
        m_ui.Clear();
        text->setText(U(step.text));
        QVERIFY(search->isEnabled());
        QTest::mouseClick(search, Qt::LeftButton);
        if (step.found == 0) {
            QCOMPARE(m_ui.Messages(), std::vector<QString>{U("最後まで検索しました")});
            continue;
        }
        QVERIFY2(m_ui.Messages().empty(), step.text);
        QVERIFY2(HeaderTree()->currentIndex() == HeaderItem(step.found), step.text);
    }
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ReaderDlgCharsetInnTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReaderDlgCharsetInnTest.moc"
