#pragma once

#include <QWebEngineView>
#include <string>

// The embedded web view that shows articles, their parts and the start page.
class CHtmlViewCtl : public QWebEngineView {
    Q_OBJECT

public:
    explicit CHtmlViewCtl(QWidget* parent = nullptr);

    // Shows a URL ("https://…", "file:///…") or an absolute local path.
    void Navigate(const QString& urlOrPath);
    // Shows a local file whose path is in the file system's own bytes.
    void NavigateFile(const std::string& path);
    // Walk the view's history; nothing happens at either end of it.
    void GoBack();
    void GoForward();

    // The URL a text or path given to Navigate stands for.
    static QUrl UrlFor(const QString& urlOrPath);
};
