#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Certificates made for a test with OpenSSL (P-256 keys), and the server's side of a TLS
// session over memory buffers, to talk to a CTlsEngine without a socket.

struct TestKeyCert {
    std::string certPem;
    std::string keyPem;
    std::string fingerprint; // SHA-256, upper-case hex pairs joined by ":"
    std::string subject;     // RFC 2253 form
};

struct TestCertOptions {
    std::string commonName = "localhost";
    // "DNS:localhost", "IP:127.0.0.1", ...
    std::vector<std::string> altNames = {"DNS:localhost", "IP:127.0.0.1"};
    long notBeforeDays = -1; // relative to now
    long notAfterDays = 30;
};

// A CA certificate; issuer null makes it self-signed.
TestKeyCert MakeTestCa(const std::string& commonName);
// A server certificate signed by issuer, or self-signed when issuer is null.
TestKeyCert MakeTestServerCert(const TestCertOptions& options, const TestKeyCert* issuer);

// The server's side of a session. maxVersion 0 allows every version; TLS1_1_VERSION and the
// like make a server too old for the client.
class TestTlsServer {
public:
    TestTlsServer(const TestKeyCert& identity, int maxVersion = 0);
    ~TestTlsServer();
    TestTlsServer(const TestTlsServer&) = delete;
    TestTlsServer& operator=(const TestTlsServer&) = delete;

    void PutNetworkBytes(std::string_view bytes);
    std::string TakeNetworkBytes();
    // 1 done, 0 wants more, -1 failed.
    int Handshake();
    void Write(std::string_view plain);
    std::string ReadAvailable();
    void Shutdown();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class EnvGuard {
public:
    EnvGuard(const char* name, const std::string& value);
    ~EnvGuard();
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};
