// vxs-refservice: runs the reference recognition service until SIGINT or
// SIGTERM. See help_text() for the options.
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "ref_service.h"
#include "support/test_ca.h"

namespace {

using vxs::refservice::ServiceOptions;

bool read_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
}

bool make_throwaway_identity(const std::string& dir, ServiceOptions* options, std::string* error) {
    mkdir(dir.c_str(), 0700);
    auto ca = vxs_test::TestCa::create("vxs-refservice throw-away CA");
    if (!ca) {
        *error = "cannot create a CA";
        return false;
    }
    vxs_test::KeyAndCertificate identity = ca->issue_loopback_certificate();
    if (!identity.cert || !ca->write_cert_pem(dir + "/ca.pem")) {
        *error = "cannot write " + dir + "/ca.pem";
        return false;
    }
    options->cert_pem = identity.cert_pem();
    options->key_pem = identity.key_pem();
    return true;
}

struct Arguments {
    ServiceOptions options;
    std::string cert_file, key_file, tls_dir;
    bool help = false;
};

bool parse_arguments(int argc, char** argv, Arguments* args, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *error = name + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string text;
        if (name == "--help" || name == "-h") {
            args->help = true;
        } else if (name == "--listen") {
            vxs::refservice::ListenAddress address;
            if (!value(&text) || !vxs::refservice::parse_listen_address(text, &address, error)) return false;
            args->options.listen.push_back(address);
        } else if (name == "--cert") {
            if (!value(&args->cert_file)) return false;
        } else if (name == "--key") {
            if (!value(&args->key_file)) return false;
        } else if (name == "--tls-dir") {
            if (!value(&args->tls_dir)) return false;
        } else if (name == "--client-id") {
            if (!value(&args->options.client_id)) return false;
        } else if (name == "--client-secret") {
            if (!value(&args->options.client_secret)) return false;
        } else if (name == "--require-token") {
            args->options.require_token = true;
        } else if (name == "--model") {
            if (!value(&args->options.model_dir)) return false;
        } else if (name == "--log") {
            if (!value(&args->options.log_path)) return false;
        } else if (name == "--fault") {
            if (!value(&text) || !vxs::refservice::parse_fault_plan(text, &args->options.faults, error)) return false;
        } else {
            *error = "unknown option " + name;
            return false;
        }
    }
    if (args->help) return true;
    if (args->options.client_id.empty() != args->options.client_secret.empty()) {
        *error = "--client-id and --client-secret go together";
        return false;
    }
    if (!args->cert_file.empty() || !args->key_file.empty()) {
        if (args->cert_file.empty() || args->key_file.empty()) {
            *error = "--cert and --key go together";
            return false;
        }
        if (!read_file(args->cert_file, &args->options.cert_pem) || !read_file(args->key_file, &args->options.key_pem)) {
            *error = "cannot read the certificate or key file";
            return false;
        }
        return true;
    }
    if (args->tls_dir.empty()) {
        *error = "give --cert FILE --key FILE, or --tls-dir DIR for a throw-away certificate";
        return false;
    }
    return make_throwaway_identity(args->tls_dir, &args->options, error);
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    std::string error;
    if (!parse_arguments(argc, argv, &args, &error)) {
        fprintf(stderr, "vxs-refservice: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (args.help) {
        fputs(vxs::refservice::help_text().c_str(), stdout);
        return 0;
    }
    // The signals are taken synchronously below, not by a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    vxs::refservice::RefService service(args.options);
    if (!service.start(&error)) {
        fprintf(stderr, "vxs-refservice: %s\n", error.c_str());
        return 1;
    }
    for (const auto& address : service.addresses()) {
        printf("listening on %s\n", vxs::refservice::https_url(address).c_str());
    }
    fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    service.stop();
    return 0;
}
