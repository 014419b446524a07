// Read-out across several GPUs. Each GPU's accumulation holds only the tiles
// it rendered, so a read-out sums every GPU's accumulation into the first,
// runs there, and writes the first GPU's own accumulation back: merging
// starts from scratch at every read-out and never double-counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/worker_threads.h"

struct VitrelContext;
class VkRenderer;

// Adds `eye` and `light` element-wise into the sums (float and 32-bit
// integer additions; the integer sum wraps as the GPU's atomics do).
void add_accumulation(std::vector<float>& eye_sum, std::vector<int32_t>& light_sum,
                      const std::vector<float>& eye, const std::vector<int32_t>& light);

// Sums all renderers' accumulations into the first (at least two renderers),
// runs `readout` on it and restores its own accumulation, also when a step
// fails. The read-backs of the other GPUs run in parallel and their failures
// are reported after all have joined, the lowest slot first.
template <typename Readout>
auto with_merged_framebuffers(VitrelContext& ctx, Readout&& readout) -> decltype(readout());

// Implementation detail of with_merged_framebuffers: loads the summed
// accumulation into the first renderer and returns its saved own content.
struct SavedAccumulation {
    std::vector<float> eye;
    std::vector<int32_t> light;
};
SavedAccumulation load_merged_accumulation(VitrelContext& ctx);
void restore_accumulation(VitrelContext& ctx, const SavedAccumulation& saved);

template <typename Readout>
auto with_merged_framebuffers(VitrelContext& ctx, Readout&& readout) -> decltype(readout()) {
    const SavedAccumulation saved = load_merged_accumulation(ctx);
    try {
        auto result = readout();
        restore_accumulation(ctx, saved);
        return result;
    } catch (...) {
        restore_accumulation(ctx, saved);
        throw;
    }
}
