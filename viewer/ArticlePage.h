#pragma once

#include <QWebEnginePage>

class CPartRequestGuard;
class QWebEngineNewWindowRequest;

// The page behind the article view. Articles are untrusted input from anyone on the network, so
// scripts are off for every page the view shows, and while a part is shown the page loads
// nothing from outside (CPartRequestGuard), nothing in it moves the view elsewhere, and a link
// the user clicks opens in the user's own browser. Pages the program shows on purpose (the home
// page, web addresses) otherwise behave as usual.
class CArticlePage : public QWebEnginePage {
    Q_OBJECT

public:
    explicit CArticlePage(QObject* parent = nullptr);

    // True while the page shows, or is about to show, an article part.
    bool ShowsArticlePart() const { return m_showsPart; }
    const CPartRequestGuard& RequestGuard() const { return *m_guard; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    void OnNewWindowRequested(QWebEngineNewWindowRequest& request);
    // Settings for the kind of page about to be shown.
    void ApplySettingsFor(bool part);

    CPartRequestGuard* m_guard;
    bool m_showsPart = false;
};
