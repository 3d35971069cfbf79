#include "post/PostDlg.h"

#include "base/Progress.h"
#include "base/TempFile.h"
#include "mime/SjisConvert.h"
#include "post/BodyText.h"
#include "post/HtmlPreviewDlg.h"
#include "post/PostArticle.h"
#include "post/ReplyContext.h"
#include "post/SaveFile.h"
#include "settings/UserSettings.h"
#include "ui/DialogUnits.h"
#include "ui/HeaderField.h"
#include "ui/MultiLineText.h"
#include "ui/PumpMessages.h"
#include "ui/SjisText.h"
#include "ui/UiSeam.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <cstdio>

namespace {

// Size of the window and its controls in dialog units.
constexpr int kDialogWidth = 329;
constexpr int kDialogHeight = 255;
constexpr QRect kCancelRect(238, 5, 40, 14);
constexpr QRect kPostRect(282, 5, 40, 14);
constexpr QRect kServerLabelRect(7, 26, 42, 8);
constexpr QRect kServerRect(50, 24, 92, 12);
constexpr QRect kNewsgroupLabelRect(146, 26, 72, 8);
constexpr QRect kNewsgroupRect(220, 24, 102, 12);
constexpr QRect kReplyLabelRect(7, 42, 42, 8);
constexpr QRect kReplySubjectRect(50, 40, 160, 12);
constexpr QRect kReferencesRect(213, 40, 109, 12);
constexpr QRect kSubjectLabelRect(7, 58, 42, 8);
constexpr QRect kSubjectRect(50, 56, 272, 12);
constexpr QRect kPreviewRect(7, 73, 52, 14);
constexpr QRect kStripTagsRect(62, 73, 56, 14);
constexpr QRect kHtmlRect(124, 75, 104, 10);
constexpr QRect kLoadRect(238, 73, 40, 14);
constexpr QRect kSaveRect(282, 73, 40, 14);
constexpr QRect kBodyRect(7, 91, 315, 148);
constexpr QRect kStatusRect(7, 242, 315, 9);

// Statics carry no control ID of their own.
constexpr const char* kStaticName = "-1";

constexpr char kHtmlWarning[] =
    "ＨＴＭＬ形式で送信すると対応していないニュースリーダーでは表示がおか"
    "しくなることがありますがよろしいですか？";
constexpr char kHtmlWarningCaption[] = "ＨＴＭＬ形式での送信注意事項";
constexpr char kConfirmPost[] = "投稿してもよろしいですか？";
constexpr char kConfirmPostCaption[] = "記事投稿";
constexpr char kSaveCaption[] = "一時保存";
constexpr char kSaveName[] = "*.TXT";
constexpr char kLoadCaption[] = "Open Text File";
constexpr char kLoadName[] = "*.txt";
constexpr char kTextFilesFilter[] = "Text Files (*.txt *.TXT)";

// Handlers must not let an exception (out of memory on a huge body) reach Qt's event loop;
// whatever the user typed stays in the window.
template <class F> void Guarded(F&& handler) noexcept {
    try {
        handler();
    } catch (...) {
    }
}

} // namespace

// The status line of the window and its message boxes, for the posting conversation.
class CPostDlg::CPostingView final : public IProgress, public IPostView {
public:
    explicit CPostingView(CPostDlg& dlg) : m_dlg(dlg) {}
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override { ::PumpMessages(); }
    void SetStatusText(const std::string& utf8) override {
        m_dlg.m_status->setText(QString::fromStdString(utf8));
    }
    void ShowMessage(const std::string& utf8) override {
        ::ShowMessage(&m_dlg, QString::fromStdString(utf8), MsgButtons::Ok, MsgIcon::Warning);
    }
    void ShowReply(const std::string& bytes) override {
        ::ShowMessage(&m_dlg, FromSjis(bytes), MsgButtons::Ok, MsgIcon::Warning);
    }

private:
    CPostDlg& m_dlg;
};

CPostDlg::CPostDlg(CPostContext context, QWidget* parent)
    : QDialog(parent), m_context(std::move(context)) {
    setObjectName(QString::number(IDD));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowTitle(Caption());
    CreateControls();
}

CPostDlg::~CPostDlg() = default;

QString CPostDlg::Caption() {
    return QString::fromUtf8("ニュースを投稿");
}

void CPostDlg::CreateControls() {
    auto place = [this](QWidget* w, const QString& name, const QRect& du) {
        w->setObjectName(name);
        w->setGeometry(DialogUnitsToPixels(font(), du));
    };
    auto button = [&](int id, const char* caption, const QRect& du) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setAutoDefault(false);
        place(b, QString::number(id), du);
        return b;
    };
    auto label = [&](const char* text, const QRect& du) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setTextFormat(Qt::PlainText);
        place(l, QString::fromLatin1(kStaticName), du);
    };
    auto field = [&](int id, const QRect& du, bool readOnly) {
        auto* e = new QLineEdit(this);
        e->setReadOnly(readOnly);
        place(e, QString::number(id), du);
        return e;
    };

    // In the order of the window's tab sequence.
    m_cancel = button(IDC_CANCEL, "ｷｬﾝｾﾙ", kCancelRect);
    m_post = button(IDC_POST, "投稿", kPostRect);
    label("サーバー：", kServerLabelRect);
    m_server = field(IDC_SERVER, kServerRect, true);
    label("ニュースグループ：", kNewsgroupLabelRect);
    m_newsgroup = field(IDC_NEWSGROUP, kNewsgroupRect, true);
    label("返信元", kReplyLabelRect);
    m_replySubject = field(IDC_REPLY_SUBJECT, kReplySubjectRect, true);
    m_references = field(IDC_REFERENCES, kReferencesRect, true);
    label("タイトル：", kSubjectLabelRect);
    m_subject = field(IDC_SUBJECT, kSubjectRect, false);
    m_preview = button(IDC_PREVIEW, "ＨＴＭＬ表示", kPreviewRect);
    m_stripTags = button(IDC_STRIP_TAGS, "HTMLタグ削除", kStripTagsRect);
    m_html = new QCheckBox(QString::fromUtf8("ＨＴＭＬヘッダーで送信"), this);
    place(m_html, QString::number(IDC_HTML), kHtmlRect);
    m_load = button(IDC_LOAD, "読み込み", kLoadRect);
    m_save = button(IDC_SAVE, "一時保存", kSaveRect);
    m_body = new QPlainTextEdit(this);
    place(m_body, QString::number(IDC_BODY), kBodyRect);
    // Enter makes a new line; Tab leaves the body like any other field of a dialog.
    m_body->setTabChangesFocus(true);
    m_body->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    place(m_status, QString::number(IDC_STATUS), kStatusRect);

    setFixedSize(DialogUnitsToPixels(font(), QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    connect(m_post, &QPushButton::clicked, this, [this] { Guarded([this] { OnOK(); }); });
    connect(m_cancel, &QPushButton::clicked, this, &CPostDlg::reject);
    connect(m_html, &QCheckBox::clicked, this,
            [this](bool checked) { Guarded([&] { OnHtmlClicked(checked); }); });
    connect(m_preview, &QPushButton::clicked, this, [this] { Guarded([this] { OnPreview(); }); });
    connect(m_stripTags, &QPushButton::clicked, this,
            [this] { Guarded([this] { OnStripTags(); }); });
    connect(m_save, &QPushButton::clicked, this, [this] { Guarded([this] { OnSave(); }); });
    connect(m_load, &QPushButton::clicked, this, [this] { Guarded([this] { OnLoad(); }); });
}

void CPostDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_initialised) {
        m_initialised = true;
        Guarded([this] { OnInitDialog(); });
    }
}

void CPostDlg::OnInitDialog() {
    m_server->setText(FromSjis(m_context.server));
    m_newsgroup->setText(FromSjis(m_context.newsgroup));
    // A subject in another charset shows decoded, and goes out as it came unless edited.
    SetHeaderFieldText(m_replySubject, m_context.replySubject);
    m_references->setText(FromSjis(m_context.references));
    if (!m_context.replySubject.empty())
        SetHeaderFieldText(m_subject, ReplySubject(m_context.replySubject));
    m_subject->setFocus();
    if (IsHtmlPreload(m_context.preloadFile))
        m_html->setChecked(true);
    if (m_context.preloadFile.empty())
        return;
    if (m_context.preloadCharset.empty() && m_context.preloadTransfer == CTransfer::None)
        LoadBodyFromFile(m_context.preloadFile, !m_html->isChecked());
    else
        LoadBodyFromPart(m_context.preloadFile, m_context.preloadCharset, m_context.preloadTransfer,
                         !m_html->isChecked());
}

std::string CPostDlg::BodyText() const {
    return ToSjisLines(m_body->toPlainText());
}

void CPostDlg::SetBodyText(const std::string& sjis) {
    m_body->setPlainText(FromSjisLines(sjis));
}

bool CPostDlg::LoadBodyFromFile(const std::string& path, bool quote) {
    const std::optional<std::string> content = ReadTextFile(path);
    if (!content)
        return false;
    SetBodyText(LoadBodyText(*content, quote));
    return true;
}

void CPostDlg::LoadBodyFromPart(const std::string& path, const std::string& charset,
                                CTransfer transfer, bool quote) {
    const CSjisText text = PartFileToSjis(path, charset, transfer);
    SetBodyText(LoadBodyText(text.m_text, quote));
    m_status->setText(QString::fromStdString(ReplacementNote(text.m_replaced)));
}

std::string CPostDlg::FieldText(const QLineEdit* field) const {
    return HeaderFieldText(field);
}

void CPostDlg::OnHtmlClicked(bool checked) {
    if (!checked)
        return;
    if (Ui().MessageBox(this, QString::fromUtf8(kHtmlWarning),
                        QString::fromUtf8(kHtmlWarningCaption), MsgButtons::OkCancel,
                        MsgIcon::Warning) != MsgAnswer::Ok)
        m_html->setChecked(false);
}

void CPostDlg::OnPreview() {
    const std::string path = GetTempFile(m_html->isChecked() ? ".htm" : ".txt");
    if (path.empty())
        return;
    if (!WriteTextFile(path, BodyText())) {
        std::remove(path.c_str());
        return;
    }
    CHtmlPreviewDlg preview(path, this);
    preview.exec();
}

void CPostDlg::OnStripTags() {
    SetBodyText(LoadBodyText(WithFinalLineBreak(StripHtmlTags(BodyText())), false));
    m_html->setChecked(false);
}

void CPostDlg::OnSave() {
    const QString file =
        Ui().GetSaveFileName(this, QString::fromUtf8(kSaveCaption), QString::fromUtf8(kSaveName),
                             QString::fromUtf8(kTextFilesFilter));
    if (file.isEmpty())
        return;
    // A file that cannot be written is not reported.
    WriteTextFile(
        QFile::encodeName(file).toStdString(),
        SaveFileBytes({FieldText(m_server), FieldText(m_newsgroup), FieldText(m_replySubject),
                       FieldText(m_references), FieldText(m_subject)},
                      BodyText()));
}

void CPostDlg::OnLoad() {
    const QString file =
        Ui().GetOpenFileName(this, QString::fromUtf8(kLoadCaption), QString::fromUtf8(kLoadName),
                             QString::fromUtf8(kTextFilesFilter));
    if (file.isEmpty())
        return;
    const std::optional<std::string> bytes = ReadTextFile(QFile::encodeName(file).toStdString());
    if (!bytes)
        return;
    const CSaveFile saved = ParseSaveFile(*bytes);
    QLineEdit* fields[kSaveFileFields] = {m_server, m_newsgroup, m_replySubject, m_references,
                                          m_subject};
    for (std::size_t i = 0; i < kSaveFileFields; ++i)
        if (saved.fields[i])
            SetHeaderFieldText(fields[i], *saved.fields[i]);
    SetBodyText(saved.body);
}

void CPostDlg::SetPostingButtonsEnabled(bool enabled) {
    m_post->setEnabled(enabled);
    m_cancel->setEnabled(enabled);
    m_save->setEnabled(enabled);
    m_load->setEnabled(enabled);
}

void CPostDlg::OnOK() {
    if (m_posting)
        return;
    if (Ui().MessageBox(this, QString::fromUtf8(kConfirmPost),
                        QString::fromUtf8(kConfirmPostCaption), MsgButtons::OkCancel,
                        MsgIcon::Question) != MsgAnswer::Ok)
        return;

    PostOutcome outcome = PostOutcome::NotAccepted;
    {
        // The window returns to rest on every way out, an exception included.
        struct Posting {
            CPostDlg& dlg;
            explicit Posting(CPostDlg& d) : dlg(d) {
                dlg.m_posting = true;
                dlg.SetPostingButtonsEnabled(false);
            }
            ~Posting() {
                dlg.SetPostingButtonsEnabled(true);
                dlg.m_status->clear();
                dlg.m_posting = false;
            }
        } posting(*this);

        const CUserSettings user = ReadUserSettings(m_context.settingsPath);
        CPostInput input;
        input.server = FieldText(m_server);
        input.newsgroups = FieldText(m_newsgroup);
        input.subject = FieldText(m_subject);
        input.body = BodyText();
        input.html = m_html->isChecked();
        // The References value is the reply's own, whatever a loaded draft shows in its field.
        input.references = m_context.references;
        input.name = user.name;
        input.email = user.email;
        input.signature = user.signature;

        CPostingView view(*this);
        const auto post = [&] { outcome = PostArticle(input, view, view); };
        if (m_postingScope)
            m_postingScope(post);
        else
            post();
    }
    if (outcome == PostOutcome::NoSubject)
        m_subject->setFocus();
    else if (outcome == PostOutcome::Posted)
        accept();
}

void CPostDlg::reject() {
    if (m_posting)
        return;
    QDialog::reject();
}
