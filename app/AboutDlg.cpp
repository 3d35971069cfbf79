#include "app/AboutDlg.h"

#include "ui/DialogUnits.h"

#include <QLabel>
#include <QPushButton>

namespace {

// Size of the box and its controls in dialog units.
constexpr int kDialogWidth = 217;
constexpr int kDialogHeight = 55;
constexpr QRect kIconRect(11, 17, 20, 20);
constexpr QRect kVersionRect(40, 10, 119, 8);
constexpr QRect kEditionRect(40, 25, 119, 8);
constexpr QRect kBackRect(178, 7, 32, 14);

// Statics carry no control ID of their own.
constexpr const char* kStaticName = "-1";

} // namespace

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(IDD));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowTitle(Caption());
    auto map = [this](const QRect& du) { return DialogUnitsToPixels(font(), du); };

    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QString::fromLatin1(kStaticName));
    const QRect iconRect = map(kIconRect);
    iconLabel->setGeometry(QRect(iconRect.topLeft(), QSize(32, 32)));
    iconLabel->setPixmap(icon.pixmap(32, 32));

    auto* version = new QLabel(VersionText(), this);
    version->setObjectName(QString::fromLatin1(kStaticName));
    version->setTextFormat(Qt::PlainText);
    version->setGeometry(map(kVersionRect));

    auto* edition = new QLabel(QStringLiteral("Linux Edition"), this);
    edition->setObjectName(QString::fromLatin1(kStaticName));
    edition->setTextFormat(Qt::PlainText);
    edition->setGeometry(map(kEditionRect));

    auto* back = new QPushButton(QString::fromUtf8("戻る"), this);
    back->setObjectName(QString::number(IDC_BACK));
    back->setGeometry(map(kBackRect));
    back->setDefault(true);
    connect(back, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(map(QRect(0, 0, kDialogWidth, kDialogHeight)).size());
}

QString CAboutDlg::Caption() {
    return QString::fromUtf8("QUILLOのﾊﾞｰｼﾞｮﾝ情報");
}

QString CAboutDlg::VersionText() {
    return QStringLiteral("QUILLO Version 1.01");
}
