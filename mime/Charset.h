#pragma once

#include <string>
#include <string_view>
#include <vector>

// Character sets other than the program's own. Inside the program text stays Shift_JIS and the
// files keep the bytes the fetch wrote; articles in UTF-8, EUC-JP, ISO-8859-x, windows-125x and
// the like are only converted where they are shown or compared. Names come from the network,
// so only the names in one fixed table are ever used; everything else counts as unknown.

// Canonical names; each one is known to the web view, to the conversion library of the screen
// edge and to the C library's iconv (Shift_JIS there as code page 932).
inline constexpr char kCharsetSjis[] = "Shift_JIS";
inline constexpr char kCharsetJis[] = "ISO-2022-JP";
inline constexpr char kCharsetUtf8[] = "UTF-8";

// The canonical name of a charset label, compared without regard to letter case and with
// surrounding blanks and double quotes ignored; empty for a label not in the table. Aliases
// follow the web's encoding rules: ISO-8859-1 is read as windows-1252, ISO-8859-9 as
// windows-1254, TIS-620 and ISO-8859-11 as windows-874, GB2312 as GBK.
std::string CanonicalCharset(std::string_view label);

// Every canonical name CanonicalCharset gives, each once.
std::vector<std::string> KnownCharsets();

// The value of a parameter of a Content-Type value ("charset", "boundary"), as written with its
// double quotes removed; empty when there is none. Parameters are separated by ";", names compared
// without regard to letter case.
std::string ContentTypeParameter(std::string_view contentType, std::string_view name);

// True when a Content-Transfer-Encoding value says base64.
bool IsBase64Transfer(std::string_view transferEncoding);
bool IsQuotedPrintableTransfer(std::string_view transferEncoding);

// What the transfer encoding of a part leaves in its file. A base64 part is still encoded. A
// quoted-printable part was decoded by the fetch, but its soft line breaks ("=" at a line end)
// are still there; an HTML part has them joined by the part cutting already.
enum class CTransfer { None, Base64, QuotedPrintable };

CTransfer PartTransfer(std::string_view transferEncoding);

// The charset the text of a part file is in, given the part's Content-Type and
// Content-Transfer-Encoding values: empty for Shift_JIS, the program's own. A part without a
// declaration, with an unknown one, or declared Shift_JIS or US-ASCII is Shift_JIS.
// ISO-2022-JP counts only where the cache may still hold it (base64 and quoted-printable
// parts, whose escape sequences the fetch never saw); elsewhere the fetch has turned it into
// Shift_JIS already.
std::string PartTextCharset(std::string_view contentType, std::string_view transferEncoding);

// Base64 as a transfer encoding of a whole body (RFC 2045): characters outside the alphabet
// (line ends, blanks) are skipped, the first "=" ends the data, and every decoded byte is kept,
// zero bytes included; bits of an unfinished last group are dropped.
std::string DecodeBase64Text(std::string_view text);

// The text of a part file as the view and the quoting read it: a base64 part decoded. Otherwise,
// in a charset other than the program's own, the carriage return that the Shift_JIS-aware line
// reader took into a line after a byte it read as a lead byte is dropped again (its line then
// ends in CR CR LF), and a quoted-printable part has its soft line breaks joined (a character
// may be split by one). Last, an ISO-2022-JP part is turned into Shift_JIS line by line
// (JisToSjis leaves text that is Shift_JIS already unchanged). The result is in
// PartServedCharset(charset).
std::string PreparePartText(std::string_view fileBytes, const std::string& charset,
                            CTransfer transfer);

// The charset of PreparePartText's result: empty (Shift_JIS) for ISO-2022-JP, else charset.
std::string PartServedCharset(const std::string& charset);

// The code page 932 form of the look-alikes that Unicode converters produce for Shift_JIS
// characters (wave dash, minus sign, double vertical line, cent, pound, not sign, em dash);
// every other code point as it is.
char32_t ToCodePage932Form(char32_t c);
