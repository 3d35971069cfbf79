#include "nntp/TlsEngine.h"

#include <cstdlib>
#include <mutex>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {

constexpr std::size_t kReadBlock = 16384;

// The slot of an SSL object that leads the verify callback back to its engine.
int EngineIndex() {
    static int index = -1;
    static std::once_flag once;
    std::call_once(once,
                   [] { index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    return index;
}

bool IsIpAddress(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string NameText(const X509_NAME* name) {
    std::string text;
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return text;
    // Keeps UTF-8 as it is rather than escaping it, and separates the parts with ", ".
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    if (size > 0)
        text.assign(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return text;
}

std::string Fingerprint(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!X509_digest(certificate, EVP_sha256(), digest, &length))
        return std::string();
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i)
            text += ':';
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

// The errors of the OpenSSL queue as one line, which empties the queue.
std::string TakeErrorQueue() {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(e, buffer, sizeof buffer);
        if (!text.empty())
            text += "; ";
        text += buffer;
    }
    return text;
}

} // namespace

std::string TlsVerifyReason(int verifyError) {
    std::string text;
    switch (verifyError) {
    case X509_V_OK:
        return std::string();
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        text = "証明書がこのサーバーの名前のものではありません";
        break;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        text = "自己署名の証明書で、信頼できる発行者がありません";
        break;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        text = "証明書の発行者が信頼できる発行者の中にありません";
        break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        text = "証明書の有効期限が切れています";
        break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        text = "証明書はまだ有効になっていません";
        break;
    case X509_V_ERR_CERT_REVOKED:
        text = "証明書は失効しています";
        break;
    default:
        text = "証明書を検証できませんでした";
        break;
    }
    text += " (";
    text += X509_verify_cert_error_string(verifyError);
    text += ")";
    return text;
}

struct CTlsEngine::Impl {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;  // fed with the server's bytes; owned by ssl
    BIO* out = nullptr; // what goes to the server; owned by ssl
    std::string trusted;
    bool done = false;
    bool rejected = false;
    bool haveCertificate = false;
    TlsCertificateInfo certificate;
    std::string error;

    ~Impl() {
        if (ssl)
            SSL_free(ssl);
        if (ctx)
            SSL_CTX_free(ctx);
    }

    static int Verify(int ok, X509_STORE_CTX* store) {
        SSL* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        Impl* self = ssl ? static_cast<Impl*>(SSL_get_ex_data(ssl, EngineIndex())) : nullptr;
        if (!self)
            return 0;
        const X509* leaf = X509_STORE_CTX_get0_cert(store);
        if (leaf && !self->haveCertificate) {
            self->haveCertificate = true;
            self->certificate.subject = NameText(X509_get_subject_name(leaf));
            self->certificate.issuer = NameText(X509_get_issuer_name(leaf));
            self->certificate.fingerprint = Fingerprint(leaf);
        }
        if (ok)
            return 1;
        if (self->certificate.verifyError == X509_V_OK) {
            self->certificate.verifyError = X509_STORE_CTX_get_error(store);
            self->certificate.reason = TlsVerifyReason(self->certificate.verifyError);
        }
        // The one certificate the user chose to trust for this server, whatever is wrong with it.
        if (!self->trusted.empty() && self->trusted == self->certificate.fingerprint)
            return 1;
        self->rejected = true;
        return 0;
    }
};

CTlsEngine::CTlsEngine() : m_impl(std::make_unique<Impl>()) {}

CTlsEngine::~CTlsEngine() = default;

bool CTlsEngine::Start(const std::string& host, const std::string& trustedFingerprint) {
    m_impl = std::make_unique<Impl>();
    Impl& d = *m_impl;
    d.trusted = trustedFingerprint;
    ERR_clear_error();
    d.ctx = SSL_CTX_new(TLS_client_method());
    if (!d.ctx) {
        d.error = TakeErrorQueue();
        return false;
    }
    SSL_CTX_set_min_proto_version(d.ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(d.ctx);
    if (const char* caFile = std::getenv(kTlsCaFileVariable); caFile && *caFile) {
        if (SSL_CTX_load_verify_locations(d.ctx, caFile, nullptr) != 1) {
            d.error = std::string("CA file ") + caFile + ": " + TakeErrorQueue();
            return false;
        }
    }
    SSL_CTX_set_verify(d.ctx, SSL_VERIFY_PEER, &Impl::Verify);

    d.ssl = SSL_new(d.ctx);
    d.in = BIO_new(BIO_s_mem());
    d.out = BIO_new(BIO_s_mem());
    if (!d.ssl || !d.in || !d.out) {
        BIO_free(d.in);
        BIO_free(d.out);
        d.in = d.out = nullptr;
        d.error = TakeErrorQueue();
        return false;
    }
    SSL_set_bio(d.ssl, d.in, d.out);
    SSL_set_ex_data(d.ssl, EngineIndex(), &d);
    SSL_set_connect_state(d.ssl);

    X509_VERIFY_PARAM* param = SSL_get0_param(d.ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    bool named;
    if (IsIpAddress(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
    } else {
        named = SSL_set1_host(d.ssl, host.c_str()) == 1 &&
                SSL_set_tlsext_host_name(d.ssl, host.c_str()) == 1;
    }
    if (!named) {
        d.error = "invalid host name for TLS: " + TakeErrorQueue();
        return false;
    }
    return true;
}

void CTlsEngine::PutNetworkBytes(std::string_view bytes) {
    if (m_impl->in && !bytes.empty())
        BIO_write(m_impl->in, bytes.data(), static_cast<int>(bytes.size()));
}

std::string CTlsEngine::TakeNetworkBytes() {
    std::string bytes;
    if (!m_impl->out)
        return bytes;
    char* data = nullptr;
    const long size = BIO_get_mem_data(m_impl->out, &data);
    if (size > 0) {
        bytes.assign(data, static_cast<std::size_t>(size));
        (void)BIO_reset(m_impl->out);
    }
    return bytes;
}

CTlsEngine::Progress CTlsEngine::Handshake() {
    Impl& d = *m_impl;
    if (d.done)
        return Progress::Done;
    if (!d.ssl)
        return Progress::Failed;
    ERR_clear_error();
    const int result = SSL_do_handshake(d.ssl);
    if (result == 1) {
        // The verify callback has passed the chain, or the user's trusted certificate.
        if (!SSL_get0_peer_certificate(d.ssl)) {
            d.error = "the server sent no certificate";
            return Progress::Failed;
        }
        d.done = true;
        return Progress::Done;
    }
    const int error = SSL_get_error(d.ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return Progress::WantRead;
    d.error = TakeErrorQueue();
    if (d.error.empty())
        d.error = error == SSL_ERROR_ZERO_RETURN || error == SSL_ERROR_SYSCALL
                      ? "the server closed the connection during the TLS handshake"
                      : "TLS handshake failed";
    return Progress::Failed;
}

bool CTlsEngine::HandshakeDone() const {
    return m_impl->done;
}

bool CTlsEngine::Write(std::string_view plain) {
    Impl& d = *m_impl;
    if (!d.done)
        return false;
    std::size_t written = 0;
    while (written < plain.size()) {
        ERR_clear_error();
        std::size_t n = 0;
        if (SSL_write_ex(d.ssl, plain.data() + written, plain.size() - written, &n) != 1) {
            d.error = TakeErrorQueue();
            return false;
        }
        written += n;
    }
    return true;
}

CTlsEngine::Read CTlsEngine::ReadAvailable(std::string& plain) {
    Impl& d = *m_impl;
    if (!d.done)
        return Read::Failed;
    bool any = false;
    char block[kReadBlock];
    for (;;) {
        ERR_clear_error();
        std::size_t n = 0;
        const int result = SSL_read_ex(d.ssl, block, sizeof block, &n);
        if (result == 1) {
            plain.append(block, n);
            any = true;
            continue;
        }
        const int error = SSL_get_error(d.ssl, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            return any ? Read::Data : Read::WantRead;
        if (error == SSL_ERROR_ZERO_RETURN)
            return any ? Read::Data : Read::Closed;
        d.error = TakeErrorQueue();
        return any ? Read::Data : Read::Failed;
    }
}

void CTlsEngine::Shutdown() {
    if (m_impl->done) {
        ERR_clear_error();
        SSL_shutdown(m_impl->ssl);
        ERR_clear_error();
    }
}

bool CTlsEngine::CertificateRejected() const {
    return m_impl->rejected;
}

const TlsCertificateInfo& CTlsEngine::Certificate() const {
    return m_impl->certificate;
}

std::string CTlsEngine::ErrorText() const {
    return m_impl->error;
}

std::string CTlsEngine::ProtocolVersion() const {
    return m_impl->done ? SSL_get_version(m_impl->ssl) : std::string();
}
