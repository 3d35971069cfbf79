#pragma once

#include "mime/Charset.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Cuts a cached article (Shift_JIS lines ended with CR LF) into files the article view can show:
// the header, and either the whole body or each text/plain and text/html part of a multipart
// body. The files live in the private temporary directory; their names come only from fixed
// texts and part numbers, never from the article.

// Item data of a part-list entry: what kind of file the entry stands for.
inline constexpr int kPartTextFile = 0; // ".txt", shown as plain text
inline constexpr int kPartHtmlFile = 1; // ".htm", shown as a web page

// A Content-Type value holds at most this many bytes; the rest is cut off.
inline constexpr std::size_t kContentTypeMax = 1023;
// A multipart body gives at most this many part files; later parts are left out (the header
// entry still shows the article's header).
inline constexpr int kMaxPartFiles = 1000;

inline constexpr char kHeaderEntry[] = "0: Header";
inline constexpr char kBodyEntry[] = "1: Body";
inline constexpr char kHeaderPartFile[] = "header.txt";
inline constexpr char kBodyPartFile[] = "body.txt";

// One entry of the part list: its text ("0: Header", "1: Body", "3 PlainText3", "2 HtmlText2")
// and its item data. The file keeps the bytes the cache holds; how to read them travels with
// the entry: the charset of the text (PartTextCharset, empty for Shift_JIS) and what its
// transfer encoding left in the file.
struct CPartEntry {
    CPartEntry(std::string text = {}, int data = kPartTextFile, std::string charset = {},
               CTransfer transfer = CTransfer::None)
        : m_text(std::move(text)), m_data(data), m_charset(std::move(charset)),
          m_transfer(transfer) {}

    std::string m_text;
    int m_data = kPartTextFile;
    std::string m_charset;
    CTransfer m_transfer = CTransfer::None;

    bool operator==(const CPartEntry&) const = default;
};

// Empties entries, then cuts the article file into part files and lists one entry per file
// written, in the order the files were written. 1 when the article file cannot be opened (no
// entries) or when its main Content-Type begins with "text" (header and body); 0 otherwise
// (header and the text parts of a multipart body, or the header alone). A part file that cannot
// be created gets no entry, so an entry never stands for a file left by an earlier article.
// After kMaxPartFiles part files of a multipart body the rest of the article is not looked at,
// and *partsLeftOut (when given) becomes true; it is false otherwise.
int ParseArticle(const std::string& articlePath, std::vector<CPartEntry>& entries,
                 bool* partsLeftOut = nullptr);

// The file an entry stands for: the private temporary directory, the entry text after its first
// blank, then ".txt" for item data kPartTextFile or ".htm" for kPartHtmlFile (nothing for any
// other). "Header" and "Body" name the files "header.txt" and "body.txt", so the name agrees with
// the file ParseArticle wrote on a file system that minds letter case. Empty when the text has no
// blank or there is no temporary directory.
std::string PartFilePath(std::string_view entryText, int itemData);
