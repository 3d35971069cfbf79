#pragma once

#include "ui/UiSeam.h"

#include <QString>
#include <deque>
#include <vector>

// A CUiSeam that shows nothing: it answers from a script and records every request, for tests
// and headless runs. Put it in use with CUiSeamScope.
class CScriptedUi final : public CUiSeam {
public:
    enum class Kind { Message, OpenFile, SaveFile, Help };

    struct Request {
        Kind kind;
        QString text; // message text, or the help file
        QString caption;
        MsgButtons buttons = MsgButtons::Ok;
        MsgIcon icon = MsgIcon::None;
    };

    // Answers for the coming message boxes, in order. With none left, a box answers its first
    // button (Ok or Yes), as Enter would.
    void QueueAnswer(MsgAnswer answer) { m_answers.push_back(answer); }
    // Paths for the coming file dialogs, in order; with none left a dialog is cancelled ("").
    void QueueFileName(const QString& path) { m_fileNames.push_back(path); }
    // What StartHelp reports.
    void SetHelpResult(bool started) { m_helpResult = started; }

    const std::vector<Request>& Requests() const { return m_requests; }
    // Texts of the message boxes shown so far, in order.
    std::vector<QString> Messages() const;
    void Clear();

    MsgAnswer MessageBox(QWidget* parent, const QString& text, const QString& caption,
                         MsgButtons buttons, MsgIcon icon) override;
    QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override;
    QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override;
    bool StartHelp(const QString& helpFile) override;

private:
    QString NextFileName();

    std::deque<MsgAnswer> m_answers;
    std::deque<QString> m_fileNames;
    std::vector<Request> m_requests;
    bool m_helpResult = true;
};
