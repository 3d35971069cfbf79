#include "viewer/HtmlViewCtl.h"

#include "viewer/ArticlePage.h"
#include "viewer/PartScheme.h"

#include <QFile>
#include <QUrl>

CHtmlViewCtl::CHtmlViewCtl(QWidget* parent) : QWebEngineView(parent) {
    setPage(new CArticlePage(this));
}

QUrl CHtmlViewCtl::UrlFor(const QString& urlOrPath) {
    if (urlOrPath.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(urlOrPath);
    return QUrl(urlOrPath);
}

void CHtmlViewCtl::Navigate(const QString& urlOrPath) {
    load(UrlFor(urlOrPath));
}

void CHtmlViewCtl::NavigateFile(const std::string& path) {
    load(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
}

void CHtmlViewCtl::ShowPartFile(const std::string& path, const CPartFormat& format) {
    load(PartUrl(path, format));
}

void CHtmlViewCtl::GoBack() {
    back();
}

void CHtmlViewCtl::GoForward() {
    forward();
}
