#include "nntp/NntpConversation.h"

#include "nntp/NntpAuth.h"
#include "nntp/NntpSocket.h"
#include "nntp/TlsEngine.h"
#include "settings/PasswordStore.h"

#include <mutex>

namespace {

std::mutex g_directoryMutex;
std::shared_ptr<INntpServerDirectory> g_directory;

enum class Step { Ready, ConnectFailed, Refused, Cut, Failed, Untrusted };

std::string TlsFailureMessage(const CNntpSocket& socket) {
    std::string message = "暗号化 (TLS) した接続を確立できませんでした";
    if (const CTlsEngine* tls = socket.TlsEngine(); tls && !tls->ErrorText().empty())
        message += "\n" + tls->ErrorText();
    return message;
}

// One attempt on one connection; Untrusted when the certificate failed verification.
Step Attempt(CNntpSocket& socket, const std::string& host, const NntpServerProfile& profile,
             std::string& code, std::string& message) {
    const ServerConnection& c = profile.connection;
    socket.SetHost(host);
    socket.Open();
    if (!socket.Connect(host, ConnectionPort(c)))
        return Step::ConnectFailed;
    auto startTls = [&] {
        if (socket.StartTls(host, c.trustedFingerprint))
            return Step::Ready;
        const CTlsEngine* tls = socket.TlsEngine();
        if (tls && tls->CertificateRejected())
            return Step::Untrusted;
        message = TlsFailureMessage(socket);
        return Step::Failed;
    };
    if (c.security == NntpSecurity::Tls) {
        if (Step step = startTls(); step != Step::Ready)
            return step;
    }
    std::string greeting;
    std::string rest;
    if (socket.ReadResponse(greeting) <= 0) {
        message = ReplyFailureMessage(socket);
        return Step::Cut;
    }
    CNntpSocket::SplitStatus(greeting, code, rest);
    if (code != "200") {
        message = ConnectionErrorMessage(code);
        return Step::Refused;
    }
    if (c.security == NntpSecurity::StartTls) {
        std::string reply;
        socket.SendCommand("STARTTLS\r\n");
        socket.ReadResponse(reply);
        if (!reply.starts_with("382")) {
            // Never carry on in plain text what the user asked to be encrypted.
            message = "このサーバーは STARTTLS に応じないため、接続を中止しました\n'" +
                      PrintableReply(reply) + "'";
            return Step::Failed;
        }
        if (Step step = startTls(); step != Step::Ready)
            return step;
    }
    if (!c.user.empty()) {
        if (!socket.IsTls() && !c.allowPlainLogin) {
            message = "暗号化されていない接続ではパスワードを送りません。"
                      "サーバー登録で暗号化を選ぶか、暗号化なしの認証を許可してください";
            return Step::Failed;
        }
        std::string reply;
        const AuthResult auth = Authenticate(socket, c.user, profile.password, reply);
        if (auth != AuthResult::Accepted) {
            message = AuthFailureMessage(auth, reply);
            return Step::Failed;
        }
    }
    return Step::Ready;
}

} // namespace

std::string ConnectionErrorMessage(std::string_view detail) {
    std::string message = " 接続エラーが発生しました '";
    message.append(detail);
    message += "' ";
    return message;
}

std::string ConnectFailureMessage(const CNntpSocket& socket) {
    if (socket.GetLastError() == kWsaEInval)
        return "接続エラーが発生しました \nネットワークに接続していない可能性があります";
    return ConnectionErrorMessage(socket.GetErrorText());
}

std::string ReplyFailureText(const CNntpSocket& socket) {
    switch (socket.GetFailure()) {
    case NntpFailure::Closed:
        return "サーバーが接続を切りました。";
    case NntpFailure::TimedOut:
        return "サーバーの応答が時間内に届きませんでした。";
    case NntpFailure::LineTooLong:
        return "サーバーから長すぎる行が届きました。";
    case NntpFailure::TooLarge:
        return "サーバーの応答が大きすぎます。";
    case NntpFailure::Failed:
    case NntpFailure::None:
        break;
    }
    const std::string text = socket.GetErrorText();
    return text.empty() ? "サーバーとの通信に失敗しました。" : text;
}

std::string ReplyFailureMessage(const CNntpSocket& socket) {
    return ConnectionErrorMessage(ReplyFailureText(socket));
}

std::string GroupListFullMessage(int kept) {
    return "グループが多すぎるため、最初の " + std::to_string(kept) + " 個だけを表示します";
}

void SetNntpServerDirectory(std::shared_ptr<INntpServerDirectory> directory) {
    std::lock_guard<std::mutex> lock(g_directoryMutex);
    g_directory = std::move(directory);
}

std::shared_ptr<INntpServerDirectory> NntpServerDirectory() {
    std::lock_guard<std::mutex> lock(g_directoryMutex);
    return g_directory;
}

CSettingsServerDirectory::CSettingsServerDirectory(std::string iniPath,
                                                   std::shared_ptr<IPasswordStore> passwords,
                                                   AskTrust ask)
    : m_iniPath(std::move(iniPath)), m_passwords(std::move(passwords)), m_ask(std::move(ask)) {}

NntpServerProfile CSettingsServerDirectory::Find(const std::string& host) {
    NntpServerProfile profile;
    profile.connection = ReadServerConnection(m_iniPath, host);
    if (!profile.connection.user.empty() && m_passwords)
        m_passwords->Read(host, profile.connection.user, profile.password);
    return profile;
}

bool CSettingsServerDirectory::TrustCertificate(const std::string& host, int port,
                                                const TlsCertificateInfo& certificate) {
    if (!m_ask || certificate.fingerprint.empty() || !m_ask(host, port, certificate))
        return false;
    return WriteTrustedCertificate(m_iniPath, host, certificate.fingerprint);
}

int ConnectionPort(const ServerConnection& connection) {
    if (connection.port > 0)
        return connection.port;
    return connection.security == NntpSecurity::Tls ? kNntpTlsPort : DefaultNntpPort();
}

NntpStart BeginConversation(CNntpSocket& socket, const std::string& host, std::string& code,
                            std::string& message) {
    code.clear();
    message.clear();
    const std::shared_ptr<INntpServerDirectory> directory = NntpServerDirectory();
    NntpServerProfile profile = directory ? directory->Find(host) : NntpServerProfile{};
    Step step = Attempt(socket, host, profile, code, message);
    if (step == Step::Untrusted) {
        const TlsCertificateInfo certificate = socket.TlsEngine()->Certificate();
        if (directory &&
            directory->TrustCertificate(host, ConnectionPort(profile.connection), certificate)) {
            // Exactly the certificate the user saw, on a new connection: the old one is spent.
            profile.connection.trustedFingerprint = certificate.fingerprint;
            socket.Reset();
            step = Attempt(socket, host, profile, code, message);
        }
        if (step == Step::Untrusted)
            message = "サーバーの証明書を信頼できないため、接続を中止しました\n" +
                      socket.TlsEngine()->Certificate().reason;
    }
    switch (step) {
    case Step::Ready:
        return NntpStart::Ready;
    case Step::ConnectFailed:
        return NntpStart::ConnectFailed;
    case Step::Refused:
        return NntpStart::Refused;
    case Step::Cut:
        return NntpStart::Cut;
    case Step::Failed:
    case Step::Untrusted:
        break;
    }
    return NntpStart::Failed;
}

void EndConversation(CNntpSocket& socket) {
    socket.SendCommand("QUIT\r\n");
    socket.SendCommand("EXIT\r\n");
}
