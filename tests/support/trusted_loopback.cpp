#include "support/trusted_loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

std::vector<UntrustedIdentity> TrustedLoopback::untrustedIdentities() const {
    std::vector<UntrustedIdentity> identities;
    std::unique_ptr<TestCa> stranger = TestCa::create("stranger root");
    if (!stranger) return identities;
    identities.push_back({"signed by a CA that is not trusted", stranger->issue_loopback_certificate()});
    identities.push_back({"trusted CA, other host name", m_ca->issue_server_certificate({"other.example"}, {})});
    return identities;
}

int unused_loopback_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

}  // namespace vxs_test
