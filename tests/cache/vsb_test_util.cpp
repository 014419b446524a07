#include "vsb_test_util.h"

#include <gtest/gtest.h>

#include "cache/vsb_format.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <tuple>

std::vector<uint8_t> saved(const ScratchDir& dir, const Scene& s, const std::string& name) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(save_vsb(dir.file(name).c_str(), s));
    testing::internal::GetCapturedStdout();
    return read_bytes(dir.file(name));
}

LoadResult load(const char* path) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LoadResult r{load_vsb(path), "", ""};
    r.err = testing::internal::GetCapturedStderr();
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

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
        const auto fields = [](const MeshData& m) {
            return std::tie(m.positions, m.indices, m.face_normals, m.normals, m.uvs, m.tangents, m.face_materials,
                            m.material, m.has_normals, m.has_uvs, m.has_tangents, m.has_face_materials);
        };
        EXPECT_TRUE(fields(a.meshes[i]) == fields(b.meshes[i])) << "mesh " << i;
    }
    ASSERT_EQ(a.instances.size(), b.instances.size());
    for (size_t i = 0; i < a.instances.size(); ++i) {
        const Instance& x = a.instances[i];
        const Instance& y = b.instances[i];
        EXPECT_TRUE(std::tie(x.mesh, x.material, x.has_face_materials, x.face_materials) ==
                        std::tie(y.mesh, y.material, y.has_face_materials, y.face_materials) &&
                    std::memcmp(x.transform, y.transform, sizeof x.transform) == 0)
            << "instance " << i;
    }
    EXPECT_TRUE(same_bytes(a.materials, b.materials));
    EXPECT_TRUE(same_bytes(a.gpu_materials, b.gpu_materials));
    EXPECT_TRUE(same_bytes(a.atlas_entries, b.atlas_entries));
    EXPECT_TRUE(same_bytes(a.camera_keyframes, b.camera_keyframes));
    const auto tables = [](const Scene& s) {
        return std::tie(s.atlas_data, s.srgb_lut, s.envmap_texture, s.envmap_intensity, s.env_cdf_width,
                        s.env_cdf_height, s.env_total_weight, s.env_conditional_cdf, s.env_marginal_cdf,
                        s.env_row_weights, s.emissive_tri_cdf, s.light_cdf, s.scene_params);
    };
    EXPECT_TRUE(tables(a) == tables(b));
    const auto camera = [](const Scene& s) {
        return std::make_tuple(std::vector<float>(s.camera_position, s.camera_position + 3),
                               std::vector<float>(s.camera_look_at, s.camera_look_at + 3),
                               std::vector<float>(s.camera_up, s.camera_up + 3), s.camera_fov, s.camera_aperture,
                               s.camera_focus_distance, s.anim_duration, s.anim_fps, s.anim_loop);
    };
    EXPECT_EQ(camera(a), camera(b));
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
