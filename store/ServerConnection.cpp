#include "store/ServerConnection.h"

#include "base/AsciiCase.h"
#include "settings/ProfileFile.h"

#include <cstdlib>

namespace {

constexpr std::size_t kValueBufferSize = 1024;

} // namespace

const char* SecurityName(NntpSecurity security) {
    switch (security) {
    case NntpSecurity::StartTls:
        return "starttls";
    case NntpSecurity::Tls:
        return "tls";
    case NntpSecurity::None:
        break;
    }
    return "none";
}

NntpSecurity SecurityFromName(const std::string& name) {
    if (EqualsNoCase(name, "starttls"))
        return NntpSecurity::StartTls;
    if (EqualsNoCase(name, "tls"))
        return NntpSecurity::Tls;
    return NntpSecurity::None;
}

std::string ConnectionSection(const std::string& host) {
    return kConnectionSectionPrefix + host;
}

ServerConnection ReadServerConnection(const std::string& iniPath, const std::string& host) {
    ServerConnection c;
    CProfileFile file;
    if (!file.Load(iniPath))
        return c;
    const std::string section = ConnectionSection(host);
    auto value = [&](const char* key) {
        return CutToBuffer(file.GetString(section, key, ""), kValueBufferSize);
    };
    const long port = std::strtol(value(kConnectionPortKey).c_str(), nullptr, 10);
    c.port = port > 0 && port <= 65535 ? static_cast<int>(port) : 0;
    c.security = SecurityFromName(value(kConnectionSecurityKey));
    c.user = value(kConnectionUserKey);
    c.allowPlainLogin = value(kConnectionAllowPlainKey) == "1";
    c.trustedFingerprint = value(kConnectionTrustedKey);
    return c;
}

bool WriteServerConnection(const std::string& iniPath, const std::string& host,
                           const ServerConnection& connection) {
    CProfileFile file;
    if (!file.Load(iniPath))
        return false;
    const std::string section = ConnectionSection(host);
    std::string unused;
    const bool hasSection = file.Find(section, kConnectionSecurityKey, unused) ||
                            file.Find(section, kConnectionPortKey, unused) ||
                            file.Find(section, kConnectionUserKey, unused) ||
                            file.Find(section, kConnectionTrustedKey, unused);
    if (!hasSection && connection == ServerConnection{})
        return true;
    const bool ok =
        file.SetString(section, kConnectionPortKey, std::to_string(connection.port)) &&
        file.SetString(section, kConnectionSecurityKey, SecurityName(connection.security)) &&
        file.SetString(section, kConnectionUserKey, connection.user) &&
        file.SetString(section, kConnectionAllowPlainKey, connection.allowPlainLogin ? "1" : "0") &&
        file.SetString(section, kConnectionTrustedKey, connection.trustedFingerprint);
    return ok && file.Save(iniPath);
}

bool WriteTrustedCertificate(const std::string& iniPath, const std::string& host,
                             const std::string& fingerprint) {
    return WriteProfileString(iniPath, ConnectionSection(host), kConnectionTrustedKey, fingerprint);
}
