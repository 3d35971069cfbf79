#include "viewer/ExternalLink.h"

#include <QDesktopServices>
#include <QStringList>

namespace {

LinkOpener g_opener;

bool IsExternalScheme(const QString& scheme) {
    static const QStringList schemes = {
        QStringLiteral("http"),   QStringLiteral("https"), QStringLiteral("ftp"),
        QStringLiteral("mailto"), QStringLiteral("news"),  QStringLiteral("nntp"),
        QStringLiteral("snews"),
    };
    return schemes.contains(scheme, Qt::CaseInsensitive);
}

} // namespace

bool OpenExternalLink(const QUrl& url) {
    if (!url.isValid() || !IsExternalScheme(url.scheme()))
        return false;
    if (g_opener)
        return g_opener(url);
    return QDesktopServices::openUrl(url);
}

LinkOpener SetLinkOpener(LinkOpener opener) {
    LinkOpener previous = std::move(g_opener);
    g_opener = std::move(opener);
    return previous;
}
