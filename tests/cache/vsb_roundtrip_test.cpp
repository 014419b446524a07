// Writing scenes and reading them back: golden layout, section order and
// field-by-field round trips.
#include <gtest/gtest.h>

#include "api/vitrel_api.h"
#include "cache/vsb_format.h"
#include "vsb_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// Saves `s` to a scratch file: the file's bytes, the scene read back and
// what reading it printed on standard error.
struct RoundTrip {
    std::vector<uint8_t> file;
    Scene back;
    std::string err;
};
RoundTrip round_trip(const Scene& s) {
    ScratchDir dir;
    RoundTrip r{saved(dir, s), {}, {}};
    LoadResult l = load(dir.file("good.vsb").c_str());
    r.back = std::move(l.scene);
    r.err = l.err;
    return r;
}

std::vector<uint32_t> section_types(const std::vector<uint8_t>& file) {
    std::vector<uint32_t> types;
    const uint32_t count = read_at<uint32_t>(file, 28);
    for (uint32_t i = 0; i < count; ++i) types.push_back(read_at<uint32_t>(file, 64 + 24 * i));
    return types;
}

TEST(VsbLayout, DefaultSceneGoldenBytes) {
    // A default scene stores only its camera: one section, D = 96.
    std::vector<uint8_t> want(96 + 48, 0);
    const char magic[4] = {'V', 'S', 'B', '\0'};
    std::memcpy(want.data(), magic, 4);
    write_at<uint32_t>(want, 4, 2);
    write_at<uint32_t>(want, 28, 1);
    write_at<uint64_t>(want, 32, 64);
    write_at<uint32_t>(want, 64, 18);
    write_at<uint64_t>(want, 72, 96);
    write_at<uint64_t>(want, 80, 48);
    const float camera[12] = {0, 1, 2, 0, 0.3f, -2, 0, 1, 0, 60, 0, 4};
    std::memcpy(want.data() + 96, camera, sizeof camera);

    ScratchDir dir;
    const std::string path = dir.file("default.vsb");
    CaptureStdout();
    ASSERT_TRUE(save_vsb(path.c_str(), Scene{}));
    EXPECT_EQ(GetCapturedStdout(), "Saved .vsb: " + path + " (0.0 MB)\n");
    EXPECT_EQ(read_bytes(path), want);
}

TEST(VsbLayout, ThreeSectionsStartDataAt144) {
    Scene s;
    s.light_cdf = {0xFFFFFFFFu};
    s.scene_params = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
    const std::vector<uint8_t> f = round_trip(s).file;
    ASSERT_EQ(section_types(f), (std::vector<uint32_t>{16, 17, 18}));
    EXPECT_EQ(read_at<uint64_t>(f, 64 + 8), 144u);   // first payload at D
    EXPECT_EQ(read_at<uint64_t>(f, 64 + 16), 4u);
    EXPECT_EQ(read_at<uint64_t>(f, 88 + 8), 160u);  // next 16-byte boundary
    EXPECT_EQ(read_at<uint64_t>(f, 112 + 8), 192u);  // 160 + 20 rounded up
    for (size_t i = 136; i < 144; ++i) EXPECT_EQ(f[i], 0) << i;
    for (size_t i = 148; i < 160; ++i) EXPECT_EQ(f[i], 0) << i;
    EXPECT_EQ(read_at<uint32_t>(f, 144), 0xFFFFFFFFu);
    EXPECT_EQ(f.size(), 192u + 48u);
}

TEST(VsbLayout, FullSceneSectionOrderAndRecords) {
    const std::vector<uint8_t> f = round_trip(make_full_scene()).file;
    EXPECT_EQ(section_types(f), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 21, 10, 11, 12,
                                                       20, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(read_at<uint32_t>(f, 8), 3u);    // meshes
    EXPECT_EQ(read_at<uint32_t>(f, 12), 4u);   // instances
    EXPECT_EQ(read_at<uint32_t>(f, 16), 3u);   // materials
    EXPECT_EQ(read_at<uint32_t>(f, 20), 2u);   // atlas entries
    EXPECT_EQ(read_at<uint32_t>(f, 24), 1u);   // emissive instances
    for (uint32_t i = 0; i < 20; ++i) {
        const uint64_t off = read_at<uint64_t>(f, 64 + 24 * i + 8);
        EXPECT_EQ(off % 16, 0u) << "section " << i;
        EXPECT_EQ(read_at<uint32_t>(f, 64 + 24 * i + 4), 0u);
    }
    // Mesh records: 5/4, 3/1, 4/2 vertices/triangles; only mesh 0 has
    // normals, tangents and face materials, meshes 0 and 2 have UVs.
    const uint64_t table = read_at<uint64_t>(f, 64 + 8);
    const uint32_t expect[3][12] = {
        {5, 4, 0, 0, 0, 0, 0, 0, 0, 2, 15, 0},
        {3, 1, 5, 12, 4, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0, 0},
        {4, 2, 8, 15, 5, 0xFFFFFFFFu, 5, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 2, 0},
    };
    for (int m = 0; m < 3; ++m)
        for (int w = 0; w < 12; ++w)
            EXPECT_EQ(read_at<uint32_t>(f, table + 48 * m + 4 * w), expect[m][w]) << m << "/" << w;
    // Environment block: 20 + 4 * 3 * (4 + 2) bytes.
    EXPECT_EQ(read_at<uint64_t>(f, 64 + 24 * 14 + 16), 92u);
    // Animation block: 16 + 2 * 28 bytes.
    EXPECT_EQ(read_at<uint64_t>(f, 64 + 24 * 19 + 16), 72u);
}

TEST(VsbRoundTrip, SaveLoadSaveLoadKeepsEverything) {
    const Scene s = make_full_scene();
    ScratchDir dir;
    std::vector<uint8_t> a = saved(dir, s, "1.vsb");
    const LoadResult first = load(dir.file("1.vsb").c_str());
    EXPECT_EQ(first.out, "Loaded .vsb: " + dir.file("1.vsb") + " (3 meshes, 4 instances, 3 materials)\n");
    const Scene& once = first.scene;
    expect_stored_fields_equal(s, once);
    expect_unstored_fields_default(once);
    ASSERT_EQ(once.atlas_entries.size(), 2u);
    const std::vector<uint8_t> b = saved(dir, once, "2.vsb");
    expect_stored_fields_equal(s, load(dir.file("2.vsb").c_str()).scene);
    // The second file differs from the first only in the informative
    // emissive-instance count, which is not read back.
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(read_at<uint32_t>(b, 24), 0u);
    write_at<uint32_t>(a, 24, 0);
    EXPECT_EQ(a, b);
}

TEST(VsbRoundTrip, AtlasCountIsTheStoredEntries) {
    // Textures whose atlas has not been built yet store no directory, and
    // the header says so.
    Scene s;
    s.textures.resize(3);
    EXPECT_EQ(read_at<uint32_t>(round_trip(s).file, 20), 0u);
}

TEST(VsbRoundTrip, SceneWithoutMeshesHasNoMeshSections) {
    Scene s = make_full_scene();
    s.meshes.clear();
    const auto [file, back, err] = round_trip(s);
    for (uint32_t t : section_types(file)) EXPECT_GT(t, 8u);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(back.meshes.empty());
    // Instances still refer to mesh 0, which is gone: no face materials.
    ASSERT_EQ(back.instances.size(), 4u);
    EXPECT_TRUE(back.instances[0].has_face_materials);
    EXPECT_TRUE(back.instances[0].face_materials.empty());
}

TEST(VsbRoundTrip, SingleKeyframeIsNotAnAnimation) {
    Scene s;
    s.anim_duration = 5.0f;
    s.anim_fps = 60.0f;
    s.anim_loop = true;
    s.camera_keyframes = {CameraKeyframe{1.0f, {1, 2, 3}, {4, 5, 6}}};
    const auto [file, back, err] = round_trip(s);
    EXPECT_EQ(section_types(file), (std::vector<uint32_t>{18}));
    EXPECT_EQ(back.anim_duration, 0.0f);
    EXPECT_EQ(back.anim_fps, 30.0f);
    EXPECT_FALSE(back.anim_loop);
    EXPECT_TRUE(back.camera_keyframes.empty());
}

TEST(VsbRoundTrip, EnvironmentNeedsBuiltTables) {
    Scene s = make_full_scene();
    s.envmap_texture = -1;
    const auto [file, back, err] = round_trip(s);
    for (uint32_t t : section_types(file)) EXPECT_NE(t, 14u);
    EXPECT_EQ(back.envmap_texture, -1);
    EXPECT_TRUE(back.env_marginal_cdf.empty());
    EXPECT_EQ(back.env_cdf_width, 0);
}

TEST(VsbRoundTrip, InconsistentMeshArraysDoNotShiftLaterMeshes) {
    Scene s = make_full_scene();
    MeshData& bad = s.meshes[0];
    bad.positions.push_back(99.0f);  // a partial vertex
    bad.normals.resize(3);           // fewer normals than vertices
    bad.uvs.push_back(1.0f);         // more UVs than vertices
    bad.indices.push_back(1);        // a partial triangle
    const Scene back = round_trip(s).back;
    ASSERT_EQ(back.meshes.size(), 3u);
    EXPECT_EQ(back.meshes[0].positions.size(), 15u);
    EXPECT_EQ(back.meshes[0].indices.size(), 12u);
    EXPECT_FALSE(back.meshes[0].has_normals);
    EXPECT_TRUE(back.meshes[0].normals.empty());
    EXPECT_EQ(back.meshes[0].uvs, std::vector<float>(bad.uvs.begin(), bad.uvs.begin() + 10));
    EXPECT_EQ(back.meshes[1].positions, s.meshes[1].positions);
    EXPECT_EQ(back.meshes[2].uvs, s.meshes[2].uvs);
    EXPECT_EQ(back.meshes[2].indices, s.meshes[2].indices);
}

TEST(VsbRoundTrip, FlagWithoutDataStoresNothing) {
    Scene s;
    MeshData m;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.indices = {0, 1, 2};
    m.face_normals = {0, 0, 1};
    m.has_normals = true;  // but no normals
    s.meshes.push_back(m);
    const auto [f, back, err] = round_trip(s);
    EXPECT_EQ(section_types(f), (std::vector<uint32_t>{1, 2, 3, 4, 18}));
    const uint64_t table = read_at<uint64_t>(f, 64 + 8);
    EXPECT_EQ(read_at<uint32_t>(f, table + 4 * 5), 0xFFFFFFFFu);
    EXPECT_EQ(read_at<uint32_t>(f, table + 4 * 10), 0u);
    EXPECT_FALSE(back.meshes.at(0).has_normals);
}

TEST(VsbRoundTrip, ManyMeshesAndLargeArrays) {
    // More pieces than one gathered write takes, and arrays larger than one
    // write call, must still land in order.
    Scene s;
    for (uint32_t i = 0; i < 700; ++i) {
        MeshData m;
        m.positions = {float(i), 0, 0, 1, float(i), 0, 0, 1, float(i)};
        m.indices = {0, 1, 2};
        m.face_normals = {0, 0, float(i)};
        m.has_uvs = i % 2 == 0;
        if (m.has_uvs) m.uvs = {0, 0, 1, 0, float(i), 1};
        m.material = i;
        s.meshes.push_back(m);
    }
    s.atlas_data.resize(20u << 20);
    for (size_t i = 0; i < s.atlas_data.size(); ++i) s.atlas_data[i] = static_cast<uint8_t>(i * 31 + (i >> 20));
    expect_stored_fields_equal(s, round_trip(s).back);
}

// The call saves the context's scene; its failures are the writer's.
TEST(VitrelSaveScene, NullArgumentsAndSuccess) {
    ScratchDir dir;
    const std::string path = dir.file("ctx.vsb");
    EXPECT_EQ(vitrel_save_scene(nullptr, path.c_str()), -1);
    VitrelContext* ctx = vitrel_create();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(vitrel_save_scene(ctx, nullptr), -1);
    EXPECT_TRUE(dir.entries().empty());
    const float pos[3] = {9, 8, 7}, look[3] = {1, 1, 1}, up[3] = {0, 1, 0};
    vitrel_set_camera(ctx, pos, look, up, 35.0f, 0.0f, 4.0f);
    CaptureStdout();
    EXPECT_EQ(vitrel_save_scene(ctx, path.c_str()), 0);
    GetCapturedStdout();
    const Scene back = load(path.c_str()).scene;
    EXPECT_EQ(back.camera_position[0], 9.0f);
    EXPECT_EQ(back.camera_fov, 35.0f);
    CaptureStderr();
    EXPECT_EQ(vitrel_save_scene(ctx, dir.file("missing/dir.vsb").c_str()), -1);
    GetCapturedStderr();
    vitrel_destroy(ctx);
}

}  // namespace
