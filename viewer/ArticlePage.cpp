#include "viewer/ArticlePage.h"

#include "viewer/ExternalLink.h"
#include "viewer/PartRequestGuard.h"
#include "viewer/PartScheme.h"

#include <QWebEngineNewWindowRequest>
#include <QWebEngineSettings>

CArticlePage::CArticlePage(QObject* parent)
    : QWebEnginePage(parent), m_guard(new CPartRequestGuard(this)) {
    InstallPartScheme(profile());
    setUrlRequestInterceptor(m_guard);
    // Off for every page of the view, once and for all: a navigation is asked for while the
    // page being left is still live, so turning scripts on for the next page would turn them on
    // for the article part still on show as well.
    settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    connect(this, &QWebEnginePage::newWindowRequested, this, &CArticlePage::OnNewWindowRequested);
}

bool CArticlePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    const bool toPart = IsPartUrl(url);
    if (m_showsPart && !toPart) {
        // A link clicked in an article leaves for the user's browser; anything else the
        // article starts by itself (refresh, form, frame navigation) goes nowhere. What the
        // program asks for (load, back, forward, reload) goes ahead.
        if (type == NavigationTypeLinkClicked)
            OpenExternalLink(url);
        if (!isMainFrame || (type != NavigationTypeTyped && type != NavigationTypeBackForward &&
                             type != NavigationTypeReload))
            return false;
    }
    if (isMainFrame && toPart != m_showsPart) {
        m_showsPart = toPart;
        ApplySettingsFor(toPart);
    }
    return true;
}

void CArticlePage::OnNewWindowRequested(QWebEngineNewWindowRequest& request) {
    // The view has no windows of its own to offer; a link meant for a new window goes to the
    // user's browser, as long as the user clicked it.
    if (request.isUserInitiated())
        OpenExternalLink(request.requestedUrl());
}

void CArticlePage::ApplySettingsFor(bool part) {
    QWebEngineSettings* s = settings();
    if (part) {
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    } else {
        s->resetAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls);
        s->resetAttribute(QWebEngineSettings::AutoLoadIconsForPage);
    }
}
