#include "post/ReplyContext.h"

#include "base/AsciiCase.h"
#include "mime/ArticleParser.h"
#include "mime/Codec.h"
#include "store/HeaderStore.h"

namespace {

// The label as the buffer holds it; the cut never leaves half a double-byte character.
std::string_view CutLabel(std::string_view label) {
    const std::size_t limit = kReplyLabelBufferSize - 1;
    if (label.size() <= limit)
        return label;
    std::size_t end = 0;
    while (end < label.size()) {
        const std::size_t next =
            end + (IsSjisLeadByte(static_cast<unsigned char>(label[end])) ? 2 : 1);
        if (next > limit)
            break;
        end = next;
    }
    return label.substr(0, end);
}

} // namespace

std::string ReplySubject(std::string_view subject) {
    if (StartsWithNoCase(subject, "re: "))
        return std::string(subject);
    return "Re: " + std::string(subject);
}

std::string ReferencesText(const std::optional<std::string>& ref,
                           const std::optional<std::string>& mesid) {
    std::string text;
    if (ref)
        text = *ref + " ";
    if (mesid)
        text += *mesid;
    return text;
}

bool IsHtmlPreload(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    return dot != std::string_view::npos && EqualsNoCase(path.substr(dot), ".htm");
}

CReplyContext MakeReplyContext(const std::string& baseDir, const std::string& server,
                               const std::string& group, std::string_view label,
                               const CPartEntry* part) {
    CReplyContext context;
    if (part) {
        context.preloadFile = PartFilePath(part->m_text, part->m_data);
        context.preloadCharset = part->m_charset;
        context.preloadTransfer = part->m_transfer;
    }
    label = CutLabel(label);
    const std::size_t blank = label.find(' ');
    if (blank == std::string_view::npos)
        return context;
    const std::string number(label.substr(0, blank));
    context.subject = std::string(label.substr(blank + 1));
    context.references = ReferencesText(LookUpReference(baseDir, server, group, number),
                                        LookUpMessageId(baseDir, server, group, number));
    return context;
}
