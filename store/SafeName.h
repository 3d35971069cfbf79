#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Server host names, group names and Message-IDs come from the network and become directory and
// file names. Every such name passes through SafeName before it touches the file system.

// Longest file name the file systems we run on accept (NAME_MAX), in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// Turns a name into one path component, with `suffix` (a fixed, already safe extension such as
// ".ntx", or nothing) appended. The result never contains "/", "\", NUL or a control byte, is never
// empty, "." or "..", and is at most kMaxFileNameBytes long including the suffix.
//
// A name that is already safe is kept byte for byte ("abc@example.com", "fj.comp.misc"). Otherwise
// "%", "/", "\", NUL, bytes 0x01-0x1F and 0x7F are written as "%XX" (upper-case hex), a whole name
// "." or ".." has its dots written as "%2E", and an empty name standing alone becomes "%". Since
// "%" itself is escaped, different names give different components.
//
// A name whose escaped form does not fit is cut: the longest escaped prefix that fits, then "%~",
// then 32 hex digits of the SHA-256 of the whole name, then the suffix. "%~" appears in no uncut
// form, so a cut name never meets an uncut one; two cut names meet only if their 128-bit hashes
// collide, which nobody can bring about on purpose.
//
// Returns an empty string only when the suffix leaves no room or is not a safe component itself.
std::string SafeName(std::string_view name, std::string_view suffix = {});

// The name a component made by SafeName stands for, or nothing when the component is not one that
// SafeName produces uncut with this suffix (cut names cannot be reversed).
std::optional<std::string> OriginalName(std::string_view component, std::string_view suffix = {});
