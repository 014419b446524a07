#include "vsb_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

// Distinct values from one running counter, so that a field copied from the
// wrong place shows up.
struct Counter {
    float next = 0.5f;
    float operator()() { return next += 1.25f; }
};

std::vector<float> floats(Counter& c, size_t n) {
    std::vector<float> v(n);
    for (float& x : v) x = c();
    return v;
}

MeshData make_mesh(Counter& c, size_t verts, size_t tris, bool normals, bool uvs, bool tangents,
                   bool face_materials, uint32_t material) {
    MeshData m;
    m.positions = floats(c, 3 * verts);
    for (size_t t = 0; t < tris; ++t)
        for (uint32_t k = 0; k < 3; ++k) m.indices.push_back(static_cast<uint32_t>((t + k) % verts));
    m.face_normals = floats(c, 3 * tris);
    if (normals) m.normals = floats(c, 3 * verts);
    if (uvs) m.uvs = floats(c, 2 * verts);
    if (tangents) m.tangents = floats(c, 3 * verts);
    if (face_materials)
        for (size_t t = 0; t < tris; ++t) m.face_materials.push_back(static_cast<int32_t>(t % 3));
    m.has_normals = normals;
    m.has_uvs = uvs;
    m.has_tangents = tangents;
    m.has_face_materials = face_materials;
    m.material = material;
    return m;
}

}  // namespace

Scene make_full_scene() {
    Counter c;
    Scene s;
    s.meshes.push_back(make_mesh(c, 5, 4, true, true, true, true, 2));
    s.meshes.push_back(make_mesh(c, 3, 1, false, false, false, false, 0));
    s.meshes.push_back(make_mesh(c, 4, 2, false, true, false, false, 1));
    for (int i = 0; i < 3; ++i) {
        // Every word distinct; the int fields just hold the float bit patterns.
        Material m;
        const std::vector<float> words = floats(c, 47);
        std::memcpy(static_cast<void*>(&m), words.data(), sizeof m);
        s.materials.push_back(m);
        GpuMaterial g;
        const std::vector<float> gwords = floats(c, 47);
        std::memcpy(static_cast<void*>(&g), gwords.data(), sizeof g);
        s.gpu_materials.push_back(g);
    }
    for (uint32_t i = 0; i < 4; ++i) {
        Instance inst;
        inst.mesh = i % 3;
        inst.material = static_cast<int32_t>(i % 3);
        for (float& x : inst.transform) x = c();
        inst.has_face_materials = inst.mesh == 0;
        if (inst.has_face_materials) inst.face_materials = s.meshes[0].face_materials;
        s.instances.push_back(inst);
    }
    s.atlas_entries = {AtlasEntry{0, 3, 1, 3, 0, {0, 0, 0}}, AtlasEntry{12, 2, 2, 1, 1, {0, 0, 0}}};
    for (int i = 0; i < 12 + 16; ++i) s.atlas_data.push_back(static_cast<uint8_t>(i * 7 + 1));
    s.envmap_texture = 1;
    s.envmap_intensity = 1.75f;
    s.env_cdf_width = 4;
    s.env_cdf_height = 3;
    s.env_total_weight = 9.5f;
    s.env_conditional_cdf = {1, 2, 3, 0xFFFFFFFFu, 4, 5, 6, 0xFFFFFFFFu, 7, 8, 9, 0xFFFFFFFFu};
    s.env_marginal_cdf = {100, 200, 0xFFFFFFFFu};
    s.env_row_weights = floats(c, 3);
    s.emissive_tri_cdf = {11, 0xFFFFFFFFu, 0xFFFFFFFFu};
    s.light_cdf = {1u << 31, 0xFFFFFFFFu};
    s.scene_params = floats(c, 32 + 8 + 16);
    s.srgb_lut = floats(c, 256);
    s.emissive_instances.push_back({0, 2.5f, {11, 0xFFFFFFFFu}});
    s.light_pdf = {0.5f, 0.5f};
    const float pos[3] = {1, 2, 3}, look[3] = {4, 5, 6}, up[3] = {0, 0, 1};
    std::memcpy(s.camera_position, pos, sizeof pos);
    std::memcpy(s.camera_look_at, look, sizeof look);
    std::memcpy(s.camera_up, up, sizeof up);
    s.camera_fov = 42.0f;
    s.camera_aperture = 0.125f;
    s.camera_focus_distance = 7.5f;
    s.anim_duration = 3.0f;
    s.anim_fps = 24.0f;
    s.anim_loop = true;
    s.camera_keyframes = {CameraKeyframe{0.0f, {1, 2, 3}, {4, 5, 6}},
                          CameraKeyframe{3.0f, {-1, -2, -3}, {7, 8, 9}}};
    return s;
}

namespace {

template <class T>
bool same_bytes(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

}  // namespace

void expect_stored_fields_equal(const Scene& a, const Scene& b) {
    ASSERT_EQ(a.meshes.size(), b.meshes.size());
    for (size_t i = 0; i < a.meshes.size(); ++i) {
        SCOPED_TRACE("mesh " + std::to_string(i));
        const MeshData& x = a.meshes[i];
        const MeshData& y = b.meshes[i];
        EXPECT_EQ(x.positions, y.positions);
        EXPECT_EQ(x.indices, y.indices);
        EXPECT_EQ(x.face_normals, y.face_normals);
        EXPECT_EQ(x.normals, y.normals);
        EXPECT_EQ(x.uvs, y.uvs);
        EXPECT_EQ(x.tangents, y.tangents);
        EXPECT_EQ(x.face_materials, y.face_materials);
        EXPECT_EQ(x.material, y.material);
        EXPECT_EQ(x.has_normals, y.has_normals);
        EXPECT_EQ(x.has_uvs, y.has_uvs);
        EXPECT_EQ(x.has_tangents, y.has_tangents);
        EXPECT_EQ(x.has_face_materials, y.has_face_materials);
    }
    ASSERT_EQ(a.instances.size(), b.instances.size());
    for (size_t i = 0; i < a.instances.size(); ++i) {
        SCOPED_TRACE("instance " + std::to_string(i));
        EXPECT_EQ(a.instances[i].mesh, b.instances[i].mesh);
        EXPECT_EQ(a.instances[i].material, b.instances[i].material);
        EXPECT_EQ(0, std::memcmp(a.instances[i].transform, b.instances[i].transform, 48));
        EXPECT_EQ(a.instances[i].has_face_materials, b.instances[i].has_face_materials);
        EXPECT_EQ(a.instances[i].face_materials, b.instances[i].face_materials);
    }
    EXPECT_TRUE(same_bytes(a.materials, b.materials));
    EXPECT_TRUE(same_bytes(a.gpu_materials, b.gpu_materials));
    EXPECT_TRUE(same_bytes(a.atlas_entries, b.atlas_entries));
    EXPECT_EQ(a.atlas_data, b.atlas_data);
    EXPECT_EQ(a.srgb_lut, b.srgb_lut);
    EXPECT_EQ(a.envmap_texture, b.envmap_texture);
    EXPECT_EQ(a.envmap_intensity, b.envmap_intensity);
    EXPECT_EQ(a.env_cdf_width, b.env_cdf_width);
    EXPECT_EQ(a.env_cdf_height, b.env_cdf_height);
    EXPECT_EQ(a.env_total_weight, b.env_total_weight);
    EXPECT_EQ(a.env_conditional_cdf, b.env_conditional_cdf);
    EXPECT_EQ(a.env_marginal_cdf, b.env_marginal_cdf);
    EXPECT_EQ(a.env_row_weights, b.env_row_weights);
    EXPECT_EQ(a.emissive_tri_cdf, b.emissive_tri_cdf);
    EXPECT_EQ(a.light_cdf, b.light_cdf);
    EXPECT_EQ(a.scene_params, b.scene_params);
    EXPECT_EQ(0, std::memcmp(a.camera_position, b.camera_position, 12));
    EXPECT_EQ(0, std::memcmp(a.camera_look_at, b.camera_look_at, 12));
    EXPECT_EQ(0, std::memcmp(a.camera_up, b.camera_up, 12));
    EXPECT_EQ(a.camera_fov, b.camera_fov);
    EXPECT_EQ(a.camera_aperture, b.camera_aperture);
    EXPECT_EQ(a.camera_focus_distance, b.camera_focus_distance);
    EXPECT_EQ(a.anim_duration, b.anim_duration);
    EXPECT_EQ(a.anim_fps, b.anim_fps);
    EXPECT_EQ(a.anim_loop, b.anim_loop);
    EXPECT_TRUE(same_bytes(a.camera_keyframes, b.camera_keyframes));
}

void expect_unstored_fields_default(const Scene& s) {
    const Scene d;
    EXPECT_TRUE(s.textures.empty());
    EXPECT_TRUE(s.emissive_instances.empty());
    EXPECT_TRUE(s.light_pdf.empty());
    EXPECT_TRUE(s.de_objects.empty());
    EXPECT_EQ(0, std::memcmp(s.envmap_rotation, d.envmap_rotation, 12));
    EXPECT_EQ(s.shutter_frames, d.shutter_frames);
    for (const Instance& inst : s.instances) {
        const float zero[12] = {};
        EXPECT_EQ(0, std::memcmp(inst.transform_end, zero, sizeof zero));
        EXPECT_FALSE(inst.moving);
    }
}
