// Packed materials (GpuMaterial words) and the sRGB decoding table.
#include "scene_test_util.h"

namespace {

using scene_test::bits;
using scene_test::word_at;

// A material whose every word holds a different value (the int fields hold
// float bit patterns), so that any field landing in the wrong word shows up.
Material distinct_material() {
    static_assert(sizeof(Material) % 4 == 0);
    float words[sizeof(Material) / 4];
    for (size_t i = 0; i < std::size(words); ++i) words[i] = 0.5f + 1.25f * static_cast<float>(i);
    Material m;
    std::memcpy(static_cast<void*>(&m), words, sizeof m);
    return m;
}

TEST(MaterialPacking, EveryWordHoldsItsField) {
    Scene scene;
    const Material m = distinct_material();
    scene.materials.push_back(m);
    scene_test::prepare(scene);
    ASSERT_EQ(scene.gpu_materials.size(), 1u);
    const GpuMaterial& g = scene.gpu_materials[0];

    // Expected words in GPU order, written out from the documented table.
    const uint32_t expected[47] = {
        bits(m.base_color[0]), bits(m.base_color[1]), bits(m.base_color[2]),
        bits(m.roughness), bits(m.metallic), bits(m.spec_trans), bits(m.ior), bits(m.extra_a),
        bits(m.emission[0]), bits(m.emission[1]), bits(m.emission[2]), bits(m.extra_b),
        bits(m.albedo_tex), bits(m.roughness_tex),
        0,  // word 14, dielectric reflectance, checked below
        bits(m.extra_c), bits(m.metallic_tex), bits(m.normal_tex),
        bits(m.extra_params[0]), bits(m.extra_params[1]), bits(m.extra_params[2]), bits(m.extra_params[3]),
        bits(m.extra_params[4]), bits(m.extra_params[5]), bits(m.extra_params[6]),
        bits(m.subsurface), bits(m.subsurface_radius[0]), bits(m.subsurface_radius[1]),
        bits(m.subsurface_radius[2]), bits(m.subsurface_scale),
        bits(m.alpha), bits(m.alpha_mode), bits(m.alpha_cutoff), bits(m.emission_tex),
        bits(m.subsurface_ext[0]), bits(m.subsurface_ext[1]),
        bits(m.f82_tint[0]), bits(m.f82_tint[1]), bits(m.f82_tint[2]),
        bits(m.transmission_color[0]), bits(m.transmission_color[1]), bits(m.transmission_color[2]),
        bits(m.transmission_extra),
        bits(m.coat_color[0]), bits(m.coat_color[1]), bits(m.coat_color[2]),
        bits(m.thin_walled)};
    for (size_t w = 0; w < 47; ++w) {
        if (w == 14) continue;
        EXPECT_EQ(word_at(g, w), expected[w]) << "word " << w;
    }
}

TEST(MaterialPacking, WordFourteenIsDielectricReflectance) {
    Scene scene;
    Material m;
    m.ior = 1.5f;
    m.specular = 0.5f;
    scene.materials.push_back(m);
    m.ior = 1.0f;  // a refractive index of 1 reflects nothing
    m.specular = 1.0f;
    scene.materials.push_back(m);
    scene_test::prepare(scene);
    ASSERT_EQ(scene.gpu_materials.size(), 2u);
    float f0 = 0.0f;
    std::memcpy(&f0, reinterpret_cast<const uint8_t*>(scene.gpu_materials.data()) + 56, 4);
    EXPECT_NEAR(f0, 0.04f, 1e-7f);
    // The second record starts one 188-byte stride later.
    std::memcpy(&f0, reinterpret_cast<const uint8_t*>(scene.gpu_materials.data()) + 188 + 56, 4);
    EXPECT_EQ(f0, 0.0f);
}

TEST(MaterialPacking, RebuiltFromMaterialsEveryCall) {
    Scene scene;
    scene.materials.resize(3);
    scene_test::prepare(scene);
    EXPECT_EQ(scene.gpu_materials.size(), 3u);
    scene.materials.resize(1);
    scene.materials[0].alpha = 0.5f;
    scene_test::prepare(scene);
    ASSERT_EQ(scene.gpu_materials.size(), 1u);
    EXPECT_EQ(scene.gpu_materials[0].alpha, 0.5f);
}

TEST(SrgbTable, DecodesEveryCodeAndIsBuiltOnce) {
    Scene scene;
    scene_test::prepare(scene);
    ASSERT_EQ(scene.srgb_lut.size(), 256u);
    EXPECT_EQ(scene.srgb_lut[0], 0.0f);
    EXPECT_FLOAT_EQ(scene.srgb_lut[255], 1.0f);
    EXPECT_FLOAT_EQ(scene.srgb_lut[10], (10.0f / 255.0f) / 12.92f);  // linear segment
    EXPECT_NEAR(scene.srgb_lut[128], 0.2158605f, 1e-6f);              // mid grey
    for (size_t i = 1; i < 256; ++i) EXPECT_GT(scene.srgb_lut[i], scene.srgb_lut[i - 1]) << i;

    scene.srgb_lut[1] = -1.0f;  // a kept table is not recomputed
    scene_test::prepare(scene);
    EXPECT_EQ(scene.srgb_lut[1], -1.0f);
}

}  // namespace
