#include "api/framebuffer_merge.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "api/vitrel_context.h"
#include "gpu/vk_renderer.h"

void add_accumulation(std::vector<float>& eye_sum, std::vector<int32_t>& light_sum,
                      const std::vector<float>& eye, const std::vector<int32_t>& light) {
    if (eye.size() != eye_sum.size() || light.size() != light_sum.size())
        throw std::runtime_error("framebuffer merge: accumulation sizes differ between GPUs");
    for (size_t e = 0; e < eye_sum.size(); ++e) eye_sum[e] += eye[e];
    // Light splats saturate on the GPU instead of wrapping; the sum of
    // several GPUs saturates the same way.
    for (size_t e = 0; e < light_sum.size(); ++e)
        light_sum[e] = static_cast<int32_t>(
            std::clamp<int64_t>(static_cast<int64_t>(light_sum[e]) + light[e], INT32_MIN, INT32_MAX));
}

SavedAccumulation load_merged_accumulation(VitrelContext& ctx) {
    VkRenderer& first = *ctx.renderers.front();
    SavedAccumulation saved;
    first.readbackFramebuffers(saved.eye, saved.light);
    std::vector<float> eye_sum = saved.eye;
    std::vector<int32_t> light_sum = saved.light;

    const size_t others = ctx.renderers.size() - 1;
    std::vector<std::vector<float>> eyes(others);
    std::vector<std::vector<int32_t>> lights(others);
    const WorkerFailures failures = run_per_slot(others, [&](size_t g) {
        ctx.renderers[g + 1]->readbackFramebuffers(eyes[g], lights[g]);
    });
    const int bad = failures.first();
    if (bad >= 0) std::rethrow_exception(failures.slots[bad]);
    for (size_t g = 0; g < others; ++g) add_accumulation(eye_sum, light_sum, eyes[g], lights[g]);

    try {
        first.uploadFramebuffers(eye_sum, light_sum);
    } catch (...) {
        restore_accumulation(ctx, saved);
        throw;
    }
    return saved;
}

void restore_accumulation(VitrelContext& ctx, const SavedAccumulation& saved) {
    ctx.renderers.front()->uploadFramebuffers(saved.eye, saved.light);
}
