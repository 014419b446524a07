// The CPU devices' BVH: every triangle reachable, boxes that hold their
// subtrees, a depth the traversal stack can take, and closest hits equal to
// testing every triangle.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "scene/cpu_bvh.h"

namespace {

BvhInputTriangle triangle(float x, float y, float z, float size, uint32_t id) {
    BvhInputTriangle t;
    const float c[3][3] = {{x, y, z}, {x + size, y, z}, {x, y + size, z + 0.5f * size}};
    for (int i = 0; i < 3; ++i)
        for (int a = 0; a < 3; ++a) t.corner[i][a] = c[i][a];
    t.instance = id / 7;
    t.primitive = id;
    return t;
}

std::vector<BvhInputTriangle> soup(uint32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(-10.0f, 10.0f), size(0.01f, 2.0f);
    std::vector<BvhInputTriangle> out;
    for (uint32_t i = 0; i < n; ++i) out.push_back(triangle(pos(rng), pos(rng), pos(rng), size(rng), i));
    return out;
}

// Checks the tree's shape and returns how often each primitive id occurs.
std::vector<int> check_structure(const CpuBvh& bvh, size_t ids) {
    std::vector<int> seen(ids, 0);
    EXPECT_LE(bvh.depth, uint32_t(CPU_BVH_MAX_DEPTH));
    std::vector<int> parents(bvh.nodes.size(), 0);
    for (const GpuBvhNode& node : bvh.nodes) {
        for (const GpuBvhChild& c : node.child) {
            if (c.ref > 0) {
                EXPECT_LT(size_t(c.ref), bvh.nodes.size());
                ++parents[c.ref];
            } else if (c.ref < 0) {
                const size_t first = size_t(-int64_t(c.ref) - 1);
                EXPECT_GE(c.count, 1u);
                EXPECT_LE(c.count, uint32_t(CPU_BVH_LEAF_TRIANGLES));
                EXPECT_LE(first + c.count, bvh.triangles.size());
                for (size_t t = first; t < first + c.count && t < bvh.triangles.size(); ++t) {
                    const GpuBvhTriangle& g = bvh.triangles[t];
                    ++seen[g.primitive];
                    for (int a = 0; a < 3; ++a) {
                        for (float v : {g.corner[a], g.corner[a] + g.edge1[a], g.corner[a] + g.edge2[a]}) {
                            EXPECT_GE(v, c.lo[a] - 1e-4f * (1.0f + std::fabs(v)));
                            EXPECT_LE(v, c.hi[a] + 1e-4f * (1.0f + std::fabs(v)));
                        }
                    }
                }
            }
        }
    }
    for (size_t n = 1; n < parents.size(); ++n) EXPECT_EQ(parents[n], 1) << "node " << n;
    return seen;
}

struct Hit {
    float t = INFINITY;
    uint32_t primitive = ~0u;
};

bool intersect(const GpuBvhTriangle& g, const float o[3], const float d[3], float& t) {
    auto cross = [](const float a[3], const float b[3], float r[3]) {
        r[0] = a[1] * b[2] - a[2] * b[1];
        r[1] = a[2] * b[0] - a[0] * b[2];
        r[2] = a[0] * b[1] - a[1] * b[0];
    };
    auto dot = [](const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    float pv[3], qv[3], tv[3] = {o[0] - g.corner[0], o[1] - g.corner[1], o[2] - g.corner[2]};
    cross(d, g.edge2, pv);
    const float det = dot(g.edge1, pv);
    if (det == 0.0f) return false;
    const float u = dot(tv, pv) / det;
    cross(tv, g.edge1, qv);
    const float v = dot(d, qv) / det;
    t = dot(g.edge2, qv) / det;
    return u >= 0.0f && v >= 0.0f && u + v <= 1.0f && t > 0.0f;
}

// The traversal the compute program runs: boxes tested against the closest
// hit so far, every leaf triangle tested.
Hit traverse(const CpuBvh& bvh, const float o[3], const float d[3]) {
    Hit hit;
    std::vector<uint32_t> stack{0};
    while (!stack.empty()) {
        const GpuBvhNode& node = bvh.nodes[stack.back()];
        stack.pop_back();
        for (const GpuBvhChild& c : node.child) {
            if (c.ref == 0) continue;
            float near = 0.0f, far = hit.t;
            for (int a = 0; a < 3; ++a) {
                const float t0 = (c.lo[a] - o[a]) / d[a], t1 = (c.hi[a] - o[a]) / d[a];
                near = std::max(near, std::min(t0, t1));
                far = std::min(far, std::max(t0, t1));
            }
            if (!(near <= far)) continue;
            if (c.ref > 0) {
                stack.push_back(uint32_t(c.ref));
                continue;
            }
            for (uint32_t k = 0; k < c.count; ++k) {
                const GpuBvhTriangle& g = bvh.triangles[size_t(-int64_t(c.ref) - 1) + k];
                float t;
                if (intersect(g, o, d, t) && t < hit.t) hit = {t, g.primitive};
            }
        }
    }
    return hit;
}

TEST(CpuBvh, HoldsEveryTriangleOnceAndFindsTheClosestHits) {
    const auto tris = soup(3000, 7);
    const CpuBvh bvh = build_cpu_bvh(tris);
    ASSERT_FALSE(bvh.nodes.empty());
    EXPECT_EQ(bvh.triangles.size(), tris.size());
    for (int count : check_structure(bvh, tris.size())) EXPECT_EQ(count, 1);
    // Roughly a leaf of four per three-quarters of a node: a split tree, not a list.
    EXPECT_LT(bvh.nodes.size(), tris.size() / 2);

    std::vector<GpuBvhTriangle> all = bvh.triangles;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int hits = 0;
    for (int r = 0; r < 2000; ++r) {
        const float o[3] = {12.0f * u(rng), 12.0f * u(rng), 12.0f * u(rng)};
        float d[3] = {u(rng), u(rng), u(rng)};
        Hit brute;
        for (const GpuBvhTriangle& g : all) {
            float t;
            if (intersect(g, o, d, t) && t < brute.t) brute = {t, g.primitive};
        }
        const Hit tree = traverse(bvh, o, d);
        EXPECT_EQ(tree.primitive, brute.primitive) << "ray " << r;
        hits += brute.primitive != ~0u;
    }
    EXPECT_GT(hits, 200);
}

TEST(CpuBvh, DegenerateAndHostileInputs) {
    EXPECT_TRUE(build_cpu_bvh({}).nodes.empty());

    // Coincident centroids cannot be split by area: middle splits still
    // make a shallow tree of every triangle.
    std::vector<BvhInputTriangle> same(5000, triangle(1.0f, 2.0f, 3.0f, 1.0f, 0));
    for (uint32_t i = 0; i < same.size(); ++i) same[i].primitive = i;
    const CpuBvh stacked = build_cpu_bvh(same);
    for (int count : check_structure(stacked, same.size())) EXPECT_EQ(count, 1);

    // Centroids spread over many orders of magnitude push surface-area splits
    // into a long chain; the depth limit must hold all the same.
    std::vector<BvhInputTriangle> spread;
    for (uint32_t i = 0; i < 4000; ++i) spread.push_back(triangle(std::ldexp(1.0f, int(i % 120)), 0, 0, 1.0f, i));
    const CpuBvh deep = build_cpu_bvh(spread);
    ASSERT_FALSE(deep.nodes.empty());
    for (int count : check_structure(deep, spread.size())) EXPECT_EQ(count, 1);

    // Non-finite corners are left out, the rest kept.
    auto mixed = soup(100, 3);
    mixed[10].corner[1][2] = NAN;
    mixed[20].corner[0][0] = INFINITY;
    const CpuBvh partial = build_cpu_bvh(mixed);
    const auto seen = check_structure(partial, mixed.size());
    EXPECT_EQ(partial.triangles.size(), 98u);
    EXPECT_EQ(seen[10] + seen[20], 0);
}

TEST(CpuBvh, InstancesInWorldSpace) {
    Scene scene;
    MeshData mesh;
    mesh.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    mesh.indices = {0, 1, 2, 0, 2, 7};  // the second triangle reads past the positions
    scene.meshes.push_back(mesh);
    Instance moved;
    moved.transform[3] = 5.0f;  // translate x by 5
    moved.transform[5] = 2.0f;  // scale y by 2
    Instance moving = moved;
    moving.moving = true;
    Instance broken = moved;
    broken.transform[0] = NAN;
    Instance missing = moved;
    missing.mesh = 3;
    scene.instances = {broken, moved, moving, missing};
    const auto tris = instance_triangles(scene);
    // The moving instance is placed at its shutter-open transform.
    ASSERT_EQ(tris.size(), 2u);
    EXPECT_EQ(tris[0].instance, 1u);
    EXPECT_EQ(tris[1].instance, 2u);
    EXPECT_EQ(tris[0].primitive, 0u);
    EXPECT_FLOAT_EQ(tris[0].corner[1][0], 6.0f);
    EXPECT_FLOAT_EQ(tris[0].corner[2][1], 2.0f);
}

}  // namespace
