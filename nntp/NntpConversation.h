#pragma once

#include <string>
#include <string_view>

class CNntpSocket;

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

enum class NntpStart {
    Ready,         // greeted with "200": the caller's commands may follow
    ConnectFailed, // show ConnectFailureMessage (or kSocketConnectErrorMessage)
    Refused,       // any other greeting: show ConnectionErrorMessage(code); nothing was sent
    Cut,           // no whole greeting came: show ReplyFailureMessage; nothing was sent
};

// SetHost, Open (its result is not looked at: a failed Open shows as a failed Connect), Connect
// to DefaultNntpPort(), then the greeting read and split; code receives the greeting's code.
NntpStart BeginConversation(CNntpSocket& socket, const std::string& host, std::string& code);

// "QUIT\r\n" then "EXIT\r\n"; no reply is read and a send that fails (the server may close after
// QUIT) does not matter.
void EndConversation(CNntpSocket& socket);
