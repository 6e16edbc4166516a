// One reference service per test program, on 127.0.0.1 and a free port,
// with a throw-away CA whose certificate the client trusts.
//
// Threading: set up once by GoogleTest before the tests run.
#ifndef VXS_TESTS_REFSERVICE_SERVICE_FIXTURE_H
#define VXS_TESTS_REFSERVICE_SERVICE_FIXTURE_H

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ref_service.h"
#include "support/test_ca.h"

namespace refclient {

struct ServiceUnderTest {
    std::unique_ptr<vxs_test::TestCa> ca;
    std::string ca_pem;
    std::unique_ptr<vxs::refservice::RefService> service;
};

// Starts a service with `options` (addresses and identity filled in here).
ServiceUnderTest start_service(vxs::refservice::ServiceOptions options);

// The shared service of the test program.
ServiceUnderTest& shared_service();

}  // namespace refclient

#endif  // VXS_TESTS_REFSERVICE_SERVICE_FIXTURE_H
