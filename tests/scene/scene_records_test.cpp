// The two geometric helpers of the scene records.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "scene/scene.h"

namespace {

void expect_rows(const float* m, std::initializer_list<float> expected) {
    int k = 0;
    for (float e : expected) {
        EXPECT_NEAR(m[k], e, 1e-6f) << "element " << k;
        ++k;
    }
}

}  // namespace

TEST(SceneRecords, EulerRotations) {
    float m[9];
    const float zero[3] = {0, 0, 0};
    euler_to_rotation_ext(zero, m);
    expect_rows(m, {1, 0, 0, 0, 1, 0, 0, 0, 1});

    const float z90[3] = {0, 0, 90};
    euler_to_rotation_ext(z90, m);
    expect_rows(m, {0, -1, 0, 1, 0, 0, 0, 0, 1});

    const float x90[3] = {90, 0, 0};
    euler_to_rotation_ext(x90, m);
    expect_rows(m, {1, 0, 0, 0, 0, -1, 0, 1, 0});

    // Ry(b) for a pure yaw: x goes to -z.
    const float y90[3] = {0, 90, 0};
    euler_to_rotation_ext(y90, m);
    expect_rows(m, {0, 0, -1, 0, 1, 0, 1, 0, 0});
}

TEST(SceneRecords, EulerRotationIsOrthonormal) {
    const float angles[3] = {23.0f, -117.0f, 61.0f};
    float m[9];
    euler_to_rotation_ext(angles, m);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            float dot = 0;
            for (int k = 0; k < 3; ++k) dot += m[3 * r + k] * m[3 * c + k];
            EXPECT_NEAR(dot, r == c ? 1.0f : 0.0f, 1e-5f);
        }
    }
    const float det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                      m[2] * (m[3] * m[7] - m[4] * m[6]);
    EXPECT_NEAR(det, 1.0f, 1e-5f);
}

// Degenerate and out-of-range triangles get the up normal; the helper reads
// nothing outside the positions (sized exactly, for the sanitizers).
TEST(SceneRecords, FaceNormals) {
    const struct {
        const char* what;
        std::vector<float> positions;
        std::vector<uint32_t> indices;
        std::vector<float> normals;
    } cases[] = {
        {"counter-clockwise from +y", {0, 0, 0, 2, 0, 0, 0, 0, -3}, {0, 1, 2}, {0, 1, 0}},
        {"reversed winding", {0, 0, 0, 2, 0, 0, 0, 0, -3}, {2, 1, 0}, {0, -1, 0}},
        {"collinear points", {0, 0, 0, 2, 0, 0, 1, 0, 0}, {0, 1, 2}, {0, 1, 0}},
        {"tiny but valid", {0, 0, 0, 1e-3f, 0, 0, 0, 1e-3f, 0}, {0, 1, 2}, {0, 0, 1}},
        {"index equal to the vertex count", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3}, {0, 1, 0}},
        {"largest index", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {4294967295u, 0, 1}, {0, 1, 0}},
        {"fewer than three indices", {0, 0, 0}, {0, 0}, {}},
    };
    for (const auto& c : cases) {
        MeshData mesh;
        mesh.positions = c.positions;
        mesh.positions.shrink_to_fit();
        mesh.indices = c.indices;
        compute_face_normals(mesh);
        ASSERT_EQ(mesh.face_normals.size(), c.normals.size()) << c.what;
        for (size_t k = 0; k < c.normals.size(); ++k) EXPECT_NEAR(mesh.face_normals[k], c.normals[k], 1e-6f) << c.what;
    }
}
