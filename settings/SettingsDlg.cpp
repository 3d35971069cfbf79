#include "settings/SettingsDlg.h"

#include "settings/UserSettings.h"
#include "ui/DialogUnits.h"
#include "ui/MultiLineText.h"
#include "ui/SjisText.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

// Size of the window and its controls in dialog units.
constexpr int kDialogWidth = 227;
constexpr int kDialogHeight = 122;
constexpr QRect kNameLabelRect(7, 9, 58, 8);
constexpr QRect kNameRect(67, 7, 153, 13);
constexpr QRect kEmailLabelRect(7, 26, 58, 8);
constexpr QRect kEmailRect(67, 24, 153, 13);
constexpr QRect kSignatureLabelRect(7, 43, 58, 8);
constexpr QRect kSignatureRect(67, 41, 153, 55);
constexpr QRect kOkRect(116, 101, 50, 14);
constexpr QRect kCancelRect(170, 101, 50, 14);

// Statics carry no control ID of their own.
constexpr const char* kStaticName = "-1";

} // namespace

CSettingsDlg::CSettingsDlg(const std::string& settingsPath, QWidget* parent)
    : QDialog(parent), m_settingsPath(settingsPath) {
    setObjectName(QString::number(IDD));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowTitle(Caption());
    CreateControls();
    OnInitDialog();
}

QString CSettingsDlg::Caption() {
    return QString::fromUtf8("環境設定");
}

void CSettingsDlg::CreateControls() {
    auto place = [this](QWidget* w, const QString& name, const QRect& du) {
        w->setObjectName(name);
        w->setGeometry(DialogUnitsToPixels(font(), du));
    };
    auto label = [&](const char* text, const QRect& du) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setTextFormat(Qt::PlainText);
        place(l, QString::fromLatin1(kStaticName), du);
    };

    // In the order of the window's tab sequence.
    label("名前", kNameLabelRect);
    m_name = new QLineEdit(this);
    place(m_name, QString::number(IDC_NAME), kNameRect);
    label("メールアドレス", kEmailLabelRect);
    m_email = new QLineEdit(this);
    place(m_email, QString::number(IDC_EMAIL), kEmailRect);
    label("署名", kSignatureLabelRect);
    m_signature = new QPlainTextEdit(this);
    place(m_signature, QString::number(IDC_SIGNATURE), kSignatureRect);
    // Enter starts a new line; Tab moves on to the buttons.
    m_signature->setTabChangesFocus(true);
    m_ok = new QPushButton(QString::fromUtf8("設定"), this);
    place(m_ok, QString::number(IDC_OK), kOkRect);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QString::fromUtf8("ｷｬﾝｾﾙ"), this);
    place(m_cancel, QString::number(IDC_CANCEL), kCancelRect);

    setFixedSize(DialogUnitsToPixels(font(), QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    connect(m_name, &QLineEdit::textChanged, this, &CSettingsDlg::OnChangeNameOrEmail);
    connect(m_email, &QLineEdit::textChanged, this, &CSettingsDlg::OnChangeNameOrEmail);
    connect(m_ok, &QPushButton::clicked, this, &CSettingsDlg::OnOK);
    connect(m_cancel, &QPushButton::clicked, this, &CSettingsDlg::reject);
}

void CSettingsDlg::OnInitDialog() {
    m_ok->setEnabled(false);
    const CUserSettings settings = ReadUserSettings(m_settingsPath);
    m_name->setText(FromSjis(settings.name));
    m_email->setText(FromSjis(settings.email));
    m_signature->setPlainText(FromSjisLines(settings.signature));
}

void CSettingsDlg::OnChangeNameOrEmail() {
    m_ok->setEnabled(!m_name->text().isEmpty() && !m_email->text().isEmpty());
}

void CSettingsDlg::OnOK() {
    // A write that fails is not reported: the window closes as after any "設定".
    WriteUserSettings(m_settingsPath, {ToSjis(m_name->text()), ToSjis(m_email->text()),
                                       ToSjisLines(m_signature->toPlainText())});
    accept();
}
