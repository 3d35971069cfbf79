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

enum class NntpStart {
    Ready,         // greeted with "200": the caller's commands may follow
    ConnectFailed, // show ConnectFailureMessage (or kSocketConnectErrorMessage)
    Refused,       // any other greeting: show ConnectionErrorMessage(code); nothing was sent
};

// SetHost, Open (its result is not looked at: a failed Open shows as a failed Connect), Connect
// to DefaultNntpPort(), then the greeting read and split; code receives the greeting's code.
NntpStart BeginConversation(CNntpSocket& socket, const std::string& host, std::string& code);

// "QUIT\r\n" then "EXIT\r\n"; no reply is read and a send that fails (the server may close after
// QUIT) does not matter.
void EndConversation(CNntpSocket& socket);
