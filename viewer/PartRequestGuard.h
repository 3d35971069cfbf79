#pragma once

#include <QWebEngineUrlRequestInterceptor>

// Keeps an article part from loading anything by itself: every sub-resource a part page asks
// for (images, style sheets, frames, scripts, fonts, media, prefetches…) is blocked unless it
// comes from the part scheme or is inline data. A remote image in an article would otherwise
// tell its sender who read it and when. The engine already keeps local pages (the part scheme is
// one) off the network while LocalContentCanAccessRemoteUrls is off; the guard holds whatever
// that setting is. Other pages load normally.
class CPartRequestGuard : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

    // Requests blocked so far.
    int BlockedCount() const { return m_blocked; }

private:
    int m_blocked = 0;
};
