#include "nntp/NntpAuth.h"

#include "nntp/NntpSocket.h"

namespace {

std::string Code(const std::string& line) {
    return line.substr(0, line.find_first_of(" \r\n"));
}

std::string ReadStatus(CNntpSocket& socket) {
    std::string line;
    if (socket.ReadResponse(line) <= 0)
        return std::string();
    return PrintableReply(line);
}

} // namespace

std::string PrintableReply(const std::string& statusLine) {
    std::string text;
    for (char c : statusLine) {
        if (c == '\r' || c == '\n')
            break;
        text += c >= 0x20 && c < 0x7f ? c : '?';
    }
    return text;
}

AuthResult Authenticate(CNntpSocket& socket, const std::string& user, const std::string& password,
                        std::string& reply) {
    reply.clear();
    if (socket.SendCommand("AUTHINFO USER " + user + "\r\n") < 0)
        return AuthResult::Failed;
    reply = ReadStatus(socket);
    std::string code = Code(reply);
    if (code == "381") {
        if (password.empty())
            return AuthResult::NoPassword;
        if (socket.SendCommand("AUTHINFO PASS " + password + "\r\n") < 0)
            return AuthResult::Failed;
        reply = ReadStatus(socket);
        code = Code(reply);
    }
    if (code == "281")
        return AuthResult::Accepted;
    if (code == "481")
        return AuthResult::Rejected;
    if (code == "482")
        return AuthResult::OutOfSequence;
    if (code == "483")
        return AuthResult::EncryptionRequired;
    if (code == "502" || code == "500" || code == "501")
        return AuthResult::NotSupported;
    return AuthResult::Failed;
}

std::string AuthFailureMessage(AuthResult result, const std::string& reply) {
    std::string message;
    switch (result) {
    case AuthResult::Accepted:
        return std::string();
    case AuthResult::EncryptionRequired:
        message = "このサーバーは暗号化 (TLS) した接続でなければ認証できません。"
                  "サーバー登録で暗号化を選んでください";
        break;
    case AuthResult::NoPassword:
        message = "認証に失敗しました\nパスワードが保存されていません";
        break;
    case AuthResult::NotSupported:
        message = "認証に失敗しました\nこのサーバーはユーザー名とパスワードによる認証に応じません";
        break;
    default:
        message = "認証に失敗しました";
        break;
    }
    if (!reply.empty())
        message += "\n'" + reply + "'";
    return message;
}

std::string AccessReplyMessage(const std::string& statusLine) {
    const std::string code = Code(statusLine);
    std::string message;
    if (code == "480")
        message = "このサーバーはユーザー名とパスワードを求めています。"
                  "サーバー登録でユーザー名とパスワードを設定してください";
    else if (code == "483")
        message = "このサーバーは暗号化 (TLS) した接続を求めています。"
                  "サーバー登録で暗号化を選んでください";
    else
        return message;
    return message + "\n'" + PrintableReply(statusLine) + "'";
}
