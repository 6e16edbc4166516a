// Throughput of a serial dispatch queue (tasks posted from one thread and
// drained on the global pool), of a queue of limit 3, of the bare thread pool,
// and the latency from submitting one task to its start on an idle pool.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/shared_ptr.h"
#include "threads/dispatch_queue.h"
#include "threads/dispatch_task.h"
#include "threads/global_thread_pool.h"
#include "threads/thread_pool.h"

namespace {

using vxs::Memory::vxs_shared_ptr;
using vxs::Memory::vxs_shared_ptr_base;
using vxs::Threads::ASRDispatchTaskBase;
using vxs::Threads::DispatchQueue;
using vxs::Threads::GlobalThreadPool;
using vxs::Threads::ThreadPool;

std::atomic<int64_t> g_done{0};

void countDone(vxs_shared_ptr_base*) { g_done.fetch_add(1, std::memory_order_relaxed); }

void waitForDone(int64_t target) {
    while (g_done.load(std::memory_order_relaxed) < target) std::this_thread::yield();
}

void BM_DispatchQueueTasks(benchmark::State& state) {
    const int limit = static_cast<int>(state.range(0));
    const int batch = 1000;
    vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(limit);
    for (auto _ : state) {
        g_done.store(0);
        for (int i = 0; i < batch; ++i) queue->runTaskAsync(&countDone, nullptr);
        waitForDone(batch);
    }
    queue->cancel_sync();
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_DispatchQueueTasks)->Arg(1)->Arg(3)->UseRealTime();

void BM_ThreadPoolTasks(benchmark::State& state) {
    const int batch = 1000;
    vxs_shared_ptr<ThreadPool> pool = ThreadPool::alloc(4);
    for (auto _ : state) {
        g_done.store(0);
        for (int i = 0; i < batch; ++i) pool->runTaskAsync(&countDone, nullptr);
        waitForDone(batch);
    }
    pool->cancel_sync();
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_ThreadPoolTasks)->UseRealTime();

std::atomic<int64_t> g_startedAt{0};

void noteStart(vxs_shared_ptr_base*) {
    g_startedAt.store(std::chrono::steady_clock::now().time_since_epoch().count());
}

void BM_SubmitToStartLatency(benchmark::State& state) {
    vxs_shared_ptr<GlobalThreadPool> global = GlobalThreadPool::instance();
    for (auto _ : state) {
        g_startedAt.store(0);
        const int64_t submitted = std::chrono::steady_clock::now().time_since_epoch().count();
        global->runTaskAsync(&noteStart, nullptr);
        while (g_startedAt.load() == 0) std::this_thread::yield();
        state.SetIterationTime(static_cast<double>(g_startedAt.load() - submitted) * 1e-9);
    }
}
BENCHMARK(BM_SubmitToStartLatency)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    GlobalThreadPool::shutdown();
    return 0;
}
