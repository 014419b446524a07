// Shader-binding-table arithmetic, kept free of Vulkan objects so it can be
// checked on its own. Four groups: ray generation, two misses (eye path,
// shadow) and one triangle hit group.
#pragma once

#include <cstdint>

struct SbtLayout {
    uint64_t handleStride = 0;  // one handle rounded up to the handle alignment
    uint64_t raygenSize = 0;    // raygen region (its stride equals its size)
    uint64_t missSize = 0;      // both miss records
    uint64_t hitSize = 0;       // the hit region, as large as the raygen region
    uint64_t total = 0;
    uint64_t groupOffset[4] = {};  // byte offset of each group's handle
};

inline uint64_t align_up(uint64_t value, uint64_t alignment) {
    return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

// h = shaderGroupHandleSize, a = shaderGroupHandleAlignment,
// b = shaderGroupBaseAlignment. Every region starts on a multiple of b
// relative to the table's start.
inline SbtLayout compute_sbt_layout(uint64_t h, uint64_t a, uint64_t b) {
    SbtLayout l;
    l.handleStride = align_up(h, a);
    l.raygenSize = align_up(l.handleStride, b);
    l.missSize = align_up(2 * l.handleStride, b);
    l.hitSize = l.raygenSize;
    l.total = 2 * l.raygenSize + l.missSize;
    l.groupOffset[0] = 0;
    l.groupOffset[1] = l.raygenSize;
    l.groupOffset[2] = l.raygenSize + l.handleStride;
    l.groupOffset[3] = l.raygenSize + l.missSize;
    return l;
}
