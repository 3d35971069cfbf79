#pragma once

#include <QByteArray>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>
#include <string>

#include "mime/Charset.h"

class QWebEngineProfile;

// Part files are shown through a scheme of our own rather than file: URLs, so that the reply
// carries the charset the files are really in (Shift_JIS unless the part declared another one,
// whatever a part's <meta charset> says), files of any size load, and the view can tell an
// article part from every other page.

inline constexpr char kPartScheme[] = "quillo-part";

inline constexpr char kPartTextType[] = "text/plain; charset=Shift_JIS";
inline constexpr char kPartHtmlType[] = "text/html; charset=Shift_JIS";

// How the text of a part file is read (the part list entry's m_charset and m_transfer): its
// charset, empty for Shift_JIS, and what its transfer encoding left in the file. The file itself
// keeps the bytes the cache holds; the scheme decodes while it serves. It travels in the part's
// URL, so going back to a part reads it the same way.
struct CPartFormat {
    std::string m_charset;
    CTransfer m_transfer = CTransfer::None;

    bool operator==(const CPartFormat&) const = default;
};

// Makes the scheme known to the web engine. Must run before the QApplication is constructed;
// a second call does nothing.
void RegisterPartScheme();

// The URL that shows the part file at path (file system bytes), read as format says.
QUrl PartUrl(const std::string& path, const CPartFormat& format = {});
bool IsPartUrl(const QUrl& url);

// What the scheme serves for url: the file's canonical path and the content type of the file's
// own bytes. False, with nothing to serve, unless url names an existing regular ".txt" or ".htm"
// file inside the private temporary directory once every link and ".." is resolved. format is
// what the URL asks for; a charset that is not a canonical name the program knows counts as
// none (Shift_JIS).
bool ResolvePartUrl(const QUrl& url, std::string& path, QByteArray& contentType);
bool ResolvePartUrl(const QUrl& url, std::string& path, QByteArray& contentType,
                    CPartFormat& format);

// What the scheme sends for a part file's bytes, with contentType (as ResolvePartUrl gave it)
// changed to match: decoded and the charset named (PreparePartText); the header part
// ("header.txt", header true) with the encoded words left in its lines decoded, sent as UTF-8.
// Bytes that need nothing of this come back as they are.
QByteArray PreparePartReply(const QByteArray& file, const CPartFormat& format, bool header,
                            QByteArray& contentType);

// Answers requests of the part scheme from the private temporary directory and refuses the rest.
class CPartSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT

public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override;
};

// Gives profile a CPartSchemeHandler unless it has one already.
void InstallPartScheme(QWebEngineProfile* profile);
