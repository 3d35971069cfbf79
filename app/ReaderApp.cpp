#include "app/ReaderApp.h"

#include "app/ReaderDlg.h"

#include <QApplication>

bool CReaderApp::InitInstance() {
    CReaderDlg dlg;
    QApplication::setWindowIcon(dlg.windowIcon());
    dlg.exec();
    return false;
}
