// GPU listing, selection and scene preparation.
//
// Preparation packs the scene on the calling thread, then brings up (full
// path) or refreshes (fast path) one renderer per selected GPU, each on its
// own thread. Any failure leaves no renderer behind, so the next preparation
// starts from scratch with the current GPU selection.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "api/render_support.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "api/worker_threads.h"
#include "gpu/program_features.h"
#include "gpu/vk_renderer.h"
#include "scene/triangle_order.h"

namespace {

// Copies the per-context settings each renderer keeps.
void copy_settings(const VitrelContext& ctx, VkRenderer& r) {
    r.samplesPerDispatch = batch_samples(ctx);
    r.tileSize = std::max(ctx.tile_size, 1u);
    r.samplerSeed = ctx.sampler_seed;
    r.passTiming = ctx.gpu_timing;
    // Renders that never trace light paths skip creating their program.
    r.lightPathsAtPreparation = (ctx.trace_param & VITREL_TRACE_LIGHT_TRACING) != 0;
}

// The atlas is kept between packings while it exists; a texture added since
// it was built would be missing from it, so a changed texture count
// rebuilds it.
void drop_stale_atlas(Scene& scene) {
    if (scene.atlas_entries.size() == scene.textures.size()) return;
    scene.atlas_data.clear();
    scene.atlas_entries.clear();
}

void upload_scene(VitrelContext& ctx, VkRenderer& r) {
    r.buildAccelerationStructures(ctx.scene);
    r.createBuffers(ctx.scene, ctx.output, ctx.ess_lut);
    r.createDescriptors();
    r.updateDescriptors();
}

int prepare_fast(VitrelContext& ctx) {
    const std::vector<MaterialExprData>* exprs =
        ctx.material_exprs.empty() ? nullptr : &ctx.material_exprs;
    const uint32_t features = program_features(ctx.scene, exprs);
    const WorkerFailures failures = run_per_slot(ctx.renderers.size(), [&](size_t i) {
        VkRenderer& r = *ctx.renderers[i];
        copy_settings(ctx, r);
        r.destroySceneResources();
        // The programs leave out material features the scene did not use
        // when they were built; a material that now uses one needs them
        // built again, or it would render without it.
        if ((features & ~r.programFeatures) != 0)
            r.createPipelines(ctx.scene, ctx.shader_dir, ctx.shader_src_dir, exprs);
        upload_scene(ctx, r);
    });
    const int bad = failures.first();
    if (bad < 0) return 0;
    report_failure(ctx, "vitrel_prepare (fast): ",
                   exception_text(failures.slots[bad], "unknown error in fast prepare"));
    release_renderers(ctx.renderers);
    return -2;
}

int prepare_full(VitrelContext& ctx) {
    const size_t n = ctx.gpu_indices.size();
    ctx.renderers.assign(n, nullptr);
    // New renderers start their timing sums at zero; so does the host side.
    ctx.timed_batches = 0;
    ctx.timed_batch_ms = 0.0;
    const std::vector<MaterialExprData>* exprs =
        ctx.material_exprs.empty() ? nullptr : &ctx.material_exprs;
    const WorkerFailures failures = run_per_slot(n, [&](size_t i) {
        auto* r = new VkRenderer();
        try {
            copy_settings(ctx, *r);
            r->init(ctx.validation, static_cast<int>(ctx.gpu_indices[i]));
            r->createPipelines(ctx.scene, ctx.shader_dir, ctx.shader_src_dir, exprs);
            upload_scene(ctx, *r);
        } catch (...) {
            r->destroy();
            delete r;
            throw;
        }
        ctx.renderers[i] = r;
    });
    const int bad = failures.first();
    if (bad < 0) return 0;
    const std::string prefix = "GPU " + std::to_string(ctx.gpu_indices[bad]) + ": ";
    report_failure(ctx, "vitrel_prepare: ",
                   prefix + exception_text(failures.slots[bad], "unknown error"));
    release_renderers(ctx.renderers);
    return -2;
}

int prepare_locked(VitrelContext& ctx) {
    ctx.prepared = false;
    const Scene& s = ctx.scene;
    if (s.materials.empty() || s.meshes.empty() || s.instances.empty()) {
        std::fprintf(stderr, "vitrel_prepare: empty scene (mats=%zu, meshes=%zu, instances=%zu)\n",
                     s.materials.size(), s.meshes.size(), s.instances.size());
        return -1;
    }
    const std::string size_problem = check_render_size(ctx.output);
    if (!size_problem.empty()) {
        std::fprintf(stderr, "vitrel_prepare: %s\n", size_problem.c_str());
        return -1;
    }
    // Packing failures (an atlas past 4 GiB, exhausted memory) are reported
    // as a failed preparation; the renderers no longer match the scene.
    try {
        drop_stale_atlas(ctx.scene);
        order_scene_triangles(ctx.scene);
        pack_scene(ctx);
    } catch (...) {
        report_failure(ctx, "vitrel_prepare: ",
                       "scene packing: " + exception_text(std::current_exception(), "unknown error"));
        release_renderers(ctx.renderers);
        return -2;
    }
    const bool fast = !ctx.renderers.empty() && ctx.renderers.front() != nullptr;
    if (!fast) release_renderers(ctx.renderers);
    const int rc = fast ? prepare_fast(ctx) : prepare_full(ctx);
    if (rc != 0) return rc;
    ctx.uploaded_shape = capture_shape(ctx.scene);
    ctx.prepared = true;
    ctx.total_samples.exchange(0);
    invalidate_front_image(ctx, true);
    return 0;
}

}  // namespace

extern "C" {

int vitrel_enumerate_gpus(char* names, int stride, int max_count) noexcept {
    if (!names || stride < 1 || max_count < 1) return 0;
    try {
        const std::vector<std::string> gpus = VkRenderer::enumerateRayTracingDevices();
        const size_t count = std::min(gpus.size(), static_cast<size_t>(max_count));
        const size_t width = static_cast<size_t>(stride);
        for (size_t k = 0; k < count; ++k) {
            char* slot = names + k * width;
            const size_t len = std::min(gpus[k].size(), width - 1);
            std::memcpy(slot, gpus[k].data(), len);
            std::memset(slot + len, 0, width - len);
        }
        return static_cast<int>(count);
    } catch (...) {
        return 0;
    }
}

void vitrel_set_gpu_mask(VitrelContext* ctx, const int* indices, int count) noexcept {
    if (!ctx || !indices || count < 1) return;
    for (int i = 0; i < count; ++i)
        if (indices[i] < 0) return;
    try {
        std::vector<uint32_t> selection(indices, indices + count);
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->gpu_indices.swap(selection);
    } catch (...) {
        // Out of memory for the list: the selection stays as it was.
    }
}

int vitrel_prepare(VitrelContext* ctx) noexcept {
    if (!ctx) return -1;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    try {
        return prepare_locked(*ctx);
    } catch (...) {
        report_failure(*ctx, "vitrel_prepare: ",
                       exception_text(std::current_exception(), "unknown error"));
        release_renderers(ctx->renderers);
        ctx->prepared = false;
        return -2;
    }
}

}  // extern "C"
