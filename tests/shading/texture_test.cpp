// Atlas texture lookups on the GPU against texel values derived on the host.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "gpu_test_support.h"
#include "scene/scene.h"
#include "scene/scene_prep.h"

namespace {

struct Query {
    int32_t tex;
    float u, v;
};
struct Answer {
    float rgb[3];
    float scalar;
};

TextureData texture8(int w, int h, int channels, std::vector<uint8_t> bytes, bool linear) {
    TextureData t;
    t.width = w;
    t.height = h;
    t.channels = channels;
    t.pixels8 = std::move(bytes);
    t.flag1 = linear;
    return t;
}

class TextureTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        // 0: 3 x 2 sRGB colour; 1: 2 x 2 float RGBA; 2: 4 x 1 grey linear data.
        scene_.textures.push_back(texture8(3, 2, 3,
                                           {10, 20, 30, 200, 100, 0, 255, 128, 64,  //
                                            1, 2, 3, 90, 180, 45, 0, 0, 255},
                                           false));
        TextureData f;
        f.width = 2;
        f.height = 2;
        f.channels = 4;
        f.is_float = true;
        f.pixelsf = {0.5f, 1.5f, 2.5f, 1.0f, -1.0f, 0.25f, 8.0f, 1.0f,
                     3.0f, 0.0f, 0.125f, 1.0f, 100.0f, 7.0f, 0.75f, 1.0f};
        scene_.textures.push_back(f);
        scene_.textures.push_back(texture8(4, 1, 1, {0, 51, 102, 255}, true));
        build_scene_buffer(scene_, 8, 8, 1.0f);
    }

    // The atlas as uploaded, plus `extra` directory entries after the real ones.
    std::vector<Answer> run(const std::vector<Query>& queries,
                            const std::vector<AtlasEntry>& extra = {}) {
        const Atlas atlas = upload_atlas(scene_, extra);
        std::vector<float> q(4 * queries.size());
        for (size_t i = 0; i < queries.size(); ++i) {
            std::memcpy(&q[4 * i], &queries[i].tex, 4);
            q[4 * i + 1] = queries[i].u;
            q[4 * i + 2] = queries[i].v;
        }
        const auto io = upload(q);
        const uint32_t count = static_cast<uint32_t>(queries.size());
        gpu().dispatch(program("texture_test.comp", 4), {atlas.data.get(), atlas.entries.get(), atlas.srgb.get(), io.get()},
                       groups_for(count), &count, sizeof(count));
        const std::vector<float> out = io->read<float>();
        std::vector<Answer> answers(queries.size());
        std::memcpy(answers.data(), out.data(), answers.size() * sizeof(Answer));
        return answers;
    }

    float srgb(uint8_t code) const { return scene_.srgb_lut[code]; }
    // Decoded component c of texel (x, y) of the 3 x 2 colour texture.
    float colour(int x, int y, int c) const {
        return srgb(scene_.textures[0].pixels8[(y * 3 + x) * 3 + c]);
    }
    float fl(int x, int y, int c) const { return scene_.textures[1].pixelsf[(y * 2 + x) * 4 + c]; }

    Scene scene_;
};

constexpr float kExact = 1e-6f;

// Each query should read the mean of the listed texels of the colour
// texture (0) or the float texture (1): texel centres exactly, bilinear
// midpoints between neighbours, and edges wrapping around.
TEST_F(TextureTest, ReadsTexelsBlendsNeighboursAndWrapsAtEdges) {
    struct Case {
        std::string what;
        Query q;
        std::vector<std::array<int, 2>> texels;
        float tolerance;
    };
    std::vector<Case> cases;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            cases.push_back({"colour texel centre", {0, (x + 0.5f) / 3, (y + 0.5f) / 2}, {{x, y}}, kExact});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            cases.push_back({"float texel centre", {1, (x + 0.5f) / 2, (y + 0.5f) / 2}, {{x, y}}, kExact});
    cases.push_back({"between (0,0) and (1,0)", {0, 1.0f / 3, 0.25f}, {{0, 0}, {1, 0}}, kExact});
    cases.push_back({"between (0,0) and (0,1)", {0, 0.5f / 3, 0.5f}, {{0, 0}, {0, 1}}, kExact});
    cases.push_back({"centre of four texels", {0, 1.0f / 3, 0.5f}, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, kExact});
    cases.push_back({"float, between (0,0) and (1,0)", {1, 0.5f, 0.25f}, {{0, 0}, {1, 0}}, kExact});
    cases.push_back({"between last and first column", {0, 0.0f, 0.25f}, {{2, 0}, {0, 0}}, kExact});
    cases.push_back({"between last and first row", {0, 0.5f / 3, 0.0f}, {{0, 1}, {0, 0}}, kExact});
    cases.push_back({"one period to the right", {0, 1.0f + 0.5f / 3, 0.25f}, {{0, 0}}, 1e-5f});
    cases.push_back({"negative, several periods", {0, -2.0f + 2.5f / 3, 1.75f}, {{2, 1}}, 1e-5f});
    std::vector<Query> queries;
    for (const Case& c : cases) queries.push_back(c.q);
    const auto a = run(queries);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const bool isFloat = c.q.tex == 1;
        for (int ch = 0; ch < 3; ++ch) {
            float mean = 0.0f;
            for (const auto& t : c.texels)
                mean += (isFloat ? fl(t[0], t[1], ch) : colour(t[0], t[1], ch)) / c.texels.size();
            EXPECT_NEAR(a[i].rgb[ch], mean, c.tolerance) << c.what << " " << i;
        }
        if (c.texels.size() != 1 || c.tolerance != kExact) continue;
        // Data reads are linear: first channel (/ 255 for bytes), not decoded.
        const int x = c.texels[0][0], y = c.texels[0][1];
        const float data =
            isFloat ? fl(x, y, 0) : scene_.textures[0].pixels8[(y * 3 + x) * 3] / 255.0f;
        EXPECT_NEAR(a[i].scalar, data, kExact) << c.what << " " << i;
    }
}

TEST_F(TextureTest, SrgbDecodeMatchesTableAndLinearDataIsNotDecoded) {
    // The colour texture holds both extremes and mid-range codes; decoded
    // values must be the table's entries bit for bit.
    const auto a = run({{0, 0.5f / 3, 0.25f}, {0, 2.5f / 3, 0.75f}, {2, 0.0f, 0.5f}});
    EXPECT_EQ(a[0].rgb[0], srgb(10));
    EXPECT_EQ(a[0].rgb[1], srgb(20));
    EXPECT_EQ(a[1].rgb[2], srgb(255));
    EXPECT_EQ(a[1].rgb[0], srgb(0));
    EXPECT_NEAR(srgb(255), 1.0f, kExact);
    // Grey data texture with the linear flag, between its last and first
    // texel: no decode, grey in all three.
    const float grey = 0.5f * (255 + 0) / 255.0f;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[2].rgb[c], grey, kExact);
    EXPECT_NEAR(a[2].scalar, grey, kExact);
}

TEST_F(TextureTest, InvalidTexturesReadZeroWithoutTouchingOtherMemory) {
    AtlasEntry beyond{};
    beyond.offset = 1u << 30;
    beyond.width = beyond.height = 2;
    beyond.channels = 3;
    AtlasEntry huge{};
    huge.width = 0x10000;
    huge.height = 0x10000;
    huge.channels = 4;
    huge.flags = ATLAS_FLAG_FLOAT;
    AtlasEntry empty{};
    empty.channels = 3;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const auto a = run({{-1, 0.5f, 0.5f},
                        {99, 0.5f, 0.5f},
                        {3, 0.5f, 0.5f},
                        {4, 0.5f, 0.5f},
                        {5, 0.5f, 0.5f},
                        {0, nan, 0.5f},
                        {1, inf, -inf}},
                       {beyond, huge, empty});
    for (int i = 0; i < 5; ++i) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(a[i].rgb[c], 0.0f) << "query " << i;
        EXPECT_EQ(a[i].scalar, 0.0f) << "query " << i;
    }
    for (int i = 5; i < 7; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(a[i].rgb[c])) << "query " << i;
}

}  // namespace
