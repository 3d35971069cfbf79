#include "mime/ArticleParser.h"

#include "base/AsciiCase.h"

#include "base/TempFile.h"
#include "mime/Charset.h"
#include "mime/Codec.h"

#include <cstdio>
#include <optional>

namespace {

constexpr std::string_view kContentTypeField = "Content-Type:";
constexpr std::string_view kTransferEncodingField = "Content-Transfer-Encoding:";
// The value starts at the 15th character: the blank after the colon is skipped whatever it is.
constexpr std::size_t kContentTypeValueStart = 14;
constexpr std::string_view kBoundaryParameter = "boundary=";
constexpr std::string_view kCrLf = "\r\n";

// Appends as much of text as fits in max bytes.
void AppendCut(std::string& buffer, std::string_view text, std::size_t max) {
    if (buffer.size() < max)
        buffer.append(text.substr(0, max - buffer.size()));
}

class InputFile {
public:
    explicit InputFile(const std::string& path) : m_file(std::fopen(path.c_str(), "rb")) {}
    ~InputFile() {
        if (m_file)
            std::fclose(m_file);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    explicit operator bool() const { return m_file != nullptr; }
    std::optional<std::string> ReadLine() { return ReadFileLine(m_file); }

private:
    std::FILE* m_file;
};

// A part file, created or truncated when constructed; writes to one that could not be created
// go nowhere.
class PartFile {
public:
    explicit PartFile(const std::string& path)
        : m_file(path.empty() ? nullptr : std::fopen(path.c_str(), "wb")) {}
    ~PartFile() {
        if (m_file)
            std::fclose(m_file);
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    void WriteLine(std::string_view line) {
        if (!m_file)
            return;
        std::fwrite(line.data(), 1, line.size(), m_file);
        std::fwrite(kCrLf.data(), 1, kCrLf.size(), m_file);
    }

private:
    std::FILE* m_file;
};

// Follows the Content-Type value through the lines of a header: a line beginning with a tab
// continues the line above it, and only continuations of a Content-Type line add to the value.
// The Content-Transfer-Encoding value is kept beside it, for reading the part's text later.
class ContentTypeScanner {
public:
    void Take(std::string_view line) {
        if (!line.empty() && line.front() == '\t') {
            if (m_inContentType)
                AppendCut(m_value, line.substr(1), kContentTypeMax);
            return;
        }
        m_inContentType = StartsWithNoCase(line, kContentTypeField);
        if (m_inContentType) {
            m_value.clear();
            if (line.size() > kContentTypeValueStart)
                AppendCut(m_value, line.substr(kContentTypeValueStart), kContentTypeMax);
        }
        if (StartsWithNoCase(line, kTransferEncodingField)) {
            m_transfer.clear();
            AppendCut(m_transfer, line.substr(kTransferEncodingField.size()), kContentTypeMax);
        }
    }
    const std::string& Value() const { return m_value; }
    const std::string& TransferEncoding() const { return m_transfer; }

    // How the text of the part this header heads is to be read.
    void Describe(CPartEntry& entry) const {
        entry.m_charset = PartTextCharset(m_value, m_transfer);
        entry.m_transfer = PartTransfer(m_transfer);
    }

private:
    std::string m_value;
    std::string m_transfer;
    bool m_inContentType = false;
};

// The boundary of a multipart Content-Type value, found only as its first parameter; nothing
// when the value has no parameter or its first one is something else.
std::optional<std::string> FindBoundary(std::string_view contentType) {
    const std::size_t semicolon = contentType.find(';');
    if (semicolon == std::string_view::npos)
        return std::nullopt;
    std::size_t start = semicolon + 1;
    while (start < contentType.size() && contentType[start] == ' ')
        ++start;
    const std::string_view parameter = contentType.substr(start);
    if (!StartsWithNoCase(parameter, kBoundaryParameter))
        return std::nullopt;
    std::string_view boundary = parameter.substr(kBoundaryParameter.size());
    if (!boundary.empty() && boundary.front() == '"')
        boundary.remove_prefix(1);
    if (!boundary.empty() && boundary.back() == '"')
        boundary.remove_suffix(1);
    return std::string(boundary);
}

std::string PartFilePathIn(const std::string& dir, std::string_view entryText, int itemData) {
    const std::size_t blank = entryText.find(' ');
    if (dir.empty() || blank == std::string_view::npos)
        return {};
    std::string_view name = entryText.substr(blank + 1);
    // The list shows "Header" and "Body"; the files keep their lower-case names.
    if (name == "Header")
        name = "header";
    else if (name == "Body")
        name = "body";
    std::string path = dir + "/";
    path.append(name);
    if (itemData == kPartTextFile)
        path += ".txt";
    else if (itemData == kPartHtmlFile)
        path += ".htm";
    return path;
}

// Creates the file an entry stands for and lists the entry when the file could be made.
class PartWriter {
public:
    PartWriter(const std::string& dir, std::vector<CPartEntry>& entries, std::string text,
               int itemData, const ContentTypeScanner* header = nullptr)
        : m_file(PartFilePathIn(dir, text, itemData)) {
        if (!m_file.IsOpen())
            return;
        CPartEntry entry(std::move(text), itemData);
        if (header)
            header->Describe(entry);
        // HTML lines have their soft line breaks joined and go through JisToSjis on their way
        // into the file.
        if (itemData == kPartHtmlFile && entry.m_transfer != CTransfer::Base64) {
            entry.m_transfer = CTransfer::None;
            if (entry.m_charset == kCharsetJis)
                entry.m_charset.clear();
        }
        entries.push_back(std::move(entry));
    }
    void WriteLine(std::string_view line) { m_file.WriteLine(line); }

private:
    PartFile m_file;
};

// How the body of one part ended.
enum class PartEnd { Delimiter, Closing, EndOfFile };

class MultipartReader {
public:
    MultipartReader(InputFile& article, const std::string& boundary)
        : m_article(article), m_delimiter("--" + boundary), m_closing(m_delimiter + "--") {}

    // Skips lines up to the next delimiter line; false at the end of the file.
    bool SkipToDelimiter() {
        while (std::optional<std::string> line = m_article.ReadLine()) {
            if (EqualsNoCase(*line, m_delimiter))
                return true;
        }
        return false;
    }

    // The part's header as scanned; nothing when the file ends inside it.
    std::optional<ContentTypeScanner> ReadPartHeader() {
        ContentTypeScanner scanner;
        while (std::optional<std::string> line = m_article.ReadLine()) {
            if (line->empty())
                return scanner;
            scanner.Take(*line);
        }
        return std::nullopt;
    }

    // The next body line of the part, or nothing with `end` saying what ended the part.
    std::optional<std::string> ReadBodyLine(PartEnd& end) {
        std::optional<std::string> line = m_article.ReadLine();
        if (!line) {
            end = PartEnd::EndOfFile;
        } else if (EqualsNoCase(*line, m_delimiter)) {
            end = PartEnd::Delimiter;
            line.reset();
        } else if (EqualsNoCase(*line, m_closing)) {
            end = PartEnd::Closing;
            line.reset();
        }
        return line;
    }

private:
    InputFile& m_article;
    const std::string m_delimiter;
    const std::string m_closing;
};

PartEnd CopyPlainPart(MultipartReader& reader, PartWriter& out) {
    PartEnd end{};
    while (std::optional<std::string> line = reader.ReadBodyLine(end))
        out.WriteLine(*line);
    return end;
}

// Joins quoted-printable soft line breaks, then converts what ISO-2022-JP the joined line holds.
// The joined line is written whole: a cut would break the markup (and any escape sequence) in
// the middle of the part.
PartEnd CopyHtmlPart(MultipartReader& reader, PartWriter& out) {
    PartEnd end{};
    std::string assembled;
    while (std::optional<std::string> line = reader.ReadBodyLine(end)) {
        std::string_view text = *line;
        if (!text.empty() && text.back() == '=') {
            text.remove_suffix(1);
            assembled.append(text);
            continue;
        }
        assembled.append(text);
        out.WriteLine(JisToSjis(assembled));
        assembled.clear();
    }
    return end;
}

} // namespace

int ParseArticle(const std::string& articlePath, std::vector<CPartEntry>& entries,
                 bool* partsLeftOut) {
    entries.clear();
    if (partsLeftOut)
        *partsLeftOut = false;
    InputFile article(articlePath);
    if (!article)
        return 1;
    const std::string dir = PrivateTempDirectory();

    ContentTypeScanner mainHeader;
    {
        PartWriter header(dir, entries, kHeaderEntry, kPartTextFile);
        while (std::optional<std::string> line = article.ReadLine()) {
            header.WriteLine(*line);
            if (line->empty())
                break;
            mainHeader.Take(*line);
        }
    }
    const std::string& contentType = mainHeader.Value();

    if (StartsWithNoCase(contentType, "text")) {
        PartWriter body(dir, entries, kBodyEntry, kPartTextFile, &mainHeader);
        while (std::optional<std::string> line = article.ReadLine())
            body.WriteLine(*line);
        return 1;
    }

    const std::optional<std::string> boundary = FindBoundary(contentType);
    if (!boundary)
        return 0;
    MultipartReader reader(article, *boundary);
    bool atDelimiter = false; // the line that ended the last part starts the next one
    int partFiles = 0;
    for (int part = 1;; ++part) {
        if (!atDelimiter && !reader.SkipToDelimiter())
            break;
        atDelimiter = false;
        const std::optional<ContentTypeScanner> partHeader = reader.ReadPartHeader();
        if (!partHeader)
            break;
        const std::string& partType = partHeader->Value();
        const bool plain = StartsWithNoCase(partType, "text/plain");
        const bool html = !plain && StartsWithNoCase(partType, "text/html");
        if ((plain || html) && partFiles == kMaxPartFiles) {
            if (partsLeftOut)
                *partsLeftOut = true;
            break;
        }
        const std::string number = std::to_string(part);
        PartEnd end = PartEnd::Closing;
        if (plain) {
            PartWriter out(dir, entries, number + " PlainText" + number, kPartTextFile,
                           &*partHeader);
            end = CopyPlainPart(reader, out);
            ++partFiles;
        } else if (html) {
            PartWriter out(dir, entries, number + " HtmlText" + number, kPartHtmlFile,
                           &*partHeader);
            // Soft line breaks belong to quoted-printable: the "=" padding that ends a base64
            // part would otherwise take its last line away.
            if (PartTransfer(partHeader->TransferEncoding()) == CTransfer::Base64)
                end = CopyPlainPart(reader, out);
            else
                end = CopyHtmlPart(reader, out);
            ++partFiles;
        }
        // Parts of any other type are passed over while looking for the next delimiter.
        atDelimiter = end == PartEnd::Delimiter;
    }
    return 0;
}

std::string PartFilePath(std::string_view entryText, int itemData) {
    return PartFilePathIn(PrivateTempDirectory(), entryText, itemData);
}
