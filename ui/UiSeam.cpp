#include "ui/UiSeam.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace {

class CQtDialogs final : public CUiSeam {
public:
    MsgAnswer MessageBox(QWidget* parent, const QString& text, const QString& caption,
                         MsgButtons buttons, MsgIcon icon) override {
        QMessageBox box(parent);
        box.setWindowTitle(caption.isEmpty() ? QString::fromUtf8(kMessageCaption) : caption);
        box.setText(text);
        box.setIcon(ToQtIcon(icon));

        // Japanese button texts, as the rest of the window speaks Japanese.
        QAbstractButton* ok = nullptr;
        QAbstractButton* yes = nullptr;
        QAbstractButton* no = nullptr;
        QAbstractButton* cancel = nullptr;
        switch (buttons) {
        case MsgButtons::Ok:
            ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
            box.setEscapeButton(ok);
            break;
        case MsgButtons::OkCancel:
            ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
            cancel = box.addButton(QString::fromUtf8("キャンセル"), QMessageBox::RejectRole);
            break;
        case MsgButtons::YesNo:
            yes = box.addButton(QString::fromUtf8("はい(&Y)"), QMessageBox::YesRole);
            no = box.addButton(QString::fromUtf8("いいえ(&N)"), QMessageBox::NoRole);
            box.setEscapeButton(no);
            break;
        case MsgButtons::YesNoCancel:
            yes = box.addButton(QString::fromUtf8("はい(&Y)"), QMessageBox::YesRole);
            no = box.addButton(QString::fromUtf8("いいえ(&N)"), QMessageBox::NoRole);
            cancel = box.addButton(QString::fromUtf8("キャンセル"), QMessageBox::RejectRole);
            break;
        }
        if (cancel)
            box.setEscapeButton(cancel);
        box.setDefaultButton(qobject_cast<QPushButton*>(ok ? ok : yes));
        box.exec();

        QAbstractButton* chosen = box.clickedButton();
        if (chosen && chosen == ok)
            return MsgAnswer::Ok;
        if (chosen && chosen == yes)
            return MsgAnswer::Yes;
        if (chosen && chosen == no)
            return MsgAnswer::No;
        if (cancel)
            return MsgAnswer::Cancel;
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
    }

    QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    }

    QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, caption, dir, filter);
    }

    bool StartHelp(const QString& helpFile) override {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile));
    }

private:
    static QMessageBox::Icon ToQtIcon(MsgIcon icon) {
        switch (icon) {
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::Warning:
            return QMessageBox::Warning;
        case MsgIcon::Error:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::None:
            break;
        }
        return QMessageBox::NoIcon;
    }
};

CUiSeam* g_seam = nullptr;

} // namespace

CUiSeam& Ui() {
    static CQtDialogs qtDialogs;
    return g_seam ? *g_seam : qtDialogs;
}

CUiSeam* SetUiSeam(CUiSeam* seam) {
    CUiSeam* previous = g_seam;
    g_seam = seam;
    return previous;
}

MsgAnswer ShowMessage(QWidget* parent, const QString& text, MsgButtons buttons, MsgIcon icon) {
    return Ui().MessageBox(parent, text, QString::fromUtf8(kMessageCaption), buttons, icon);
}
