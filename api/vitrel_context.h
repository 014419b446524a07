// The record behind a VitrelContext handle. Every field is guarded by
// `mutex` except `total_samples` (atomic) and the published 8-bit image,
// which is guarded by `front_mutex`; lock order is `mutex`, then
// `front_mutex`.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "api/batch_plan.h"
#include "api/scene_shape.h"
#include "codegen/expr_ir.h"
#include "scene/render_output.h"
#include "scene/scene.h"

class VkRenderer;

struct VitrelContext {
    Scene scene;
    RenderOutput output;
    std::vector<uint16_t> ess_lut;
    std::string shader_dir;
    std::string shader_src_dir;
    uint32_t samples_per_batch = 8;
    uint32_t trace_param = 6;
    uint32_t tile_size = 256;
    std::atomic<uint32_t> total_samples{0};
    bool prepared = false;
    std::vector<VkRenderer*> renderers;  // owned; slot i renders gpu_indices[i]
    std::vector<uint32_t> gpu_indices{0};
    std::vector<uint8_t> pixels8_back;
    std::mutex front_mutex;
    std::vector<uint8_t> pixels8_front;
    uint32_t front_width = 0;
    uint32_t front_height = 0;
    bool front_valid = false;
    float shutter = 0.0f;
    int32_t motion_steps = 0;
    std::vector<std::vector<float>> motion_xforms;
    std::vector<float> aov_depth;
    std::vector<float> aov_normal;
    std::vector<int32_t> aov_object_id;
    std::vector<MaterialExprData> material_exprs;
    std::string last_error;
    std::mutex mutex;

    // What the renderers' buffers were sized for at the last preparation
    // (light fields: at the last light upload).
    SceneShape uploaded_shape;
    // Size of the AOV planes, as the first renderer delivered them.
    uint32_t aov_width = 0;
    uint32_t aov_height = 0;
    // Opens renderers with the validation layer; off for hosts, on in tests.
    bool validation = false;
    // Sampler seed and per-pass timing switch, copied to every renderer.
    uint32_t sampler_seed = 0;
    bool gpu_timing = false;
    // Batches timed since the last timing reset and their host wall time.
    uint32_t timed_batches = 0;
    double timed_batch_ms = 0.0;
    // The last multi-GPU batch: its tiles and, per tile, the slot that
    // rendered it and how often (each tile exactly once when all is well).
    std::vector<GpuTile> last_tiles;
    std::vector<int32_t> last_tile_slot;
    std::vector<uint32_t> last_tile_renders;
};

// Calls VkRenderer::destroy on every renderer, deletes it and empties the
// list. Safe on an empty list.
void release_renderers(std::vector<VkRenderer*>& renderers);

// Forgets the published 8-bit image (takes `front_mutex`).
void invalidate_front_image(VitrelContext& ctx, bool free_pixels);
