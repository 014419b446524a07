// Allocation failure on demand. An executable that links failing_heap.cpp
// gets a replaced global operator new that throws std::bad_alloc when one of
// these guards is armed; each guard disarms itself when it goes out of scope.
#pragma once

#include <cstddef>

namespace failing_heap {

// Every allocation larger than `bytes`, on any thread.
struct FailAbove {
    explicit FailAbove(size_t bytes);
    ~FailAbove();
};

// The n-th allocation from now (0: the next one), on any thread.
struct FailNth {
    explicit FailNth(long n);
    ~FailNth();
};

// The next allocation of the calling thread only: the driver's own threads
// (shader compilation, disk cache) allocate at any time and must not be the
// ones to fail.
struct FailNextOnThisThread {
    FailNextOnThisThread();
    ~FailNextOnThisThread();
};

}  // namespace failing_heap
