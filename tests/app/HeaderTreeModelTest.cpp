#include "app/HeaderTreeModel.h"
#include "app/MessageIdIndexList.h"
#include "ui/TreeItems.h"

#include "support/ModelItems.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

// An icon whose pixels name the images it shows: red image normally, green selected.
QIcon NamedIcon(int image, int selectedImage) {
    QIcon icon;
    QPixmap normal(16, 16);
    normal.fill(QColor(image, 0, 0));
    QPixmap selected(16, 16);
    selected.fill(QColor(0, selectedImage, 0));
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(selected, QIcon::Selected);
    return icon;
}

QString Images(const QModelIndex& item) {
    const QIcon icon = IconOf(item);
    if (icon.isNull())
        return {};
    return QStringLiteral("%1/%2")
        .arg(qRed(icon.pixmap(16, 16, QIcon::Normal).toImage().pixel(0, 0)))
        .arg(qGreen(icon.pixmap(16, 16, QIcon::Selected).toImage().pixel(0, 0)));
}

// Each item as "depth label id [b] images", parents before children.
QStringList Dump(const CHeaderTreeModel& model) {
    QStringList out;
    for (const QModelIndex& item : AllIndexes(&model)) {
        int depth = 0;
        for (QModelIndex p = item.parent(); p.isValid(); p = p.parent())
            ++depth;
        out << QStringLiteral("%1%2 #%3%4 %5")
                   .arg(QString(depth * 2, QLatin1Char(' ')), item.data().toString())
                   .arg(CHeaderTreeModel::IdOf(item))
                   .arg(IsBold(item) ? QStringLiteral(" [b]") : QString(), Images(item));
    }
    return out;
}

} // namespace

class HeaderTreeModelTest : public QObject {
    Q_OBJECT

private slots:
    void itemsWaitUntilShownInOneInsertion();
    void parentsFoundByIdentifierOrTheTopLevel();
    void identifiersThatDoNotFollowOnAreFoundToo();
    void childOfAShownItemAppearsAtOnce();
    void weightAndImagesChangeShownItemsOnly();
    void labelsAreDecodedForTheScreenOnly();
    void indexesGoBothWays();
    void clearForgetsEverything();
    void messageIdIndexRowsArriveAtFlush();
    void messageIdIndexCurrentRow();
};

void HeaderTreeModelTest::itemsWaitUntilShownInOneInsertion() {
    CHeaderTreeModel model;
    model.SetIconSource(NamedIcon);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.Insert(0, 5, "1 one");
    model.Insert(5, 6, "2 two");
    model.Insert(0, 7, "3 three");
    model.Insert(6, 8, "4 four");
    model.SetBold(8, true);
    model.SetImages(7, 2, 3);

    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.Contains(8));
    QVERIFY(!model.IsShown(8));
    QVERIFY(!model.IndexOf(5).isValid());
    QCOMPARE(inserted.count(), 0);

    model.ShowPending();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 1);
    QCOMPARE(Dump(model), (QStringList{"1 one #5 0/0", "  2 two #6 0/0", "    4 four #8 [b] 0/0",
                                       "3 three #7 2/3"}));
    QVERIFY(model.IsShown(8));
    model.ShowPending();
    QCOMPARE(inserted.count(), 1);
}

void HeaderTreeModelTest::parentsFoundByIdentifierOrTheTopLevel() {
    CHeaderTreeModel model;
    model.Insert(0, 1, "1 a");
    model.Insert(99, 2, "2 parent unknown");
    model.Insert(1, 3, "3 under a");
    model.Insert(0, 0, "4 no identifier");
    model.Insert(4, 5, "5 zero is no parent");
    model.ShowPending();
    QCOMPARE(Dump(model), (QStringList{"1 a #1 ", "  3 under a #3 ", "2 parent unknown #2 ",
                                       "4 no identifier #0 ", "5 zero is no parent #5 "}));
    QVERIFY(!model.Contains(0));
    QVERIFY(!model.IndexOf(0).isValid());
}

void HeaderTreeModelTest::identifiersThatDoNotFollowOnAreFoundToo() {
    // Identifiers wrap after INT_MAX; a fill may also have skipped some.
    CHeaderTreeModel model;
    const std::vector<int> ids = {INT_MAX - 1, INT_MAX, 1, 2, 40};
    for (std::size_t k = 0; k < ids.size(); ++k)
        model.Insert(k ? ids[k - 1] : 0, ids[k], "x" + std::to_string(k));
    model.ShowPending();
    for (std::size_t k = 0; k < ids.size(); ++k) {
        const QModelIndex item = model.IndexOf(ids[k]);
        QVERIFY2(item.isValid(), qPrintable(QString::number(ids[k])));
        QCOMPARE(TreeItemText(item), "x" + std::to_string(k));
        QCOMPARE(CHeaderTreeModel::IdOf(item), ids[k]);
    }
    QVERIFY(!model.Contains(3));
    QVERIFY(!model.Contains(INT_MAX - 2));
}

void HeaderTreeModelTest::childOfAShownItemAppearsAtOnce() {
    CHeaderTreeModel model;
    model.Insert(0, 1, "1 a");
    model.ShowPending();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.Insert(1, 2, "2 reply");
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(0).value<QModelIndex>(), model.IndexOf(1));
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QVERIFY(model.IsShown(2));
    // A new top-level item waits for the next ShowPending, below the ones shown.
    model.Insert(0, 3, "3 b");
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.rowCount(), 1);
    model.ShowPending();
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 1);
    QCOMPARE(Dump(model), (QStringList{"1 a #1 ", "  2 reply #2 ", "3 b #3 "}));
}

void HeaderTreeModelTest::weightAndImagesChangeShownItemsOnly() {
    CHeaderTreeModel model;
    model.SetIconSource(NamedIcon);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.Insert(0, 1, "1 a");
    model.SetBold(1, true);
    model.SetImages(1, 0, 1);
    QCOMPARE(changed.count(), 0);
    model.ShowPending();

    struct Case {
        const char* what;
        std::function<void()> change;
        int emitted;
        const char* shown;
    };
    const std::vector<Case> cases = {
        {"unbold", [&] { model.SetBold(1, false); }, 1, "1 a #1 0/1"},
        {"unbold again", [&] { model.SetBold(1, false); }, 0, "1 a #1 0/1"},
        {"bold", [&] { model.SetBold(1, true); }, 1, "1 a #1 [b] 0/1"},
        {"read images", [&] { model.SetImages(1, 2, 3); }, 1, "1 a #1 [b] 2/3"},
        {"unknown item", [&] { model.SetBold(9, false); }, 0, "1 a #1 [b] 2/3"},
    };
    for (const Case& c : cases) {
        changed.clear();
        c.change();
        QVERIFY2(changed.count() == c.emitted, c.what);
        if (c.emitted)
            QVERIFY2(changed.at(0).at(0).value<QModelIndex>() == model.IndexOf(1), c.what);
        QVERIFY2(Dump(model) == QStringList{QString::fromUtf8(c.shown)}, c.what);
    }
}

void HeaderTreeModelTest::labelsAreDecodedForTheScreenOnly() {
    CHeaderTreeModel model;
    // "2 日本" in Shift_JIS, and an encoded word left in a stored subject.
    const std::string sjis = "2 \x93\xfa\x96\x7b";
    const std::string encoded = "3 =?UTF-8?B?5pel5pys?= x";
    model.Insert(0, 1, sjis);
    model.Insert(0, 2, encoded);
    model.ShowPending();
    QCOMPARE(model.IndexOf(1).data().toString(), QString::fromUtf8("2 日本"));
    QCOMPARE(TreeItemText(model.IndexOf(1)), sjis);
    QCOMPARE(model.IndexOf(2).data().toString(), QString::fromUtf8("3 日本 x"));
    QCOMPARE(TreeItemText(model.IndexOf(2)), encoded);
    QCOMPARE(model.IndexOf(2).data(kTreeItemSjisRole).toByteArray(),
             QByteArray::fromStdString(encoded));
    // No font of its own in normal weight, and no icon without a source.
    QVERIFY(!model.IndexOf(1).data(Qt::FontRole).isValid());
    QVERIFY(!model.IndexOf(1).data(Qt::DecorationRole).isValid());
}

void HeaderTreeModelTest::indexesGoBothWays() {
    CHeaderTreeModel model;
    model.Insert(0, 1, "1");
    model.Insert(1, 2, "2");
    model.Insert(1, 3, "3");
    model.Insert(3, 4, "4");
    model.ShowPending();
    const QModelIndex four = model.IndexOf(4);
    QCOMPARE(four.row(), 0);
    QCOMPARE(four.parent(), model.IndexOf(3));
    QCOMPARE(four.parent().row(), 1);
    QCOMPARE(four.parent().parent(), model.IndexOf(1));
    QVERIFY(!four.parent().parent().parent().isValid());
    QCOMPARE(model.index(1, 0, model.IndexOf(1)), model.IndexOf(3));
    QVERIFY(!model.index(2, 0, model.IndexOf(1)).isValid());
    QVERIFY(!model.index(0, 1).isValid());
    QVERIFY(!model.index(1, 0).isValid());
    QVERIFY(model.hasChildren(model.IndexOf(3)));
    QVERIFY(!model.hasChildren(four));
    QCOMPARE(model.rowCount(model.IndexOf(1)), 2);
    QCOMPARE(model.columnCount(), 1);
    QCOMPARE(model.flags(four), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
    // An index of another model names nothing here.
    CHeaderTreeModel other;
    other.Insert(0, 1, "other");
    other.ShowPending();
    QVERIFY(other.IndexOf(1).isValid());
    QVERIFY(!model.data(other.IndexOf(1)).isValid());
    QCOMPARE(model.rowCount(other.IndexOf(1)), 0);
}

void HeaderTreeModelTest::clearForgetsEverything() {
    CHeaderTreeModel model;
    model.Insert(0, 1, "1");
    model.Insert(1, 2, "2");
    model.ShowPending();
    model.Insert(0, 3, "3 waiting");
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.Clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    for (int id : {1, 2, 3})
        QVERIFY(!model.Contains(id));
    // Identifiers go on from wherever the next fill starts.
    model.Insert(0, 10, "10");
    model.Insert(10, 11, "11");
    model.ShowPending();
    QCOMPARE(Dump(model), (QStringList{"10 #10 ", "  11 #11 "}));
}

void HeaderTreeModelTest::messageIdIndexRowsArriveAtFlush() {
    CMessageIdIndexList list;
    CMessageIdIndexModel* entries = list.Entries();
    QSignalSpy inserted(entries, &QAbstractItemModel::rowsInserted);
    // "0 <a@x> ,1", then an entry with 日本 in Shift_JIS.
    const std::string second = "1 <\x93\xfa\x96\x7b@x> ,2";
    entries->Append("0 <a@x> ,1");
    entries->Append(second);
    QCOMPARE(list.count(), 2);
    QCOMPARE(entries->rowCount(), 0);
    QCOMPARE(entries->Entry(1), second);
    entries->Flush();
    entries->Flush();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(entries->rowCount(), 2);
    QCOMPARE(entries->index(1, 0).data().toString(), QString::fromUtf8("1 <日本@x> ,2"));
    QCOMPARE(entries->index(1, 0).data(CMessageIdIndexModel::kBytesRole).toByteArray(),
             QByteArray::fromStdString(second));
    QCOMPARE(entries->Entry(2), std::string());
    QCOMPARE(entries->Entry(-1), std::string());
    list.clear();
    QCOMPARE(list.count(), 0);
    QCOMPARE(entries->rowCount(), 0);
}

void HeaderTreeModelTest::messageIdIndexCurrentRow() {
    CMessageIdIndexList list;
    for (const char* entry : {"0 <a@x> ,1", "1 <b@x> ,2", "2 <c@x> ,3"})
        list.Entries()->Append(entry);
    list.Entries()->Flush();
    QCOMPARE(list.currentRow(), -1);
    list.setCurrentRow(2);
    QCOMPARE(list.currentRow(), 2);
    list.setCurrentRow(-1);
    QCOMPARE(list.currentRow(), -1);
    list.setCurrentRow(1);
    list.clear();
    QCOMPARE(list.currentRow(), -1);
}

QTEST_MAIN(HeaderTreeModelTest)
#include "HeaderTreeModelTest.moc"
