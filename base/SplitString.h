#pragma once

#include <string>
#include <string_view>
#include <vector>

// Longest text SplitString looks at; bytes beyond it are ignored, as if the text ended there
// (the cut is by bytes and may fall inside a double-byte character).
inline constexpr std::size_t kSplitStringMaxText = 4095;

// Splits text at every separator and returns the number of parts (separators + 1, counted in
// the first kSplitStringMaxText bytes). Adjacent separators give empty parts; a text without a
// separator is one part; an empty text is one empty part.
//
// Entries 0 to n - 1 of parts are set to the empty text first and then receive the parts in
// order; parts grows to n entries when it is shorter, and entries from n on are never touched.
// Parts beyond the n-th are dropped: each entry holds exactly one part and never a separator,
// and the return value still counts every part. With n <= 0 nothing is written.
int SplitString(std::string_view text, std::vector<std::string>& parts, int n, char separator);
