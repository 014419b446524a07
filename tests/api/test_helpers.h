// Small builders shared by the call-interface tests.
#pragma once

#include <array>

#include "api/vitrel_api.h"
#include "api/vitrel_context.h"

// Column-major 4x4 identity with a translation.
inline std::array<float, 16> translation_matrix(float x, float y, float z) {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

inline int add_plain_material(VitrelContext* ctx, float r = 0.8f, float g = 0.8f, float b = 0.8f) {
    const float color[3] = {r, g, b};
    const float black[3] = {0, 0, 0};
    return vitrel_add_material(ctx, color, black, -1, -1, -1, -1, 0.5f, 0.0f, 0.0f, 1.5f, 0.5f,
                               0.0f, 0, 0, 0, 0, 0, 0, 0);
}

// One triangle in the xy plane.
inline int add_triangle_mesh(VitrelContext* ctx, int material = 0) {
    const float pos[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const unsigned idx[3] = {0, 1, 2};
    return vitrel_add_mesh(ctx, pos, 3, idx, 1, nullptr, nullptr, nullptr, nullptr, material);
}

struct ContextGuard {
    VitrelContext* ctx = vitrel_create();
    ~ContextGuard() { vitrel_destroy(ctx); }
    ContextGuard() = default;
    ContextGuard(const ContextGuard&) = delete;
    ContextGuard& operator=(const ContextGuard&) = delete;
};
