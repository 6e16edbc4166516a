// Throughput of the reference service: N concurrent chunked utterances of
// goforward.raw (16 kHz PCM) sent as fast as possible over HTTPS to a service
// running in a child process. Reports utterances per second, the median and
// p99 time from the finish packet to the end record, and the service's CPU
// time per second of audio; then the same utterance decoded by pocketsphinx
// alone (one at a time, and N threads at once), so the service's overhead
// shows as a ratio.
//
// Usage: bench_refservice [concurrent utterances (10)] [rounds (2)]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pocketsphinx.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ref_service.h"
#include "refservice_client.h"
#include "support/test_ca.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5));
    return values[index];
}

// CPU seconds (user + system) a process has used, from /proc.
double process_cpu_seconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::atof(field.c_str());
        if (i == 15) {
            stime = std::atof(field.c_str());
            break;
        }
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Runs the service in a child; returns its pid and writes its port.
pid_t start_service_process(const std::string& cert, const std::string& key, size_t decoders, int* port) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        vxs::refservice::ServiceOptions options;
        options.listen = {{"127.0.0.1", 0}};
        options.cert_pem = cert;
        options.key_pem = key;
        options.max_decoders = decoders;
        vxs::refservice::RefService service(options);
        std::string error;
        int bound = -1;
        if (service.start(&error)) bound = service.addresses().front().port;
        if (write(ready[1], &bound, sizeof(bound)) != sizeof(bound)) _exit(1);
        if (bound < 0) _exit(1);
        pause();  // until SIGTERM
        _exit(0);
    }
    close(ready[1]);
    if (read(ready[0], port, sizeof(*port)) != sizeof(*port)) *port = -1;
    close(ready[0]);
    return child;
}

struct RoundResult {
    std::vector<double> finish_to_end_ms;
    int good = 0;
    double wall_seconds = 0;
};

RoundResult run_round(const std::string& base, const std::string& ca, const std::vector<std::string>& packages,
                      int concurrency, int round) {
    RoundResult result;
    std::vector<refclient::ChunkedOutcome> outcomes(concurrency);
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < concurrency; ++i) {
        clients.emplace_back([&, i] {
            refclient::ChunkedRequest request;
            request.base_url = base;
            request.ca_pem = ca;
            request.sn = "bench-" + std::to_string(round) + "-" + std::to_string(i);
            request.packets = refclient::utterance_packets(request.sn, 16000, packages);
            outcomes[i] = refclient::run_chunked(request);
        });
    }
    for (auto& client : clients) client.join();
    result.wall_seconds = seconds_since(start);
    for (const auto& outcome : outcomes) {
        if (outcome.end_record_ms < 0 || outcome.finish_sent_ms < 0) continue;
        ++result.good;
        result.finish_to_end_ms.push_back(outcome.end_record_ms - outcome.finish_sent_ms);
    }
    return result;
}

ps_decoder_t* new_decoder() {
    const std::string model = vxs::refservice::kDefaultModelDir;
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", (model + "/en-us").c_str(), "-lm",
                                   (model + "/en-us.lm.bin").c_str(), "-dict",
                                   (model + "/cmudict-en-us.dict").c_str(), "-logfn", "/dev/null", nullptr);
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    return decoder;
}

double decode_seconds(ps_decoder_t* decoder, const std::vector<int16_t>& pcm) {
    const Clock::time_point start = Clock::now();
    ps_start_utt(decoder);
    for (size_t at = 0; at < pcm.size(); at += 2560) {
        ps_process_raw(decoder, pcm.data() + at, std::min<size_t>(2560, pcm.size() - at), FALSE, FALSE);
    }
    ps_end_utt(decoder);
    return seconds_since(start);
}

double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const int concurrency = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    signal(SIGPIPE, SIG_IGN);

    const std::vector<int16_t> pcm = refclient::load_audio(std::string(refclient::kTestData) + "/goforward.raw");
    const double audio_seconds = pcm.size() / 16000.0;
    const auto packages = refclient::encode_packages(1, 16000, pcm);

    auto ca = vxs_test::TestCa::create("bench CA");
    vxs_test::KeyAndCertificate identity = ca->issue_loopback_certificate();
    int port = -1;
    const pid_t service = start_service_process(identity.cert_pem(), identity.key_pem(), concurrency, &port);
    if (service <= 0 || port <= 0) {
        fprintf(stderr, "service did not start\n");
        return 1;
    }
    const std::string base = "https://127.0.0.1:" + std::to_string(port) + "/v2";

    // One round first so that every decoder of the pool is loaded.
    run_round(base, ca->cert_pem(), packages, concurrency, -1);
    std::vector<double> latencies;
    int good = 0;
    double wall = 0;
    const double cpu_before = process_cpu_seconds(service);
    for (int round = 0; round < rounds; ++round) {
        RoundResult result = run_round(base, ca->cert_pem(), packages, concurrency, round);
        latencies.insert(latencies.end(), result.finish_to_end_ms.begin(), result.finish_to_end_ms.end());
        good += result.good;
        wall += result.wall_seconds;
    }
    const double service_cpu = process_cpu_seconds(service) - cpu_before;
    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);

    // pocketsphinx alone on the same audio.
    ps_decoder_t* decoder = new_decoder();
    decode_seconds(decoder, pcm);  // warm caches
    std::vector<double> alone;
    const double alone_cpu_start = thread_cpu_seconds();
    for (int i = 0; i < 3; ++i) alone.push_back(decode_seconds(decoder, pcm) * 1000);
    const double alone_cpu = (thread_cpu_seconds() - alone_cpu_start) / 3;
    ps_free(decoder);
    std::vector<double> parallel(concurrency);
    {
        std::vector<ps_decoder_t*> decoders;
        for (int i = 0; i < concurrency; ++i) decoders.push_back(new_decoder());
        std::vector<std::thread> threads;
        for (int i = 0; i < concurrency; ++i) {
            threads.emplace_back([&, i] { parallel[i] = decode_seconds(decoders[i], pcm) * 1000; });
        }
        for (auto& thread : threads) thread.join();
        for (ps_decoder_t* d : decoders) ps_free(d);
    }

    const double total_audio = good * audio_seconds;
    printf("utterances: %d of %d completed, %d at once, %.2f s of audio each\n", good, concurrency * rounds,
           concurrency, audio_seconds);
    printf("service throughput: %.2f utterances/s\n", wall > 0 ? good / wall : 0);
    printf("service finish-to-end: median %.0f ms, p99 %.0f ms\n", percentile(latencies, 0.5),
           percentile(latencies, 0.99));
    printf("service CPU: %.3f s per second of audio\n", total_audio > 0 ? service_cpu / total_audio : 0);
    printf("pocketsphinx alone, one at a time: %.0f ms per utterance, %.3f s CPU per second of audio\n",
           percentile(alone, 0.5), alone_cpu / audio_seconds);
    printf("pocketsphinx alone, %d threads at once: median %.0f ms, p99 %.0f ms per utterance\n", concurrency,
           percentile(parallel, 0.5), percentile(parallel, 0.99));
    const double alone_per_audio = alone_cpu / audio_seconds;
    if (alone_per_audio > 0 && total_audio > 0) {
        printf("service CPU / pocketsphinx CPU: %.2f\n", service_cpu / total_audio / alone_per_audio);
    }
    if (percentile(parallel, 0.5) > 0) {
        printf("service finish-to-end median / pocketsphinx %d-thread median: %.2f\n", concurrency,
               percentile(latencies, 0.5) / percentile(parallel, 0.5));
    }
    return good == concurrency * rounds ? 0 : 1;
}
