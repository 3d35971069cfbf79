// The main window's post, reply and settings commands.

#include "app/ReaderDlg.h"

#include "post/PostDlg.h"
#include "post/ReplyContext.h"
#include "settings/SettingsDlg.h"
#include "settings/UserSettings.h"
#include "ui/TreeItems.h"
#include "ui/UiSeam.h"

#include <QListWidget>
#include <QTreeWidget>

void CReaderDlg::OnPost() {
    RunCompose(false);
}

void CReaderDlg::OnReply() {
    RunCompose(true);
}

void CReaderDlg::OnSettings() {
    CSettingsDlg dlg(m_iniPath, this);
    dlg.exec();
}

void CReaderDlg::RunCompose(bool reply) {
    if (!CheckUserSettings(m_iniPath)) {
        // The compose window waits for the next press, also when the settings are now done.
        ShowMessage(this, QString::fromUtf8(kSettingsNeededMessage), MsgButtons::Ok,
                    MsgIcon::Information);
        OnSettings();
        return;
    }
    if (CurrentGroup().empty())
        return;

    // The window works on copies: nothing it does follows later changes of the selection.
    CPostContext context;
    context.server = CurrentServer();
    context.newsgroup = CurrentGroup();
    context.settingsPath = m_iniPath;
    if (reply) {
        const QList<QListWidgetItem*> parts = m_partList->selectedItems();
        const std::vector<CPartEntry> entries = PartListEntries();
        const int row = parts.isEmpty() ? -1 : m_partList->row(parts.front());
        const CPartEntry* part =
            row >= 0 && row < static_cast<int>(entries.size()) ? &entries[row] : nullptr;
        const QModelIndex header = m_headerTree->currentIndex();
        const CReplyContext replyTo =
            MakeReplyContext(m_baseDir, context.server, context.newsgroup,
                             header.isValid() ? TreeItemText(header) : std::string(), part);
        context.replySubject = replyTo.subject;
        context.references = replyTo.references;
        context.preloadFile = replyTo.preloadFile;
        context.preloadCharset = replyTo.preloadCharset;
        context.preloadTransfer = replyTo.preloadTransfer;
    }

    CPostDlg dlg(std::move(context), this);
    // Posting is a long operation of this window, run in its busy state; the compose window is
    // a window of its own and keeps taking input.
    dlg.SetPostingScope([this](const std::function<void()>& post) {
        const CBusyScope busy = BeginBusy();
        post();
    });
    dlg.exec();
    FillHeaderTree();
}
