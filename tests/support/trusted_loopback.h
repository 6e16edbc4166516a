// A throw-away CA written to a CA bundle file, and a loopback HTTPS server
// with a certificate from it: what every suite that talks to a local peer
// over verified TLS sets up first.
#ifndef VXS_TESTS_SUPPORT_TRUSTED_LOOPBACK_H
#define VXS_TESTS_SUPPORT_TRUSTED_LOOPBACK_H

#include <memory>
#include <string>
#include <vector>

#include "support/loopback_https_server.h"
#include "support/test_ca.h"

namespace vxs_test {

// A server identity that a client trusting only TrustedLoopback::ca() must refuse.
struct UntrustedIdentity {
    const char* what;
    KeyAndCertificate identity;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int unused_loopback_port();

class TrustedLoopback {
public:
    // Null when the CA, its bundle file or the server could not be made.
    static std::unique_ptr<TrustedLoopback> start(const std::string& caName);

    // A private directory for the suite's own files, removed with it.
    TempDir& dir() { return m_dir; }
    TestCa& ca() { return *m_ca; }
    LoopbackHttpsServer& server() { return *m_server; }
    // The CA bundle that trusts ca() (and nothing else).
    const std::string& caBundlePath() const { return m_caBundlePath; }
    // One certificate from a CA nobody trusts, one from ca() for another name.
    std::vector<UntrustedIdentity> untrustedIdentities() const;

private:
    TrustedLoopback() = default;

    TempDir m_dir;
    std::unique_ptr<TestCa> m_ca;
    std::string m_caBundlePath;
    std::unique_ptr<LoopbackHttpsServer> m_server;
};

}  // namespace vxs_test

#endif  // VXS_TESTS_SUPPORT_TRUSTED_LOOPBACK_H
