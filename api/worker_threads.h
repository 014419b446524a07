// One plain worker thread per renderer slot, all joined before the caller
// looks at any result. Each worker's failure is caught on its own thread and
// kept in its own slot, so a throwing worker can neither terminate the
// process nor leave a sibling running; the caller reports the lowest failing
// slot.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <thread>
#include <vector>

// Failures of one fan-out, one slot per worker (null = success).
struct WorkerFailures {
    std::vector<std::exception_ptr> slots;

    // Index of the lowest failing slot, or -1 when every worker succeeded.
    int first() const {
        for (size_t i = 0; i < slots.size(); ++i)
            if (slots[i]) return static_cast<int>(i);
        return -1;
    }
};

// Runs fn(i) for i = 0 .. count - 1, one thread each; slot 0 runs on the
// calling thread so a single renderer costs no thread. A thread that cannot
// be started records its failure in its slot, and the threads already
// running are still joined.
template <typename Fn>
WorkerFailures run_per_slot(size_t count, Fn&& fn) {
    WorkerFailures result;
    result.slots.resize(count);
    auto guarded = [&](size_t i) {
        try {
            fn(i);
        } catch (...) {
            result.slots[i] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(count);
    for (size_t i = 1; i < count; ++i) {
        try {
            threads.emplace_back(guarded, i);
        } catch (...) {
            result.slots[i] = std::current_exception();
        }
    }
    if (count > 0) guarded(0);
    for (std::thread& t : threads) t.join();
    return result;
}

// The what() text of a standard exception, else `unknown`.
inline std::string exception_text(const std::exception_ptr& failure, const char* unknown) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return unknown;
    }
}
