// Online-recognition latency and CPU cost on loopback.
//
// Starts vxs-refservice as a child process (so this process's CPU time is
// the client's alone) and times, per utterance, the span from handing over
// the last package to receiving the final result, for the library's chunked
// and single-request decoders and for minimal plain-libcurl clients that
// send the same bytes. The last package is held back until the service's
// log (read as it grows) shows it took the earlier ones, so the span starts
// on an idle service; the service's own share of the span, from the same
// log, is subtracted, and what remains is client-side time (library or plain
// client, plus loopback transport). Then the process CPU time per second of
// audio for each codec, packages handed over in real time.
//
// Usage: bench_decoder [--utterances N (50)] [--cpu-utterances M (1)]
//                      [--interval-ms MS (20)] [--settle-ms MS (0)]
//                      [--service PATH] [--audio PATH] [--verbose] [--keep-files]
//                      [--cpu-plain]
#include <sys/resource.h>
#include <unistd.h>

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_audio.h"
#include "curl_chunked_client.h"
#include "curl_single_client.h"
#include "decoder_client.h"
#include "decoder_factories.h"
#include "net/tls_settings.h"
#include "service_log.h"
#include "service_process.h"
#include "timing_stats.h"

namespace {

using namespace decbench;

constexpr int kPackageMs = 160;
constexpr int kWarmUpUtterances = 1;
// Decoder within this factor of the plain client, and under this client-side
// median.
constexpr double kRatioGoal = 1.2;
constexpr double kMedianGoalMs = 5.0;
// An utterance whose last audio packet (or piece) the service took this much
// later, relative to its first, than the client handed it over found the
// service still busy with earlier audio; its span then measures the service,
// so it is left out of the figures (and counted). A client that is itself
// this slow to deliver would have every utterance left out, which the table
// shows.
constexpr double kServiceLagToleranceMs = 15.0;
// The last package waits until the service has taken the others; a chunked
// packet is logged before it is decoded, so unless a partial result shows
// the service through with it, this much more is allowed for its decoding.
constexpr auto kPacketDecodeAllowance = std::chrono::milliseconds(150);
constexpr auto kGateLimit = std::chrono::seconds(5);
constexpr auto kGatePoll = std::chrono::milliseconds(2);

const CodecSetting kLatencyCodec{"BV32 16 kHz", 2, 16000};
const CodecSetting kCpuCodecs[] = {
    {"PCM 16 kHz", 1, 16000}, {"BV32 16 kHz", 2, 16000}, {"AMR-WB 16 kHz", 3, 16000},
    {"PCM 8 kHz", 1, 8000},   {"AMR-NB 8 kHz", 3, 8000},
};

struct Options {
    int utterances = 50;
    int cpu_utterances = 1;
    Pacing pacing;
    std::string service = VXS_BENCH_REFSERVICE_PROGRAM;
    std::string audio = "/usr/share/pocketsphinx/test/data/goforward.raw";
    bool verbose = false;     // every utterance's times
    bool keep_files = false;  // leave the service's CA and log in place
    bool cpu_plain = false;   // the plain clients in the CPU table too
};

bool parse_options(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--verbose" || name == "--keep-files" || name == "--cpu-plain") {
            bool& flag = name == "--verbose"      ? options->verbose
                         : name == "--keep-files" ? options->keep_files
                                                  : options->cpu_plain;
            flag = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (name == "--utterances") options->utterances = std::max(1, atoi(value));
        else if (name == "--cpu-utterances") options->cpu_utterances = std::max(0, atoi(value));
        else if (name == "--interval-ms") options->pacing.interval = std::chrono::milliseconds(atoi(value));
        else if (name == "--settle-ms") options->pacing.settle = std::chrono::milliseconds(atoi(value));
        else if (name == "--service") options->service = value;
        else if (name == "--audio") options->audio = value;
        else return false;
    }
    return true;
}

// One client of the latency table and what its utterances gave.
struct LatencyRow {
    std::string label;
    std::string tag;  // serial number prefix, the same length for every client
    bool chunked = false;
    std::unique_ptr<UtteranceClient> client;
    // Utterances whose service times the log has not fully told yet.
    std::vector<std::pair<std::string, UtteranceOutcome>> pending;
    int failures = 0;
    int service_lagging = 0;
    std::string first_error;
    std::vector<double> total_ms, service_ms, client_ms;

    size_t measured() const { return client_ms.size(); }
    void fail(const std::string& sn, const std::string& error) {
        ++failures;
        if (first_error.empty()) first_error = sn + ": " + error;
    }
};

std::unique_ptr<UtteranceClient> make_decoder_client(DecoderFactory factory, const std::string& label, bool chunked,
                                                     const std::string& server_url) {
    if (!factory) return nullptr;
    std::unique_ptr<DecoderClient> client(new DecoderClient(label, factory, chunked, server_url, kPackageMs));
    if (!client->valid()) return nullptr;
    return std::unique_ptr<UtteranceClient>(client.release());
}

std::vector<LatencyRow> make_latency_rows(const std::string& server_url, const std::string& ca_path) {
    std::vector<LatencyRow> rows(4);
    rows[0].label = "EventManagerDecChunk";
    rows[0].tag = "lib-chunk";
    rows[0].chunked = true;
    rows[0].client = make_decoder_client(chunked_decoder_factory(), rows[0].label, true, server_url);
    rows[1].label = "plain libcurl, chunked";
    rows[1].tag = "raw-chunk";
    rows[1].chunked = true;
    rows[1].client.reset(new CurlChunkedClient(server_url, ca_path, kPackageMs));
    rows[2].label = "EventManagerDec";
    rows[2].tag = "lib-single";
    rows[2].client = make_decoder_client(single_decoder_factory(), rows[2].label, false, server_url);
    rows[3].label = "plain libcurl, single request";
    rows[3].tag = "raw-single";
    rows[3].client.reset(new CurlSingleClient(server_url, ca_path, kPackageMs));
    return rows;
}

std::string serial_number(const std::string& tag, int round) {
    char text[64];
    snprintf(text, sizeof text, "%s-%d-%04d", tag.c_str(), static_cast<int>(getpid()), round);
    return text;
}

// Turns the row's pending utterances into figures once the service's log
// holds their times; with `last_call`, whatever is still missing is a failure.
void take_service_shares(LatencyRow& row, const ServiceLogFollower& log, bool verbose, bool last_call) {
    std::vector<std::pair<std::string, UtteranceOutcome>> still_pending;
    for (const auto& entry : row.pending) {
        const std::string& sn = entry.first;
        const UtteranceOutcome& outcome = entry.second;
        ServiceShare share;
        const bool known = log.share(sn, &share);
        const double service = row.chunked ? share.chunked_ms : share.single_ms;
        if (!known || service < 0) {
            if (last_call) row.fail(sn, "no service times in the service's log");
            else still_pending.push_back(entry);
            continue;
        }
        const double lag = (row.chunked ? share.chunked_audio_span_ms : share.single_audio_span_ms) - outcome.span_ms;
        const double client_side = outcome.client_ms - service;
        if (verbose) {
            printf("%-24s total %8.2f ms  service %8.2f ms  client-side %8.2f ms  service lag %7.2f ms\n",
                   sn.c_str(), outcome.client_ms, service, client_side, lag);
        }
        if (lag > kServiceLagToleranceMs) {
            ++row.service_lagging;
            continue;
        }
        row.total_ms.push_back(outcome.client_ms);
        row.service_ms.push_back(service);
        row.client_ms.push_back(client_side);
    }
    row.pending.swap(still_pending);
}

bool enough_measured(const std::vector<LatencyRow>& rows, int wanted) {
    for (const LatencyRow& row : rows) {
        if (row.client && row.measured() < static_cast<size_t>(wanted)) return false;
    }
    return true;
}

// Holds the last package of `sn` back until the service has caught up (or
// kGateLimit passed), reading its log as it grows.
void wait_for_service(ServiceLogFollower& log, const std::string& sn, bool chunked, size_t earlier) {
    const Clock::time_point deadline = Clock::now() + kGateLimit;
    Clock::time_point taken_at;
    bool taken = false;
    while (Clock::now() < deadline) {
        log.read_new_lines();
        bool done = false;
        const bool now_taken = log.has_taken(sn, chunked, earlier, &done);
        if (now_taken && done) return;
        if (now_taken && !taken) taken_at = Clock::now();
        taken = now_taken;
        if (taken && Clock::now() >= taken_at + kPacketDecodeAllowance) return;
        std::this_thread::sleep_for(kGatePoll);
    }
}

// Round-robin over the clients, so that a change of machine load touches
// them all alike, until each has `utterances` measured ones (or the round
// limit passed). Warm-up rounds (negative) are not kept.
void run_latency_rounds(std::vector<LatencyRow>& rows, const Utterance& utterance, const Options& options,
                        ServiceLogFollower& log) {
    const int round_limit = options.utterances + options.utterances / 4;
    for (int round = -kWarmUpUtterances; round < round_limit && !enough_measured(rows, options.utterances);
         ++round) {
        // Each round starts with the next client, so that what one utterance
        // leaves behind in the service falls on every client alike.
        for (size_t turn = 0; turn < rows.size(); ++turn) {
            LatencyRow& row = rows[(turn + static_cast<size_t>(round + kWarmUpUtterances)) % rows.size()];
            if (!row.client || row.measured() >= static_cast<size_t>(options.utterances)) continue;
            const std::string sn = serial_number(row.tag, round + kWarmUpUtterances);
            Pacing pacing = options.pacing;
            const bool chunked = row.chunked;
            pacing.before_last = [&log, chunked](const std::string& id, size_t earlier) {
                wait_for_service(log, id, chunked, earlier);
            };
            UtteranceOutcome outcome = row.client->run(utterance, kLatencyCodec, sn, pacing);
            if (!outcome.ok) row.fail(sn, outcome.error);
            else if (round >= 0) row.pending.emplace_back(sn, outcome);
        }
        log.read_new_lines();
        for (LatencyRow& row : rows) take_service_shares(row, log, options.verbose, false);
        if (isatty(STDERR_FILENO)) fprintf(stderr, "\rlatency round %d ", round + 1);
    }
    if (isatty(STDERR_FILENO)) fprintf(stderr, "\n");
    // The service logs a record once it is written: let the last lines land.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    log.read_new_lines();
    for (LatencyRow& row : rows) take_service_shares(row, log, options.verbose, true);
}

void print_latency_table(const std::vector<LatencyRow>& rows, const Options& options) {
    printf("\nLast package handed over -> final result received, %s, %d ms packages, %d utterances per client\n",
           kLatencyCodec.name, kPackageMs, options.utterances);
    printf("(packages every %lld ms, the last %lld ms later and once the service took the others; client-side = total - the service's own share from "
           "its log;\n medians and p99 by nearest rank, p99 being the largest of up to 100; ratio = decoder / plain "
           "client)\n\n",
           static_cast<long long>(options.pacing.interval.count()),
           static_cast<long long>(options.pacing.settle.count()));
    const char* const header = "%-30s %3s %9s %9s %9s | %11s %11s | %6s %6s\n";
    printf(header, "client", "n", "total", "total", "service", "client-side", "client-side", "ratio", "ratio");
    printf(header, "", "", "med ms", "p99 ms", "med ms", "med ms", "p99 ms", "med", "p99");
    for (size_t i = 0; i < rows.size(); ++i) {
        const LatencyRow& row = rows[i];
        if (!row.client) {
            printf("%-30s not available (not in this build)\n", row.label.c_str());
            continue;
        }
        const LatencyRow& plain = rows[i | 1];
        char ratio_median[16] = "-", ratio_p99[16] = "-";
        if (i % 2 == 0 && !plain.client_ms.empty() && !row.client_ms.empty()) {
            snprintf(ratio_median, sizeof ratio_median, "%.2f", median(row.client_ms) / median(plain.client_ms));
            snprintf(ratio_p99, sizeof ratio_p99, "%.2f",
                     percentile(row.client_ms, 0.99) / percentile(plain.client_ms, 0.99));
        }
        printf("%-30s %3zu %9.2f %9.2f %9.2f | %11.2f %11.2f | %6s %6s\n", row.label.c_str(), row.measured(),
               median(row.total_ms), percentile(row.total_ms, 0.99), median(row.service_ms), median(row.client_ms),
               percentile(row.client_ms, 0.99), ratio_median, ratio_p99);
    }
    printf("\n");
    for (size_t i = 0; i < rows.size(); i += 2) {
        const LatencyRow& decoder = rows[i];
        const LatencyRow& plain = rows[i + 1];
        for (const LatencyRow* row : {&decoder, &plain}) {
            if (row->failures > 0) printf("%s: %d failed utterances; first: %s\n", row->label.c_str(), row->failures,
                                          row->first_error.c_str());
            if (row->service_lagging > 0) {
                printf("%s: %d utterances left out: the service was still busy with earlier audio when the last "
                       "package came\n",
                       row->label.c_str(), row->service_lagging);
            }
        }
        if (!decoder.client || decoder.client_ms.empty() || plain.client_ms.empty()) continue;
        const double ratio = median(decoder.client_ms) / median(plain.client_ms);
        printf("%s: within %.1fx of the plain client: %s (%.2fx); client-side median under %.0f ms: %s (%.2f ms)\n",
               decoder.label.c_str(), kRatioGoal, ratio <= kRatioGoal ? "yes" : "NO", ratio, kMedianGoalMs,
               median(decoder.client_ms) < kMedianGoalMs ? "yes" : "NO", median(decoder.client_ms));
    }
}

double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU ms of this process per second of audio for `count` utterances, or a
// negative value when one failed (its error in `error`).
double cpu_per_audio_second(UtteranceClient& client, const CodecSetting& setting, const Utterance& utterance,
                            int count, const std::string& tag, std::string* error) {
    Pacing real_time;
    real_time.interval = std::chrono::milliseconds(kPackageMs);
    real_time.settle = std::chrono::milliseconds(0);
    const double before = process_cpu_seconds();
    for (int i = 0; i < count; ++i) {
        const UtteranceOutcome outcome = client.run(utterance, setting, serial_number(tag, i), real_time);
        if (!outcome.ok) {
            *error = outcome.error;
            return -1;
        }
    }
    return (process_cpu_seconds() - before) * 1000 / (utterance.audio_seconds * count);
}

// The clients of the latency table, already warm, measured again for CPU
// time per codec: the decoders, and with --cpu-plain the plain clients.
void print_cpu_table(std::vector<LatencyRow>& rows, const std::vector<int16_t>& pcm16k, const Options& options) {
    if (options.cpu_utterances == 0) return;
    printf("\nProcess CPU time per second of audio (user + system, %d utterance(s) of %.2f s per cell, packages in "
           "real time)\n\n",
           options.cpu_utterances, static_cast<double>(pcm16k.size()) / 16000);
    std::vector<LatencyRow*> columns;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i % 2 == 0 || options.cpu_plain) columns.push_back(&rows[i]);
    }
    printf("%-16s", "codec");
    for (const LatencyRow* column : columns) printf(" %30s", column->label.c_str());
    printf("\n");
    std::vector<std::string> errors;
    for (const CodecSetting& setting : kCpuCodecs) {
        const Utterance utterance = cut_packages(resample_from_16k(pcm16k, setting.rate), setting, kPackageMs);
        printf("%-16s", setting.name);
        for (const LatencyRow* column : columns) {
            if (!column->client) {
                printf(" %30s", "not available");
                continue;
            }
            std::string error;
            const std::string tag =
                "cpu-" + column->tag + "-" + std::to_string(setting.compression) + "-" + std::to_string(setting.rate);
            const double ms =
                cpu_per_audio_second(*column->client, setting, utterance, options.cpu_utterances, tag, &error);
            if (ms < 0) {
                printf(" %30s", "failed");
                errors.push_back(column->label + ", " + setting.name + ": " + error);
            } else {
                printf(" %24.2f ms/s", ms);
            }
            fflush(stdout);
        }
        printf("\n");
    }
    for (const std::string& error : errors) printf("%s\n", error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, &options)) {
        fprintf(stderr,
                "usage: %s [--utterances N] [--cpu-utterances M] [--interval-ms MS] [--settle-ms MS] "
                "[--service PATH] [--audio PATH] [--verbose] [--keep-files] [--cpu-plain]\n",
                argv[0]);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::vector<int16_t> pcm = load_raw_pcm(options.audio);
    const Utterance utterance = cut_packages(pcm, kLatencyCodec, kPackageMs);
    if (utterance.packages.empty()) {
        fprintf(stderr, "cannot read the audio %s\n", options.audio.c_str());
        return 1;
    }
    char work_dir[] = "/tmp/decbench.XXXXXX";
    if (!mkdtemp(work_dir)) {
        perror("mkdtemp");
        return 1;
    }
    {
        ServiceProcess service;
        std::string error;
        if (!service.start(options.service, work_dir, &error)) {
            fprintf(stderr, "%s: %s\n", options.service.c_str(), error.c_str());
            rmdir(work_dir);
            return 1;
        }
        vxs::Networking::set_ca_bundle_path(service.ca_path());
        const std::string server_url = service.base_url() + "/v2";
        printf("service %s (a separate process), audio %s: %.2f s, %zu packages\n", server_url.c_str(),
               options.audio.c_str(), utterance.audio_seconds, utterance.packages.size());
        fflush(stdout);
        {
            ServiceLogFollower log(service.log_path());
            std::vector<LatencyRow> rows = make_latency_rows(server_url, service.ca_path());
            run_latency_rounds(rows, utterance, options, log);
            print_latency_table(rows, options);
            print_cpu_table(rows, pcm, options);
        }
        service.stop();
        if (options.keep_files) {
            printf("\nthe service's log: %s\n", service.log_path().c_str());
        } else {
            unlink(service.ca_path().c_str());
            unlink(service.log_path().c_str());
            rmdir(work_dir);
        }
    }
    curl_global_cleanup();
    return 0;
}
