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

NntpStart BeginConversation(CNntpSocket& socket, const std::string& host, std::string& code) {
    code.clear();
    socket.SetHost(host);
    socket.Open();
    if (!socket.Connect(host, DefaultNntpPort()))
        return NntpStart::ConnectFailed;
    std::string greeting;
    std::string rest;
    socket.ReadResponse(greeting);
    CNntpSocket::SplitStatus(greeting, code, rest);
    return code == "200" ? NntpStart::Ready : NntpStart::Refused;
}

void EndConversation(CNntpSocket& socket) {
    socket.SendCommand("QUIT\r\n");
    socket.SendCommand("EXIT\r\n");
}
