// The address book window, offscreen, over a real main database.

#include "settings/AddressBookDlg.h"

#include "store/AddressBook.h"
#include "store/DbTable.h"
#include "ui/DialogUnits.h"
#include "ui/TreeItems.h"

#include "../nntp/HeaderDownloadTestSupport.h"
#include "support/QtTestStrings.h"
#include "support/TestDir.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <string>
#include <vector>

namespace {

// Control, the class it must be, and the caption of the label beside it (or of itself).
struct ControlSpec {
    int id;
    const char* className;
    const char* caption;
};

const ControlSpec kControls[] = {
    {1000, "QTreeWidget", ""},         {1001, "QLineEdit", "ﾆｯｸﾈｰﾑ"},
    {1009, "QCheckBox", "ＢＯＬＤ"},   {1013, "QLineEdit", "本名"},
    {1014, "QLineEdit", "〒"},         {1015, "QLineEdit", "住所"},
    {1016, "QLineEdit", "アパート名"}, {1017, "QLineEdit", "電話番号"},
    {1023, "QLineEdit", "携帯番号"},   {1024, "QLineEdit", "ＦＡＸ"},
    {1025, "QLineEdit", "ﾎｰﾑﾍﾟｰｼﾞ"},   {1026, "QLineEdit", "ｺﾒﾝﾄ1"},
    {1027, "QLineEdit", "ｺﾒﾝﾄ2"},      {1028, "QLineEdit", "ｺﾒﾝﾄ3"},
    {1029, "QLineEdit", "ｺﾒﾝﾄ4"},      {1030, "QLineEdit", "ｺﾒﾝﾄ5"},
    {1002, "QPushButton", "保存"},     {1, "QPushButton", "閉じる"},
};

// The personal fields by the edit that shows them: crosswise for 1023 and 1024.
struct FieldBinding {
    int id;
    const char* field; // UTF-8 field name
};

const FieldBinding kBindings[] = {
    {1013, "名前"}, {1014, "〒"},   {1015, "住所"}, {1016, "アパート"}, {1017, "電話番号"},
    {1023, "FAX"},  {1024, "携帯"}, {1025, "HP"},   {1026, "REM1"},     {1027, "REM2"},
    {1028, "REM3"}, {1029, "REM4"}, {1030, "REM5"},
};

} // namespace

class AddressBookDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void window();
    void controls_data();
    void controls();
    void fillsByServer();
    void missingTableGivesAnEmptyTree_data();
    void missingTableGivesAnEmptyTree();
    void selectionShowsEveryField();
    void saveWritesEveryField();
    void posterNamesInOtherCharsetsShowDecoded();
    void boldOnAndOff_data();
    void boldOnAndOff();
    void serverItemShowsAndWritesNothing();
    void closeSavesNothing_data();
    void closeSavesNothing();

private:
    std::string Db() const { return *m_dir / "quillo.mdb"; }
    // Adds a poster as the header download does, then sets the given fields (UTF-8 names).
    void AddPoster(const std::string& address, const std::string& server,
                   const std::vector<std::pair<std::string, std::string>>& fields = {});
    std::unique_ptr<CAddressBookDlg> Open();
    template <class T> T* Control(int id) const {
        return m_dlg->findChild<T*>(QString::number(id));
    }
    QTreeWidget* Tree() const { return Control<QTreeWidget>(1000); }
    QTreeWidgetItem* Address(const QString& server, const QString& address) const;
    // "text" per item, children indented, " [b]" for bold and " [+]" for expanded.
    QStringList DumpTree() const;
    // The table's row of the address: every field from 名前 on, "|" between, Null as <null>.
    std::string Personal(const std::string& mail) const;
    std::string Shown(int id) const { return ToSjis(Control<QLineEdit>(id)->text()); }
    static std::string ToSjis(const QString& text) { return Sjis(text.toStdString()); }

    std::unique_ptr<TestDir> m_dir;
    std::unique_ptr<CAddressBookDlg> m_dlg;
};

void AddressBookDlgTest::init() {
    m_dir = std::make_unique<TestDir>();
    QVERIFY(CreateDatabaseTable("news.example.com", {"name"}, Db()));
}

void AddressBookDlgTest::cleanup() {
    m_dlg.reset();
    m_dir.reset();
}

void AddressBookDlgTest::AddPoster(const std::string& address, const std::string& server,
                                   const std::vector<std::pair<std::string, std::string>>& fields) {
    QCOMPARE(AddAddressBookEntry("nick " + address, address, server, "fj.test", Db()), 1);
    if (fields.empty())
        return;
    CDbTable table;
    QVERIFY(table.Open(kAddressBookLookupName, Db()));
    QVERIFY(table.MoveTo(table.GetRecordCount() - 1));
    QVERIFY(table.Edit());
    for (const auto& [name, value] : fields)
        QVERIFY(table.SetField(Sjis(name), Sjis(value)));
    QVERIFY(table.Update());
}

std::unique_ptr<CAddressBookDlg> AddressBookDlgTest::Open() {
    auto dlg = std::make_unique<CAddressBookDlg>(Db());
    dlg->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(dlg.get())); }();
    return dlg;
}

QTreeWidgetItem* AddressBookDlgTest::Address(const QString& server, const QString& address) const {
    for (int i = 0; i < Tree()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* s = Tree()->topLevelItem(i);
        for (int j = 0; s->text(0) == server && j < s->childCount(); ++j)
            if (s->child(j)->text(0) == address)
                return s->child(j);
    }
    return nullptr;
}

QStringList AddressBookDlgTest::DumpTree() const {
    QStringList lines;
    auto line = [](const QTreeWidgetItem* item, const QString& indent) {
        return indent + item->text(0) + (item->font(0).bold() ? " [b]" : "") +
               (item->isExpanded() ? " [+]" : "");
    };
    for (int i = 0; i < Tree()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* s = Tree()->topLevelItem(i);
        lines << line(s, "");
        for (int j = 0; j < s->childCount(); ++j)
            lines << line(s->child(j), "  ");
    }
    return lines;
}

std::string AddressBookDlgTest::Personal(const std::string& mail) const {
    std::string columns;
    for (const FieldBinding& b : kBindings)
        columns += (columns.empty() ? "\"" : ", \"") + Sjis(b.field) + "\"";
    const std::vector<std::string> rows =
        Rows(Db(), "SELECT Name, Mail, Server, \"Group\", " + columns +
                       ", BOLD FROM \"@Mail\" WHERE CAST(Mail AS TEXT) = '" + mail + "'");
    return rows.size() == 1 ? rows.front() : "<" + std::to_string(rows.size()) + " rows>";
}

void AddressBookDlgTest::window() {
    m_dlg = Open();
    QCOMPARE(m_dlg->objectName(), QStringLiteral("137"));
    QCOMPARE(m_dlg->windowTitle(), QString::fromUtf8("住所録"));
    const QSize size = DialogUnitsToPixels(m_dlg->font(), QRect(0, 0, 321, 236)).size();
    QCOMPARE(m_dlg->size(), size);
    QCOMPARE(m_dlg->minimumSize(), size);
    QCOMPARE(m_dlg->maximumSize(), size);
    QVERIFY(Control<QPushButton>(1)->isDefault());
    QVERIFY(Control<QLineEdit>(1001)->isReadOnly());
}

void AddressBookDlgTest::controls_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("caption");
    for (const ControlSpec& c : kControls)
        QTest::newRow(qPrintable(QString::number(c.id)))
            << c.id << QString::fromLatin1(c.className) << QString::fromUtf8(c.caption);
}

void AddressBookDlgTest::controls() {
    QFETCH(int, id);
    QFETCH(QString, className);
    QFETCH(QString, caption);
    m_dlg = Open();
    QWidget* control = Control<QWidget>(id);
    QVERIFY(control);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
    QVERIFY(control->isVisible());
    QVERIFY(m_dlg->rect().contains(control->geometry()));
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        shown = button->text();
    } else if (qobject_cast<QLineEdit*>(control)) {
        // The label on the same row, left of the edit.
        for (QLabel* label : m_dlg->findChildren<QLabel*>())
            if (label->geometry().right() < control->x() &&
                control->geometry().contains(control->x(), label->geometry().center().y()))
                shown = label->text();
    }
    QCOMPARE(shown, caption);
}

void AddressBookDlgTest::fillsByServer() {
    AddPoster("z@x.jp", "news.b");
    AddPoster("a@x.jp", "news.a", {{"BOLD", "YES"}});
    AddPoster("y@x.jp", "news.b", {{"BOLD", "YES"}});
    AddPoster("b@x.jp", "news.a");
    // A record whose Mail lost its comma keeps only its server item.
    AddPoster("c@x.jp", "news.c");
    {
        CDbTable table;
        QVERIFY(table.Open(kAddressBookLookupName, Db()));
        QVERIFY(table.MoveTo(4));
        QVERIFY(table.Edit());
        QVERIFY(table.SetField("Mail", "no-comma"));
        QVERIFY(table.Update());
    }
    m_dlg = Open();
    QCOMPARE(DumpTree(), (QStringList{"news.a [+]", "  a@x.jp [b]", "  b@x.jp", "news.b [+]",
                                      "  z@x.jp", "  y@x.jp [b]", "news.c [+]"}));
    QVERIFY(Tree()->selectedItems().isEmpty());
    QVERIFY(!Control<QPushButton>(1002)->isEnabled());
}

void AddressBookDlgTest::missingTableGivesAnEmptyTree_data() {
    QTest::addColumn<bool>("database");
    QTest::newRow("no table") << true;
    QTest::newRow("no database") << false;
}

void AddressBookDlgTest::missingTableGivesAnEmptyTree() {
    QFETCH(bool, database);
    if (!database)
        std::filesystem::remove(Db());
    m_dlg = Open();
    QCOMPARE(Tree()->topLevelItemCount(), 0);
    QVERIFY(!Control<QPushButton>(1002)->isEnabled());
    m_dlg->OnSave();
    QCOMPARE(std::filesystem::exists(Db()), database);
}

void AddressBookDlgTest::selectionShowsEveryField() {
    AddPoster("a@x.jp", "news.a");
    std::vector<std::pair<std::string, std::string>> fields;
    for (const FieldBinding& b : kBindings)
        fields.push_back({b.field, std::string("値 ") + b.field});
    fields.push_back({"BOLD", "YES"});
    AddPoster("b@x.jp", "news.a", fields);
    m_dlg = Open();

    Tree()->setCurrentItem(Address("news.a", "b@x.jp"));
    QCOMPARE(Shown(1001), std::string("nick b@x.jp"));
    // 1023 ("携帯番号") shows FAX and 1024 ("ＦＡＸ") shows 携帯.
    for (const FieldBinding& b : kBindings)
        QCOMPARE(Shown(b.id), Sjis(std::string("値 ") + b.field));
    QVERIFY(Control<QCheckBox>(1009)->isChecked());
    QVERIFY(Control<QPushButton>(1002)->isEnabled());

    // The first record, with nothing filled in, empties them again.
    Tree()->setCurrentItem(Address("news.a", "a@x.jp"));
    QCOMPARE(Shown(1001), std::string("nick a@x.jp"));
    for (const FieldBinding& b : kBindings)
        QCOMPARE(Shown(b.id), std::string());
    QVERIFY(!Control<QCheckBox>(1009)->isChecked());
}

void AddressBookDlgTest::saveWritesEveryField() {
    AddPoster("a@x.jp", "news.a");
    AddPoster("b@x.jp", "news.b");
    m_dlg = Open();
    Tree()->setCurrentItem(Address("news.b", "b@x.jp"));
    std::string expected = "nick b@x.jp|b@x.jp,news.b|news.b|fj.test";
    for (const FieldBinding& b : kBindings) {
        const QString typed = QString::fromUtf8("新 %1").arg(b.id);
        Control<QLineEdit>(b.id)->setText(typed);
        expected += "|" + ToSjis(typed);
    }
    Control<QCheckBox>(1009)->setChecked(true);
    // The nickname is shown only: changing it programmatically does not reach the table.
    Control<QLineEdit>(1001)->setText(QStringLiteral("changed"));
    QTest::mouseClick(Control<QPushButton>(1002), Qt::LeftButton);

    QCOMPARE(Personal("b@x.jp,news.b"), expected + "|YES");
    // In the table the number typed beside "携帯番号" is FAX, the one beside "ＦＡＸ" is 携帯.
    QCOMPARE(Rows(Db(), "SELECT FAX, \"" + Sjis("携帯") +
                            "\" FROM \"@Mail\" WHERE CAST(Server AS TEXT) = "
                            "'news.b'"),
             std::vector<std::string>{ToSjis(QString::fromUtf8("新 1023|新 1024"))});
    QCOMPARE(Personal("a@x.jp,news.a"),
             std::string("nick a@x.jp|a@x.jp,news.a|news.a|fj.test|<null>|<null>|<null>|<null>|"
                         "<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|"
                         "<null>"));

    // The tree was filled again: no selection, the fields keep their text, nothing to save.
    QCOMPARE(DumpTree(), (QStringList{"news.a [+]", "  a@x.jp", "news.b [+]", "  b@x.jp [b]"}));
    QVERIFY(Tree()->selectedItems().isEmpty());
    QCOMPARE(Control<QLineEdit>(1013)->text(), QString::fromUtf8("新 1013"));
    QVERIFY(!Control<QPushButton>(1002)->isEnabled());
}

// Names from a From in UTF-8 are stored as encoded words; the window shows them decoded and
// saving the other fields keeps them as stored.
void AddressBookDlgTest::posterNamesInOtherCharsetsShowDecoded() {
    const std::string taro = "=?UTF-8?B?5bGx55Sw5aSq6YOO?="; // 山田太郎
    const std::string bare = "=?UTF-8?B?5bGx55Sw?=";         // 山田, a From without address
    QCOMPARE(AddAddressBookEntry(taro, "taro@x.jp", "news.a", "fj.test", Db()), 1);
    QCOMPARE(AddAddressBookEntry(bare, bare, "news.a", "fj.test", Db()), 1);
    m_dlg = Open();
    QCOMPARE(DumpTree(), (QStringList{"news.a [+]", "  taro@x.jp", QString::fromUtf8("  山田")}));

    Tree()->setCurrentItem(Address("news.a", "taro@x.jp"));
    QCOMPARE(Control<QLineEdit>(1001)->text(), QString::fromUtf8("山田太郎"));
    Control<QLineEdit>(kBindings[0].id)->setText(QStringLiteral("x"));
    QTest::mouseClick(Control<QPushButton>(1002), Qt::LeftButton);
    QVERIFY(Personal("taro@x.jp,news.a").starts_with(taro + "|taro@x.jp,news.a|news.a|fj.test|"));

    Tree()->setCurrentItem(Address("news.a", QString::fromUtf8("山田")));
    QCOMPARE(Control<QLineEdit>(1001)->text(), QString::fromUtf8("山田"));
}

void AddressBookDlgTest::boldOnAndOff_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("shownBold");
    QTest::newRow("on") << "" << true << "YES" << true;
    QTest::newRow("off") << "YES" << false << "<null>" << false;
    QTest::newRow("stays on") << "yes" << true << "YES" << true;
    QTest::newRow("stays off") << "" << false << "<null>" << false;
}

void AddressBookDlgTest::boldOnAndOff() {
    QFETCH(QString, stored);
    QFETCH(bool, tick);
    QFETCH(QString, expected);
    QFETCH(bool, shownBold);
    AddPoster("a@x.jp", "news.a", {{"BOLD", stored.toStdString()}, {"HP", "h"}});
    m_dlg = Open();
    QCOMPARE(Address("news.a", "a@x.jp")->font(0).bold(), !stored.isEmpty());
    Tree()->setCurrentItem(Address("news.a", "a@x.jp"));
    QCOMPARE(Control<QCheckBox>(1009)->isChecked(), !stored.isEmpty());
    if (Control<QCheckBox>(1009)->isChecked() != tick)
        QTest::mouseClick(Control<QCheckBox>(1009), Qt::LeftButton);
    QCOMPARE(Control<QCheckBox>(1009)->isChecked(), tick);
    Control<QPushButton>(1002)->click();
    QCOMPARE(Rows(Db(), "SELECT BOLD, HP FROM \"@Mail\""),
             std::vector<std::string>{expected.toStdString() + "|h"});
    QCOMPARE(Address("news.a", "a@x.jp")->font(0).bold(), shownBold);
}

void AddressBookDlgTest::serverItemShowsAndWritesNothing() {
    // The first record of the table belongs to another server than the one selected.
    AddPoster("first@x.jp", "news.z", {{"名前", "first"}});
    AddPoster("a@x.jp", "news.a", {{"名前", "a"}});
    m_dlg = Open();
    Tree()->setCurrentItem(Address("news.a", "a@x.jp"));
    QCOMPARE(Shown(1013), std::string("a"));
    QVERIFY(Control<QPushButton>(1002)->isEnabled());

    Tree()->setCurrentItem(Tree()->topLevelItem(0));
    QCOMPARE(Tree()->topLevelItem(0)->text(0), QStringLiteral("news.a"));
    QCOMPARE(Shown(1001), std::string());
    QCOMPARE(Shown(1013), std::string());
    QVERIFY(!Control<QCheckBox>(1009)->isChecked());
    QVERIFY(!Control<QPushButton>(1002)->isEnabled());

    Control<QLineEdit>(1013)->setText(QStringLiteral("typed"));
    Control<QCheckBox>(1009)->setChecked(true);
    m_dlg->OnSave();
    QCOMPARE(
        Rows(Db(), "SELECT Mail, \"" + Sjis("名前") + "\", BOLD FROM \"@Mail\""),
        (std::vector<std::string>{"first@x.jp,news.z|first|<null>", "a@x.jp,news.a|a|<null>"}));
}

void AddressBookDlgTest::closeSavesNothing_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("閉じる") << false;
    QTest::newRow("Escape") << true;
}

void AddressBookDlgTest::closeSavesNothing() {
    QFETCH(bool, escape);
    AddPoster("a@x.jp", "news.a");
    m_dlg = Open();
    Tree()->setCurrentItem(Address("news.a", "a@x.jp"));
    QTest::keyClicks(Control<QLineEdit>(1013), QStringLiteral("typed"));
    if (escape)
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    else
        QTest::mouseClick(Control<QPushButton>(1), Qt::LeftButton);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), escape ? int(QDialog::Rejected) : int(QDialog::Accepted));
    QCOMPARE(Rows(Db(), "SELECT \"" + Sjis("名前") + "\" FROM \"@Mail\""),
             std::vector<std::string>{"<null>"});
}

QTEST_MAIN(AddressBookDlgTest)
#include "AddressBookDlgTest.moc"
