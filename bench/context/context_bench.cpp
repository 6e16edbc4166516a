// Measures, in one run, the message rate and the post-to-send latency of one
// Context (posted from one thread, handled by a module's send) and of a
// minimal baseline queue (one std::mutex, one std::condition_variable, one
// worker thread) doing the same work, and prints the ratios.
//
//   context_bench [--messages N] [--window N] [--pings N]
//                  --window N: at most N messages in flight (0: post all at once)
//   context_bench --idle-contexts N   peak resident memory of an idle process
//                                     that has created N contexts
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/context.h"
#include "core/event_manager.h"
#include "core/message.h"
#include "threads/dispatch_queue.h"

namespace {

using Clock = std::chrono::steady_clock;
using vxs::MessagePtr;

int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// What every send does in both set-ups: note the arrival of message `seq`.
struct Sink {
    std::vector<int64_t> postedAt;  // filled by the poster before posting
    std::vector<int64_t> latency;
    std::atomic<int> handled{0};

    void reset(size_t samples) {
        postedAt.assign(samples, 0);
        latency.assign(samples, 0);
        handled.store(0);
    }
    void receive(const MessagePtr& message) {
        const size_t seq = message->offset;
        if (seq < latency.size()) latency[seq] = nowNanos() - postedAt[seq];
        handled.fetch_add(1, std::memory_order_release);
    }
    void waitFor(int count) const {
        while (handled.load(std::memory_order_acquire) < count) std::this_thread::yield();
    }
};

MessagePtr makeMessage(size_t seq) {
    MessagePtr message = vxs::Message::make("bench.work");
    message->offset = seq;
    return message;
}

class SinkModule : public vxs::EventManager {
public:
    static vxs::Memory::vxs_shared_ptr<SinkModule> create(const vxs::ContextPtr& context, Sink* sink) {
        return adoptModule(new SinkModule(context, sink));
    }
    void send(MessagePtr& message) override { sink_->receive(message); }

private:
    SinkModule(const vxs::ContextPtr& context, Sink* sink)
        : EventManager(vxs::Memory::vxs_weak_ptr<vxs::Context>(context)), sink_(sink) {}
    Sink* sink_;
};

// The baseline: the least a serial message queue can do.
class BaselineQueue {
public:
    explicit BaselineQueue(Sink* sink) : sink_(sink), worker_([this] { drain(); }) {}
    ~BaselineQueue() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }
    void post(const MessagePtr& message) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(message);
        }
        wake_.notify_one();
    }

private:
    void drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            MessagePtr message = queue_.front();
            queue_.pop_front();
            lock.unlock();
            sink_->receive(message);
            message = MessagePtr();
            lock.lock();
        }
    }

    Sink* sink_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<MessagePtr> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

// The serial dispatch queue alone, with a plain task per message: the share
// of the context's figures that the queue and the thread pool account for.
Sink* g_queueSink = nullptr;
void queueTask(vxs::Memory::vxs_shared_ptr_base* parameter) {
    auto* message = static_cast<vxs::Memory::vxs_shared_ptr<vxs::Message>*>(parameter);
    g_queueSink->receive(*message);
}

struct Figures {
    double messagesPerSecond = 0;
    double medianMicros = 0;
    double p99Micros = 0;
};

template <class PostFn>
double measureThroughput(Sink& sink, int messages, int window, PostFn post) {
    sink.reset(0);
    const int64_t start = nowNanos();
    for (int i = 0; i < messages; ++i) {
        if (window > 0) sink.waitFor(i - window);
        post(makeMessage(static_cast<size_t>(-1)));
    }
    sink.waitFor(messages);
    const double seconds = static_cast<double>(nowNanos() - start) / 1e9;
    return messages / seconds;
}

// One message at a time, each posted once the previous one was handled: the
// latency of an idle queue, as a host post or a module event sees it.
template <class PostFn>
void measureLatency(Sink& sink, int pings, PostFn post, Figures& out) {
    sink.reset(static_cast<size_t>(pings));
    for (int i = 0; i < pings; ++i) {
        MessagePtr message = makeMessage(static_cast<size_t>(i));
        sink.postedAt[static_cast<size_t>(i)] = nowNanos();
        post(message);
        sink.waitFor(i + 1);
    }
    std::vector<int64_t> sorted = sink.latency;
    std::sort(sorted.begin(), sorted.end());
    out.medianMicros = static_cast<double>(sorted[sorted.size() / 2]) / 1e3;
    out.p99Micros = static_cast<double>(sorted[(sorted.size() * 99) / 100]) / 1e3;
}

void print(const char* name, const Figures& f) {
    std::printf("%-9s %12.0f msg/s   latency median %8.2f us   p99 %8.2f us\n", name, f.messagesPerSecond,
                f.medianMicros, f.p99Micros);
}

int runComparison(int messages, int window, int pings) {
    Sink sink;
    Figures context;
    Figures baseline;
    Figures queueOnly;
    {
        vxs::ContextPtr ctx = vxs::Context::newContext();
        if (!ctx) {
            std::fprintf(stderr, "context_bench: no context\n");
            return 1;
        }
        auto module = SinkModule::create(ctx, &sink);
        auto sender = SinkModule::create(ctx, &sink);
        const vxs::EventManagerWeakPtr target = module->getSelfPtr();
        auto post = [&](const MessagePtr& m) { sender->post(target, m, 0); };
        measureThroughput(sink, messages / 10, window, post);  // warm-up: pool threads, allocator
        context.messagesPerSecond = measureThroughput(sink, messages, window, post);
        measureLatency(sink, pings, post, context);
    }
    {
        vxs::Memory::vxs_shared_ptr<vxs::Threads::DispatchQueue> queue = vxs::Threads::DispatchQueue::alloc(1);
        g_queueSink = &sink;
        auto post = [&](const MessagePtr& m) {
            MessagePtr parameter = m;
            queue->runTaskAsync(&queueTask, &parameter);
        };
        measureThroughput(sink, messages / 10, window, post);
        queueOnly.messagesPerSecond = measureThroughput(sink, messages, window, post);
        measureLatency(sink, pings, post, queueOnly);
    }
    {
        BaselineQueue queue(&sink);
        auto post = [&](const MessagePtr& m) { queue.post(m); };
        measureThroughput(sink, messages / 10, window, post);
        baseline.messagesPerSecond = measureThroughput(sink, messages, window, post);
        measureLatency(sink, pings, post, baseline);
    }
    std::printf("messages %d (in flight: %s), latency samples %d\n", messages,
                window > 0 ? std::to_string(window).c_str() : "all", pings);
    print("context", context);
    print("queue", queueOnly);
    print("baseline", baseline);
    std::printf("ratio context/baseline: throughput %.2f (baseline %.2fx faster), p99 latency %.2f (goal: within 2x)\n",
                context.messagesPerSecond / baseline.messagesPerSecond,
                baseline.messagesPerSecond / context.messagesPerSecond, context.p99Micros / baseline.p99Micros);
    return 0;
}

std::string statusLine(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(key), key) == 0) return line;
    }
    return std::string(key) + " ?";
}

int runIdleContexts(int count) {
    std::printf("before: %s\n", statusLine("VmHWM").c_str());
    Sink sink;
    std::vector<vxs::ContextPtr> contexts;
    std::vector<vxs::Memory::vxs_shared_ptr<SinkModule>> modules;
    for (int i = 0; i < count; ++i) {
        contexts.push_back(vxs::Context::newContext());
        modules.push_back(SinkModule::create(contexts.back(), &sink));
        // One message each, so that the pool and every queue have been used.
        modules.back()->post(modules.back()->getSelfPtr(), makeMessage(static_cast<size_t>(-1)), 0);
    }
    sink.waitFor(count);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("idle with %d contexts: %s, %s, %s\n", count, statusLine("VmHWM").c_str(),
                statusLine("VmRSS").c_str(), statusLine("Threads").c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int messages = 20000;
    int window = 0;
    int pings = 20000;
    const char* usage = "usage: context_bench [--messages N] [--window N] [--pings N] | --idle-contexts N\n";
    if (argc % 2 == 0) {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (value < 0 || (value == 0 && flag != "--window")) {
            std::fprintf(stderr, "context_bench: %s needs a positive number\n", flag.c_str());
            return 2;
        }
        if (flag == "--idle-contexts") return runIdleContexts(value);
        if (flag == "--messages") messages = value;
        else if (flag == "--window") window = value;
        else if (flag == "--pings") pings = value;
        else {
            std::fprintf(stderr, "%s", usage);
            return 2;
        }
    }
    return runComparison(messages, window, pings);
}
