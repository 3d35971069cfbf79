#pragma once

#include <string>
#include <string_view>

// Half-width katakana (the single Shift_JIS bytes 0xA1-0xDF) cannot travel in ISO-2022-JP, so
// posting writes them in their full-width forms first: ｱ -> ア, ｰ -> ー, ｡ -> 。, and a voiced
// or semi-voiced sound mark joins the kana before it where a combined form exists (ｶﾞ -> ガ,
// ﾊﾟ -> パ, ｳﾞ -> ヴ); a mark that joins nothing becomes ゛ or ゜. Pairs and every other byte
// are copied unchanged.
std::string HalfToFullKatakana(std::string_view sjis);
