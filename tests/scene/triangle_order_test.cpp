// Triangle order for halving BVH builders: shuffled meshes get a compact
// order, ordered ones keep theirs, and every per-triangle list moves with
// its triangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "scene/triangle_order.h"

namespace {

// A size x size grid of unit quads in the plane z = 0, row by row; face
// material t on triangle t.
MeshData grid_mesh(int size) {
    MeshData mesh;
    for (int y = 0; y <= size; ++y)
        for (int x = 0; x <= size; ++x) mesh.positions.insert(mesh.positions.end(), {float(x), float(y), 0.0f});
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const uint32_t a = static_cast<uint32_t>(y * (size + 1) + x), b = a + 1,
                           c = a + static_cast<uint32_t>(size) + 2, d = c - 1;
            mesh.indices.insert(mesh.indices.end(), {a, b, c, a, c, d});
        }
    compute_face_normals(mesh);
    mesh.face_materials.resize(mesh.triangle_count());
    std::iota(mesh.face_materials.begin(), mesh.face_materials.end(), 0);
    mesh.has_face_materials = true;
    return mesh;
}

MeshData shuffled(const MeshData& mesh, uint32_t seed) {
    std::vector<uint32_t> order(mesh.triangle_count());
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    MeshData out = mesh;
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t k = 0; k < 3; ++k) {
            out.indices[3 * i + k] = mesh.indices[3 * order[i] + k];
            out.face_normals[3 * i + k] = mesh.face_normals[3 * order[i] + k];
        }
        out.face_materials[i] = mesh.face_materials[order[i]];
    }
    return out;
}

std::vector<uint32_t> identity(size_t n) {
    std::vector<uint32_t> ids(n);
    std::iota(ids.begin(), ids.end(), 0u);
    return ids;
}

}  // namespace

TEST(TriangleOrder, ShuffledMeshGetsACompactOrderAndOrderedMeshesKeepTheirs) {
    const MeshData grid = grid_mesh(32);
    const double ordered_cost = halving_tree_cost(grid, identity(grid.triangle_count()));
    EXPECT_TRUE(trace_triangle_order(grid).empty()) << "the row order is already compact";

    const MeshData mixed = shuffled(grid, 7);
    const double mixed_cost = halving_tree_cost(mixed, identity(mixed.triangle_count()));
    const std::vector<uint32_t> order = trace_triangle_order(mixed);
    ASSERT_EQ(order.size(), mixed.triangle_count());
    std::vector<uint32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, identity(order.size())) << "not a permutation";
    const double cost = halving_tree_cost(mixed, order);
    EXPECT_LT(cost, 0.1 * mixed_cost);
    EXPECT_LT(cost, 1.2 * ordered_cost);
    EXPECT_EQ(trace_triangle_order(mixed), order) << "not deterministic";
}

TEST(TriangleOrder, SceneOrderMovesFaceListsWithTheirTrianglesOnce) {
    Scene scene;
    const MeshData grid = grid_mesh(16);
    scene.meshes.push_back(shuffled(grid, 3));
    // An instance of the mesh with its own face materials, and a mesh whose
    // face materials are partial, which must stay as it is.
    Instance inst;
    inst.mesh = 0;
    inst.has_face_materials = true;
    for (int32_t fm : scene.meshes[0].face_materials) inst.face_materials.push_back(1000 + fm);
    scene.instances.push_back(inst);
    MeshData partial = shuffled(grid, 4);
    partial.face_materials.resize(10);
    scene.meshes.push_back(partial);
    const Scene before = scene;

    order_scene_triangles(scene);
    const MeshData& m = scene.meshes[0];
    ASSERT_TRUE(m.trace_ordered);
    ASSERT_NE(m.indices, before.meshes[0].indices);
    // Face material t names triangle t of the row-ordered grid: wherever
    // the triangle went, its vertices, normal and both materials went along.
    for (size_t i = 0; i < m.triangle_count(); ++i) {
        const auto t = static_cast<size_t>(m.face_materials[i]);
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(m.indices[3 * i + k], grid.indices[3 * t + k]);
            EXPECT_EQ(m.face_normals[3 * i + k], grid.face_normals[3 * t + k]);
        }
        EXPECT_EQ(scene.instances[0].face_materials[i], 1000 + static_cast<int32_t>(t));
    }
    EXPECT_EQ(scene.meshes[1].indices, before.meshes[1].indices);

    const Scene once = scene;
    order_scene_triangles(scene);
    EXPECT_EQ(scene.meshes[0].indices, once.meshes[0].indices);
}

TEST(TriangleOrder, NonFiniteAndOutOfRangeVerticesStillGiveAPermutation) {
    MeshData mesh = shuffled(grid_mesh(8), 5);
    mesh.positions[4] = std::numeric_limits<float>::quiet_NaN();
    mesh.positions[7] = std::numeric_limits<float>::infinity();
    mesh.positions[9] = std::numeric_limits<float>::max();
    mesh.positions[12] = std::numeric_limits<float>::max();
    mesh.positions[15] = -std::numeric_limits<float>::max();
    mesh.indices[5] = 1u << 30;  // past the vertex list
    std::vector<uint32_t> order = trace_triangle_order(mesh);
    ASSERT_EQ(order.size(), mesh.triangle_count());
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, identity(mesh.triangle_count()));
    MeshData empty;
    EXPECT_TRUE(trace_triangle_order(empty).empty());
    EXPECT_EQ(halving_tree_cost(empty, {}), 0.0);
}
