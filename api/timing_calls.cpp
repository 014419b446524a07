// The sampler seed and per-pass GPU timing: switches copied to every
// renderer, and the renderers' timing sums read back per GPU.
#include <mutex>

#include "api/call_guard.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "gpu/vk_renderer.h"

static_assert(VITREL_PASS_COUNT == kGpuPassCount);
static_assert(VITREL_PASS_TRACE == static_cast<int>(GpuPass::Trace));
static_assert(VITREL_PASS_FILTER == static_cast<int>(GpuPass::Filter));
static_assert(VITREL_PASS_LIGHT == static_cast<int>(GpuPass::Light));
static_assert(VITREL_PASS_POST == static_cast<int>(GpuPass::Post));
static_assert(VITREL_PASS_DOWNSAMPLE == static_cast<int>(GpuPass::Downsample));
static_assert(VITREL_PASS_QUANTIZE == static_cast<int>(GpuPass::Quantize));
static_assert(VITREL_PASS_AOV == static_cast<int>(GpuPass::Aov));

extern "C" {

void vitrel_set_seed(VitrelContext* ctx, unsigned int seed) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (ctx->sampler_seed == seed) return;
        ctx->sampler_seed = seed;
        for (VkRenderer* r : ctx->renderers)
            if (r) r->samplerSeed = seed;
        // Samples of two seeds in one image would still average correctly,
        // but the image would belong to neither seed's sequence.
        ctx->total_samples.exchange(0);
        invalidate_front_image(*ctx, false);
    });
}

void vitrel_set_gpu_timing(VitrelContext* ctx, int enabled) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->gpu_timing = enabled != 0;
        for (VkRenderer* r : ctx->renderers)
            if (r) r->passTiming = ctx->gpu_timing;
    });
}

void vitrel_reset_gpu_timings(VitrelContext* ctx) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->timed_batches = 0;
        ctx->timed_batch_ms = 0.0;
        for (VkRenderer* r : ctx->renderers)
            if (r) r->resetPassTimings();
    });
}

int vitrel_get_gpu_timings(VitrelContext* ctx, int gpu, VitrelPassTimings* out) noexcept {
    if (!ctx || !out) return -1;
    return guarded_call(-1, [&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (!ctx->prepared || gpu < 0 || static_cast<size_t>(gpu) >= ctx->renderers.size() ||
            !ctx->renderers[static_cast<size_t>(gpu)])
            return -1;
        const VkRenderer& r = *ctx->renderers[static_cast<size_t>(gpu)];
        VitrelPassTimings t{};
        t.available = ctx->gpu_timing && r.passTimingSupported() ? 1 : 0;
        t.batches = static_cast<int>(ctx->timed_batches);
        t.host_batch_ms = ctx->timed_batch_ms;
        for (uint32_t k = 0; k < kGpuPassCount; ++k) {
            t.gpu_ms[k] = r.passTimings.milliseconds[k];
            t.dispatches[k] = static_cast<long long>(r.passTimings.dispatches[k]);
        }
        *out = t;
        return 0;
    });
}

}  // extern "C"
