#pragma once

#include <string>
#include <string_view>
#include <vector>

// The body of an article in progress as the compose window and posting see it: Shift_JIS text
// with CR LF line breaks. Lines of any length are kept whole.

// The lines of a text, without their line ends. CR LF, a lone CR and a lone LF each end a line;
// a Shift_JIS lead byte takes the byte after it into the line unexamined. The text ends at its
// first zero byte. A last line without a line end is a line too; a text that ends with a line
// end has no empty line after it, and an empty text has no lines.
std::vector<std::string> SplitTextLines(std::string_view text);

// The text with CR LF added when it is not empty and does not end with a line end.
std::string WithFinalLineBreak(std::string text);

// Removes HTML tags from a body, line by line, for the plain part of an HTML article and the
// compose window's "HTMLタグ削除". A tag may run over several lines. Only a "<BR>" (any letter
// case) that ends a line right before its CR LF keeps that line break; every other line loses
// its CR LF, so the text runs on into the next line. Lines left empty disappear. Character
// references are not decoded.
std::string StripHtmlTags(std::string_view body);

// The body made from the lines of a file (a preload file, or the result of StripHtmlTags): each
// line with " > " in front when quoting, every "<BR>" (any letter case) written "<BR>" and
// followed by CR LF so that HTML line breaks break the line in the editor too, and CR LF after
// the line. Every quoted text passes through here.
std::string LoadBodyText(std::string_view content, bool quote);
