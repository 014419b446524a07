// Lifecycle and status calls.
#include <memory>
#include <mutex>
#include <utility>

#include "api/call_guard.h"
#include "api/grade_preset.h"
#include "api/shader_location.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "gpu/vk_renderer.h"
#include "scene/ess_lut.h"

void release_renderers(std::vector<VkRenderer*>& renderers) {
    for (VkRenderer*& r : renderers) {
        if (!r) continue;
        r->destroy();
        delete r;
        r = nullptr;
    }
    renderers.clear();
}

void invalidate_front_image(VitrelContext& ctx, bool free_pixels) {
    std::lock_guard<std::mutex> front(ctx.front_mutex);
    ctx.front_valid = false;
    if (free_pixels) {
        ctx.pixels8_front.clear();
        ctx.pixels8_front.shrink_to_fit();
    }
}

extern "C" {

VitrelContext* vitrel_create(void) noexcept {
    return guarded_call(static_cast<VitrelContext*>(nullptr), [] {
        auto ctx = std::make_unique<VitrelContext>();
        ctx->ess_lut.assign(ess_lut_precomputed, ess_lut_precomputed + kEssLutSize);
        ctx->shader_dir = default_shader_dir();
        const GradeRow neutral = grade_preset("neutral");
        ctx->output.exposure = neutral[0];
        for (int i = 0; i < 5; ++i) ctx->output.grade[i] = neutral[1 + i];
        return ctx.release();
    });
}

void vitrel_destroy(VitrelContext* ctx) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::vector<VkRenderer*> renderers;
        {
            std::lock_guard<std::mutex> lock(ctx->mutex);
            renderers.swap(ctx->renderers);
        }
        release_renderers(renderers);
    });
    delete ctx;
}

void vitrel_scene_clear(VitrelContext* ctx) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        release_renderers(ctx->renderers);
        ctx->scene = Scene();
        ctx->prepared = false;
        ctx->material_exprs.clear();
        ctx->total_samples.exchange(0);
        invalidate_front_image(*ctx, true);
    });
}

int vitrel_is_prepared(VitrelContext* ctx) noexcept {
    if (!ctx) return 0;
    return guarded_call(0, [&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        return ctx->prepared ? 1 : 0;
    });
}

int vitrel_get_total_samples(VitrelContext* ctx) noexcept {
    if (!ctx) return 0;
    return static_cast<int>(ctx->total_samples.load());
}

const char* vitrel_get_last_error(VitrelContext* ctx) noexcept {
    if (!ctx) return "";
    return guarded_call(static_cast<const char*>(""), [&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        return ctx->last_error.c_str();
    });
}

}  // extern "C"
