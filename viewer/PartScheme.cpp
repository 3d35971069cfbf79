#include "viewer/PartScheme.h"

#include "base/TempFile.h"
#include "mime/ArticleParser.h"
#include "mime/Charset.h"
#include "mime/HeaderWords.h"
#include "ui/CharsetText.h"
#include "viewer/TextAsHtml.h"

#include <QBuffer>
#include <QFile>
#include <QUrlQuery>
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

// Query items of a part URL that say how its file is read.
constexpr char kCharsetItem[] = "charset";
constexpr char kTransferItem[] = "transfer";
constexpr char kBase64Transfer[] = "base64";
constexpr char kQuotedTransfer[] = "quoted-printable";

QByteArray ContentType(bool html, const std::string& charset) {
    return QByteArray(html ? "text/html; charset=" : "text/plain; charset=") +
           QByteArray::fromStdString(charset.empty() ? std::string(kCharsetSjis) : charset);
}

// Each line of a Shift_JIS header with its encoded words decoded; line ends stay as they are.
QString DecodeHeaderLines(std::string_view header) {
    QString text;
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = header.size();
        text += FromSjisHeader(header.substr(start, end - start));
        std::size_t next = end;
        while (next < header.size() && (header[next] == '\r' || header[next] == '\n'))
            ++next;
        text += QString::fromLatin1(header.data() + end, static_cast<qsizetype>(next - end));
        start = next;
    }
    return text;
}

void Reply(QWebEngineUrlRequestJob* job, const QByteArray& contentType, QIODevice* device) {
    QObject::connect(job, &QObject::destroyed, device, &QObject::deleteLater);
    job->reply(contentType, device);
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

QUrl PartUrl(const std::string& path, const CPartFormat& format) {
    QUrl url;
    url.setScheme(QString::fromLatin1(kPartScheme));
    url.setPath(QFile::decodeName(QByteArray::fromStdString(path)), QUrl::DecodedMode);
    QUrlQuery query;
    if (!format.m_charset.empty())
        query.addQueryItem(QLatin1String(kCharsetItem), QString::fromStdString(format.m_charset));
    if (format.m_transfer != CTransfer::None)
        query.addQueryItem(QLatin1String(kTransferItem),
                           QLatin1String(format.m_transfer == CTransfer::Base64 ? kBase64Transfer
                                                                                : kQuotedTransfer));
    if (!query.isEmpty())
        url.setQuery(query);
    return url;
}

bool IsPartUrl(const QUrl& url) {
    return url.scheme().compare(QLatin1String(kPartScheme), Qt::CaseInsensitive) == 0;
}

bool ResolvePartUrl(const QUrl& url, std::string& path, QByteArray& contentType) {
    CPartFormat format;
    return ResolvePartUrl(url, path, contentType, format);
}

bool ResolvePartUrl(const QUrl& url, std::string& path, QByteArray& contentType,
                    CPartFormat& format) {
    path.clear();
    contentType.clear();
    format = CPartFormat();
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
    // The URL is ours, but a name that reaches the converters must be one the program knows.
    const QUrlQuery query(url);
    const std::string charset = query.queryItemValue(QLatin1String(kCharsetItem)).toStdString();
    if (!charset.empty() && CanonicalCharset(charset) == charset)
        format.m_charset = charset;
    const QString transfer = query.queryItemValue(QLatin1String(kTransferItem));
    if (transfer == QLatin1String(kBase64Transfer))
        format.m_transfer = CTransfer::Base64;
    else if (transfer == QLatin1String(kQuotedTransfer))
        format.m_transfer = CTransfer::QuotedPrintable;
    return true;
}

QByteArray PreparePartReply(const QByteArray& file, const CPartFormat& format, bool header,
                            QByteArray& contentType) {
    const std::string_view bytes(file.constData(), static_cast<std::size_t>(file.size()));
    if (header) {
        if (!HasEncodedWord(bytes))
            return file;
        contentType = ContentType(false, kCharsetUtf8);
        return DecodeHeaderLines(bytes).toUtf8();
    }
    if (format.m_charset.empty() && format.m_transfer == CTransfer::None)
        return file;
    contentType =
        ContentType(contentType.startsWith("text/html"), PartServedCharset(format.m_charset));
    return QByteArray::fromStdString(PreparePartText(bytes, format.m_charset, format.m_transfer));
}

void CPartSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    std::string path;
    QByteArray contentType;
    CPartFormat format;
    if (job->requestMethod() != "GET" ||
        !ResolvePartUrl(job->requestUrl(), path, contentType, format)) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    auto* file = new QFile(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const bool header = EndsWith(path, std::string("/") + kHeaderPartFile);
    const bool largeText = !header && contentType == kPartTextType &&
                           file->size() > qint64(kTextAsHtmlThreshold);
    if (!header && !largeText && format == CPartFormat()) {
        // The engine reads the file on its own thread as the page needs it, so a part of any
        // size loads without holding up the window.
        Reply(job, contentType, file);
        return;
    }
    // A part to decode first; the header is small, and a part in another charset is text.
    QByteArray data = PreparePartReply(file->readAll(), format, header, contentType);
    delete file;
    if (largeText) {
        // A large text shows at once as a page of blocks (see TextAsHtml), in the charset it is
        // served in.
        const std::string charset = PartServedCharset(format.m_charset);
        data = QByteArray::fromStdString(TextAsHtml(
            std::string_view(data.constData(), static_cast<std::size_t>(data.size())), charset));
        contentType = ContentType(true, charset);
    }
    auto* buffer = new QBuffer;
    buffer->setData(data);
    buffer->open(QIODevice::ReadOnly);
    Reply(job, contentType, buffer);
}

void InstallPartScheme(QWebEngineProfile* profile) {
    const QByteArray name(kPartScheme);
    if (!profile || profile->urlSchemeHandler(name))
        return;
    profile->installUrlSchemeHandler(name, new CPartSchemeHandler(profile));
}
