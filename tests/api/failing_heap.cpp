// The replaced global heap behind failing_heap.h. It lives in its own
// translation unit so that GCC never inlines malloc() into a new expression
// whose delete it can see, which it would report as a mismatched pair.
#include "failing_heap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_fail_above{SIZE_MAX};
std::atomic<long> g_fail_countdown{-1};  // -1: off; 0: the next one fails
thread_local bool t_fail_next = false;

bool should_fail(size_t bytes) {
    if (t_fail_next) {
        t_fail_next = false;
        return true;
    }
    if (bytes > g_fail_above.load(std::memory_order_relaxed)) return true;
    long left = g_fail_countdown.load(std::memory_order_relaxed);
    while (left >= 0 && !g_fail_countdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 0;
}

}  // namespace

namespace failing_heap {

FailAbove::FailAbove(size_t bytes) { g_fail_above = bytes; }
FailAbove::~FailAbove() { g_fail_above = SIZE_MAX; }
FailNth::FailNth(long n) { g_fail_countdown = n; }
FailNth::~FailNth() { g_fail_countdown = -1; }
FailNextOnThisThread::FailNextOnThisThread() { t_fail_next = true; }
FailNextOnThisThread::~FailNextOnThisThread() { t_fail_next = false; }

}  // namespace failing_heap

void* operator new(size_t bytes) {
    if (should_fail(bytes)) throw std::bad_alloc();
    if (void* p = std::malloc(bytes ? bytes : 1)) return p;
    throw std::bad_alloc();
}
// The nothrow form must come from the same heap as the replaced delete
// (shaderc allocates its results with it); it never fails on demand.
void* operator new(size_t bytes, const std::nothrow_t&) noexcept { return std::malloc(bytes ? bytes : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
