#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_calls{0};

void* allocateOrNull(size_t size) noexcept {
    if (g_counting) ++g_calls;
    return std::malloc(size ? size : 1);
}

void* allocate(size_t size) {
    if (void* p = allocateOrNull(size)) return p;
    throw std::bad_alloc();
}
}  // namespace

namespace dnnvad_test {
AllocationCounter::AllocationCounter() {
    g_calls = 0;
    g_counting = true;
}
AllocationCounter::~AllocationCounter() { g_counting = false; }
long AllocationCounter::count() const { return g_calls; }
}  // namespace dnnvad_test

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
