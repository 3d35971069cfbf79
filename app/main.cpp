#include "app/ReaderApp.h"
#include "viewer/PartScheme.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The web view shares its GL context with the widgets; it must be asked for up front.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    RegisterPartScheme();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillo"));
    QApplication::setDesktopFileName(QStringLiteral("quillo"));

    CReaderApp theApp;
    theApp.InitInstance();
    return 0;
}
