#pragma once

#include "nntp/HeaderDownload.h"

#include <string>
#include <string_view>
#include <vector>

class CNntpSocket;
class IProgress;

// The header download through the server's overview: OVER (or XOVER) for ranges of articles,
// Content-Type from the overview when its format carries it or else from HDR (or XHDR), and HEAD
// for the articles whose overview cannot tell what HEAD would have given. The records, counters
// and address-book entries are those the HEAD path leaves for the same articles, byte for byte.

// Articles asked for with one OVER command, and OVER commands kept in flight.
inline constexpr int kOverviewChunk = 1000;
inline constexpr int kOverviewChunksInFlight = 6;

// Where the fields the store keeps stand in an overview line: positions after the article
// number (0 = the first field after it), -1 when the format lacks the field.
struct OverviewFormat {
    bool overCommand = false; // CAPABILITIES lists OVER: "OVER", else "XOVER"
    bool hdrCommand = false;  // CAPABILITIES lists HDR: "HDR", else "XHDR"
    int subject = -1;
    int from = -1;
    int date = -1;
    int messageId = -1;
    int references = -1;
    int contentType = -1;
    bool contentTypeFull = false; // the field holds "Content-Type: value", not the value alone
};

// Reads the lines of a LIST OVERVIEW.FMT reply ("Subject:", "Bytes:", ":bytes", "Xref:full",
// ...). False when one of Subject, From, Date, Message-ID and References is missing.
bool ParseOverviewFormat(const std::vector<std::string>& lines, OverviewFormat& format);

// Asks the server what it offers: CAPABILITIES, then LIST OVERVIEW.FMT. True when the overview
// can be used; false when the server has none (or a reply was cut: cut is set then).
bool ProbeOverview(CNntpSocket& socket, OverviewFormat& format, bool& cut);

// What one overview line gives.
enum class OverviewLine {
    Exact,    // fields are what HEAD would give
    NeedHead, // the number is read, but HEAD must tell the fields
    Bad,      // no article number: the line is dropped
};
// Reads an overview line (fields separated by TABs, the article number first). The values go
// through the same reader as HEAD's lines; where a value holds white space that a fold may have
// left (two blanks or more, a blank at either end, or any blank in a value with encoded words or
// ISO-2022-JP) and HEAD would read the folded header differently, the line needs HEAD.
// Content-Type is read only when the format carries it.
OverviewLine ReadOverviewLine(std::string_view line, const OverviewFormat& format, int& number,
                              HeaderFields& fields);

// Reads the value an HDR or XHDR reply gives for a header as HEAD would read "name: value";
// false when a hidden fold could have made HEAD read it differently.
bool ReadUnfoldedValue(std::string_view name, std::string_view value, std::string& out);

// Requests and stores the headers of first to last through the overview, as FetchHeaders does
// through HEAD: the same progress calls per stored article, the same batches, the same end at a
// cut reply or a stop request. When the overview lacks Content-Type, the records are stored
// first with MEDIA empty, view.HeadersStored() is called, and a second pass of HDR (XHDR, HEAD)
// fills MEDIA in; "LASTHEADER" moves only in that pass, over articles whose records are whole.
// Returns the number of headers stored.
int FetchOverview(CNntpSocket& socket, const HeaderDownloadParams& params,
                  const std::string& groupDir, const OverviewFormat& format, int first, int last,
                  IProgress& progress, IHeaderDownloadView& view, bool& cut);
