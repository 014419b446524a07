// Pushing host-side changes into prepared renderers without a preparation:
// a new camera and output size, or moved instances and changed lights.
//
// Both calls check first that nothing grew which only a preparation
// re-creates, so they never write past a buffer sized at preparation. A
// failure once a renderer has started replacing resources leaves the context
// unprepared: its renderers may hold a partial scene.
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "api/render_support.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "api/worker_threads.h"
#include "gpu/vk_renderer.h"

namespace {

constexpr const char* kCameraPrefix = "vitrel_update_camera error: ";
constexpr const char* kTlasPrefix = "vitrel_rebuild_tlas error: ";

// Runs `step` on every renderer and reports the lowest failing slot.
template <typename Step>
bool for_each_renderer(VitrelContext& ctx, const char* prefix, const char* label, Step&& step) {
    const WorkerFailures failures =
        run_per_slot(ctx.renderers.size(), [&](size_t i) { step(*ctx.renderers[i]); });
    const int bad = failures.first();
    if (bad < 0) return true;
    report_failure(ctx, prefix,
                   std::string(label) + "GPU slot " + std::to_string(bad) + ": " +
                       exception_text(failures.slots[bad], "unknown error") + "; prepare again");
    ctx.prepared = false;
    return false;
}

// Packs the scene, or reports why it could not be packed.
bool pack_or_report(VitrelContext& ctx, const char* prefix, const char* label) {
    try {
        pack_scene(ctx);
        return true;
    } catch (...) {
        report_failure(ctx, prefix,
                       std::string(label) + "scene packing: " +
                           exception_text(std::current_exception(), "unknown error"));
        return false;
    }
}

bool refuse_if(VitrelContext& ctx, const char* prefix, const char* label,
               const std::string& problem) {
    if (problem.empty()) return false;
    report_failure(ctx, prefix, label + problem);
    return true;
}

// The host state a camera update changes: applied once with the new values,
// and again with the saved ones to undo a refused update.
struct CameraState {
    float position[3], look_at[3], up[3];
    float fov, aperture, focus_distance;
    RenderOutput output;
};

CameraState make_camera(const float* position, const float* look_at, const float* up, float fov,
                        float aperture, float focus_distance, const RenderOutput& output) {
    CameraState c{};
    std::memcpy(c.position, position, sizeof(c.position));
    std::memcpy(c.look_at, look_at, sizeof(c.look_at));
    std::memcpy(c.up, up, sizeof(c.up));
    c.fov = fov;
    c.aperture = aperture;
    c.focus_distance = focus_distance;
    c.output = output;
    return c;
}

CameraState current_camera(const VitrelContext& ctx) {
    const Scene& s = ctx.scene;
    return make_camera(s.camera_position, s.camera_look_at, s.camera_up, s.camera_fov,
                       s.camera_aperture, s.camera_focus_distance, ctx.output);
}

void apply_camera(VitrelContext& ctx, const CameraState& c) {
    Scene& s = ctx.scene;
    std::memcpy(s.camera_position, c.position, sizeof(c.position));
    std::memcpy(s.camera_look_at, c.look_at, sizeof(c.look_at));
    std::memcpy(s.camera_up, c.up, sizeof(c.up));
    s.camera_fov = c.fov;
    s.camera_aperture = c.aperture;
    s.camera_focus_distance = c.focus_distance;
    ctx.output = c.output;
}

int update_camera_locked(VitrelContext& ctx, const float* position, const float* look_at,
                         const float* up, int width, int height, float fov, float aperture,
                         float focus_distance) {
    constexpr const char* kLabel = "update_camera: ";
    if (!ctx.prepared || ctx.renderers.empty()) return -1;
    if (width < 1 || height < 1 || ctx.output.quality < 1) {
        report_failure(ctx, kCameraPrefix,
                       std::string(kLabel) + "width, height and quality must be at least 1 (got " +
                           std::to_string(width) + " x " + std::to_string(height) +
                           ", quality " + std::to_string(ctx.output.quality) + ")");
        return -1;
    }
    RenderOutput next = ctx.output;
    next.width = static_cast<uint32_t>(width);
    next.height = static_cast<uint32_t>(height);
    if (refuse_if(ctx, kCameraPrefix, kLabel, check_render_size(next))) return -1;
    if (refuse_if(ctx, kCameraPrefix, kLabel,
                  check_fixed_tables(ctx.uploaded_shape, ctx.scene)))
        return -1;

    const CameraState before = current_camera(ctx);
    apply_camera(ctx, make_camera(position, look_at, up, fov, aperture, focus_distance, next));
    // Lights are not uploaded here, so the packed light counts must still
    // describe the light buffers on the GPUs. A refusal puts the camera and
    // size back; the packed tables are rebuilt by every later upload.
    if (!pack_or_report(ctx, kCameraPrefix, kLabel) ||
        refuse_if(ctx, kCameraPrefix, kLabel, check_light_tables(ctx.uploaded_shape, ctx.scene))) {
        apply_camera(ctx, before);
        return -1;
    }

    if (!for_each_renderer(ctx, kCameraPrefix, kLabel, [&](VkRenderer& r) {
            upload_scene_params(r, ctx.scene);
            const int32_t oldW = r.renderWidth, oldH = r.renderHeight;
            r.resizeFramebuffers(ctx.output);
            if (r.renderWidth != oldW || r.renderHeight != oldH) r.updateDescriptors();
        }))
        return -1;
    ctx.total_samples.exchange(0);
    invalidate_front_image(ctx, false);
    return 0;
}

int rebuild_tlas_locked(VitrelContext& ctx) {
    constexpr const char* kLabel = "rebuild_tlas: ";
    if (!ctx.prepared || ctx.renderers.empty()) return -1;
    if (refuse_if(ctx, kTlasPrefix, kLabel, check_fixed_tables(ctx.uploaded_shape, ctx.scene)))
        return -1;
    if (!pack_or_report(ctx, kTlasPrefix, kLabel)) return -1;
    if (!for_each_renderer(ctx, kTlasPrefix, kLabel, [&](VkRenderer& r) {
            upload_scene_params(r, ctx.scene);
            r.rebuildTLAS(ctx.scene);
            r.reuploadLightBuffers(ctx.scene);
            r.reuploadInstanceData(ctx.scene);
            r.updateDescriptors();
        }))
        return -1;
    record_light_upload(ctx.uploaded_shape, ctx.scene);
    ctx.total_samples.exchange(0);
    return 0;
}

}  // namespace

extern "C" {

int vitrel_update_camera(VitrelContext* ctx, const float* position, const float* look_at,
                         const float* up, int width, int height, float fov, float aperture,
                         float focus_distance) noexcept {
    if (!ctx || !position || !look_at || !up) return -1;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    try {
        return update_camera_locked(*ctx, position, look_at, up, width, height, fov, aperture,
                                    focus_distance);
    } catch (...) {
        report_failure(*ctx, kCameraPrefix,
                       "update_camera: " + exception_text(std::current_exception(), "unknown error"));
        return -1;
    }
}

int vitrel_rebuild_tlas(VitrelContext* ctx) noexcept {
    if (!ctx) return -1;
    std::lock_guard<std::mutex> lock(ctx->mutex);
    try {
        return rebuild_tlas_locked(*ctx);
    } catch (...) {
        report_failure(*ctx, kTlasPrefix,
                       "rebuild_tlas: " + exception_text(std::current_exception(), "unknown error"));
        return -1;
    }
}

}  // extern "C"
