#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The settings window: the poster's name, e-mail address and signature. "設定" is enabled only
// while both the name and the address hold something; it writes all three to the settings file
// and closes with Accepted. "ｷｬﾝｾﾙ" and the close box write nothing.
class CSettingsDlg : public QDialog {
    Q_OBJECT

public:
    // Dialog template number, also the window's objectName.
    enum { IDD = 131 };
    enum ControlId {
        IDC_OK = 1,
        IDC_CANCEL = 2,
        IDC_EMAIL = 1001,
        IDC_NAME = 1013,
        IDC_SIGNATURE = 1014,
    };

    explicit CSettingsDlg(const std::string& settingsPath, QWidget* parent = nullptr);

    static QString Caption();

    // "設定": saves the three values, then closes.
    void OnOK();

private:
    void CreateControls();
    void OnInitDialog();
    // The enable rule of "設定".
    void OnChangeNameOrEmail();

    std::string m_settingsPath;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_email = nullptr;
    QPlainTextEdit* m_signature = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
