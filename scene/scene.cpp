#include "scene/scene.h"

#include <algorithm>
#include <cmath>

void compute_face_normals(MeshData& mesh) {
    const size_t tris = mesh.triangle_count();
    mesh.face_normals.assign(3 * tris, 0.0f);
    if (mesh.indices.size() < 3) return;
    const size_t verts = mesh.vertex_count();
    const float* p = mesh.positions.data();
    for (size_t t = 0; t < tris; ++t) {
        const uint32_t i0 = mesh.indices[3 * t];
        const uint32_t i1 = mesh.indices[3 * t + 1];
        const uint32_t i2 = mesh.indices[3 * t + 2];
        float* n = &mesh.face_normals[3 * t];
        n[0] = 0.0f;
        n[1] = 1.0f;
        n[2] = 0.0f;
        if (std::max({i0, i1, i2}) >= verts) continue;
        const float e1[3] = {p[3 * i1] - p[3 * i0], p[3 * i1 + 1] - p[3 * i0 + 1], p[3 * i1 + 2] - p[3 * i0 + 2]};
        const float e2[3] = {p[3 * i2] - p[3 * i0], p[3 * i2 + 1] - p[3 * i0 + 1], p[3 * i2 + 2] - p[3 * i0 + 2]};
        const float c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                            e1[0] * e2[1] - e1[1] * e2[0]};
        const float len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
        if (len > 1e-8f) {
            n[0] = c[0] / len;
            n[1] = c[1] / len;
            n[2] = c[2] / len;
        }
    }
}

void euler_to_rotation_ext(const float* degrees3, float* out9) {
    constexpr float kDegToRad = 0.017453292f;
    const float a = degrees3[0] * kDegToRad;
    const float b = degrees3[1] * kDegToRad;
    const float c = degrees3[2] * kDegToRad;
    const float ca = std::cos(a), sa = std::sin(a);
    const float cb = std::cos(b), sb = std::sin(b);
    const float cc = std::cos(c), sc = std::sin(c);
    out9[0] = cb * cc - sa * sb * sc;
    out9[1] = -cb * sc - sa * sb * cc;
    out9[2] = -ca * sb;
    out9[3] = ca * sc;
    out9[4] = ca * cc;
    out9[5] = -sa;
    out9[6] = sb * cc + sa * cb * sc;
    out9[7] = -sb * sc + sa * cb * cc;
    out9[8] = ca * cb;
}

void column_major_to_3x4(const float* m16, float* out12) {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) out12[4 * r + c] = m16[4 * c + r];
    }
}
