#pragma once

#include <cstddef>
#include <string>

// The poster's identity in section "ENVIRONMENT" of the settings file: NAME and EMAIL as typed,
// and the signature SIG in its escaped one-line form (EncodeQuoted), any number of lines.

inline constexpr char kEnvironmentSection[] = "ENVIRONMENT";
inline constexpr char kUserNameKey[] = "NAME";
inline constexpr char kUserEmailKey[] = "EMAIL";
inline constexpr char kSignatureKey[] = "SIG";
// NAME and EMAIL are read into buffers of this size (cut at 1,023 bytes). SIG is read whole.
inline constexpr std::size_t kUserValueBufferSize = 1024;

// Shown by the post and reply commands when the check fails.
inline constexpr char kSettingsNeededMessage[] = "環境設定を行ってください";

struct CUserSettings {
    std::string name;
    std::string email;
    std::string signature; // decoded, CR LF between lines
};

// The three values; missing ones (or a missing file) read as empty.
CUserSettings ReadUserSettings(const std::string& iniPath);

// Writes all three in one replacement of the file; false when it cannot be written.
bool WriteUserSettings(const std::string& iniPath, const CUserSettings& settings);

// True when both NAME and EMAIL are stored and not empty.
bool CheckUserSettings(const std::string& iniPath);
