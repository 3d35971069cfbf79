#pragma once

#include <string>

// How a registered news server is reached: port, encryption, login name and the one
// certificate the user chose to trust. Kept in the settings file in a section of its own per
// server, "NNTPCONN " + host, beside the server list (which stays as it is). A server without
// that section is reached as always: plain NNTP on the default port, no login. The password is
// never kept here (see PasswordStore.h).

inline constexpr char kConnectionSectionPrefix[] = "NNTPCONN ";
inline constexpr char kConnectionPortKey[] = "Port";
inline constexpr char kConnectionSecurityKey[] = "Security";
inline constexpr char kConnectionUserKey[] = "User";
inline constexpr char kConnectionAllowPlainKey[] = "AllowPlainLogin";
inline constexpr char kConnectionTrustedKey[] = "TrustedCertificate";

// The port of implicit TLS (RFC 8143).
inline constexpr int kNntpTlsPort = 563;

enum class NntpSecurity {
    None,     // plain NNTP
    StartTls, // plain connection, then STARTTLS before anything else (RFC 4642)
    Tls,      // TLS from the first byte (RFC 8143)
};

struct ServerConnection {
    int port = 0; // 0: DefaultNntpPort() for None and StartTls, kNntpTlsPort for Tls
    NntpSecurity security = NntpSecurity::None;
    std::string user; // empty: no AUTHINFO unless the server asks, and then it fails
    // Sends the password over a connection without TLS; off unless the user ticks it.
    bool allowPlainLogin = false;
    // SHA-256 fingerprint of a certificate that failed verification and that the user trusted.
    std::string trustedFingerprint;

    bool operator==(const ServerConnection&) const = default;
};

// "none", "starttls", "tls"; unknown text reads as None.
const char* SecurityName(NntpSecurity security);
NntpSecurity SecurityFromName(const std::string& name);

std::string ConnectionSection(const std::string& host);

// The stored settings of host, or the defaults when it has none.
ServerConnection ReadServerConnection(const std::string& iniPath, const std::string& host);
// Writes the settings of host. A server whose settings are all defaults and which has no
// section yet gets none, so the file of a user who never touches them stays as it was.
// False when the file cannot be written (it is then unchanged).
bool WriteServerConnection(const std::string& iniPath, const std::string& host,
                           const ServerConnection& connection);
// Stores only the trusted certificate of host.
bool WriteTrustedCertificate(const std::string& iniPath, const std::string& host,
                             const std::string& fingerprint);
