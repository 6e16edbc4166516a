// A throw-away certificate authority for tests and local services: it makes
// its own key and self-signed certificate in memory and issues server
// certificates for loopback names. Nothing is read from or kept on disk except
// the PEM files a caller asks for.
//
// Threading: one object is used by one thread at a time.
#ifndef VXS_TESTS_SUPPORT_TEST_CA_H
#define VXS_TESTS_SUPPORT_TEST_CA_H

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace vxs_test {

struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// A key and the certificate for it.
struct KeyAndCertificate {
    PkeyPtr key;
    X509Ptr cert;
    std::string cert_pem() const;
    std::string key_pem() const;
};

class TestCa {
public:
    // A new CA with a fresh P-256 key; null when OpenSSL fails.
    static std::unique_ptr<TestCa> create(const std::string& common_name);

    // A server certificate signed by this CA, valid from an hour ago for two
    // days, for the given DNS names and IP addresses (subject alternative
    // names; the first DNS name is also the common name). Empty on failure.
    KeyAndCertificate issue_server_certificate(const std::vector<std::string>& dns_names,
                                               const std::vector<std::string>& ip_addresses) const;
    // The usual loopback set: "localhost", 127.0.0.1 and ::1.
    KeyAndCertificate issue_loopback_certificate() const;

    std::string cert_pem() const;
    // Writes the CA certificate as PEM; false on failure.
    bool write_cert_pem(const std::string& path) const;

private:
    TestCa() = default;
    KeyAndCertificate m_ca;
};

// A private directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

}  // namespace vxs_test

#endif  // VXS_TESTS_SUPPORT_TEST_CA_H
