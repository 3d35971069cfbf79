#pragma once

#include <string>

class CNntpSocket;

// AUTHINFO USER/PASS (RFC 4643).

enum class AuthResult {
    Accepted,           // 281
    Rejected,           // 481: wrong user name or password
    OutOfSequence,      // 482
    NotSupported,       // 502 (or 500/501: the server has no AUTHINFO)
    EncryptionRequired, // 483: the server wants TLS first
    NoPassword,         // 381 came, but no password is stored; nothing more was sent
    Failed,             // another reply, or the connection failed
};

// Sends "AUTHINFO USER user" and, when the server answers 381, "AUTHINFO PASS password". reply
// receives the last status line without its line end. The caller decides beforehand whether the
// connection may carry the password at all.
AuthResult Authenticate(CNntpSocket& socket, const std::string& user, const std::string& password,
                        std::string& reply);

// The message for a failed authentication (UTF-8), with the server's reply in it.
std::string AuthFailureMessage(AuthResult result, const std::string& reply);

// The message for a reply that refuses a command until the user logs in (480) or until the
// connection is encrypted (483); empty for any other reply.
std::string AccessReplyMessage(const std::string& statusLine);

// Server text as it may stand in a message: printable ASCII, the line end gone.
std::string PrintableReply(const std::string& statusLine);
