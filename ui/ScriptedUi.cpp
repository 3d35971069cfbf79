#include "ui/ScriptedUi.h"

std::vector<QString> CScriptedUi::Messages() const {
    std::vector<QString> texts;
    for (const Request& r : m_requests)
        if (r.kind == Kind::Message)
            texts.push_back(r.text);
    return texts;
}

void CScriptedUi::Clear() {
    m_answers.clear();
    m_fileNames.clear();
    m_requests.clear();
}

MsgAnswer CScriptedUi::MessageBox(QWidget*, const QString& text, const QString& caption,
                                  MsgButtons buttons, MsgIcon icon) {
    m_requests.push_back({Kind::Message, text, caption, buttons, icon});
    if (!m_answers.empty()) {
        const MsgAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MsgAnswer::Ok
                                                                        : MsgAnswer::Yes;
}

QString CScriptedUi::GetOpenFileName(QWidget*, const QString& caption, const QString&,
                                     const QString&) {
    m_requests.push_back({Kind::OpenFile, {}, caption});
    return NextFileName();
}

QString CScriptedUi::GetSaveFileName(QWidget*, const QString& caption, const QString&,
                                     const QString&) {
    m_requests.push_back({Kind::SaveFile, {}, caption});
    return NextFileName();
}

bool CScriptedUi::StartHelp(const QString& helpFile) {
    m_requests.push_back({Kind::Help, helpFile, {}});
    return m_helpResult;
}

QString CScriptedUi::NextFileName() {
    if (m_fileNames.empty())
        return {};
    QString path = m_fileNames.front();
    m_fileNames.pop_front();
    return path;
}
