#pragma once

#include <string>

class QLineEdit;

// Line edits that show a stored header value (a reply's subject, a draft's fields). The value is
// shown decoded (FromSjisHeader), yet as long as the user leaves the text as shown, the field
// gives back the stored bytes: an encoded word of another charset, which Shift_JIS could not
// hold, then goes out again as it came. Edited text is taken as typed (ToSjis).

void SetHeaderFieldText(QLineEdit* field, const std::string& stored);

// The field's value as Shift_JIS: the stored bytes while its text is as SetHeaderFieldText
// showed it, else the text converted. A field never set this way gives its text converted.
std::string HeaderFieldText(const QLineEdit* field);
