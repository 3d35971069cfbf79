#include "ui/TreeItems.h"
#include "ui/SjisText.h"

#include "support/QtTestStrings.h"

#include <QTest>
#include <QTreeWidget>

#include <string>

// Shift_JIS texts: 日本 (93FA 967B), ≒ in its JIS form (81E0) and in NEC's duplicate (8790),
// which both show as U+2252.
static const std::string kNihon = "\x93\xfa\x96\x7b";
static const std::string kApproxJis = "\x81\xe0";
static const std::string kApproxNec = "\x87\x90";

class TreeItemsTest : public QObject {
    Q_OBJECT

private slots:
    void findTreeChild_data();
    void findTreeChild();
    void findLooksOnlyAtDirectChildren();
    void findOrInsertReusesAnExistingChild();
    void findOrInsertAppendsAsLastChild();
    void findOrInsertAtTopLevel();
    void itemsMadeElsewhereAreFoundByTheirText();
    void nullTreeFindsNothing();

private:
    // Root with children "alt.test", "fj.comp", 日本, ≒(JIS), ≒(NEC), made by the helpers.
    QTreeWidgetItem* Fill(QTreeWidget& tree);
};

QTreeWidgetItem* TreeItemsTest::Fill(QTreeWidget& tree) {
    QTreeWidgetItem* root = FindOrInsertTreeChild(&tree, "NewsGroup", nullptr);
    for (const std::string& text :
         {std::string("alt.test"), std::string("fj.comp"), kNihon, kApproxJis, kApproxNec})
        FindOrInsertTreeChild(&tree, text, root);
    return root;
}

void TreeItemsTest::findTreeChild_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expectedIndex"); // -1: none

    QTest::newRow("exact") << QByteArray("alt.test") << 0;
    QTest::newRow("letter case differs") << QByteArray("alt.Test") << -1;
    QTest::newRow("upper case") << QByteArray("ALT.TEST") << -1;
    QTest::newRow("second") << QByteArray("fj.comp") << 1;
    QTest::newRow("prefix only") << QByteArray("fj.com") << -1;
    QTest::newRow("longer") << QByteArray("fj.comp.") << -1;
    QTest::newRow("empty") << QByteArray("") << -1;
    QTest::newRow("japanese") << QByteArray::fromStdString(kNihon) << 2;
    QTest::newRow("japanese cut") << QByteArray::fromStdString(kNihon.substr(0, 3)) << -1;
    QTest::newRow("jis form") << QByteArray::fromStdString(kApproxJis) << 3;
    QTest::newRow("nec form") << QByteArray::fromStdString(kApproxNec) << 4;
}

void TreeItemsTest::findTreeChild() {
    QFETCH(QByteArray, text);
    QFETCH(int, expectedIndex);
    QTreeWidget tree;
    QTreeWidgetItem* root = Fill(tree);
    QCOMPARE(root->childCount(), 5);

    QTreeWidgetItem* found = FindTreeChild(&tree, text.toStdString(), root);
    if (expectedIndex < 0)
        QCOMPARE(found, nullptr);
    else
        QCOMPARE(found, root->child(expectedIndex));
}

void TreeItemsTest::findLooksOnlyAtDirectChildren() {
    QTreeWidget tree;
    QTreeWidgetItem* root = Fill(tree);
    QTreeWidgetItem* server = FindOrInsertTreeChild(&tree, "news.example.com", root);
    FindOrInsertTreeChild(&tree, "deep", server);
    QCOMPARE(FindTreeChild(&tree, "deep", root), nullptr);
    QCOMPARE(FindTreeChild(&tree, "alt.test", nullptr), nullptr);
    QCOMPARE(FindTreeChild(&tree, "NewsGroup", nullptr), root);
    QVERIFY(FindTreeChild(&tree, "deep", server) != nullptr);
}

void TreeItemsTest::findOrInsertReusesAnExistingChild() {
    QTreeWidget tree;
    QTreeWidgetItem* root = Fill(tree);
    QTreeWidgetItem* nihon = root->child(2);
    QCOMPARE(FindOrInsertTreeChild(&tree, kNihon, root), nihon);
    QCOMPARE(FindOrInsertTreeChild(&tree, "alt.test", root), root->child(0));
    QCOMPARE(root->childCount(), 5);
}

void TreeItemsTest::findOrInsertAppendsAsLastChild() {
    QTreeWidget tree;
    QTreeWidgetItem* root = Fill(tree);
    QTreeWidgetItem* added = FindOrInsertTreeChild(&tree, "alt.Test", root);
    QCOMPARE(root->childCount(), 6);
    QCOMPARE(root->child(5), added);
    QCOMPARE(TreeItemText(added), std::string("alt.Test"));
    // The Japanese item shows its text in Unicode and keeps its bytes.
    QCOMPARE(root->child(2)->text(0), QString::fromUtf8("日本"));
    QCOMPARE(TreeItemText(root->child(2)), kNihon);
    QCOMPARE(root->child(4)->text(0), QString(QChar(0x2252)));
    QCOMPARE(TreeItemText(root->child(4)), kApproxNec);
}

void TreeItemsTest::findOrInsertAtTopLevel() {
    QTreeWidget tree;
    QTreeWidgetItem* a = FindOrInsertTreeChild(&tree, "a", nullptr);
    QTreeWidgetItem* b = FindOrInsertTreeChild(&tree, "b", nullptr);
    QCOMPARE(FindOrInsertTreeChild(&tree, "a", nullptr), a);
    QCOMPARE(tree.topLevelItemCount(), 2);
    QCOMPARE(tree.topLevelItem(0), a);
    QCOMPARE(tree.topLevelItem(1), b);
}

void TreeItemsTest::itemsMadeElsewhereAreFoundByTheirText() {
    QTreeWidget tree;
    auto* plain = new QTreeWidgetItem(QStringList(QString::fromUtf8("日本")));
    tree.addTopLevelItem(plain);
    QCOMPARE(TreeItemText(plain), kNihon);
    QCOMPARE(FindTreeChild(&tree, kNihon, nullptr), plain);
    QCOMPARE(FindOrInsertTreeChild(&tree, kNihon, nullptr), plain);
    QCOMPARE(tree.topLevelItemCount(), 1);
}

void TreeItemsTest::nullTreeFindsNothing() {
    QCOMPARE(FindTreeChild(nullptr, "a", nullptr), nullptr);
    QCOMPARE(FindOrInsertTreeChild(nullptr, "a", nullptr), nullptr);
}

QTEST_MAIN(TreeItemsTest)
#include "TreeItemsTest.moc"
