#pragma once

#include "store/ServerConnection.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class CNntpSocket;
class IPasswordStore;
struct TlsCertificateInfo;

// The beginning and the end that every conversation with a news server shares, and the
// messages shown when it cannot begin.

// Shown by the server registration window when the connection cannot be made.
inline constexpr char kSocketConnectErrorMessage[] = "ソケット接続エラーが発生しました";

// " 接続エラーが発生しました '…' " around detail (a greeting code or an error text).
std::string ConnectionErrorMessage(std::string_view detail);
// What the update, synchronisation and article fetch show after a failed Connect: a lookup
// failure suggests the machine is off the network, anything else names the socket error.
std::string ConnectFailureMessage(const CNntpSocket& socket);

// Why a conversation died (NntpFailure), in words: "サーバーが接続を切りました。" (closed or
// reset), "サーバーの応答が時間内に届きませんでした。" (a deadline passed),
// "サーバーから長すぎる行が 届きました。" (a line over its bound), "サーバーの応答が大きすぎます。"
// (a reply over its bound), otherwise the socket error's text, or
// "サーバーとの通信に失敗しました。" when it has none.
std::string ReplyFailureText(const CNntpSocket& socket);
// " 接続エラーが発生しました '…' " around ReplyFailureText: what a conversation shows when a reply
// was cut.
std::string ReplyFailureMessage(const CNntpSocket& socket);

// Shown when a server lists more groups than the group table keeps: "グループが多すぎるため、最初の
// %d 個だけを表示します" with the number kept.
std::string GroupListFullMessage(int kept);

// How a conversation reaches a server: its connection settings and its password.
struct NntpServerProfile {
    ServerConnection connection;
    std::string password;
};

// Where conversations learn how to reach a server, and whom they ask about a certificate that
// fails verification. The program sets one at start-up; without one every server is plain
// NNTP on DefaultNntpPort() without a login.
class INntpServerDirectory {
public:
    virtual ~INntpServerDirectory() = default;
    virtual NntpServerProfile Find(const std::string& host) = 0;
    // The server's certificate failed verification: true when the user trusts it for this
    // server, in which case the directory has stored its fingerprint.
    virtual bool TrustCertificate(const std::string& host, int port,
                                  const TlsCertificateInfo& certificate) = 0;
};
void SetNntpServerDirectory(std::shared_ptr<INntpServerDirectory> directory);
std::shared_ptr<INntpServerDirectory> NntpServerDirectory();

// The directory over the settings file and a password store; ask shows the certificate to the
// user (null: nothing is trusted).
class CSettingsServerDirectory : public INntpServerDirectory {
public:
    using AskTrust = std::function<bool(const std::string& host, int port,
                                        const TlsCertificateInfo& certificate)>;
    CSettingsServerDirectory(std::string iniPath, std::shared_ptr<IPasswordStore> passwords,
                             AskTrust ask = nullptr);
    NntpServerProfile Find(const std::string& host) override;
    bool TrustCertificate(const std::string& host, int port,
                          const TlsCertificateInfo& certificate) override;

private:
    std::string m_iniPath;
    std::shared_ptr<IPasswordStore> m_passwords;
    AskTrust m_ask;
};

// The port a conversation with these settings connects to.
int ConnectionPort(const ServerConnection& connection);

enum class NntpStart {
    Ready,         // greeted with "200", encrypted and logged in as configured
    ConnectFailed, // show ConnectFailureMessage (or kSocketConnectErrorMessage)
    Refused,       // any other greeting: show ConnectionErrorMessage(code); nothing was sent
    Cut,           // no whole greeting came: show ReplyFailureMessage; nothing was sent
    Failed,        // TLS, STARTTLS or the login failed, or the certificate was not trusted:
                   // show the message
};

// Opens a conversation with host as the server directory describes it: connect to its port,
// TLS from the start (implicit TLS) or after STARTTLS, the greeting, which must be "200", then
// AUTHINFO when a user name is set. A certificate that fails verification is shown to the user
// through the directory; trusted, the conversation starts again on a new connection. STARTTLS
// that the server does not offer, and a password that would travel unencrypted without the
// user's consent, end the conversation before anything secret is sent. code receives the
// greeting's code; message, for Refused, Cut and Failed, what to show (UTF-8).
NntpStart BeginConversation(CNntpSocket& socket, const std::string& host, std::string& code,
                            std::string& message);

// "QUIT\r\n" then "EXIT\r\n"; no reply is read and a send that fails (the server may close after
// QUIT) does not matter.
void EndConversation(CNntpSocket& socket);
