// World-space triangle areas of emissive meshes: the only per-primitive work
// of scene preparation. Every vertex is transformed once into a scratch
// array, then each triangle takes its area from three transformed vertices.
// The SSE path evaluates exactly the scalar expressions of the portable path,
// lane by lane and in the same order, so both give bit-identical areas; the
// double-precision total is accumulated in triangle order either way.
#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scene/scene_prep.h"

namespace {

constexpr size_t kWorldStride = 4;  // x, y, z, unused

bool in_range(uint32_t i0, uint32_t i1, uint32_t i2, size_t verts) {
    return i0 < verts && i1 < verts && i2 < verts;
}

#if defined(__SSE2__)

// Row r of the result is ((m[4r] x + m[4r+1] y) + m[4r+2] z) + m[4r+3].
void transform_vertices(const float* pos, size_t verts, const float* m, float* world) {
    const __m128 c0 = _mm_setr_ps(m[0], m[4], m[8], 0.0f);
    const __m128 c1 = _mm_setr_ps(m[1], m[5], m[9], 0.0f);
    const __m128 c2 = _mm_setr_ps(m[2], m[6], m[10], 0.0f);
    const __m128 c3 = _mm_setr_ps(m[3], m[7], m[11], 0.0f);
    for (size_t v = 0; v < verts; ++v) {
        const float* p = pos + 3 * v;
        const __m128 xy = _mm_add_ps(_mm_mul_ps(c0, _mm_set1_ps(p[0])), _mm_mul_ps(c1, _mm_set1_ps(p[1])));
        const __m128 r = _mm_add_ps(_mm_add_ps(xy, _mm_mul_ps(c2, _mm_set1_ps(p[2]))), c3);
        _mm_storeu_ps(world + kWorldStride * v, r);
    }
}

// 0.5 * |cross(p1 - p0, p2 - p0)| with the cross product and the squared
// length summed as (x^2 + y^2) + z^2.
float triangle_area(const float* w0, const float* w1, const float* w2) {
    const __m128 p0 = _mm_loadu_ps(w0);
    const __m128 e1 = _mm_sub_ps(_mm_loadu_ps(w1), p0);
    const __m128 e2 = _mm_sub_ps(_mm_loadu_ps(w2), p0);
    // t = (z, x, y) components of the cross product:
    // t0 = e1x e2y - e1y e2x, t1 = e1y e2z - e1z e2y, t2 = e1z e2x - e1x e2z.
    const __m128 e1_yzx = _mm_shuffle_ps(e1, e1, _MM_SHUFFLE(3, 0, 2, 1));
    const __m128 e2_yzx = _mm_shuffle_ps(e2, e2, _MM_SHUFFLE(3, 0, 2, 1));
    const __m128 t = _mm_sub_ps(_mm_mul_ps(e1, e2_yzx), _mm_mul_ps(e1_yzx, e2));
    const __m128 sq = _mm_mul_ps(t, t);
    const __m128 sq_x = _mm_shuffle_ps(sq, sq, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 sq_y = _mm_shuffle_ps(sq, sq, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128 len2 = _mm_add_ss(_mm_add_ss(sq_x, sq_y), sq);
    return 0.5f * _mm_cvtss_f32(_mm_sqrt_ss(len2));
}

#else

float transform_row(const float* m, int r, const float* p) {
    return m[4 * r] * p[0] + m[4 * r + 1] * p[1] + m[4 * r + 2] * p[2] + m[4 * r + 3];
}

void transform_vertices(const float* pos, size_t verts, const float* m, float* world) {
    for (size_t v = 0; v < verts; ++v) {
        for (int r = 0; r < 3; ++r) world[kWorldStride * v + r] = transform_row(m, r, pos + 3 * v);
        world[kWorldStride * v + 3] = 0.0f;
    }
}

float triangle_area(const float* p0, const float* p1, const float* p2) {
    const float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const float e2[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    const float c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                        e1[0] * e2[1] - e1[1] * e2[0]};
    return 0.5f * std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
}

#endif

}  // namespace

double compute_triangle_areas(const MeshData& mesh, const float* transform, TriangleAreas& out) {
    const size_t tris = mesh.triangle_count();
    const size_t verts = mesh.vertex_count();
    out.areas.resize(tris);
    out.world_vertices.resize(kWorldStride * verts);
    const float* world = out.world_vertices.data();
    transform_vertices(mesh.positions.data(), verts, transform, out.world_vertices.data());

    const uint32_t* idx = mesh.indices.data();
    float* areas = out.areas.data();
    double total = 0.0;
    for (size_t t = 0; t < tris; ++t) {
        const uint32_t i0 = idx[3 * t], i1 = idx[3 * t + 1], i2 = idx[3 * t + 2];
        if (!in_range(i0, i1, i2, verts)) {
            areas[t] = 0.0f;
            continue;
        }
        const float area = triangle_area(world + kWorldStride * i0, world + kWorldStride * i1,
                                         world + kWorldStride * i2);
        // Non-finite coordinates (or an overflowing product) give no area
        // rather than poisoning every CDF entry after this one.
        areas[t] = std::isfinite(area) ? area : 0.0f;
        total += areas[t];
    }
    return total;
}
