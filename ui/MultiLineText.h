#pragma once

#include <QString>
#include <string>
#include <string_view>

// Multi-line edits hold their lines apart with "\n"; the program's texts (bodies, signatures,
// files) with CR LF. These convert at the screen edge, through FromSjis and ToSjis.

// Shift_JIS with CR LF (or a lone CR or LF) between lines, for a multi-line edit.
QString FromSjisLines(std::string_view sjis);
// The edit's text as Shift_JIS with CR LF between lines.
std::string ToSjisLines(const QString& text);
