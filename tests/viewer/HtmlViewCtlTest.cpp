#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "support/TestDir.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// Loading finishes within this many milliseconds on a slow machine.
constexpr int kLoadTimeout = 60000;

class HtmlViewCtlTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void urlFor_data();
    void urlFor();
    void navigateBackAndForward();
    void navigateFileWithJapaneseName();

private:
    // Waits for the view's next loadFinished and returns its result.
    bool WaitForLoad(QSignalSpy& spy);
    // A page whose title is title.
    static std::string Page(const char* title) {
        return std::string("<html><head><meta charset=\"utf-8\"><title>") + title +
               "</title></head><body>" + title + "</body></html>";
    }

    std::unique_ptr<TestDir> m_dir;
};

void HtmlViewCtlTest::initTestCase() {
    m_dir = std::make_unique<TestDir>();
    QVERIFY(WriteWholeFile(*m_dir / "first.htm", Page("first")));
    QVERIFY(WriteWholeFile(*m_dir / "second.htm", Page("second")));
    QVERIFY(WriteWholeFile(*m_dir / "記事.htm", Page("記事")));
}

void HtmlViewCtlTest::urlFor_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QUrl>("url");
    QTest::newRow("local path") << QStringLiteral("/tmp/a b/HtmlText2.htm")
                                << QUrl(QStringLiteral("file:///tmp/a%20b/HtmlText2.htm"));
    QTest::newRow("japanese path") << QString::fromUtf8("/tmp/記事.htm")
                                   << QUrl::fromLocalFile(QString::fromUtf8("/tmp/記事.htm"));
    QTest::newRow("hash in path") << QStringLiteral("/tmp/x#1.txt")
                                  << QUrl(QStringLiteral("file:///tmp/x%231.txt"));
    QTest::newRow("web address") << QStringLiteral("https://quillo.example.org/")
                                 << QUrl(QStringLiteral("https://quillo.example.org/"));
    QTest::newRow("file url") << QStringLiteral("file:///tmp/a.htm")
                              << QUrl(QStringLiteral("file:///tmp/a.htm"));
}

void HtmlViewCtlTest::urlFor() {
    QFETCH(QString, target);
    QFETCH(QUrl, url);
    QCOMPARE(CHtmlViewCtl::UrlFor(target), url);
}

bool HtmlViewCtlTest::WaitForLoad(QSignalSpy& spy) {
    if (spy.isEmpty() && !spy.wait(kLoadTimeout))
        return false;
    return spy.takeFirst().at(0).toBool();
}

void HtmlViewCtlTest::navigateBackAndForward() {
    CHtmlViewCtl view;
    view.resize(400, 300);
    view.show();
    QSignalSpy spy(&view, &QWebEngineView::loadFinished);

    view.Navigate(QString::fromStdString(*m_dir / "first.htm"));
    QVERIFY(WaitForLoad(spy));
    QCOMPARE(view.title(), QStringLiteral("first"));
    view.Navigate(QString::fromStdString(*m_dir / "second.htm"));
    QVERIFY(WaitForLoad(spy));
    QCOMPARE(view.title(), QStringLiteral("second"));

    view.GoBack();
    QVERIFY(WaitForLoad(spy));
    QCOMPARE(view.url(), QUrl::fromLocalFile(QString::fromStdString(*m_dir / "first.htm")));
    QCOMPARE(view.title(), QStringLiteral("first"));

    view.GoForward();
    QVERIFY(WaitForLoad(spy));
    QCOMPARE(view.title(), QStringLiteral("second"));

    // At the end of the history nothing happens.
    view.GoForward();
    QVERIFY(!spy.wait(500));
    QCOMPARE(view.title(), QStringLiteral("second"));
}

void HtmlViewCtlTest::navigateFileWithJapaneseName() {
    CHtmlViewCtl view;
    view.resize(400, 300);
    view.show();
    QSignalSpy spy(&view, &QWebEngineView::loadFinished);
    view.NavigateFile(*m_dir / "記事.htm");
    QVERIFY(WaitForLoad(spy));
    QCOMPARE(view.title(), QString::fromUtf8("記事"));
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    HtmlViewCtlTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "HtmlViewCtlTest.moc"
