#pragma once

#include <QUrl>
#include <functional>

// Links the user follows out of an article go to the user's own browser or mail program, never
// into the article view. Tests put their own opener in use and read what was asked for.

using LinkOpener = std::function<bool(const QUrl&)>;

// Hands url to the opener in use when it is an address a browser or mail program should get
// (http, https, ftp, mailto, news, nntp, snews); false, with nothing opened, for any other, so
// an article cannot have a local file or program started through a link.
bool OpenExternalLink(const QUrl& url);

// Puts opener in use (empty: QDesktopServices) and returns the one used before.
LinkOpener SetLinkOpener(LinkOpener opener);
