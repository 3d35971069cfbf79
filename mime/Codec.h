#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// The transfer encodings and the Japanese character sets of the wire: base64, the "=XX" escapes
// of quoted-printable, Shift_JIS (code page 932) <-> ISO-2022-JP, RFC 2047 encoded words, and a
// Shift_JIS-aware line reader. Stateless; nothing reads or writes outside its input and output.
//
// Every text argument ends at its first zero byte, if it holds one: what follows is not looked
// at, as with every other text of the program. Malformed input is never rejected; it gives what
// the rules below produce, byte for byte.

// EncodeBase64 encodes at most this many input bytes (4,092 characters of output); the rest of a
// longer input is cut off.
inline constexpr std::size_t kBase64EncodeMaxInput = 3069;
// A result of DecodeBase64 holds at most this many bytes; the rest is cut off.
inline constexpr std::size_t kBase64DecodeMaxResult = 1023;
// The text of one encoded word holds at most this many characters; DecodeHeaderText drops the
// characters beyond them (the word still ends at its next "?").
inline constexpr std::size_t kEncodedWordMaxText = 1023;
// A line read by ReadFileLine holds at most this many bytes.
inline constexpr std::size_t kFileLineMax = 4095;

// ---- Base64 and quoted-printable ----

// Standard RFC 2045 base64 with "=" padding and no line breaks.
std::string EncodeBase64(std::string_view bytes);

// Decodes four characters at a time, each through Base64Value, so characters outside the
// alphabet ("=" and blanks included) count with their own codes and may spill into neighbouring
// bits; a missing character of a short last group counts as 0. Of the three bytes of a group, the
// first zero byte and everything after it in that group is dropped. At the end as many bytes are
// removed from the result as the text has pad: 1 when its last character is "=", 2 when the
// character before the last is "=" (whatever the last one is), never more than the result holds.
std::string DecodeBase64(std::string_view text);

// The 6-bit value of a base64 alphabet character; -1 for any other character.
int Base64Digit(unsigned char c);
// The 6-bit value of a base64 alphabet character; any other character is its own code (0-255).
int Base64Value(unsigned char c);
// The value of a hex digit of either case; -1 for any other character.
int HexValue(unsigned char c);

// Writes every byte below 0x21, at or above 0x80, and "=" as "=" and two lower-case hex digits;
// every other byte as itself. No line length limit, no soft line breaks.
std::string EncodeQuoted(std::string_view text);

// Turns "=" and two hex digits (either case) into their byte, dropping a decoded zero byte.
// Everything else, a "=" without two hex digits after it, "_" and soft line breaks included, is
// copied unchanged. DecodeQuoted(EncodeQuoted(x)) == x for every text x.
std::string DecodeQuoted(std::string_view text);

// ---- Shift_JIS and ISO-2022-JP ----

// True for 0x80-0xA0 and 0xE0-0xFF: wider than the usual lead ranges, so 0x80, 0xA0 and
// 0xFD-0xFF also take the next byte with them everywhere in the program.
bool IsSjisLeadByte(unsigned char c);

// Shift_JIS pair -> JIS X 0208 row and cell by the standard arithmetic, in place; returns the
// converted pair as first * 256 + second. Bytes outside the ranges go through the same
// formulas, cut to 8 bits.
unsigned SjisToJisChar(unsigned char& first, unsigned char& second);
// The inverse: JIS X 0208 row and cell -> Shift_JIS pair, in place, same conventions.
unsigned JisToSjisChar(unsigned char& row, unsigned char& cell);

// Shift_JIS -> ISO-2022-JP: each run of pairs (a lead byte and the byte after it) is converted
// between ESC "$" "B" and ESC "(" "B"; every other byte, half-width katakana and other 8-bit
// bytes included, passes unchanged. A lead byte that ends the text has no pair and is dropped.
std::string SjisToJis(std::string_view sjis);

// ISO-2022-JP (one line) -> Shift_JIS. A text without ESC comes back unchanged. Otherwise ESC
// "$" "B" and ESC "$" "@" switch to two-byte mode, ESC "(" "B" and ESC "(" "J" to one-byte mode,
// and any other ESC and the two bytes after it are dropped with the mode unchanged. In two-byte
// mode the byte after a pair's first byte is taken without looking at it. Dropped, as being
// unfinished at the end of the text: an ESC with fewer than two bytes after it (with them), and a
// single byte left in two-byte mode.
std::string JisToSjis(std::string_view jis);

// Reads the next line of a file from its current position, without its line end. CR LF, a lone
// CR and a lone LF each end a line; the next line starts right after the line end. A lead byte
// takes the byte after it into the line unexamined, so a second byte never ends a line.
// Gives nothing at the end of the file or on a read error, even when part of a line was read (a
// last line without a line end is never returned), at a zero byte, and for a null file.
// A line longer than kFileLineMax bytes ends there and the rest is read as the next line; a
// lead byte that would straddle the cut moves to the next line with its second byte. A line
// whose second byte of a pair is zero is returned up to that zero.
std::optional<std::string> ReadFileLine(std::FILE* file);

// ---- Encoded words ----

// Replaces every encoded word whose opening is one of "=?ISO-2022-JP?Q?", "=?ISO-2022-JP?B?",
// "=?iso-8859-1?Q?", "=?iso-8859-1?B?", "=?us-ascii?Q?", "=?us-ascii?B?" (any letter case) by
// its decoded bytes, without any character set conversion: ISO-2022-JP words still need
// JisToSjis. A word runs to the next "?"; that "?" and the byte after it are skipped. Q words go
// through DecodeQuoted ("_" stays "_"), B words through DecodeBase64. Words in other character
// sets stay as they are; a word never closed is dropped with its text. Text of a word beyond
// kEncodedWordMaxText characters is dropped, so a word whose text is longer decodes only its
// first kEncodedWordMaxText characters.
std::string DecodeHeaderText(std::string_view text);

// Writes each run of Shift_JIS pairs as one "=?ISO-2022-JP?B?...?=" word holding ESC "$" "B",
// the JIS pairs, ESC "(" "B" and the single byte that ended the run (none at the end of the
// value); every other byte is copied. A run whose word would exceed kBase64EncodeMaxInput bytes
// before encoding (more than 1,531 pairs) is written as several words back to back, split
// between pairs, each a complete ISO-2022-JP sequence; only the last one carries the byte that
// ended the run. A lead byte that ends the value has no pair and is dropped.
std::string EncodeHeaderText(std::string_view sjis);
