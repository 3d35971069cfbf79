#include "viewer/PartScheme.h"

#include "base/TempFile.h"
#include "viewer/TextAsHtml.h"

#include <QBuffer>

#include <QFile>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>

namespace {

// The path with every link, "." and ".." resolved; empty when it does not exist.
std::string CanonicalPath(const std::string& path) {
    if (path.empty())
        return {};
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

void RegisterPartScheme() {
    const QByteArray name(kPartScheme);
    if (QWebEngineUrlScheme::schemeByName(name).name() == name)
        return;
    QWebEngineUrlScheme scheme(name);
    // Path syntax (no host) leaves a part with an opaque origin of its own; a local scheme
    // cannot be loaded by pages from the network, and without local access a part cannot load
    // local files either.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

QUrl PartUrl(const std::string& path) {
    QUrl url;
    url.setScheme(QString::fromLatin1(kPartScheme));
    url.setPath(QFile::decodeName(QByteArray::fromStdString(path)), QUrl::DecodedMode);
    return url;
}

bool IsPartUrl(const QUrl& url) {
    return url.scheme().compare(QLatin1String(kPartScheme), Qt::CaseInsensitive) == 0;
}

bool ResolvePartUrl(const QUrl& url, std::string& path, QByteArray& contentType) {
    path.clear();
    contentType.clear();
    if (!IsPartUrl(url))
        return false;
    const std::string dir = CanonicalPath(PrivateTempDirectory());
    const std::string file =
        CanonicalPath(QFile::encodeName(url.path(QUrl::FullyDecoded)).toStdString());
    if (dir.empty() || file.size() <= dir.size() + 1 || file.compare(0, dir.size(), dir) != 0 ||
        file[dir.size()] != '/')
        return false;
    struct stat st {};
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (EndsWith(file, ".txt"))
        contentType = kPartTextType;
    else if (EndsWith(file, ".htm"))
        contentType = kPartHtmlType;
    else
        return false;
    path = file;
    return true;
}

void CPartSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    std::string path;
    QByteArray contentType;
    if (job->requestMethod() != "GET" || !ResolvePartUrl(job->requestUrl(), path, contentType)) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    // The engine reads the file on its own thread as the page needs it, so a part of any size
    // loads without holding up the window.
    auto* file = new QFile(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    if (contentType == kPartTextType && file->size() > qint64(kTextAsHtmlThreshold)) {
        // A large text shows at once as a page of blocks (see TextAsHtml).
        const QByteArray text = file->readAll();
        delete file;
        const std::string page =
            TextAsHtml(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        auto* buffer = new QBuffer;
        buffer->setData(page.data(), static_cast<qsizetype>(page.size()));
        buffer->open(QIODevice::ReadOnly);
        connect(job, &QObject::destroyed, buffer, &QObject::deleteLater);
        job->reply(kPartHtmlType, buffer);
        return;
    }
    connect(job, &QObject::destroyed, file, &QObject::deleteLater);
    job->reply(contentType, file);
}

void InstallPartScheme(QWebEngineProfile* profile) {
    const QByteArray name(kPartScheme);
    if (!profile || profile->urlSchemeHandler(name))
        return;
    profile->installUrlSchemeHandler(name, new CPartSchemeHandler(profile));
}
