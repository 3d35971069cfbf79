#pragma once

#include <optional>
#include <string>
#include <vector>

// The project's INN on 127.0.0.1:119 (tools/inn.sh start), seen without the program's own
// connection code.

// True when something there greets with 200.
bool InnGreets();

// Article n of the group as the server sends it: its lines, dot-stuffing undone; empty when the
// server does not hand it out.
std::vector<std::string> ServedArticle(const std::string& group, int n);

// The value of a header field of served article lines (name with its colon, any letter case),
// folded lines joined the way the header download stores them when no ISO-2022-JP or
// ISO-8859-1 word meets the fold: the fold and the blanks around it become one blank; nothing
// when the article has no such field.
std::optional<std::string> ServedField(const std::vector<std::string>& lines,
                                       const std::string& name);

// Feeds the articles of a directory (or a file) into a fresh group with tools/inn.sh load; false
// when the loader failed. output gets what the loader said.
bool LoadIntoGroup(const std::string& group, const std::string& path, std::string& output);
