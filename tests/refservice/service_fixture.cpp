#include "service_fixture.h"

namespace refclient {

ServiceUnderTest start_service(vxs::refservice::ServiceOptions options) {
    ServiceUnderTest started;
    started.ca = vxs_test::TestCa::create("refservice test CA");
    if (!started.ca) return started;
    vxs_test::KeyAndCertificate identity = started.ca->issue_loopback_certificate();
    started.ca_pem = started.ca->cert_pem();
    options.cert_pem = identity.cert_pem();
    options.key_pem = identity.key_pem();
    if (options.listen.empty()) options.listen = {{"127.0.0.1", 0}};
    started.service = std::make_unique<vxs::refservice::RefService>(options);
    std::string error;
    if (!started.service->start(&error)) {
        ADD_FAILURE() << "service did not start: " << error;
        started.service.reset();
    }
    return started;
}

ServiceUnderTest& shared_service() {
    static ServiceUnderTest shared = start_service(vxs::refservice::ServiceOptions());
    return shared;
}

}  // namespace refclient
