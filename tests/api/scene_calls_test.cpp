// Scene assembly calls: ids, rejections, copies and conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "test_helpers.h"

namespace {

class SceneCalls : public ::testing::Test {
protected:
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    Scene& scene() { return ctx->scene; }
};

}  // namespace

TEST_F(SceneCalls, TexturesAreCopiedAndIdsStayDenseAcrossRejectedCalls) {
    auto px = std::make_unique<unsigned char[]>(6);
    for (int i = 0; i < 6; ++i) px[i] = static_cast<unsigned char>(i + 1);
    EXPECT_EQ(vitrel_add_texture(ctx, px.get(), 1, 2, 3, 0, 0), 0);
    EXPECT_EQ(vitrel_add_texture(ctx, nullptr, 1, 1, 1, 0, 0), -1);
    // Empty sizes, channels outside 1..4, and sizes whose byte count wraps
    // 64 bits or passes what the atlas can address (the call must refuse
    // them before it reads the six bytes given).
    const struct { int w, h, c, is_float; } refused[] = {
        {0, 1, 1, 0}, {1, -1, 1, 0}, {1, 1, 0, 0}, {1, 1, 5, 0}, {1, 1, -1, 0},
        {48448661, 494770, 769546, 0},  // 2^64 + 4 bytes
        {2147483647, 2147483647, 4, 1}, {65537, 65536, 1, 0}, {32768, 32769, 1, 1}};
    for (const auto& r : refused)
        EXPECT_EQ(vitrel_add_texture(ctx, px.get(), r.w, r.h, r.c, r.is_float, 0), -1)
            << r.w << " x " << r.h << " x " << r.c;
    EXPECT_EQ(vitrel_add_texture(ctx, px.get(), 2, 1, 3, 0, 5), 1);
    const float fpx[2] = {0.25f, -3.0f};
    EXPECT_EQ(vitrel_add_texture(ctx, fpx, 2, 1, 1, 7, 0), 2);
    px.reset();  // the context keeps its own copy
    ASSERT_EQ(scene().textures.size(), 3u);

    const TextureData& t0 = scene().textures[0];
    EXPECT_EQ(t0.pixels8, std::vector<uint8_t>({1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(t0.pixelsf.empty());
    EXPECT_TRUE(t0.width == 1 && t0.height == 2 && t0.channels == 3 && !t0.is_float && !t0.flag1);
    EXPECT_TRUE(scene().textures[1].flag1);  // any non-zero flag is true
    const TextureData& t2 = scene().textures[2];
    EXPECT_TRUE(t2.is_float);
    EXPECT_TRUE(t2.pixels8.empty());
    EXPECT_EQ(t2.pixelsf, std::vector<float>({0.25f, -3.0f}));
}

TEST_F(SceneCalls, MaterialTakesItsArgumentsInOrder) {
    const float color[3] = {0.1f, 0.2f, 0.3f};
    const float emit[3] = {4.0f, 5.0f, 6.0f};
    EXPECT_EQ(vitrel_add_material(ctx, nullptr, emit, -1, -1, -1, -1, 0, 0, 0, 1.5f, 0.5f, 0, 0, 0,
                                  0, 0, 0, 0, 0),
              -1);
    EXPECT_EQ(vitrel_add_material(ctx, color, nullptr, -1, -1, -1, -1, 0, 0, 0, 1.5f, 0.5f, 0, 0,
                                  0, 0, 0, 0, 0, 0),
              -1);
    EXPECT_TRUE(ctx->material_exprs.empty());
    ASSERT_EQ(vitrel_add_material(ctx, color, emit, 3, 4, 5, 6, 0.25f, 0.75f, 0.5f, 1.33f, 0.6f,
                                  0.9f, 1, 2, 3, 4, 5, 6, 7),
              0);
    // Every other field keeps the record's default.
    Material expected;
    std::memcpy(expected.base_color, color, sizeof(color));
    std::memcpy(expected.emission, emit, sizeof(emit));
    expected.albedo_tex = 3;
    expected.roughness_tex = 4;
    expected.metallic_tex = 5;
    expected.normal_tex = 6;
    expected.roughness = 0.25f;
    expected.metallic = 0.75f;
    expected.spec_trans = 0.5f;
    expected.ior = 1.33f;
    expected.specular = 0.6f;
    expected.extra_c = 0.9f;
    for (int i = 0; i < 7; ++i) expected.extra_params[i] = static_cast<float>(i + 1);
    EXPECT_EQ(std::memcmp(&scene().materials[0], &expected, sizeof(Material)), 0);
    ASSERT_EQ(ctx->material_exprs.size(), 1u);
    EXPECT_EQ(ctx->material_exprs[0].albedo.root, -1);
    EXPECT_TRUE(ctx->material_exprs[0].emission.nodes.empty());
}

TEST_F(SceneCalls, MeshCopiesOptionalArraysAndRejectsMissingOnes) {
    const float pos[12] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    const unsigned idx[6] = {0, 1, 2, 0, 2, 3};
    const float nrm[12] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0};
    const float uv[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    const float tan[12] = {1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0};
    const int fm[2] = {3, -1};
    EXPECT_EQ(vitrel_add_mesh(ctx, nullptr, 4, idx, 2, nullptr, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(vitrel_add_mesh(ctx, pos, 4, nullptr, 2, nullptr, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(vitrel_add_mesh(ctx, pos, 0, idx, 2, nullptr, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(vitrel_add_mesh(ctx, pos, 4, idx, 0, nullptr, nullptr, nullptr, nullptr, 0), -1);
    ASSERT_EQ(vitrel_add_mesh(ctx, pos, 4, idx, 2, nrm, uv, tan, fm, 9), 0);
    ASSERT_EQ(vitrel_add_mesh(ctx, pos, 4, idx, 2, nullptr, nullptr, nullptr, nullptr, 1), 1);

    const MeshData& a = scene().meshes[0];
    EXPECT_EQ(a.positions, std::vector<float>(pos, pos + 12));
    EXPECT_EQ(a.indices, std::vector<uint32_t>(idx, idx + 6));
    EXPECT_EQ(a.normals, std::vector<float>(nrm, nrm + 12));
    EXPECT_EQ(a.uvs, std::vector<float>(uv, uv + 8));
    EXPECT_EQ(a.tangents, std::vector<float>(tan, tan + 12));
    EXPECT_EQ(a.face_materials, std::vector<int32_t>(fm, fm + 2));
    EXPECT_TRUE(a.has_normals && a.has_uvs && a.has_tangents && a.has_face_materials);
    EXPECT_EQ(a.material, 9u);
    // Triangle 0 lies in z = 0 and winds counter-clockwise seen from +z;
    // triangle 1 (0, 2, 3) lies in x = 0 with normal +x.
    EXPECT_EQ(a.face_normals, (std::vector<float>{0, 0, 1, 1, 0, 0}));

    const MeshData& b = scene().meshes[1];
    EXPECT_FALSE(b.has_normals || b.has_uvs || b.has_tangents || b.has_face_materials);
    EXPECT_TRUE(b.normals.empty() && b.uvs.empty() && b.tangents.empty() && b.face_materials.empty());
}

TEST_F(SceneCalls, OutOfRangeTriangleKeepsMeshAndGetsUpNormal) {
    // Exactly sized heap arrays: the sanitizer catches any read past them.
    auto pos = std::make_unique<float[]>(9);
    const float p[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::memcpy(pos.get(), p, sizeof(p));
    const unsigned idx[9] = {0, 1, 3, 0, 1, 2, 1, 2, 0xFFFFFFFFu};
    ASSERT_EQ(vitrel_add_mesh(ctx, pos.get(), 3, idx, 3, nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(scene().meshes[0].face_normals, (std::vector<float>{0, 1, 0, 0, 0, 1, 0, 1, 0}));
}

TEST_F(SceneCalls, InstanceStoresRowMajorAffinePartAndChecksIds) {
    ASSERT_EQ(add_plain_material(ctx), 0);
    ASSERT_EQ(add_triangle_mesh(ctx), 0);
    const auto t = translation_matrix(1, 2, 3);
    EXPECT_EQ(vitrel_add_instance(ctx, 0, 1, t.data()), -1);  // material == count
    EXPECT_EQ(vitrel_add_instance(ctx, 1, 0, t.data()), -1);  // mesh == count
    EXPECT_EQ(vitrel_add_instance(ctx, -1, 0, t.data()), -1);
    EXPECT_EQ(vitrel_add_instance(ctx, 0, -1, t.data()), -1);
    EXPECT_EQ(vitrel_add_instance(ctx, 0, 0, nullptr), -1);
    EXPECT_TRUE(scene().instances.empty());
    // Column-major input with a projective fourth row that must be dropped.
    float m[16];
    for (int i = 0; i < 16; ++i) m[i] = static_cast<float>(i + 1);
    ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m), 0);
    const Instance& inst = scene().instances[0];
    const float expected[12] = {1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    EXPECT_EQ(std::memcmp(inst.transform, expected, sizeof(expected)), 0);
    const float zero[12] = {};
    EXPECT_EQ(std::memcmp(inst.transform_end, zero, sizeof(zero)), 0);
    EXPECT_FALSE(inst.moving);
}

TEST_F(SceneCalls, InstanceCopiesFaceMaterialsOfItsMesh) {
    ASSERT_EQ(add_plain_material(ctx), 0);
    const float pos[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const unsigned idx[3] = {0, 1, 2};
    const int fm[1] = {0};
    ASSERT_EQ(vitrel_add_mesh(ctx, pos, 3, idx, 1, nullptr, nullptr, nullptr, fm, 0), 0);
    ASSERT_EQ(add_triangle_mesh(ctx), 1);
    const auto m = translation_matrix(0, 0, 0);
    ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m.data()), 0);
    ASSERT_EQ(vitrel_add_instance(ctx, 1, 0, m.data()), 1);
    EXPECT_TRUE(scene().instances[0].has_face_materials);
    EXPECT_EQ(scene().instances[0].face_materials, std::vector<int32_t>{0});
    EXPECT_FALSE(scene().instances[1].has_face_materials);
    EXPECT_TRUE(scene().instances[1].face_materials.empty());
}

TEST_F(SceneCalls, SetInstanceTransformIgnoresBadIdsAndKeepsMotion) {
    ASSERT_EQ(add_plain_material(ctx), 0);
    ASSERT_EQ(add_triangle_mesh(ctx), 0);
    const auto m0 = translation_matrix(0, 0, 0);
    ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m0.data()), 0);
    scene().instances[0].transform_end[3] = 42.0f;
    const auto m1 = translation_matrix(5, 6, 7);
    vitrel_set_instance_transform(ctx, 1, m1.data());
    vitrel_set_instance_transform(ctx, -1, m1.data());
    EXPECT_FLOAT_EQ(scene().instances[0].transform[3], 0.0f);
    vitrel_set_instance_transform(ctx, 0, m1.data());
    const float* t = scene().instances[0].transform;
    EXPECT_EQ((std::vector<float>{t[3], t[7], t[11]}), (std::vector<float>{5, 6, 7}));
    EXPECT_FLOAT_EQ(scene().instances[0].transform_end[3], 42.0f);
}

TEST_F(SceneCalls, EnvmapAppendsFloatTextureEachCall) {
    const float rgb[6] = {1, 2, 3, 4, 5, 6};
    const float rot[3] = {10, 20, 30};
    EXPECT_EQ(vitrel_set_envmap(ctx, nullptr, 2, 1, nullptr, 1.0f), -1);
    EXPECT_EQ(vitrel_set_envmap(ctx, rgb, 0, 1, nullptr, 1.0f), -1);
    EXPECT_EQ(scene().envmap_texture, -1);
    ASSERT_EQ(vitrel_set_envmap(ctx, rgb, 2, 1, rot, 2.0f), 0);
    EXPECT_EQ(scene().envmap_texture, 0);
    EXPECT_FLOAT_EQ(scene().envmap_rotation[2], 30.0f);
    ASSERT_EQ(vitrel_set_envmap(ctx, rgb, 1, 2, nullptr, 0.5f), 0);
    ASSERT_EQ(scene().textures.size(), 2u);
    EXPECT_EQ(scene().envmap_texture, 1);
    EXPECT_FLOAT_EQ(scene().envmap_intensity, 0.5f);
    for (float r : scene().envmap_rotation) EXPECT_FLOAT_EQ(r, 0.0f);
    for (const TextureData& t : scene().textures) {
        EXPECT_TRUE(t.is_float && !t.flag1 && t.channels == 3);
        EXPECT_EQ(t.pixelsf, std::vector<float>(rgb, rgb + 6));
    }
    // Textures added afterwards continue the same id sequence.
    const unsigned char px[1] = {0};
    EXPECT_EQ(vitrel_add_texture(ctx, px, 1, 1, 1, 0, 0), 2);
}

// Each setter reaches its own fields (a swapped pair shows up), and none
// touches a material for an out-of-range id or a null colour.
TEST_F(SceneCalls, MaterialSettersWriteTheirFieldsAndIgnoreBadIds) {
    ASSERT_EQ(add_plain_material(ctx), 0);
    const Material untouched = scene().materials[0];
    const float c[3] = {0, 0, 0};
    for (int bad : {-1, 1, 1000}) {
        vitrel_set_material_subsurface(ctx, bad, 1, c, 1);
        vitrel_set_material_subsurface_ext(ctx, bad, 9, 9);
        vitrel_set_material_alpha(ctx, bad, 1, 0, 0);
        vitrel_set_material_emission_tex(ctx, bad, 3);
        vitrel_set_material_f82_tint(ctx, bad, c);
        vitrel_set_material_transmission(ctx, bad, c, 1);
        vitrel_set_material_coat_color(ctx, bad, c);
        vitrel_set_material_thin_walled(ctx, bad, 1);
    }
    vitrel_set_material_f82_tint(ctx, 0, nullptr);
    vitrel_set_material_transmission(ctx, 0, nullptr, 3);
    vitrel_set_material_coat_color(ctx, 0, nullptr);
    ASSERT_EQ(scene().materials.size(), 1u);
    EXPECT_EQ(std::memcmp(&scene().materials[0], &untouched, sizeof(Material)), 0);

    // A null radius keeps the radius.
    vitrel_set_material_subsurface(ctx, 0, 0.5f, nullptr, 0.125f);
    EXPECT_EQ(std::memcmp(scene().materials[0].subsurface_radius, untouched.subsurface_radius,
                          sizeof(untouched.subsurface_radius)),
              0);
    const float radius[3] = {3, 2, 1}, tint[3] = {0.9f, 0.8f, 0.7f};
    const float tcol[3] = {0.5f, 0.6f, 0.7f}, ccol[3] = {0.2f, 0.3f, 0.4f};
    vitrel_set_material_subsurface(ctx, 0, 0.7f, radius, 0.25f);
    vitrel_set_material_subsurface_ext(ctx, 0, 1.3f, -0.2f);
    vitrel_set_material_alpha(ctx, 0, 2, 0.4f, 0.3f);
    vitrel_set_material_emission_tex(ctx, 0, 5);
    vitrel_set_material_f82_tint(ctx, 0, tint);
    vitrel_set_material_transmission(ctx, 0, tcol, 2.5f);
    vitrel_set_material_coat_color(ctx, 0, ccol);
    vitrel_set_material_thin_walled(ctx, 0, 7);
    const Material& m = scene().materials[0];
    EXPECT_EQ((std::vector<float>{m.subsurface, m.subsurface_scale, m.subsurface_ext[0],
                                  m.subsurface_ext[1], m.alpha, m.alpha_cutoff,
                                  m.transmission_extra}),
              (std::vector<float>{0.7f, 0.25f, 1.3f, -0.2f, 0.4f, 0.3f, 2.5f}));
    EXPECT_EQ(std::memcmp(m.subsurface_radius, radius, sizeof(radius)), 0);
    EXPECT_EQ(std::memcmp(m.f82_tint, tint, sizeof(tint)), 0);
    EXPECT_EQ(std::memcmp(m.transmission_color, tcol, sizeof(tcol)), 0);
    EXPECT_EQ(std::memcmp(m.coat_color, ccol, sizeof(ccol)), 0);
    EXPECT_EQ(m.alpha_mode, 2);
    EXPECT_EQ(m.emission_tex, 5);
    EXPECT_EQ(m.thin_walled, 7);  // stored as given, not reduced to 0/1
}
