// Output, quality and grading settings.
#include <mutex>

#include "api/call_guard.h"
#include "api/grade_preset.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "gpu/vk_renderer.h"
#include "shaders/gpu_layout.h"

// The public switch is the programs' trace-parameter bit.
static_assert(VITREL_TRACE_LIGHT_TRACING == TRACE_PARAM_LIGHT_TRACING);

GradeRow grade_preset(const std::string& name) {
    if (name == "punchy") return {1.0f, 1.0f, 1.3f, 1.15f, 0.0f, 0.95f};
    if (name == "filmic") return {1.0f, 1.0f, 1.1f, 0.85f, 0.03f, 1.05f};
    if (name == "bleach_bypass") return {1.0f, 1.0f, 1.5f, 0.5f, 0.0f, 0.9f};
    return {1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 1.0f};
}

extern "C" {

void vitrel_set_output_size(VitrelContext* ctx, int width, int height) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->output.width = static_cast<uint32_t>(width);
        ctx->output.height = static_cast<uint32_t>(height);
    });
}

void vitrel_set_render_params(VitrelContext* ctx, int samples_per_batch, int trace_param,
                              float exposure) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (!ctx->prepared) {
            ctx->samples_per_batch = static_cast<uint32_t>(samples_per_batch);
            ctx->trace_param = static_cast<uint32_t>(trace_param);
        }
        ctx->output.exposure = exposure;
    });
}

void vitrel_set_tile_size(VitrelContext* ctx, int tile) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->tile_size = tile < 1 ? 1u : static_cast<uint32_t>(tile);
        if (!ctx->prepared) {
            for (VkRenderer* r : ctx->renderers)
                if (r) r->tileSize = ctx->tile_size;
        }
    });
}

void vitrel_set_quality(VitrelContext* ctx, int quality) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->output.quality = static_cast<uint32_t>(quality);
    });
}

void vitrel_set_shader_paths(VitrelContext* ctx, const char* shader_dir,
                             const char* shader_src_dir) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        // Copied before the lock so that a failed copy changes neither.
        std::string dir = shader_dir ? shader_dir : "";
        std::string src_dir = shader_src_dir ? shader_src_dir : "";
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (shader_dir) ctx->shader_dir.swap(dir);
        if (shader_src_dir) ctx->shader_src_dir.swap(src_dir);
    });
}

void vitrel_set_grade(VitrelContext* ctx, const char* name) noexcept {
    if (!ctx || !name) return;
    guarded_call([&] {
        const GradeRow row = grade_preset(name);
        std::lock_guard<std::mutex> lock(ctx->mutex);
        for (int i = 0; i < 5; ++i) ctx->output.grade[i] = row[1 + i];
    });
}

}  // extern "C"
