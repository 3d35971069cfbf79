#include "viewer/PartRequestGuard.h"

#include "viewer/PartScheme.h"

void CPartRequestGuard::interceptRequest(QWebEngineUrlRequestInfo& info) {
    // Where the main frame goes is the page's decision (CArticlePage), not a sub-resource.
    if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
        return;
    if (!IsPartUrl(info.firstPartyUrl()) && !IsPartUrl(info.initiator()))
        return;
    const QUrl target = info.requestUrl();
    if (IsPartUrl(target) || target.scheme() == QLatin1String("data"))
        return;
    info.block(true);
    ++m_blocked;
}
