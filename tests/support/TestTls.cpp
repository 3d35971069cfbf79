#include "support/TestTls.h"

#include <cstdlib>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test TLS: ") + what);
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(size > 0 ? size : 0));
    BIO_free(bio);
    return text;
}

std::string KeyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    return BioText(bio);
}

std::string CertPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    return BioText(bio);
}

std::string HexFingerprint(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
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

std::string Subject(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, X509_get_subject_name(cert), 0,
                       XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    return BioText(bio);
}

EVP_PKEY* ReadKey(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return key;
}

X509* ReadCert(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return cert;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

long g_serial = 1000;

TestKeyCert MakeCert(const std::string& commonName, const std::vector<std::string>& altNames,
                     long notBeforeDays, long notAfterDays, bool isCa, const TestKeyCert* issuer) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    Check(key != nullptr, "key");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), ++g_serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), notBeforeDays * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert), notAfterDays * 86400L);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Quillo tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    EVP_PKEY* signKey = key;
    X509* issuerCert = cert;
    if (issuer) {
        signKey = ReadKey(issuer->keyPem);
        issuerCert = ReadCert(issuer->certPem);
        Check(signKey && issuerCert, "issuer");
    }
    X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
    if (isCa) {
        AddExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert, issuerCert, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert, issuerCert, NID_ext_key_usage, "serverAuth");
    }
    std::string sans;
    for (const std::string& san : altNames)
        sans += (sans.empty() ? "" : ",") + san;
    if (!sans.empty())
        AddExtension(cert, issuerCert, NID_subject_alt_name, sans);
    Check(X509_sign(cert, signKey, EVP_sha256()) > 0, "sign");

    TestKeyCert result{CertPem(cert), KeyPem(key), HexFingerprint(cert), Subject(cert)};
    if (issuer) {
        EVP_PKEY_free(signKey);
        X509_free(issuerCert);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return result;
}

} // namespace

TestKeyCert MakeTestCa(const std::string& commonName) {
    return MakeCert(commonName, {}, -1, 365, true, nullptr);
}

TestKeyCert MakeTestServerCert(const TestCertOptions& options, const TestKeyCert* issuer) {
    return MakeCert(options.commonName, options.altNames, options.notBeforeDays,
                    options.notAfterDays, false, issuer);
}

struct TestTlsServer::Impl {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;
    BIO* out = nullptr;
    ~Impl() {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
};

TestTlsServer::TestTlsServer(const TestKeyCert& identity, int maxVersion)
    : m_impl(std::make_unique<Impl>()) {
    Impl& d = *m_impl;
    d.ctx = SSL_CTX_new(TLS_server_method());
    Check(d.ctx != nullptr, "server context");
    if (maxVersion) {
        // Old versions are refused at the default security level; the test wants them offered.
        SSL_CTX_set_security_level(d.ctx, 0);
        SSL_CTX_set_min_proto_version(d.ctx, 0);
        SSL_CTX_set_max_proto_version(d.ctx, maxVersion);
    }
    X509* cert = ReadCert(identity.certPem);
    EVP_PKEY* key = ReadKey(identity.keyPem);
    Check(cert && key, "server identity");
    Check(SSL_CTX_use_certificate(d.ctx, cert) == 1 && SSL_CTX_use_PrivateKey(d.ctx, key) == 1,
          "server identity");
    X509_free(cert);
    EVP_PKEY_free(key);
    d.ssl = SSL_new(d.ctx);
    d.in = BIO_new(BIO_s_mem());
    d.out = BIO_new(BIO_s_mem());
    SSL_set_bio(d.ssl, d.in, d.out);
    SSL_set_accept_state(d.ssl);
}

TestTlsServer::~TestTlsServer() = default;

void TestTlsServer::PutNetworkBytes(std::string_view bytes) {
    if (!bytes.empty())
        BIO_write(m_impl->in, bytes.data(), static_cast<int>(bytes.size()));
}

std::string TestTlsServer::TakeNetworkBytes() {
    char* data = nullptr;
    const long size = BIO_get_mem_data(m_impl->out, &data);
    std::string bytes(data, static_cast<std::size_t>(size > 0 ? size : 0));
    (void)BIO_reset(m_impl->out);
    return bytes;
}

int TestTlsServer::Handshake() {
    const int result = SSL_do_handshake(m_impl->ssl);
    if (result == 1)
        return 1;
    const int error = SSL_get_error(m_impl->ssl, result);
    ERR_clear_error();
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? 0 : -1;
}

void TestTlsServer::Write(std::string_view plain) {
    std::size_t n = 0;
    Check(SSL_write_ex(m_impl->ssl, plain.data(), plain.size(), &n) == 1 && n == plain.size(),
          "server write");
}

std::string TestTlsServer::ReadAvailable() {
    std::string plain;
    char block[16384];
    std::size_t n = 0;
    while (SSL_read_ex(m_impl->ssl, block, sizeof block, &n) == 1)
        plain.append(block, n);
    ERR_clear_error();
    return plain;
}

void TestTlsServer::Shutdown() {
    SSL_shutdown(m_impl->ssl);
}

EnvGuard::EnvGuard(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) {
        m_had = true;
        m_old = old;
    }
    ::setenv(name, value.c_str(), 1);
}

EnvGuard::~EnvGuard() {
    if (m_had)
        ::setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}
