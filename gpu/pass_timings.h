// Per-pass GPU time of one renderer, measured with timestamp queries around
// every pass it records and summed over submissions until reset.
#pragma once

#include <cstdint>

// The passes a renderer records, in the order hosts list them.
enum class GpuPass : uint32_t { Trace, Filter, Light, Post, Downsample, Quantize, Aov };
inline constexpr uint32_t kGpuPassCount = 7;

struct GpuPassTimings {
    double milliseconds[kGpuPassCount] = {};
    uint64_t dispatches[kGpuPassCount] = {};
};
