#pragma once

#include "mime/Charset.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct CPartEntry;

// What a reply takes from the article it answers: the subject from the header tree's label,
// the references from the stored header, and the part shown as the text to quote.

// The selected header's label is read into a buffer of this size (cut at 1,023 bytes).
inline constexpr std::size_t kReplyLabelBufferSize = 1024;

// The subject of the compose window for a reply to subject: unchanged when it begins with
// "re: " in any letter case (that exact four-character form only), else "Re: " in front.
std::string ReplySubject(std::string_view subject);

// The stored REF, a blank and the stored MESID; either part alone when the other is missing;
// empty when both are.
std::string ReferencesText(const std::optional<std::string>& ref,
                           const std::optional<std::string>& mesid);

// True when the file's extension (from its last ".") is ".htm" in any letter case: such a
// preload file is HTML, loaded without quoting.
bool IsHtmlPreload(std::string_view path);

struct CReplyContext {
    std::string subject;     // the replied article's subject (before the prefix rule)
    std::string references;  // the References text
    std::string preloadFile; // the part file to quote; empty for none
    // How the part file's text is read (the entry's m_charset and m_transfer).
    std::string preloadCharset;
    CTransfer preloadTransfer = CTransfer::None;
};

// The context of a reply to the header labelled label ("number subject") in the group, quoting
// the part of the part-list entry (none: nothing to quote). A label without a blank gives
// neither subject nor references.
CReplyContext MakeReplyContext(const std::string& baseDir, const std::string& server,
                               const std::string& group, std::string_view label,
                               const CPartEntry* part);
