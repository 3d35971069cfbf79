// How long the set-up of one conversation takes against the project's INN: plain on 119,
// STARTTLS with the test user on 119, implicit TLS with the test user on 563 (connect, TLS,
// greeting, AUTHINFO, then QUIT). Run by hand: bench_conversation_setup [ROUNDS]
// Trusts the test CA of tools/inn.sh through QUILLO_TLS_CA_FILE.

#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/TlsEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Fixed : public INntpServerDirectory {
public:
    NntpServerProfile profile;
    NntpServerProfile Find(const std::string&) override { return profile; }
    bool TrustCertificate(const std::string&, int, const TlsCertificateInfo&) override {
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    ::setenv(kTlsCaFileVariable, "/etc/news/quillo-tls/ca.pem", 0);
    struct Kind {
        const char* name;
        NntpSecurity security;
        bool login;
    };
    const Kind kinds[] = {{"plain 119, no login", NntpSecurity::None, false},
                          {"STARTTLS 119 + AUTHINFO", NntpSecurity::StartTls, true},
                          {"TLS 563 + AUTHINFO", NntpSecurity::Tls, true}};
    auto directory = std::make_shared<Fixed>();
    SetNntpServerDirectory(directory);
    for (const Kind& kind : kinds) {
        directory->profile.connection = {0, kind.security, kind.login ? "quillotest" : "", false,
                                         ""};
        directory->profile.password = "quillo-test-pass";
        std::vector<double> ms;
        for (int i = 0; i < rounds; ++i) {
            const auto start = std::chrono::steady_clock::now();
            CNntpSocket socket;
            std::string code, message;
            if (BeginConversation(socket, "localhost", code, message) != NntpStart::Ready) {
                std::fprintf(stderr, "%s: %s\n", kind.name, message.c_str());
                return 1;
            }
            EndConversation(socket);
            ms.push_back(std::chrono::duration<double, std::milli>(
                             std::chrono::steady_clock::now() - start)
                             .count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-26s rounds %d  median %.2f ms  min %.2f  max %.2f\n", kind.name, rounds,
                    ms[ms.size() / 2], ms.front(), ms.back());
    }
    return 0;
}
