#include "nntp/NntpConversation.h"

#include "nntp/NntpSocket.h"

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

NntpStart BeginConversation(CNntpSocket& socket, const std::string& host, std::string& code) {
    code.clear();
    socket.SetHost(host);
    socket.Open();
    if (!socket.Connect(host, DefaultNntpPort()))
        return NntpStart::ConnectFailed;
    std::string greeting;
    std::string rest;
    if (socket.ReadResponse(greeting) <= 0)
        return NntpStart::Cut;
    CNntpSocket::SplitStatus(greeting, code, rest);
    return code == "200" ? NntpStart::Ready : NntpStart::Refused;
}

void EndConversation(CNntpSocket& socket) {
    socket.SendCommand("QUIT\r\n");
    socket.SendCommand("EXIT\r\n");
}
