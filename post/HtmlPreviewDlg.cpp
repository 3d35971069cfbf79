#include "post/HtmlPreviewDlg.h"

#include "ui/DialogUnits.h"
#include "viewer/HtmlViewCtl.h"

#include <QFrame>
#include <QVBoxLayout>
#include <cstdio>

namespace {

constexpr int kDialogWidth = 321;
constexpr int kDialogHeight = 214;
constexpr const char* kViewName = "HTML2";

} // namespace

CHtmlPreviewDlg::CHtmlPreviewDlg(std::string path, QWidget* parent)
    : QDialog(parent), m_path(std::move(path)) {
    setObjectName(QString::number(IDD));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowTitle(Caption());
    setFixedSize(DialogUnitsToPixels(font(), QRect(0, 0, kDialogWidth, kDialogHeight)).size());

    // A bordered view over the whole client area.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    layout->addWidget(frame);
    auto* inner = new QVBoxLayout(frame);
    inner->setContentsMargins(1, 1, 1, 1);
    m_view = new CHtmlViewCtl(frame);
    m_view->setObjectName(QString::fromLatin1(kViewName));
    inner->addWidget(m_view);

    m_view->ShowPartFile(m_path);
}

CHtmlPreviewDlg::~CHtmlPreviewDlg() {
    // The view goes first, so nothing reads the file any more.
    delete m_view;
    m_view = nullptr;
    if (!m_path.empty())
        std::remove(m_path.c_str());
}

QString CHtmlPreviewDlg::Caption() {
    return QString::fromUtf8("ＨＴＭＬプレビュー");
}
