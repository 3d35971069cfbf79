#include "settings/UserSettings.h"

#include "mime/Codec.h"
#include "settings/ProfileFile.h"

CUserSettings ReadUserSettings(const std::string& iniPath) {
    CProfileFile file;
    file.Load(iniPath);
    CUserSettings settings;
    settings.name =
        CutToBuffer(file.GetString(kEnvironmentSection, kUserNameKey, ""), kUserValueBufferSize);
    settings.email =
        CutToBuffer(file.GetString(kEnvironmentSection, kUserEmailKey, ""), kUserValueBufferSize);
    settings.signature = DecodeQuoted(file.GetString(kEnvironmentSection, kSignatureKey, ""));
    return settings;
}

bool WriteUserSettings(const std::string& iniPath, const CUserSettings& settings) {
    CProfileFile file;
    if (!file.Load(iniPath))
        return false;
    return file.SetString(kEnvironmentSection, kUserNameKey, settings.name) &&
           file.SetString(kEnvironmentSection, kUserEmailKey, settings.email) &&
           file.SetString(kEnvironmentSection, kSignatureKey, EncodeQuoted(settings.signature)) &&
           file.Save(iniPath);
}

bool CheckUserSettings(const std::string& iniPath) {
    const CUserSettings settings = ReadUserSettings(iniPath);
    return !settings.name.empty() && !settings.email.empty();
}
