#include "api/batch_plan.h"

#include <algorithm>
#include <cstring>

#include "scene/scene.h"

namespace {

constexpr size_t kXformFloats = 12;

// Entry `entry` of the motion list when it exists and is a whole transform.
const float* motion_entry(const std::vector<std::vector<float>>& xforms, size_t entry) {
    if (entry >= xforms.size() || xforms[entry].size() != kXformFloats) return nullptr;
    return xforms[entry].data();
}

}  // namespace

std::vector<GpuTile> build_tile_list(uint32_t width, uint32_t height, uint32_t tile) {
    const uint32_t t = std::max(tile, 1u);
    std::vector<GpuTile> tiles;
    tiles.reserve(static_cast<size_t>((width + t - 1) / t) * ((height + t - 1) / t));
    for (uint64_t y = 0; y < height; y += t) {
        for (uint64_t x = 0; x < width; x += t) {
            GpuTile g;
            g.x = static_cast<int32_t>(x);
            g.y = static_cast<int32_t>(y);
            g.w = static_cast<int32_t>(std::min<uint64_t>(t, width - x));
            g.h = static_cast<int32_t>(std::min<uint64_t>(t, height - y));
            tiles.push_back(g);
        }
    }
    return tiles;
}

uint32_t motion_substep_samples(uint32_t batch_samples, uint32_t steps) {
    if (steps == 0) return std::max(batch_samples, 1u);
    return std::max(batch_samples / steps, 1u);
}

void apply_motion_step(Scene& scene, const std::vector<std::vector<float>>& xforms,
                       uint32_t steps, uint32_t step) {
    for (size_t i = 0; i < scene.instances.size(); ++i) {
        const float* t = motion_entry(xforms, i * steps + step);
        if (t) std::memcpy(scene.instances[i].transform, t, sizeof(float) * kXformFloats);
    }
}

void apply_motion_endpoints(Scene& scene, const std::vector<std::vector<float>>& xforms,
                            uint32_t steps) {
    if (steps == 0) return;
    for (size_t i = 0; i < scene.instances.size(); ++i) {
        Instance& inst = scene.instances[i];
        if (const float* start = motion_entry(xforms, i * steps))
            std::memcpy(inst.transform, start, sizeof(inst.transform));
        if (const float* end = motion_entry(xforms, i * steps + steps - 1)) {
            std::memcpy(inst.transform_end, end, sizeof(inst.transform_end));
            inst.moving = std::memcmp(inst.transform, inst.transform_end, sizeof(inst.transform)) != 0;
        }
    }
}
