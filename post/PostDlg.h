#pragma once

#include "mime/Charset.h"

#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QShowEvent;

// What the opener gives the compose window: where the article goes and what it answers.
struct CPostContext {
    std::string server;       // host name: the server field, the connection, the Path value
    std::string newsgroup;    // the newsgroup field and the Newsgroups value
    std::string replySubject; // empty for a new article
    std::string references;   // the References value; empty for a new article
    std::string settingsPath; // quillo.ini, for NAME, EMAIL and SIG
    std::string preloadFile;  // the part file to quote; empty for none
    // How the preload file's text is read: its charset (empty: Shift_JIS) and what its transfer
    // encoding left in it. Text of another charset is quoted converted to Shift_JIS.
    std::string preloadCharset;
    CTransfer preloadTransfer = CTransfer::None;
};

// The compose window: writes a new article or a reply as plain text or as HTML, previews it,
// strips its tags, saves and loads it, and posts it. exec() gives Accepted (1) after a
// successful post and Rejected (0) after "ｷｬﾝｾﾙ" or the close box.
class CPostDlg : public QDialog {
    Q_OBJECT

public:
    // Dialog template number, also the window's objectName.
    enum { IDD = 130 };
    enum ControlId {
        IDC_POST = 1,
        IDC_CANCEL = 2,
        IDC_PREVIEW = 1002,
        IDC_STRIP_TAGS = 1006,
        IDC_HTML = 1009,
        IDC_SAVE = 1010,
        IDC_LOAD = 1011,
        IDC_SERVER = 1013,
        IDC_NEWSGROUP = 1014,
        IDC_REPLY_SUBJECT = 1015,
        IDC_REFERENCES = 1016,
        IDC_SUBJECT = 1017,
        IDC_BODY = 1030,
        IDC_STATUS = 1032,
    };

    explicit CPostDlg(CPostContext context, QWidget* parent = nullptr);
    ~CPostDlg() override;

    static QString Caption();

    // Runs around the posting conversation, which it must call: the main window puts its busy
    // state around it. Without one, the conversation simply runs.
    using PostingScope = std::function<void(const std::function<void()>& post)>;
    void SetPostingScope(PostingScope scope) { m_postingScope = std::move(scope); }

    // The body as Shift_JIS with CR LF between lines, and back.
    std::string BodyText() const;
    void SetBodyText(const std::string& sjis);
    // Replaces the body with the lines of the file (LoadBodyText); false, with the body
    // unchanged, when the file cannot be read.
    bool LoadBodyFromFile(const std::string& path, bool quote);
    // The same for a part file read as charset and transfer say, converted to Shift_JIS; the
    // status line tells how many characters Shift_JIS could not hold.
    void LoadBodyFromPart(const std::string& path, const std::string& charset, CTransfer transfer,
                          bool quote);

    // The handlers.
    void OnOK();
    void OnHtmlClicked(bool checked);
    void OnPreview();
    void OnStripTags();
    void OnSave();
    void OnLoad();
    // "ｷｬﾝｾﾙ", Escape and the close box; ignored while an article is being posted.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    class CPostingView;

    void CreateControls();
    void OnInitDialog();
    void SetPostingButtonsEnabled(bool enabled);
    std::string FieldText(const QLineEdit* field) const;

    CPostContext m_context;
    PostingScope m_postingScope;
    bool m_initialised = false;
    bool m_posting = false;

    QPushButton* m_post = nullptr;
    QPushButton* m_cancel = nullptr;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_newsgroup = nullptr;
    QLineEdit* m_replySubject = nullptr;
    QLineEdit* m_references = nullptr;
    QLineEdit* m_subject = nullptr;
    QPushButton* m_preview = nullptr;
    QPushButton* m_stripTags = nullptr;
    QCheckBox* m_html = nullptr;
    QPushButton* m_load = nullptr;
    QPushButton* m_save = nullptr;
    QPlainTextEdit* m_body = nullptr;
    QLabel* m_status = nullptr;
};
