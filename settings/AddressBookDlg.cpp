#include "settings/AddressBookDlg.h"

#include "ui/DialogUnits.h"
#include "ui/HeaderField.h"
#include "ui/SjisText.h"
#include "ui/TreeItems.h"

#include <QByteArray>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace {

constexpr int kDialogWidth = 321;
constexpr int kDialogHeight = 236;

// The fields' column: labels, then their edits, one row every kRowStep units.
constexpr int kLabelX = 150;
constexpr int kLabelWidth = 50;
constexpr int kEditX = 202;
constexpr int kEditWidth = 112;
constexpr int kTop = 7;
constexpr int kRowStep = 14;
constexpr int kEditHeight = 12;

// Statics carry no control ID of their own.
constexpr const char* kStaticName = "-1";

// A stored field holds at most this many characters.
constexpr int kFieldMaxLength = 255;

// Item data: the record's position (0 for a server item, which stands for no record) and the
// Mail value the record held when the tree was filled.
constexpr int kRecordRole = Qt::UserRole;
constexpr int kMailRole = Qt::UserRole + 1;

} // namespace

CAddressBookDlg::CAddressBookDlg(const std::string& databasePath, QWidget* parent)
    : QDialog(parent), m_databasePath(databasePath) {
    setObjectName(QString::number(IDD));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowTitle(Caption());
    CreateControls();
    FillAddressTree();
}

CAddressBookDlg::~CAddressBookDlg() = default;

QString CAddressBookDlg::Caption() {
    return QString::fromUtf8("住所録");
}

void CAddressBookDlg::CreateControls() {
    auto place = [this](QWidget* w, const QString& name, const QRect& du) {
        w->setObjectName(name);
        w->setGeometry(DialogUnitsToPixels(font(), du));
    };
    auto label = [&](const char* caption, int row) {
        auto* l = new QLabel(QString::fromUtf8(caption), this);
        l->setTextFormat(Qt::PlainText);
        place(l, QString::fromLatin1(kStaticName),
              QRect(kLabelX, kTop + row * kRowStep + 2, kLabelWidth, 8));
    };
    auto edit = [&](int id, const char* caption, int row, int width = kEditWidth) {
        label(caption, row);
        auto* e = new QLineEdit(this);
        place(e, QString::number(id), QRect(kEditX, kTop + row * kRowStep, width, kEditHeight));
        e->setMaxLength(kFieldMaxLength);
        return e;
    };

    m_tree = new QTreeWidget(this);
    place(m_tree, QString::number(IDC_TREE), QRect(7, 7, 137, 222));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    // One line of text per row; this spares the tree measuring each of a long list.
    m_tree->setUniformRowHeights(true);

    m_nickname = edit(IDC_NICKNAME, "ﾆｯｸﾈｰﾑ", 0, 70);
    m_nickname->setReadOnly(true);
    m_bold = new QCheckBox(QString::fromUtf8("ＢＯＬＤ"), this);
    place(m_bold, QString::number(IDC_BOLD), QRect(kEditX + 74, kTop + 1, 38, 10));
    m_fullName = edit(IDC_FULL_NAME, "本名", 1);
    m_postalCode = edit(IDC_POSTAL_CODE, "〒", 2, 40);
    m_address = edit(IDC_ADDRESS, "住所", 3);
    m_building = edit(IDC_BUILDING, "アパート名", 4);
    m_phone = edit(IDC_PHONE, "電話番号", 5);
    // Crosswise, as stored address books hold these two numbers.
    m_fax = edit(IDC_MOBILE_LABELLED, "携帯番号", 6);
    m_mobile = edit(IDC_FAX_LABELLED, "ＦＡＸ", 7);
    m_homePage = edit(IDC_HOME_PAGE, "ﾎｰﾑﾍﾟｰｼﾞ", 8);
    const char* const remarkLabels[] = {"ｺﾒﾝﾄ1", "ｺﾒﾝﾄ2", "ｺﾒﾝﾄ3", "ｺﾒﾝﾄ4", "ｺﾒﾝﾄ5"};
    for (int i = 0; i < 5; ++i)
        m_remarks[i] = edit(IDC_REM1 + i, remarkLabels[i], 9 + i);

    m_save = new QPushButton(QString::fromUtf8("保存"), this);
    place(m_save, QString::number(IDC_SAVE), QRect(202, 215, 50, 14));
    m_close = new QPushButton(QString::fromUtf8("閉じる"), this);
    place(m_close, QString::number(IDC_CLOSE), QRect(264, 215, 50, 14));
    m_close->setDefault(true);
    m_save->setEnabled(false);

    setFixedSize(DialogUnitsToPixels(font(), QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CAddressBookDlg::OnSelchangedTree);
    connect(m_save, &QPushButton::clicked, this, &CAddressBookDlg::OnSave);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
}

void CAddressBookDlg::FillAddressTree() {
    m_tree->clear();
    std::vector<CAddressServer> servers;
    ReadAddressBookList(m_databasePath, servers);

    QFont bold = m_tree->font();
    bold.setBold(true);
    // Items are made outside the tree and handed over at once: a tree lays out all its rows
    // again whenever rows are added.
    QList<QTreeWidgetItem*> top;
    top.reserve(static_cast<qsizetype>(servers.size()));
    for (const CAddressServer& server : servers) {
        auto* serverItem = new QTreeWidgetItem;
        SetTreeItemText(serverItem, server.m_server);
        serverItem->setData(0, kRecordRole, 0);
        QList<QTreeWidgetItem*> children;
        children.reserve(static_cast<qsizetype>(server.m_addresses.size()));
        for (const CAddressItem& address : server.m_addresses) {
            auto* item = new QTreeWidgetItem;
            // A poster without an address is listed by name, maybe an encoded word.
            SetHeaderItemText(item, address.m_address);
            item->setData(0, kRecordRole, address.m_ref.m_record);
            item->setData(0, kMailRole, QByteArray::fromStdString(address.m_ref.m_mail));
            if (address.m_bold)
                item->setFont(0, bold);
            children.append(item);
        }
        serverItem->addChildren(children);
        top.append(serverItem);
    }
    m_tree->addTopLevelItems(top);
    for (QTreeWidgetItem* serverItem : std::as_const(top))
        serverItem->setExpanded(true);
}

void CAddressBookDlg::OnSelchangedTree() {
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    const QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.front();
    // A server item stands for no record: nothing is shown that "保存" could write anywhere.
    CAddressRef ref;
    if (item && item->parent()) {
        ref.m_record = item->data(0, kRecordRole).toInt();
        ref.m_mail = item->data(0, kMailRole).toByteArray().toStdString();
    }
    CAddressDetails details;
    if (ref.m_record < 0 || !ReadAddressDetails(m_databasePath, ref, details))
        ref = CAddressRef();
    m_shown = ref;
    ShowDetails(details);
    m_save->setEnabled(m_shown.m_record >= 0);
}

void CAddressBookDlg::OnSave() {
    if (m_shown.m_record < 0)
        return;
    if (!WriteAddressDetails(m_databasePath, m_shown, ControlDetails()))
        return;
    // The rebuilt tree has no selection; the fields keep what they show, with nothing to save.
    m_shown = CAddressRef();
    m_save->setEnabled(false);
    const QSignalBlocker quiet(m_tree);
    FillAddressTree();
}

void CAddressBookDlg::ShowDetails(const CAddressDetails& details) {
    // The name as the poster's From gave it: encoded words of other charsets shown decoded, and
    // kept as stored unless edited.
    SetHeaderFieldText(m_nickname, details.m_name);
    m_fullName->setText(FromSjis(details.m_fullName));
    m_postalCode->setText(FromSjis(details.m_postalCode));
    m_address->setText(FromSjis(details.m_address));
    m_building->setText(FromSjis(details.m_building));
    m_phone->setText(FromSjis(details.m_phone));
    m_fax->setText(FromSjis(details.m_fax));
    m_mobile->setText(FromSjis(details.m_mobile));
    m_homePage->setText(FromSjis(details.m_homePage));
    for (int i = 0; i < 5; ++i)
        m_remarks[i]->setText(FromSjis(details.m_remarks[i]));
    m_bold->setChecked(details.m_bold);
}

CAddressDetails CAddressBookDlg::ControlDetails() const {
    CAddressDetails details;
    details.m_name = HeaderFieldText(m_nickname);
    details.m_fullName = ToSjis(m_fullName->text());
    details.m_postalCode = ToSjis(m_postalCode->text());
    details.m_address = ToSjis(m_address->text());
    details.m_building = ToSjis(m_building->text());
    details.m_phone = ToSjis(m_phone->text());
    details.m_fax = ToSjis(m_fax->text());
    details.m_mobile = ToSjis(m_mobile->text());
    details.m_homePage = ToSjis(m_homePage->text());
    for (int i = 0; i < 5; ++i)
        details.m_remarks[i] = ToSjis(m_remarks[i]->text());
    details.m_bold = m_bold->isChecked();
    return details;
}
