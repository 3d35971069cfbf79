#pragma once

#include <QString>
#include <string>
#include <string_view>

// The screen edge of the character set: data text is Shift_JIS (code page 932) bytes, the
// widgets show Unicode. Every conversion between the two goes through this pair.

// Shift_JIS bytes to Unicode; a byte sequence that is not Shift_JIS shows as U+FFFD.
QString FromSjis(std::string_view sjis);

// Unicode to Shift_JIS bytes. The look-alikes that input methods produce (wave dash, minus
// sign, double vertical line, cent, pound, not sign, em dash) become their code page 932 forms;
// a character Shift_JIS cannot hold becomes "?".
std::string ToSjis(const QString& text);
