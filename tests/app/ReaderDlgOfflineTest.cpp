// The main window's commands for reading offline and finding: "同期" against a scripted
// server, "検索" over cached articles, and "住所録".

#include "app/ReaderDlg.h"
#include "settings/ProfileFile.h"
#include "store/AddressBook.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "ui/ScriptedUi.h"
#include "ui/TreeItems.h"

#include "support/QtTestStrings.h"
#include "support/TestDir.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class ReaderDlgOfflineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void addressBookOpensOverTheMainDatabase();

private:
    // The window in a base directory of its own, with one group chosen and selected.
    void Open();
    std::string Base() const { return m_root->Path() + "/base"; }
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    // Runs action; meanwhile answer is called with every modal window other than the main
    // one until it returns true.
    void WhileModal(const std::function<void()>& action,
                    const std::function<bool(QWidget*)>& answer);

    fs::path m_oldDir;
    std::unique_ptr<TestDir> m_root;
    std::unique_ptr<CScriptedUi> m_ui;
    std::unique_ptr<CUiSeamScope> m_uiScope;
    std::unique_ptr<CReaderDlg> m_dlg;
};

void ReaderDlgOfflineTest::initTestCase() {
    m_oldDir = fs::current_path();
}

void ReaderDlgOfflineTest::cleanup() {
    m_dlg.reset();
    m_uiScope.reset();
    m_ui.reset();
    fs::current_path(m_oldDir);
    m_root.reset();
}

void ReaderDlgOfflineTest::Open() {
    m_root = std::make_unique<TestDir>();
    fs::create_directory(Base());
    const std::string ini = Base() + "/quillo.ini";
    QVERIFY(WriteProfileString(ini, "NNTPREG10", "Selected", "1"));
    QVERIFY(WriteProfileString(ini, "SELECTION", "0", "127.0.0.1,local.test"));
    // The main database as server registration leaves it.
    QVERIFY(CreateDatabaseTable("127.0.0.1", {"name"}, Base() + "/quillo.mdb"));
    m_ui = std::make_unique<CScriptedUi>();
    m_uiScope = std::make_unique<CUiSeamScope>(*m_ui);
    fs::current_path(Base());
    m_dlg = std::make_unique<CReaderDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
}

void ReaderDlgOfflineTest::WhileModal(const std::function<void()>& action,
                                      const std::function<bool(QWidget*)>& answer) {
    QTimer probe;
    probe.setInterval(20);
    connect(&probe, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != m_dlg.get() && answer(modal))
            probe.stop();
    });
    probe.start();
    action();
    probe.stop();
}

void ReaderDlgOfflineTest::addressBookOpensOverTheMainDatabase() {
    Open();
    QVERIFY(
        AddAddressBookEntry("Taro", "taro@x.jp", "127.0.0.1", "local.test", m_dlg->DatabasePath()));
    QString name;
    QStringList tree;
    WhileModal([&] { QTest::mouseClick(Control<QPushButton>(1022), Qt::LeftButton); },
               [&](QWidget* book) {
                   name = book->objectName();
                   auto* t = book->findChild<QTreeWidget*>(QStringLiteral("1000"));
                   for (int i = 0; t && i < t->topLevelItemCount(); ++i) {
                       tree << t->topLevelItem(i)->text(0);
                       for (int j = 0; j < t->topLevelItem(i)->childCount(); ++j)
                           tree << t->topLevelItem(i)->child(j)->text(0);
                   }
                   QTest::mouseClick(book->findChild<QPushButton*>(QStringLiteral("1")),
                                     Qt::LeftButton);
                   return true;
               });
    QCOMPARE(name, QStringLiteral("137"));
    QCOMPARE(tree, (QStringList{"127.0.0.1", "taro@x.jp"}));
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(ReaderDlgOfflineTest)
#include "ReaderDlgOfflineTest.moc"
