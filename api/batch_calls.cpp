// Progressive batches: one GPU renders the whole image per batch (with the
// software or hardware motion-blur variants), several GPUs share a tile
// list through one atomic counter.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>

#include "api/batch_plan.h"
#include "api/render_support.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "api/worker_threads.h"
#include "gpu/vk_renderer.h"

namespace {

// A failure while scene resources are being replaced may leave a renderer
// with a partial scene; it must not be rendered from until re-prepared.
struct SceneReplacementError : std::runtime_error {
    explicit SceneReplacementError(const std::string& what)
        : std::runtime_error(what + "; prepare again") {}
};

// Re-packs the scene and pushes transforms and lights into the one renderer
// of the motion paths. Arrays that only a preparation can re-create must not
// have grown.
void push_moved_scene(VitrelContext& ctx, VkRenderer& r) {
    const std::string grown = check_fixed_tables(ctx.uploaded_shape, ctx.scene);
    if (!grown.empty()) throw std::runtime_error(grown);
    pack_scene(ctx);
    try {
        upload_scene_params(r, ctx.scene);
        r.rebuildTLAS(ctx.scene);
        r.reuploadLightBuffers(ctx.scene);
        r.reuploadInstanceData(ctx.scene);
        r.updateDescriptors();
    } catch (const std::exception& e) {
        throw SceneReplacementError(e.what());
    } catch (...) {
        throw SceneReplacementError("unknown error");
    }
    record_light_upload(ctx.uploaded_shape, ctx.scene);
}

// Set once a renderer may have added samples: a failure after that point
// leaves a partial batch in the accumulation.
struct BatchProgress {
    bool accumulation_touched = false;
};

uint32_t render_software_motion(VitrelContext& ctx, VkRenderer& r, uint32_t s0, bool clear,
                                BatchProgress& progress) {
    const uint32_t k = static_cast<uint32_t>(ctx.motion_steps);
    const uint32_t n = motion_substep_samples(batch_samples(ctx), k);
    for (uint32_t s = 0; s < k; ++s) {
        apply_motion_step(ctx.scene, ctx.motion_xforms, k, s);
        push_moved_scene(ctx, r);
        progress.accumulation_touched = true;
        r.renderBatch(ctx.scene, ctx.output, static_cast<int>(n),
                      static_cast<int>(ctx.trace_param), 0, static_cast<int>(s0 + s * n),
                      clear && s == 0);
    }
    return k * n;
}

uint32_t render_hardware_motion(VitrelContext& ctx, VkRenderer& r, uint32_t n, uint32_t s0,
                                bool clear, BatchProgress& progress) {
    apply_motion_endpoints(ctx.scene, ctx.motion_xforms, static_cast<uint32_t>(ctx.motion_steps));
    push_moved_scene(ctx, r);
    progress.accumulation_touched = true;
    r.renderBatch(ctx.scene, ctx.output, static_cast<int>(n), static_cast<int>(ctx.trace_param), 0,
                  static_cast<int>(s0), clear);
    return n;
}

// Throws the lowest failing worker's exception after all have joined.
void rethrow_first(const WorkerFailures& failures) {
    const int bad = failures.first();
    if (bad >= 0) std::rethrow_exception(failures.slots[bad]);
}

uint32_t render_tiles(VitrelContext& ctx, uint32_t n, uint32_t s0, bool clear,
                      BatchProgress& progress) {
    const size_t gpus = ctx.renderers.size();
    progress.accumulation_touched = true;
    if (clear)
        rethrow_first(run_per_slot(gpus, [&](size_t i) { ctx.renderers[i]->clearFramebuffers(); }));

    // A tile size changed since preparation applies at once, but no tile may
    // exceed what the renderers' per-tile scratch was sized for.
    uint32_t edge = ctx.tile_size;
    for (const VkRenderer* r : ctx.renderers) edge = std::min(edge, r->tileSize);
    const VkRenderer& first = *ctx.renderers.front();
    ctx.last_tiles = build_tile_list(static_cast<uint32_t>(std::max(first.renderWidth, 0)),
                                     static_cast<uint32_t>(std::max(first.renderHeight, 0)),
                                     edge);
    ctx.last_tile_slot.assign(ctx.last_tiles.size(), -1);
    ctx.last_tile_renders.assign(ctx.last_tiles.size(), 0);
    std::atomic<size_t> next{0};
    rethrow_first(run_per_slot(gpus, [&](size_t i) {
        VkRenderer& r = *ctx.renderers[i];
        for (size_t k = next.fetch_add(1); k < ctx.last_tiles.size(); k = next.fetch_add(1)) {
            const GpuTile& t = ctx.last_tiles[k];
            r.renderSingleTile(ctx.scene, ctx.output, t.x, t.y, t.w, t.h, static_cast<int>(n),
                               static_cast<int>(ctx.trace_param), 0, static_cast<int>(s0));
            ctx.last_tile_slot[k] = static_cast<int32_t>(i);
            ++ctx.last_tile_renders[k];
        }
    }));
    return n;
}

// Samples this batch adds, by the path the context takes.
uint32_t render_batch_locked(VitrelContext& ctx, BatchProgress& progress) {
    const uint32_t s0 = ctx.total_samples.load();
    const bool clear = s0 == 0;
    const uint32_t n = batch_samples(ctx);
    const bool motion = ctx.motion_steps > 1 && !ctx.motion_xforms.empty();
    if (ctx.renderers.size() > 1) return render_tiles(ctx, n, s0, clear, progress);
    VkRenderer& r = *ctx.renderers.front();
    if (motion && !r.hasMotionBlur) return render_software_motion(ctx, r, s0, clear, progress);
    if (motion) return render_hardware_motion(ctx, r, n, s0, clear, progress);
    progress.accumulation_touched = true;
    r.renderBatch(ctx.scene, ctx.output, static_cast<int>(n), static_cast<int>(ctx.trace_param), 0,
                  static_cast<int>(s0), clear);
    return n;
}

// The most samples a batch may add without the reported total leaving the
// range of the int result.
uint32_t batch_upper_bound(const VitrelContext& ctx) {
    const uint32_t n = batch_samples(ctx);
    const uint32_t k = ctx.motion_steps > 1 ? static_cast<uint32_t>(ctx.motion_steps) : 1u;
    const uint64_t most = std::max<uint64_t>(n, static_cast<uint64_t>(k) * motion_substep_samples(n, k));
    return static_cast<uint32_t>(std::min<uint64_t>(most, UINT32_MAX));
}

}  // namespace

extern "C" {

int vitrel_render_batch(VitrelContext* ctx) noexcept {
    if (!ctx) return -1;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (!ctx->prepared || ctx->renderers.empty() || !ctx->renderers.front()) return -1;
    BatchProgress progress;
    try {
        if (static_cast<uint64_t>(ctx->total_samples.load()) + batch_upper_bound(*ctx) > INT_MAX)
            throw std::runtime_error("sample count would exceed the range of the result; "
                                     "reset the accumulation");
        const auto start = std::chrono::steady_clock::now();
        const uint32_t added = render_batch_locked(*ctx, progress);
        if (ctx->gpu_timing) {
            ++ctx->timed_batches;
            ctx->timed_batch_ms += std::chrono::duration<double, std::milli>(
                                       std::chrono::steady_clock::now() - start)
                                       .count();
        }
        return static_cast<int>(ctx->total_samples.fetch_add(added) + added);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        try {
            std::rethrow_exception(failure);
        } catch (const SceneReplacementError&) {
            ctx->prepared = false;
        } catch (...) {
        }
        // Some pixels may hold part of the failed batch: restart so that the
        // next batch clears instead of adding to them.
        if (progress.accumulation_touched) {
            ctx->total_samples.exchange(0);
            invalidate_front_image(*ctx, false);
        }
        const std::string text = exception_text(failure, "unknown error");
        ctx->last_error = "render_batch: " + text;
        std::fprintf(stderr, "vitrel_render_batch error: %s\n", text.c_str());
        return -3;
    }
}

void vitrel_reset_accumulation(VitrelContext* ctx) noexcept {
    if (!ctx) return;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    ctx->total_samples.exchange(0);
    invalidate_front_image(*ctx, false);
}

}  // extern "C"
