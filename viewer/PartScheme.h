#pragma once

#include <QByteArray>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>
#include <string>

class QWebEngineProfile;

// Part files are shown through a scheme of our own rather than file: URLs, so that the reply
// carries the charset the files are really in (Shift_JIS, whatever a part's <meta charset>
// says), files of any size load, and the view can tell an article part from every other page.

inline constexpr char kPartScheme[] = "quillo-part";

inline constexpr char kPartTextType[] = "text/plain; charset=Shift_JIS";
inline constexpr char kPartHtmlType[] = "text/html; charset=Shift_JIS";

// Makes the scheme known to the web engine. Must run before the QApplication is constructed;
// a second call does nothing.
void RegisterPartScheme();

// The URL that shows the part file at path (file system bytes).
QUrl PartUrl(const std::string& path);
bool IsPartUrl(const QUrl& url);

// What the scheme serves for url: the file's canonical path and the content type to reply with.
// False, with nothing to serve, unless url names an existing regular ".txt" or ".htm" file
// inside the private temporary directory once every link and ".." is resolved.
bool ResolvePartUrl(const QUrl& url, std::string& path, QByteArray& contentType);

// Answers requests of the part scheme from the private temporary directory and refuses the rest.
class CPartSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT

public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override;
};

// Gives profile a CPartSchemeHandler unless it has one already.
void InstallPartScheme(QWebEngineProfile* profile);
