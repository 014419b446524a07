// Pixel read-out (float, linear float, 8-bit) and the auxiliary passes.
//
// The 8-bit read-out is double-buffered: it renders into `pixels8_back` and
// publishes by swapping with `pixels8_front` under `front_mutex`, so a
// viewer thread that finds the context busy can still be handed the last
// published image without waiting.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include "api/framebuffer_merge.h"
#include "api/render_support.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "gpu/vk_renderer.h"

namespace {

bool ready_for_readout(const VitrelContext& ctx) {
    return ctx.prepared && !ctx.renderers.empty() && ctx.renderers.front() &&
           ctx.total_samples.load() >= 1;
}

void write_size(uint32_t w, uint32_t h, int* width, int* height) {
    if (width) *width = static_cast<int>(w);
    if (height) *height = static_cast<int>(h);
}

// The size the renderers deliver. It equals the output size unless the
// host changed that without a preparation or camera update; reporting the
// delivered size keeps a host from reading past the returned data then.
uint32_t delivered_width(const VitrelContext& ctx) {
    return static_cast<uint32_t>(std::max(ctx.renderers.front()->outputWidth, 0));
}
uint32_t delivered_height(const VitrelContext& ctx) {
    return static_cast<uint32_t>(std::max(ctx.renderers.front()->outputHeight, 0));
}

// Runs a read-out on the first renderer, merged with the others when there
// are several.
template <typename Readout>
auto run_readout(VitrelContext& ctx, Readout&& readout) -> decltype(readout()) {
    if (ctx.renderers.size() == 1) return readout();
    return with_merged_framebuffers(ctx, readout);
}

// Read-out failures are returned as null; the text goes to last_error.
void report_readout_failure(VitrelContext& ctx, const char* call) {
    report_failure(ctx, "", std::string(call) + ": " +
                                exception_text(std::current_exception(), "unknown error"));
}

const float* float_pixels(VitrelContext* ctx, int* width, int* height, bool linear,
                          const char* call) {
    if (!ctx) return nullptr;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (!ready_for_readout(*ctx)) return nullptr;
    try {
        VkRenderer& first = *ctx->renderers.front();
        const int total = static_cast<int>(ctx->total_samples.load());
        const float* pixels =
            run_readout(*ctx, [&] { return first.readback(ctx->output, total, linear); });
        if (!pixels) return nullptr;
        write_size(delivered_width(*ctx), delivered_height(*ctx), width, height);
        return pixels;
    } catch (...) {
        report_readout_failure(*ctx, call);
        return nullptr;
    }
}

// The last published image, or null; never waits for the context lock.
const unsigned char* published_pixels(VitrelContext& ctx, int* width, int* height) {
    std::lock_guard<std::mutex> front(ctx.front_mutex);
    if (!ctx.front_valid) return nullptr;
    if (width) *width = static_cast<int>(ctx.front_width);
    if (height) *height = static_cast<int>(ctx.front_height);
    return ctx.pixels8_front.data();
}

template <typename T>
const T* aov_plane(VitrelContext* ctx, const std::vector<T>& (*plane)(const VitrelContext&),
                   int* width, int* height) {
    if (!ctx) return nullptr;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    const std::vector<T>& p = plane(*ctx);
    if (p.empty()) return nullptr;
    write_size(ctx->aov_width, ctx->aov_height, width, height);
    return p.data();
}

const std::vector<float>& depth_plane(const VitrelContext& c) { return c.aov_depth; }
const std::vector<float>& normal_plane(const VitrelContext& c) { return c.aov_normal; }
const std::vector<int32_t>& object_id_plane(const VitrelContext& c) { return c.aov_object_id; }

}  // namespace

extern "C" {

const float* vitrel_get_pixels(VitrelContext* ctx, int* width, int* height) noexcept {
    return float_pixels(ctx, width, height, false, "get_pixels");
}

const float* vitrel_get_pixels_linear(VitrelContext* ctx, int* width, int* height) noexcept {
    return float_pixels(ctx, width, height, true, "get_pixels_linear");
}

const unsigned char* vitrel_get_pixels_uint8(VitrelContext* ctx, int* width,
                                             int* height) noexcept {
    if (!ctx) return nullptr;
    std::unique_lock<std::mutex> lock(ctx->mutex, std::try_to_lock);
    if (!lock.owns_lock()) return published_pixels(*ctx, width, height);
    if (!ready_for_readout(*ctx)) return nullptr;
    try {
        VkRenderer& first = *ctx->renderers.front();
        const int total = static_cast<int>(ctx->total_samples.load());
        run_readout(*ctx, [&] {
            first.readbackUint8(ctx->output, total, ctx->pixels8_back);
            return 0;
        });
        {
            std::lock_guard<std::mutex> front(ctx->front_mutex);
            ctx->front_valid = true;
            std::swap(ctx->pixels8_back, ctx->pixels8_front);
            ctx->front_width = delivered_width(*ctx);
            ctx->front_height = delivered_height(*ctx);
        }
        write_size(ctx->front_width, ctx->front_height, width, height);
        return ctx->pixels8_front.data();
    } catch (...) {
        report_readout_failure(*ctx, "get_pixels_uint8");
        return nullptr;
    }
}

int vitrel_compute_aovs(VitrelContext* ctx) noexcept {
    if (!ctx) return -1;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    if (!ctx->prepared || ctx->renderers.empty() || !ctx->renderers.front()) return -1;
    try {
        VkRenderer& first = *ctx->renderers.front();
        first.computeAOVs(ctx->output);
        // The planes take the size the renderer was prepared at, never a
        // requested size not applied yet (which may be any size at all).
        first.readbackAOVs(ctx->output, ctx->aov_depth, ctx->aov_normal, ctx->aov_object_id);
        ctx->aov_width = delivered_width(*ctx);
        ctx->aov_height = delivered_height(*ctx);
        return 0;
    } catch (...) {
        report_readout_failure(*ctx, "compute_aovs");
        return -1;
    }
}

const float* vitrel_get_aov_depth(VitrelContext* ctx, int* width, int* height) noexcept {
    return aov_plane<float>(ctx, depth_plane, width, height);
}

const float* vitrel_get_aov_normal(VitrelContext* ctx, int* width, int* height) noexcept {
    return aov_plane<float>(ctx, normal_plane, width, height);
}

const int* vitrel_get_aov_object_id(VitrelContext* ctx, int* width, int* height) noexcept {
    return aov_plane<int32_t>(ctx, object_id_plane, width, height);
}

}  // extern "C"
