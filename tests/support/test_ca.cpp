#include "support/test_ca.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

namespace vxs_test {

namespace {

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

std::string bio_to_string(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

PkeyPtr make_key() { return PkeyPtr(EVP_EC_gen("P-256")); }

bool set_random_serial(X509* cert) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    bytes[0] &= 0x7f;  // a positive serial
    BIGNUM* number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    if (number == nullptr) return false;
    const bool ok = BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert)) != nullptr;
    BN_free(number);
    return ok;
}

bool add_extension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (extension == nullptr) return false;
    const bool ok = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return ok;
}

// A certificate for `key` named `common_name`, not yet extended or signed.
X509Ptr make_certificate_body(EVP_PKEY* key, const std::string& common_name, X509* issuer) {
    X509Ptr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !set_random_serial(cert.get())) return nullptr;
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 2 * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("vxs test"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);
    if (X509_set_pubkey(cert.get(), key) != 1) return nullptr;
    return cert;
}

}  // namespace

std::string KeyAndCertificate::cert_pem() const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !cert || PEM_write_bio_X509(bio.get(), cert.get()) != 1) return std::string();
    return bio_to_string(bio.get());
}

std::string KeyAndCertificate::key_pem() const {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !key || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return std::string();
    return bio_to_string(bio.get());
}

std::unique_ptr<TestCa> TestCa::create(const std::string& common_name) {
    std::unique_ptr<TestCa> ca(new TestCa());
    ca->m_ca.key = make_key();
    if (!ca->m_ca.key) return nullptr;
    X509Ptr cert = make_certificate_body(ca->m_ca.key.get(), common_name, nullptr);
    if (!cert) return nullptr;
    X509* self = cert.get();
    if (!add_extension(self, self, NID_basic_constraints, "critical,CA:TRUE") ||
        !add_extension(self, self, NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !add_extension(self, self, NID_subject_key_identifier, "hash") ||
        !add_extension(self, self, NID_authority_key_identifier, "keyid:always") ||
        X509_sign(self, ca->m_ca.key.get(), EVP_sha256()) == 0) {
        return nullptr;
    }
    ca->m_ca.cert = std::move(cert);
    return ca;
}

KeyAndCertificate TestCa::issue_server_certificate(const std::vector<std::string>& dns_names,
                                                   const std::vector<std::string>& ip_addresses) const {
    KeyAndCertificate issued;
    issued.key = make_key();
    if (!issued.key) return KeyAndCertificate();
    const std::string common_name = dns_names.empty() ? std::string("server") : dns_names.front();
    X509Ptr cert = make_certificate_body(issued.key.get(), common_name, m_ca.cert.get());
    if (!cert) return KeyAndCertificate();
    std::string alt_names;
    for (const std::string& dns : dns_names) alt_names += (alt_names.empty() ? "DNS:" : ",DNS:") + dns;
    for (const std::string& ip : ip_addresses) alt_names += (alt_names.empty() ? "IP:" : ",IP:") + ip;
    X509* body = cert.get();
    X509* issuer = m_ca.cert.get();
    if (!add_extension(body, issuer, NID_basic_constraints, "critical,CA:FALSE") ||
        !add_extension(body, issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment") ||
        !add_extension(body, issuer, NID_ext_key_usage, "serverAuth") ||
        !add_extension(body, issuer, NID_subject_key_identifier, "hash") ||
        !add_extension(body, issuer, NID_authority_key_identifier, "keyid:always") ||
        (!alt_names.empty() && !add_extension(body, issuer, NID_subject_alt_name, alt_names)) ||
        X509_sign(body, m_ca.key.get(), EVP_sha256()) == 0) {
        return KeyAndCertificate();
    }
    issued.cert = std::move(cert);
    return issued;
}

KeyAndCertificate TestCa::issue_loopback_certificate() const {
    return issue_server_certificate({"localhost"}, {"127.0.0.1", "::1"});
}

std::string TestCa::cert_pem() const { return m_ca.cert_pem(); }

bool TestCa::write_cert_pem(const std::string& path) const {
    const std::string pem = cert_pem();
    if (pem.empty()) return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(pem.data(), 1, pem.size(), file) == pem.size();
    return std::fclose(file) == 0 && ok;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vxs-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
}

TempDir::~TempDir() {
    if (m_path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

}  // namespace vxs_test
