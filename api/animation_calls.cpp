// Camera animation and motion-blur calls: they record data only; the render
// batch and the scene packing turn it into GPU work.
#include <cstring>
#include <mutex>

#include "api/call_guard.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"

namespace {
constexpr size_t kXformFloats = 12;
}

extern "C" {

void vitrel_clear_animation(VitrelContext* ctx) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        Scene& s = ctx->scene;
        s.anim_loop = false;
        s.anim_duration = 0.0f;
        s.anim_fps = 30.0f;
        s.shutter_frames = 1.0f;
        s.camera_keyframes.clear();
    });
}

void vitrel_set_animation(VitrelContext* ctx, int loop, float duration, float fps) noexcept {
    if (!ctx) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->scene.anim_loop = loop != 0;
        ctx->scene.anim_duration = duration;
        ctx->scene.anim_fps = fps;
    });
}

void vitrel_add_keyframe(VitrelContext* ctx, const float* position, const float* look_at,
                         float time) noexcept {
    if (!ctx || !position || !look_at) return;
    guarded_call([&] {
        CameraKeyframe k;
        k.time = time;
        std::memcpy(k.position, position, sizeof(k.position));
        std::memcpy(k.look_at, look_at, sizeof(k.look_at));
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->scene.camera_keyframes.push_back(k);
    });
}

void vitrel_set_motion_blur(VitrelContext* ctx, int steps, float shutter) noexcept {
    if (!ctx || steps < 0) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        Scene& s = ctx->scene;
        // The steps are built aside: the step count is caller-given, and a
        // table too large for memory must leave the previous one in place.
        std::vector<std::vector<float>> xforms;
        const size_t k = static_cast<size_t>(steps);
        if (k > 0) {
            xforms.resize(k * s.instances.size());
            for (size_t i = 0; i < s.instances.size(); ++i) {
                const float* t = s.instances[i].transform;
                for (size_t step = 0; step < k; ++step)
                    xforms[i * k + step].assign(t, t + kXformFloats);
            }
        }
        ctx->motion_xforms.swap(xforms);
        ctx->motion_steps = steps;
        ctx->shutter = shutter;
        s.shutter_frames = s.anim_fps > 0.0f ? s.anim_fps * shutter : 1.0f;
    });
}

void vitrel_set_instance_transform_at(VitrelContext* ctx, int instance, int step,
                                      const float* matrix) noexcept {
    if (!ctx || !matrix || instance < 0 || step < 0) return;
    guarded_call([&] {
        float t[kXformFloats];
        column_major_to_3x4(matrix, t);
        std::lock_guard<std::mutex> lock(ctx->mutex);
        const int k = ctx->motion_steps;
        if (k < 1 || step >= k) return;
        if (static_cast<size_t>(instance) >= ctx->scene.instances.size()) return;
        const size_t entry = static_cast<size_t>(instance) * static_cast<size_t>(k) +
                             static_cast<size_t>(step);
        if (entry >= ctx->motion_xforms.size()) return;
        // Fits in place: every entry already holds kXformFloats floats.
        std::vector<float>& dst = ctx->motion_xforms[entry];
        if (dst.size() == kXformFloats)
            std::memcpy(dst.data(), t, sizeof t);
        else
            dst.assign(t, t + kXformFloats);
    });
}

}  // extern "C"
