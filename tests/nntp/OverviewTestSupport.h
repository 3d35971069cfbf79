#pragma once

#include "support/ScriptedNntpServer.h"

#include <string>
#include <string_view>
#include <vector>

// Articles for comparing the overview path of the header download with the HEAD path, and a
// scripted server that serves them the way INN does.

// One article's header lines, without line ends.
struct HeadLines {
    std::vector<std::string> lines;
};

// The header sections of the article files in dir (*.art, by name); "\r" at line ends dropped.
std::vector<HeadLines> ReadArticleHeads(const std::string& dir);

// A group whose headers are folded in every way the overview hides: TAB and blank folds, folds
// with blanks on both sides, encoded words on both sides of a fold and on one side only, a fold
// right after the name, raw ISO-2022-JP across a fold, folded Content-Type and References, and
// a blank run that is no fold at all. Every article has Path, Newsgroups (group) and a
// Message-ID "<fold-N.tag@example.org>".
std::vector<HeadLines> FoldedHeads(const std::string& group, const std::string& tag);
// Writes each article (headers, a blank line, one body line) to dir as 01.art, 02.art, ...
void WriteArticles(const std::vector<HeadLines>& heads, const std::string& dir);

// The value of the first header with this name as INN's overview shows it: its lines joined
// without their line ends, the blank after the colon dropped, every TAB made a blank.
std::string OverviewValue(const HeadLines& head, std::string_view name);

// What the scripted server offers.
struct OverviewServer {
    bool capabilities = true;           // answers CAPABILITIES (else 500)
    bool over = true;                   // lists OVER and answers LIST OVERVIEW.FMT, OVER and XOVER
    bool contentTypeInOverview = false; // the format ends with "Content-Type:full"
    bool listsHdr = true;               // CAPABILITIES lists HDR
    bool hdr = true;                    // answers HDR
    bool xhdr = true;                   // answers XHDR
    // The reply to the first command that starts with this text is cut in its middle and the
    // connection closed; empty: none is.
    std::string cutOn;
};
// The script of one connection serving the articles as numbers 1..n of group.
NntpScript ServeOverviewGroup(const std::string& group, std::vector<HeadLines> heads,
                              OverviewServer server);
