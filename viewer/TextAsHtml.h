#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A large plain-text part is served to the article view as a web page holding the same text, so
// that it shows at once. A text document of megabytes is one text node that the engine must
// lay out whole before it paints anything; the same text cut at line ends into blocks of a few
// kilobytes, each a <pre> of its own, is painted as soon as the first blocks are read and laid
// out block by block. The part file itself stays as it is.

// Text parts of more than this many bytes are served as a page.
inline constexpr std::size_t kTextAsHtmlThreshold = 256 * 1024;
// A block ends at the first line end after this many bytes of text.
inline constexpr std::size_t kTextBlockBytes = 16 * 1024;

// The page for a text in charset (Shift_JIS when empty; a name the program knows, whose bytes
// below 0x80 are ASCII): "&", "<" and ">" escaped (no second byte of a Shift_JIS pair is one of
// them, nor a line end), each block in a <pre> that wraps long lines as the engine's own text
// view does. Blocks out of sight are skipped by layout and paint until they come near
// (content-visibility), each standing in with 1.2 em per line until then. Every <pre> tag is
// followed by a line feed, which the HTML parser drops, so a block that starts with an empty
// line keeps it: the page's text is the part's text, byte for byte.
std::string TextAsHtml(std::string_view text, std::string_view charset = {});
