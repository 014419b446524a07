// Texture atlas: directory entries, texel bytes, padding, flags, caching and
// the 4 GiB limit.
#include <stdexcept>

#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "scene_test_util.h"

namespace {

TextureData texture8(int w, int h, int channels, uint8_t first) {
    TextureData t;
    t.width = w;
    t.height = h;
    t.channels = channels;
    for (int i = 0; i < w * h * channels; ++i) t.pixels8.push_back(static_cast<uint8_t>(first + i));
    return t;
}

TextureData texturef(float value, bool flag1) {
    TextureData t;
    t.width = t.height = t.channels = 1;
    t.is_float = true;
    t.flag1 = flag1;
    t.pixelsf = {value};
    return t;
}

// Texels in order, each texture's start padded to 4 bytes with zeros, an
// empty data array appending nothing; flags carry float (1) and the
// caller's flag (2); the reserved words stay zero.
TEST(TextureAtlas, DirectoryEntriesTexelBytesPaddingAndFlags) {
    Scene scene;
    scene.textures.push_back(texture8(3, 1, 3, 1));  // 9 bytes: 1..9
    TextureData empty = texture8(4, 4, 4, 0);
    empty.pixels8.clear();
    scene.textures.push_back(empty);
    scene.textures.push_back(texture8(1, 1, 4, 50));  // 4 bytes: 50..53
    scene.textures.back().flag1 = true;
    scene.textures.push_back(texturef(0.5f, false));
    scene.textures.push_back(texturef(2.0f, true));
    const std::string out = scene_test::prepare(scene);
    EXPECT_EQ(scene_test::count_occurrences(out, "Texture atlas: 5 textures, 0.0 MB\n"), 1u);

    std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 50, 51, 52, 53};
    for (float f : {0.5f, 2.0f}) {
        const auto* b = reinterpret_cast<const uint8_t*>(&f);
        data.insert(data.end(), b, b + 4);
    }
    EXPECT_EQ(scene.atlas_data, data);
    const AtlasEntry expected[5] = {{0, 3, 1, 3, 0, {0, 0, 0}}, {12, 4, 4, 4, 0, {0, 0, 0}}, {12, 1, 1, 4, 2, {0, 0, 0}},
                                    {16, 1, 1, 1, 1, {0, 0, 0}}, {20, 1, 1, 1, 3, {0, 0, 0}}};
    ASSERT_EQ(scene.atlas_entries.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(std::memcmp(&scene.atlas_entries[i], &expected[i], sizeof(AtlasEntry)), 0) << "entry " << i;
}

TEST(TextureAtlas, EnvironmentMapIsStoredAsFloatTexels) {
    VitrelContext* ctx = vitrel_create();
    ASSERT_NE(ctx, nullptr);
    const float rgb[6] = {0.25f, 0.5f, 0.75f, 1.0f, 2.0f, 3.0f};
    ASSERT_EQ(vitrel_set_envmap(ctx, rgb, 2, 1, nullptr, 1.0f), 0);
    testing::internal::CaptureStdout();
    build_scene_buffer(ctx->scene, 64, 64, 1.0f);
    testing::internal::GetCapturedStdout();
    const Scene& scene = ctx->scene;
    ASSERT_EQ(scene.atlas_entries.size(), 1u);
    EXPECT_EQ(scene.atlas_entries[0].flags, 1u);
    EXPECT_EQ(scene.atlas_entries[0].width, 2u);
    EXPECT_EQ(scene.atlas_entries[0].channels, 3u);
    ASSERT_EQ(scene.atlas_data.size(), sizeof rgb);
    EXPECT_EQ(std::memcmp(scene.atlas_data.data(), rgb, sizeof rgb), 0);
    vitrel_destroy(ctx);
}

TEST(TextureAtlas, KeptOnceBuiltAndWhenRestoredWithoutTextures) {
    Scene scene;
    std::string out = scene_test::prepare(scene);  // no textures: no atlas, no line
    EXPECT_EQ(out.find("Texture atlas"), std::string::npos);
    EXPECT_TRUE(scene.atlas_data.empty() && scene.atlas_entries.empty());
    scene.textures.push_back(texture8(2, 1, 1, 1));
    scene_test::prepare(scene);
    scene.textures.push_back(texture8(2, 1, 1, 5));  // too late: the atlas is kept
    out = scene_test::prepare(scene);
    EXPECT_EQ(out.find("Texture atlas"), std::string::npos);
    EXPECT_EQ(scene.atlas_entries.size(), 1u);
    EXPECT_EQ(scene.atlas_data.size(), 2u);

    Scene restored;  // as read back from a scene cache: atlas but no textures
    restored.atlas_entries.resize(1);
    restored.atlas_entries[0].width = 9;
    restored.atlas_data = {1, 2, 3};
    scene_test::prepare(restored);
    EXPECT_EQ(restored.atlas_entries[0].width, 9u);
    EXPECT_EQ(restored.atlas_data, (std::vector<uint8_t>{1, 2, 3}));
}

constexpr uint64_t kGiB = uint64_t{1} << 30;

TEST(AtlasLayout, AlignsEveryTextureAndFillsUpToButNotBeyondFourGiB) {
    const AtlasLayout small = plan_atlas_layout({9, 1, 0, 5});
    EXPECT_EQ(small.offsets, (std::vector<uint32_t>{0, 12, 16, 16}));
    EXPECT_EQ(small.total_bytes, 21u);

    // The last texel may sit at the last byte below 4 GiB.
    const AtlasLayout full = plan_atlas_layout({3 * kGiB + 1, kGiB - 4});
    EXPECT_EQ(full.offsets, (std::vector<uint32_t>{0, static_cast<uint32_t>(3 * kGiB + 4)}));
    EXPECT_EQ(full.total_bytes, 4 * kGiB);

    // One byte too many, through padding alone.
    EXPECT_THROW(plan_atlas_layout({3 * kGiB + 1, kGiB - 3}), std::runtime_error);
    // A single texture larger than the address range.
    EXPECT_THROW(plan_atlas_layout({5 * kGiB}), std::runtime_error);
    // Sizes whose sum would wrap 64 bits must not slip through either.
    EXPECT_THROW(plan_atlas_layout({8, UINT64_MAX - 4}), std::runtime_error);
    // A zero-sized texture right at the limit still gets a 32-bit offset.
    EXPECT_THROW(plan_atlas_layout({4 * kGiB, 0}), std::runtime_error);
    try {
        plan_atlas_layout({2 * kGiB, 2 * kGiB, 1});
        FAIL() << "expected the third texture to be refused";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("texture 2"), std::string::npos) << e.what();
    }
}

}  // namespace
