#include "app/ReaderApp.h"

#include "app/ReaderDlg.h"
#include "nntp/NntpSocket.h"
#include "ui/PumpMessages.h"

#include <QApplication>

bool CReaderApp::InitInstance() {
    // Conversations with a server keep the window painted and its controls working.
    SetNntpPumpHook(&PumpMessages);
    CReaderDlg dlg;
    QApplication::setWindowIcon(dlg.windowIcon());
    dlg.exec();
    return false;
}
