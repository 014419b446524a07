// Keeps C++ exceptions inside the library. A host written in C (or any host
// that does not expect them) would be terminated by an exception crossing a
// vitrel_* call, so every entry point runs its body through one of these and
// reports a failure by the call's documented result instead. Bodies must
// build their changes aside and commit them with operations that cannot
// throw, so a failed call leaves the context as it was.
#pragma once

#include <utility>

// Result of `body()`, or `failure` when it throws anything.
template <typename R, typename Body>
R guarded_call(R failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

// Runs `body()`; an exception ends the call without effect. For the calls
// that return nothing.
template <typename Body>
void guarded_call(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}
