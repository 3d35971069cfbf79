#pragma once

#include <string>
#include <string_view>

// The program's private temporary directory: "quillo-<uid>" under the temporary root ($TMPDIR
// when it names an absolute path, else /tmp), a real directory owned by this user with mode
// 0700. Part files, previews and drafts in progress live there. When that name is taken by a
// symlink, another user's directory or anything else, a fresh directory
// "quillo-<uid>-XXXXXX" is made with mkdtemp and used for the rest of the process instead.
// Empty when no directory can be made.
std::string PrivateTempDirectory();

// A new, empty, uniquely named file in the private temporary directory whose name ends in
// suffix (previews need ".htm" or ".txt"); its full path, or the empty text when it cannot be
// created. The caller owns the file and removes it when done.
std::string GetTempFile(std::string_view suffix = ".tmp");

// Chooses the temporary root (tests); an empty path returns to the system's.
void SetTempRoot(const std::string& root);
