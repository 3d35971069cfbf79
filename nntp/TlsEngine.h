#pragma once

#include <memory>
#include <string>
#include <string_view>

// Names a PEM file of further certificate authorities to trust beside the system's store. Tests
// point it at their own CA; the chain and the host name are always checked.
inline constexpr char kTlsCaFileVariable[] = "QUILLO_TLS_CA_FILE";

// The server's certificate as the user is shown it when it cannot be verified.
struct TlsCertificateInfo {
    std::string subject;     // one line, RFC 2253 form
    std::string issuer;      // the same form
    std::string fingerprint; // SHA-256 of the DER form, upper-case hex pairs joined by ":"
    std::string reason;      // why verification failed, in Japanese with OpenSSL's words after it
    int verifyError = 0;     // OpenSSL's X509_V_ERR_* number; 0 when the chain was verified
};

// The Japanese reason for an OpenSSL certificate verification error.
std::string TlsVerifyReason(int verifyError);

// The client side of one TLS session, over memory buffers: the caller carries the bytes between
// the engine and its socket, so the engine never blocks and the socket keeps its own waits,
// deadlines and pump hook.
//
// The server's chain is verified against the system's trust store (plus the file named by
// kTlsCaFileVariable) and its certificate against the host name (or IP address); TLS 1.2 is the
// oldest version spoken. A certificate that fails verification is accepted only when its
// SHA-256 fingerprint equals the one the user trusted for this server.
class CTlsEngine {
public:
    enum class Progress { Done, WantRead, Failed };
    enum class Read { Data, WantRead, Closed, Failed };

    CTlsEngine();
    ~CTlsEngine();
    CTlsEngine(const CTlsEngine&) = delete;
    CTlsEngine& operator=(const CTlsEngine&) = delete;

    // Prepares a session for host; trustedFingerprint may be empty. False (ErrorText says why)
    // when the TLS library cannot be set up.
    bool Start(const std::string& host, const std::string& trustedFingerprint);

    // Bytes received from the server.
    void PutNetworkBytes(std::string_view bytes);
    // Bytes to send to the server, taken out of the engine.
    std::string TakeNetworkBytes();

    // Advances the handshake. WantRead: send TakeNetworkBytes, then feed what arrives.
    Progress Handshake();
    bool HandshakeDone() const;
    // Encrypts application data; the result is waiting in TakeNetworkBytes.
    bool Write(std::string_view plain);
    // Appends the application data that can be decrypted from what was fed so far.
    Read ReadAvailable(std::string& plain);
    // The close_notify alert, in TakeNetworkBytes.
    void Shutdown();

    // After a failed handshake: true when the server's certificate was refused (Certificate says
    // why), false for any other failure (ErrorText).
    bool CertificateRejected() const;
    // The server's certificate, once the handshake has seen it.
    const TlsCertificateInfo& Certificate() const;
    std::string ErrorText() const;
    // "TLSv1.3" and the like, once the handshake is done.
    std::string ProtocolVersion() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
