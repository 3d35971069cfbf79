#pragma once

#include <QString>
#include <string>
#include <string_view>

// The screen edge for text in charsets other than Shift_JIS: encoded words that stayed in
// stored header values, and text whose charset an article declares. Stored bytes are never
// changed; they are decoded only here, as they are shown.

// bytes in charset (a canonical name, CanonicalCharset) as Unicode. Empty and Shift_JIS go
// through FromSjis, ISO-2022-JP through JisToSjis first, as everywhere in the program; a byte
// sequence that is not valid in its charset shows as U+FFFD, a character cut off at the end of
// the bytes not at all.
QString FromCharset(std::string_view bytes, const std::string& charset);

// A stored header value (Shift_JIS) as the screen shows it: the encoded words left in it
// decoded, without the white space between adjacent ones (SplitHeaderWords).
QString FromSjisHeader(std::string_view stored);
