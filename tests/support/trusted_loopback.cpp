#include "support/trusted_loopback.h"

namespace vxs_test {

std::unique_ptr<TrustedLoopback> TrustedLoopback::start(const std::string& caName) {
    std::unique_ptr<TrustedLoopback> env(new TrustedLoopback());
    env->m_ca = TestCa::create(caName);
    if (!env->m_ca) return nullptr;
    env->m_caBundlePath = env->m_dir.file("ca.pem");
    if (!env->m_ca->write_cert_pem(env->m_caBundlePath)) return nullptr;
    env->m_server.reset(new LoopbackHttpsServer(env->m_ca->issue_loopback_certificate()));
    if (!env->m_server->start()) return nullptr;
    return env;
}

}  // namespace vxs_test
