#pragma once

#include "viewer/PartScheme.h"

#include <QWebEngineView>
#include <string>

// The embedded web view that shows articles, their parts and the start page. Its page is a
// CArticlePage, which treats article parts as untrusted.
class CHtmlViewCtl : public QWebEngineView {
    Q_OBJECT

public:
    explicit CHtmlViewCtl(QWidget* parent = nullptr);

    // Shows a URL ("https://…", "file:///…") or an absolute local path.
    void Navigate(const QString& urlOrPath);
    // Shows a local file whose path is in the file system's own bytes.
    void NavigateFile(const std::string& path);
    // Shows a part file of the private temporary directory (file system bytes) through the part
    // scheme: as plain text for ".txt", as a web page for ".htm", read as Shift_JIS unless
    // format names another charset or a transfer encoding. The scheme refuses any other file.
    void ShowPartFile(const std::string& path, const CPartFormat& format = {});
    // Walk the view's history; nothing happens at either end of it.
    void GoBack();
    void GoForward();

    // The URL a text or path given to Navigate stands for.
    static QUrl UrlFor(const QString& urlOrPath);
};
