#include "app/ReaderDlg.h"
#include "app/HeaderTreeModel.h"
#include "app/MessageIdIndexList.h"
#include "app/ReaderApp.h"
#include "viewer/HtmlViewCtl.h"
#include "viewer/PartScheme.h"

#include "support/TestDir.h"

#include "support/QtTestStrings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <unistd.h>

// The main window as the program starts it, in a start directory holding the start page.
class ReaderDlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void window();
    void controls_data();
    void controls();
    void captionsFitTheirControls();
    void articleViewReplacesEdit1001();
    void startPageFinishesLoading();
    void messageIdIndexIsHiddenAndEmpty();
    void trees();
    void statusLineAndProgressAtRest();
    void filePaths();
    void headerIcons();
    void enableAndDisableCommands();
    void escapeEndsTheDialog();
    void exitButtonEndsTheDialog();
    void initInstanceRunsTheDialogModally();

private:
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    bool IsEnabled(int id) const { return Control<QWidget>(id)->isEnabled(); }

    std::unique_ptr<TestDir> m_startDir;
    std::filesystem::path m_oldDir;
    std::unique_ptr<CReaderDlg> m_dlg;
    std::unique_ptr<QSignalSpy> m_loadSpy;
};

void ReaderDlgTest::initTestCase() {
    m_startDir = std::make_unique<TestDir>();
    QVERIFY(std::filesystem::copy_file(QUILLO_RESOURCES_DIR "/quillomb.htm",
                                       *m_startDir / "quillomb.htm"));
    m_oldDir = std::filesystem::current_path();
    std::filesystem::current_path(m_startDir->Path());
}

void ReaderDlgTest::cleanupTestCase() {
    std::filesystem::current_path(m_oldDir);
    m_startDir.reset();
}

void ReaderDlgTest::init() {
    m_dlg = std::make_unique<CReaderDlg>();
    // The start page is asked for while the window is made; its end is reported by an event,
    // so the spy is in time.
    m_loadSpy = std::make_unique<QSignalSpy>(m_dlg->HtmlView(), &QWebEngineView::loadFinished);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
}

void ReaderDlgTest::cleanup() {
    m_loadSpy.reset();
    m_dlg.reset();
}

void ReaderDlgTest::window() {
    QCOMPARE(m_dlg->objectName(), QStringLiteral("102"));
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Quillo Version 1.01 Linux Edition"));
    QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());
    QCOMPARE(m_dlg->size(), m_dlg->MapDialogRect(QRect(0, 0, 367, 263)).size());
    QVERIFY(m_dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(m_dlg->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!m_dlg->windowIcon().isNull());
    QVERIFY(!m_dlg->windowIcon().pixmap(16, 16).isNull());
    QVERIFY(!m_dlg->windowIcon().pixmap(32, 32).isNull());

    // The dialog font holds the Japanese captions' glyphs itself.
    const QFontMetrics fm(m_dlg->font());
    for (QChar c :
         QString::fromUtf8("ニュースサーバー登録削除更新同期最新情報のみ投稿返信住所録環境終了"
                           "ヘッダー本文検索ﾎｰﾑ戻る進む"))
        QVERIFY2(fm.inFont(c), qPrintable(QString(c)));
}

void ReaderDlgTest::controls_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("dialogUnits");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("checked"); // -1: not a check box

    struct Row {
        int id;
        const char* kind;
        const char* caption;
        QRect du;
        bool enabled;
        int checked;
    };
    const Row rows[] = {
        {1002, "QPushButton", "ニュースサーバー登録削除", {7, 0, 97, 12}, true, -1},
        {1006, "QPushButton", "更新", {106, 0, 24, 13}, false, -1},
        {1012, "QPushButton", "同期", {130, 0, 24, 13}, false, -1},
        {1009, "QCheckBox", "最新情報のみ", {155, 2, 58, 10}, true, 1},
        {1010, "QPushButton", "投稿", {219, 0, 24, 13}, false, -1},
        {1011, "QPushButton", "返信", {245, 0, 24, 13}, false, -1},
        {1022, "QPushButton", "住所録", {281, 0, 24, 13}, true, -1},
        {1018, "QPushButton", "環境", {305, 0, 24, 13}, true, -1},
        {1, "QPushButton", "終了", {331, 0, 29, 13}, false, -1},
        {1000, "QTreeWidget", "", {7, 13, 97, 199}, true, -1},
        {1020, "QCheckBox", "ヘッダー", {107, 17, 39, 10}, true, 1},
        {1021, "QCheckBox", "本文", {147, 17, 29, 10}, true, 1},
        {1013, "QLineEdit", "", {175, 15, 68, 14}, true, -1},
        {1019, "QPushButton", "検索", {246, 16, 26, 13}, false, -1},
        {1030, "QPushButton", "ﾎｰﾑ", {289, 16, 23, 13}, true, -1},
        {1028, "QPushButton", "戻る", {313, 16, 23, 13}, true, -1},
        {1029, "QPushButton", "進む", {337, 16, 23, 13}, true, -1},
        {1007, "QTreeView", "", {107, 31, 253, 86}, true, -1},
        {1001, "QPlainTextEdit", "", {107, 126, 253, 102}, true, -1},
        {1027, "QListWidget", "", {7, 212, 97, 30}, true, -1},
        {1032, "QLabel", "", {7, 243, 353, 9}, true, -1},
        {1003, "QProgressBar", "", {7, 253, 353, 7}, true, -1},
    };
    for (const Row& r : rows)
        QTest::newRow(QByteArray::number(r.id).constData())
            << r.id << QString::fromLatin1(r.kind) << QString::fromUtf8(r.caption) << r.du
            << r.enabled << r.checked;
}

void ReaderDlgTest::controls() {
    QFETCH(int, id);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QRect, dialogUnits);
    QFETCH(bool, enabled);
    QFETCH(int, checked);

    const QList<QWidget*> found = m_dlg->findChildren<QWidget*>(QString::number(id));
    QCOMPARE(found.size(), 1);
    QWidget* w = found.front();
    QCOMPARE(w->parentWidget(), m_dlg.get());
    QVERIFY2(w->inherits(kind.toLatin1().constData()), w->metaObject()->className());
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        QCOMPARE(b->text(), caption);
    QCOMPARE(w->geometry(), m_dlg->MapDialogRect(dialogUnits));
    QVERIFY(m_dlg->rect().contains(w->geometry()));
    QCOMPARE(w->isEnabled(), enabled);
    if (checked >= 0)
        QCOMPARE(qobject_cast<QCheckBox*>(w)->isChecked(), checked == 1);
    QCOMPARE(w->isHidden(), id == 1001);
}

void ReaderDlgTest::captionsFitTheirControls() {
    for (QAbstractButton* b : m_dlg->findChildren<QAbstractButton*>()) {
        const int textWidth = b->fontMetrics().horizontalAdvance(b->text());
        const int room = qobject_cast<QCheckBox*>(b) ? b->width() - 18 : b->width() - 4;
        QVERIFY2(textWidth <= room, qPrintable(b->objectName() + QLatin1Char(' ') + b->text()));
        QVERIFY2(b->fontMetrics().height() <= b->height(), qPrintable(b->objectName()));
    }
}

void ReaderDlgTest::articleViewReplacesEdit1001() {
    const QList<CHtmlViewCtl*> views = m_dlg->findChildren<CHtmlViewCtl*>(QStringLiteral("HTML"));
    QCOMPARE(views.size(), 1);
    CHtmlViewCtl* view = views.front();
    QCOMPARE(view, m_dlg->HtmlView());
    QVERIFY(view->isVisible());
    QVERIFY(Control<QPlainTextEdit>(1001)->isHidden());

    // In the edit's place: its columns and bottom, reaching up to just below the header tree.
    const QRect edit = Control<QWidget>(1001)->geometry();
    const QRect tree = Control<QWidget>(1007)->geometry();
    const QRect shown(view->mapTo(m_dlg.get(), QPoint(0, 0)), view->size());
    QVERIFY(edit.contains(shown.bottomRight()));
    QVERIFY(shown.left() >= edit.left() && shown.left() <= edit.left() + 3);
    QVERIFY(shown.right() <= edit.right() && shown.right() >= edit.right() - 3);
    QVERIFY(shown.top() > tree.bottom());
    QVERIFY(shown.top() <= edit.top());
}

void ReaderDlgTest::startPageFinishesLoading() {
    QTRY_COMPARE_WITH_TIMEOUT(m_loadSpy->count(), 1, 60000);
    QCOMPARE(m_loadSpy->at(0).at(0).toBool(), true);
    CHtmlViewCtl* view = m_dlg->HtmlView();
    QCOMPARE(view->url(),
             QUrl::fromLocalFile(QString::fromStdString(*m_startDir / "quillomb.htm")));
    QCOMPARE(view->title(), QString::fromUtf8("Quillo へようこそ"));
}

void ReaderDlgTest::messageIdIndexIsHiddenAndEmpty() {
    const QList<CMessageIdIndexList*> lists =
        m_dlg->findChildren<CMessageIdIndexList*>("MessageIdIndex");
    QCOMPARE(lists.size(), 1);
    QCOMPARE(lists.front(), m_dlg->MessageIdIndex());
    QVERIFY(lists.front()->isHidden());
    QVERIFY(!lists.front()->isVisible());
    QCOMPARE(lists.front()->count(), 0);
}

void ReaderDlgTest::trees() {
    auto* servers = Control<QTreeWidget>(1000);
    QCOMPARE(servers->topLevelItemCount(), 1);
    QCOMPARE(servers->topLevelItem(0)->text(0), QStringLiteral("NewsGroup"));
    QVERIFY(servers->topLevelItem(0)->isExpanded());

    auto* headers = Control<QTreeView>(1007);
    QCOMPARE(headers->model()->rowCount(), 0);
    QCOMPARE(headers->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(headers->iconSize(), QSize(16, 16));
    QVERIFY(headers->rootIsDecorated());
}

void ReaderDlgTest::statusLineAndProgressAtRest() {
    auto* status = Control<QLabel>(1032);
    QCOMPARE(status->text(), QString());
    QCOMPARE(status->frameShadow(), QFrame::Sunken);
    auto* progress = Control<QProgressBar>(1003);
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 1);
    QCOMPARE(progress->value(), 0);
}

void ReaderDlgTest::filePaths() {
    const std::string base = std::filesystem::current_path().string();
    QCOMPARE(m_dlg->BaseDirectory(), base);
    QCOMPARE(std::filesystem::canonical(base), std::filesystem::canonical(m_startDir->Path()));
    QCOMPARE(m_dlg->SettingsPath(), base + "/quillo.ini");
    QCOMPARE(m_dlg->DatabasePath(), base + "/quillo.mdb");
}

void ReaderDlgTest::headerIcons() {
    QList<QImage> images;
    for (int i = 0; i < kHeaderIconCount; ++i) {
        const QIcon icon = m_dlg->HeaderIcon(i, i);
        QVERIFY2(!icon.isNull(), qPrintable(QString::number(i)));
        images.append(icon.pixmap(16, 16).toImage());
        QCOMPARE(images.back().size(), QSize(16, 16));
    }
    // Every image is a drawing of its own.
    for (int i = 0; i < images.size(); ++i)
        for (int j = i + 1; j < images.size(); ++j)
            QVERIFY2(images[i] != images[j], qPrintable(QStringLiteral("%1 %2").arg(i).arg(j)));

    // An item icon shows one image normally and the other while selected.
    const QIcon unread = m_dlg->HeaderIcon(0, 1);
    QCOMPARE(unread.pixmap(16, 16, QIcon::Normal).toImage(), images[0]);
    QCOMPARE(unread.pixmap(16, 16, QIcon::Selected).toImage(), images[1]);
}

void ReaderDlgTest::enableAndDisableCommands() {
    const int groupCommands[] = {1006, 1012, 1010};
    m_dlg->EnableCommands();
    for (int id : groupCommands)
        QVERIFY2(!IsEnabled(id), qPrintable(QString::number(id)));
    QVERIFY(!IsEnabled(1011));
    QVERIFY(!IsEnabled(1019));
    QVERIFY(IsEnabled(1));

    auto* headers = Control<QTreeView>(1007);
    m_dlg->HeaderModel()->Insert(0, 0, "1 test");
    m_dlg->HeaderModel()->ShowPending();
    m_dlg->EnableCommands();
    QVERIFY(IsEnabled(1019));
    QVERIFY(!IsEnabled(1011));
    headers->setCurrentIndex(headers->model()->index(0, 0));
    m_dlg->EnableCommands();
    QVERIFY(IsEnabled(1011));
    for (int id : groupCommands)
        QVERIFY2(!IsEnabled(id), qPrintable(QString::number(id)));

    m_dlg->DisableCommands();
    for (int id : {1006, 1010, 1011, 1012, 1019, 1})
        QVERIFY2(!IsEnabled(id), qPrintable(QString::number(id)));
    for (int id : {1002, 1022, 1018, 1030, 1028, 1029, 1009, 1020, 1021})
        QVERIFY2(IsEnabled(id), qPrintable(QString::number(id)));
}

void ReaderDlgTest::escapeEndsTheDialog() {
    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    QVERIFY(!IsEnabled(1)); // Escape works even while exit is disabled
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!m_dlg->isVisible());
}

void ReaderDlgTest::exitButtonEndsTheDialog() {
    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    m_dlg->EnableCommands();
    QTest::mouseClick(Control<QPushButton>(1), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
    QVERIFY(!m_dlg->isVisible());
}

void ReaderDlgTest::initInstanceRunsTheDialogModally() {
    m_loadSpy.reset();
    m_dlg.reset();

    QString seenName;
    QString seenTitle;
    bool seenModal = false;
    // Looks at the modal window once it is up, then closes it the way the user would.
    QTimer probe;
    probe.setInterval(50);
    connect(&probe, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        probe.stop();
        seenName = modal->objectName();
        seenTitle = modal->windowTitle();
        seenModal = modal->isModal();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    probe.start();

    CReaderApp app;
    QCOMPARE(app.InitInstance(), false);
    QCOMPARE(seenName, QStringLiteral("102"));
    QCOMPARE(seenTitle, QStringLiteral("Quillo Version 1.01 Linux Edition"));
    QVERIFY(seenModal);
}

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    ReaderDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReaderDlgTest.moc"
