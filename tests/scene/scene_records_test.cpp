// Scene record defaults and the two geometric helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

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

TEST(SceneRecords, DefaultScene) {
    const Scene s;
    expect_rows(s.camera_position, {0, 1, 2});
    expect_rows(s.camera_look_at, {0, 0.3f, -2});
    expect_rows(s.camera_up, {0, 1, 0});
    EXPECT_EQ(s.camera_fov, 60.0f);
    EXPECT_EQ(s.camera_aperture, 0.0f);
    EXPECT_EQ(s.camera_focus_distance, 4.0f);
    EXPECT_EQ(s.envmap_texture, -1);
    EXPECT_EQ(s.envmap_intensity, 1.0f);
    EXPECT_EQ(s.anim_fps, 30.0f);
    EXPECT_EQ(s.anim_duration, 0.0f);
    EXPECT_FALSE(s.anim_loop);
    EXPECT_EQ(s.shutter_frames, 1.0f);
    EXPECT_EQ(s.env_cdf_width, 0);
    EXPECT_TRUE(s.materials.empty() && s.meshes.empty() && s.instances.empty() && s.textures.empty());
    EXPECT_TRUE(s.scene_params.empty() && s.srgb_lut.empty() && s.atlas_data.empty());
}

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

TEST(SceneRecords, FaceNormalsOfRegularDegenerateAndOutOfRangeTriangles) {
    MeshData mesh;
    mesh.positions = {0, 0, 0, 2, 0, 0, 0, 0, -3, 1, 0, 0, 5, 5, 5};
    mesh.indices = {0, 1, 2,   // in y = 0, counter-clockwise from +y
                    0, 1, 3,   // collinear points
                    0, 1, 5,   // index equal to the vertex count
                    2, 1, 0};  // reversed winding
    compute_face_normals(mesh);
    ASSERT_EQ(mesh.face_normals.size(), 12u);
    expect_rows(&mesh.face_normals[0], {0, 1, 0});
    expect_rows(&mesh.face_normals[3], {0, 1, 0});
    expect_rows(&mesh.face_normals[6], {0, 1, 0});
    expect_rows(&mesh.face_normals[9], {0, -1, 0});
}

TEST(SceneRecords, FaceNormalsOfTinyButValidTriangle) {
    MeshData mesh;
    mesh.positions = {0, 0, 0, 1e-3f, 0, 0, 0, 1e-3f, 0};
    mesh.indices = {0, 1, 2};
    compute_face_normals(mesh);
    expect_rows(mesh.face_normals.data(), {0, 0, 1});
}

TEST(SceneRecords, FaceNormalsReadNothingOutsidePositions) {
    MeshData mesh;
    mesh.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    mesh.positions.shrink_to_fit();
    mesh.indices = {0, 1, 3, 4294967295u, 0, 1, 0, 1, 2};
    compute_face_normals(mesh);
    expect_rows(&mesh.face_normals[0], {0, 1, 0});
    expect_rows(&mesh.face_normals[3], {0, 1, 0});
    expect_rows(&mesh.face_normals[6], {0, 0, 1});
}

TEST(SceneRecords, FaceNormalsWithFewerThanThreeIndices) {
    MeshData mesh;
    mesh.positions = {0, 0, 0};
    mesh.indices = {0, 0};
    compute_face_normals(mesh);
    EXPECT_TRUE(mesh.face_normals.empty());
}
