// The vxs-refservice program as its users run it: command line, throw-away
// CA, two loopback listeners on free ports, readiness lines, the token
// endpoint over verified TLS, and shutdown on SIGTERM / SIGINT.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "support/test_ca.h"

namespace {

using vxs_test::ChildProcess;
using vxs_test::ExitStatus;

// Generous bounds: the program loads its speech model before it listens,
// and the machine may be loaded (or the child built with sanitizers).
constexpr int kReadyTimeoutMs = 20000;
constexpr int kExitTimeoutMs = 20000;
constexpr const char* kClientId = "cli-test-client";
constexpr const char* kClientSecret = "s3cret&=+%";  // needs form encoding

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct HttpAnswer {
    CURLcode code = CURLE_FAILED_INIT;
    long status = 0;
    std::string body;
};

size_t append_body(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

std::string form_escape(CURL* curl, const std::string& text) {
    char* escaped = curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size()));
    std::string out = escaped ? escaped : "";
    curl_free(escaped);
    return out;
}

// POSTs a client-credentials form to the token endpoint under `base_url`,
// trusting only `ca_file`, with peer and host verification on.
HttpAnswer post_token(const std::string& base_url, const std::string& ca_file, const std::string& grant,
                      const std::string& id, const std::string& secret) {
    HttpAnswer answer;
    CURL* curl = curl_easy_init();
    if (!curl) return answer;
    const std::string url = base_url + "/oauth/2.0/token";
    const std::string form = "grant_type=" + form_escape(curl, grant) + "&client_id=" + form_escape(curl, id) +
                             "&client_secret=" + form_escape(curl, secret);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, form.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    answer.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(curl);
    return answer;
}

std::string json_string(const std::string& document, const char* key) {
    cJSON* root = cJSON_Parse(document.c_str());
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, key);
    std::string value = cJSON_IsString(item) ? item->valuestring : "<missing>";
    cJSON_Delete(root);
    return value;
}

double json_number(const std::string& document, const char* key) {
    cJSON* root = cJSON_Parse(document.c_str());
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, key);
    const double value = cJSON_IsNumber(item) ? item->valuedouble : -1;
    cJSON_Delete(root);
    return value;
}

// The base URL in "listening on https://ADDR:PORT" for a loopback ADDR and a
// port in 1..65535; empty for any other line.
std::string readiness_url(const std::string& line) {
    const std::string prefix = "listening on ";
    if (line.rfind(prefix, 0) != 0) return std::string();
    const std::string url = line.substr(prefix.size());
    std::string port;
    for (const char* host : {"https://127.0.0.1:", "https://[::1]:"}) {
        if (url.rfind(host, 0) == 0) port = url.substr(std::string(host).size());
    }
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
        return std::string();
    }
    const int number = std::stoi(port);
    return number > 0 && number <= 65535 ? url : std::string();
}

struct Finished {
    ExitStatus status;
    std::string out;
    std::string err;
};

class RefserviceProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    static void TearDownTestSuite() { curl_global_cleanup(); }

    std::string tls_dir() const { return m_dir.file("tls"); }
    std::string ca_file() const { return tls_dir() + "/ca.pem"; }
    std::string stderr_file() const { return m_dir.file("stderr.txt"); }

    // Runs the program with `args` to its end (bounded) and collects what it
    // wrote.
    Finished run_to_exit(const std::vector<std::string>& args) {
        Finished done;
        ChildProcess child;
        std::string error;
        if (!child.start(VXS_REFSERVICE_PATH, args, stderr_file(), &error)) {
            ADD_FAILURE() << error;
            return done;
        }
        done.out = child.read_all(kExitTimeoutMs);
        done.status = child.wait(kExitTimeoutMs);
        done.err = read_file(stderr_file());
        return done;
    }

    // Starts the service on free ports of both loopback addresses with a
    // throw-away CA and the test client, and waits for both readiness lines.
    // The base URLs come back in listening order (IPv4 first).
    std::vector<std::string> start_service(ChildProcess* child, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--listen",    "127.0.0.1:0", "--listen",        "[::1]:0",
                                          "--tls-dir",   tls_dir(),     "--client-id",     kClientId,
                                          "--client-secret", kClientSecret};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        if (!child->start(VXS_REFSERVICE_PATH, args, stderr_file(), &error)) {
            ADD_FAILURE() << error;
            return {};
        }
        const std::vector<std::string> lines = child->read_lines(2, kReadyTimeoutMs);
        std::vector<std::string> urls;
        for (const std::string& line : lines) {
            const std::string url = readiness_url(line);
            if (url.empty()) {
                ADD_FAILURE() << "not a readiness line: \"" << line << "\"";
                continue;
            }
            urls.push_back(url);
        }
        if (urls.size() != 2) {
            ADD_FAILURE() << "readiness lines missing; stderr:\n" << read_file(stderr_file());
        }
        return urls;
    }

    void expect_clean_exit(ChildProcess* child, int signal_number) {
        ASSERT_TRUE(child->send_signal(signal_number));
        const ExitStatus status = child->wait(kExitTimeoutMs);
        EXPECT_FALSE(status.timed_out) << "still running after signal " << signal_number;
        EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
        EXPECT_EQ(status.code, 0) << read_file(stderr_file());
    }

    vxs_test::TempDir m_dir;
};

TEST_F(RefserviceProgram, AnswersTokenRequestsOnBothLoopbackListenersAndStopsOnSigterm) {
    ChildProcess child;
    const std::vector<std::string> urls = start_service(&child);
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_EQ(urls[0].rfind("https://127.0.0.1:", 0), 0u) << urls[0];
    EXPECT_EQ(urls[1].rfind("https://[::1]:", 0), 0u) << urls[1];
    EXPECT_NE(urls[0].substr(urls[0].rfind(':')), ":0");

    struct Case {
        const char* what;
        std::string grant, id, secret;
        long status;
        const char* error;  // nullptr: a token is expected
    };
    const Case cases[] = {
        {"configured client", "client_credentials", kClientId, kClientSecret, 200, nullptr},
        {"wrong secret", "client_credentials", kClientId, "s3cret", 401, "invalid_client"},
        {"unknown client", "client_credentials", "someone-else", kClientSecret, 401, "invalid_client"},
        {"empty credentials", "client_credentials", "", "", 401, "invalid_client"},
        {"other grant type", "password", kClientId, kClientSecret, 400, "unsupported_grant_type"},
    };
    for (const std::string& url : urls) {
        for (const Case& c : cases) {
            SCOPED_TRACE(url + ": " + c.what);
            const HttpAnswer answer = post_token(url, ca_file(), c.grant, c.id, c.secret);
            ASSERT_EQ(answer.code, CURLE_OK) << curl_easy_strerror(answer.code);
            EXPECT_EQ(answer.status, c.status) << answer.body;
            if (c.error) {
                EXPECT_EQ(json_string(answer.body, "error"), c.error) << answer.body;
                EXPECT_EQ(answer.body.find("access_token"), std::string::npos) << answer.body;
                continue;
            }
            const std::string token = json_string(answer.body, "access_token");
            EXPECT_EQ(token.rfind("vxs.", 0), 0u) << answer.body;
            EXPECT_GT(json_number(answer.body, "expires_in"), 0) << answer.body;
        }
    }
    expect_clean_exit(&child, SIGTERM);
}

TEST_F(RefserviceProgram, CertificateIsTrustedOnlyThroughTheWrittenCa) {
    ChildProcess child;
    const std::vector<std::string> urls = start_service(&child);
    ASSERT_EQ(urls.size(), 2u);
    auto stranger = vxs_test::TestCa::create("some other CA");
    ASSERT_TRUE(stranger);
    const std::string stranger_pem = m_dir.file("stranger.pem");
    ASSERT_TRUE(stranger->write_cert_pem(stranger_pem));
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        const HttpAnswer refused = post_token(url, stranger_pem, "client_credentials", kClientId, kClientSecret);
        EXPECT_EQ(refused.code, CURLE_PEER_FAILED_VERIFICATION) << curl_easy_strerror(refused.code);
        EXPECT_EQ(refused.status, 0);
    }
    expect_clean_exit(&child, SIGTERM);
}

class RefserviceSignal : public RefserviceProgram, public ::testing::WithParamInterface<int> {};

TEST_P(RefserviceSignal, StopsListeningAndExitsZero) {
    ChildProcess child;
    const std::vector<std::string> urls = start_service(&child);
    ASSERT_EQ(urls.size(), 2u);
    expect_clean_exit(&child, GetParam());
    for (const std::string& url : urls) {
        const HttpAnswer after = post_token(url, ca_file(), "client_credentials", kClientId, kClientSecret);
        EXPECT_EQ(after.code, CURLE_COULDNT_CONNECT) << url << ": " << curl_easy_strerror(after.code);
    }
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, RefserviceSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Sigterm" : "Sigint");
                         });

TEST_F(RefserviceProgram, HelpDescribesTheOptionsAndExitsZero) {
    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        const Finished done = run_to_exit({option});
        ASSERT_TRUE(done.status.exited);
        EXPECT_EQ(done.status.code, 0);
        EXPECT_EQ(done.out.rfind("Usage: vxs-refservice", 0), 0u) << done.out;
        for (const char* text : {"--listen ADDR:PORT", "--tls-dir DIR", "--client-id ID --client-secret SECRET",
                                 "/oauth/2.0/token", "listening on https://ADDR:PORT"}) {
            EXPECT_NE(done.out.find(text), std::string::npos) << text;
        }
        EXPECT_EQ(done.err, "");
    }
}

TEST_F(RefserviceProgram, BadCommandLinesFailWithAClearErrorAndNeverListen) {
    const std::string not_a_dir = m_dir.file("plain-file");
    std::ofstream(not_a_dir) << "x";
    const std::string missing = m_dir.file("missing.pem");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--tls-dir", tls_dir(), "--listen"}, "--listen needs a value"},
        {{"--tls-dir", tls_dir(), "--listen", "127.0.0.1"}, "listen address must be ADDR:PORT: 127.0.0.1"},
        {{"--tls-dir", tls_dir(), "--listen", "[::1:0"}, "unclosed bracket in [::1:0"},
        {{"--tls-dir", tls_dir(), "--listen", "127.0.0.1:70000"}, "bad listen address 127.0.0.1:70000"},
        {{"--tls-dir", tls_dir(), "--client-id", kClientId}, "--client-id and --client-secret go together"},
        {{"--tls-dir", tls_dir(), "--fault", "explode"}, "bad fault item \"explode\""},
        {{"--cert", missing}, "--cert and --key go together"},
        {{"--cert", missing, "--key", missing}, "cannot read the certificate or key file"},
        {{}, "give --cert FILE --key FILE, or --tls-dir DIR for a throw-away certificate"},
        {{"--tls-dir", not_a_dir + "/tls"}, "cannot write " + not_a_dir + "/tls/ca.pem"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& arg : c.args) joined += " " + arg;
        SCOPED_TRACE("vxs-refservice" + joined);
        const Finished done = run_to_exit(c.args);
        ASSERT_TRUE(done.status.exited) << "timed out: " << done.status.timed_out << ", signal " << done.status.signal;
        EXPECT_NE(done.status.code, 0);
        EXPECT_EQ(done.out, "");
        EXPECT_EQ(done.err, "vxs-refservice: " + c.message + " (see --help)\n");
    }
}

TEST_F(RefserviceProgram, PortInUseIsReportedAndExitsNonZero) {
    // A plain listening socket holds the port; the service must not start
    // beside it.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    socklen_t length = sizeof(address);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string taken = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    const Finished done = run_to_exit({"--tls-dir", tls_dir(), "--listen", "[::1]:0", "--listen", taken});
    close(holder);
    ASSERT_TRUE(done.status.exited);
    EXPECT_NE(done.status.code, 0);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err, "vxs-refservice: cannot listen on https://" + taken + "\n");
}

// With SO_REUSEPORT (cpp-httplib's default socket options) a second service
// would bind the same port beside the first, both would report readiness, and
// the kernel would spread one utterance's upload and download between them.
TEST_F(RefserviceProgram, SecondServiceOnAPortInUseIsRefused) {
    ChildProcess first;
    const std::vector<std::string> urls = start_service(&first);
    ASSERT_EQ(urls.size(), 2u);
    const std::string taken = urls[0].substr(std::string("https://").size());

    const Finished second = run_to_exit({"--tls-dir", m_dir.file("second"), "--listen", taken});
    EXPECT_FALSE(second.status.timed_out) << "the second service started on " << taken;
    EXPECT_NE(second.status.code, 0);
    EXPECT_EQ(second.out, "");
    expect_clean_exit(&first, SIGTERM);
}

}  // namespace
