#pragma once

#include <QDialog>
#include <string>

class CHtmlViewCtl;

// Shows the body of the article in progress, written to a file of the private temporary
// directory, in the same view that shows articles, as safe as it is there: scripts off, nothing
// loaded from the network, links opened in the user's browser. The file is deleted when the
// window goes.
class CHtmlPreviewDlg : public QDialog {
    Q_OBJECT

public:
    // Dialog template number, also the window's objectName.
    enum { IDD = 146 };

    // path: a ".htm" or ".txt" file of the private temporary directory, owned by the window
    // from now on.
    explicit CHtmlPreviewDlg(std::string path, QWidget* parent = nullptr);
    ~CHtmlPreviewDlg() override;

    static QString Caption();
    const std::string& FilePath() const { return m_path; }
    CHtmlViewCtl* View() const { return m_view; }

private:
    std::string m_path;
    CHtmlViewCtl* m_view = nullptr;
};
