#pragma once

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

// The version information box: the program's icon, its name and version, and a button that
// closes it.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    // Dialog template number, also the window's objectName.
    enum { IDD = 100 };
    // The close button carries the OK command's ID.
    enum ControlId { IDC_BACK = 1 };

    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);

    static QString Caption();
    static QString VersionText();
};
