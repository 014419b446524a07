// The sampling library on the GPU: sampler quality and continuity, table
// inversion against the tables scene preparation builds, triangle sampling
// and MIS weights.
#include <array>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gpu_test_support.h"
#include "scene/scene.h"
#include "scene/scene_prep.h"
#include "statistics.h"

namespace {

enum Mode : uint32_t {
    kSampler = 0,
    kCdfRandom = 1,
    kCdfProbability = 2,
    kCdfGiven = 3,
    kTriangle = 4,
    kMis = 5,
};

struct SamplingPush {
    uint32_t mode = 0;
    uint32_t first = 0;
    uint32_t count = 0;
    uint32_t pixel_x = 0;
    uint32_t pixel_y = 0;
    uint32_t pair = 0;
    uint32_t table_first = 0;
    uint32_t table_count = 0;
    uint32_t seed = 0;
};

constexpr double kTwoTo32 = 4294967296.0;
constexpr double kAlpha = 0.01;

class SamplingTest : public GpuTest {
protected:
    // Runs the sampling program; `table` goes to binding 0, and the output
    // buffer (binding 1) starts as `initial` (or zeros) and has `outWords`.
    std::vector<uint32_t> run(SamplingPush push, const std::vector<uint32_t>& table,
                              size_t outWords, const std::vector<uint32_t>& initial = {}) {
        const auto tableBuf = upload(table);
        GpuBuffer out(gpu(), outWords * 4);
        if (!initial.empty()) out.write(initial);
        gpu().dispatch(program("sampling_test.comp", 2), {tableBuf.get(), &out},
                       groups_for(push.count), &push, sizeof(push));
        return out.read<uint32_t>();
    }

    std::vector<std::array<double, 2>> sampler_points(uint32_t px, uint32_t py, uint32_t pair,
                                                      uint32_t first, uint32_t count) {
        SamplingPush push;
        push.mode = kSampler;
        push.first = first;
        push.count = count;
        push.pixel_x = px;
        push.pixel_y = py;
        push.pair = pair;
        const std::vector<uint32_t> words = run(push, {0}, 2 * count);
        std::vector<std::array<double, 2>> pts(count);
        for (uint32_t i = 0; i < count; ++i)
            pts[i] = {words[2 * i] / kTwoTo32, words[2 * i + 1] / kTwoTo32};
        return pts;
    }

    // Draws `draws` entries of table[first, first + count) on the GPU and
    // tests the frequencies against `weights` (any scale).
    void expect_frequencies_match(const std::vector<uint32_t>& table, uint32_t first,
                                  uint32_t count, const std::vector<double>& weights,
                                  uint32_t draws, uint32_t seed) {
        SamplingPush push;
        push.mode = kCdfRandom;
        push.count = draws;
        push.table_first = first;
        push.table_count = count;
        push.seed = seed;
        const std::vector<uint32_t> picks = run(push, table, draws);
        std::vector<double> observed(count, 0.0);
        for (uint32_t p : picks) {
            ASSERT_LT(p, count);
            observed[p] += 1.0;
        }
        double total = 0.0;
        for (double w : weights) total += w;
        std::vector<double> expected(count);
        for (uint32_t i = 0; i < count; ++i) {
            expected[i] = weights[i] / total * draws;
            if (weights[i] == 0.0) {
                EXPECT_EQ(observed[i], 0.0) << "entry " << i << " has no weight";
            }
        }
        const ChiSquareResult r = chi_square_test(observed, expected);
        EXPECT_GT(r.p_value, kAlpha) << r.describe();
    }
};

// Unit square triangle mesh with triangles of areas 1 : 2 : 0 : 4 (one
// degenerate), emissive, and a second emissive single-triangle instance.
Scene light_scene() {
    Scene scene;
    Material lamp;
    lamp.emission[0] = lamp.emission[1] = lamp.emission[2] = 2.0f;
    Material red = lamp;
    red.emission[1] = red.emission[2] = 0.0f;
    Material dark;
    scene.materials = {lamp, red, dark};
    MeshData strip;
    strip.positions = {0, 0, 0, 1, 0, 0, 0, 2, 0,   // area 1
                       0, 0, 1, 2, 0, 1, 0, 2, 1,   // area 2
                       0, 0, 2, 1, 0, 2, 2, 0, 2,   // degenerate
                       0, 0, 3, 4, 0, 3, 0, 2, 3};  // area 4
    strip.indices = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    scene.meshes.push_back(strip);
    Instance a;
    a.mesh = 0;
    a.material = 0;
    Instance b = a;
    b.material = 1;
    b.transform[0] = 3.0f;  // three times the area
    Instance c = a;
    c.material = 2;
    scene.instances = {a, c, b};
    return scene;
}

TEST_F(SamplingTest, SamplerFirst1024PointsHaveLowerDiscrepancyThanIndependentRandom) {
    constexpr uint32_t kPoints = 1024;
    const uint32_t pixels[4][2] = {{0, 0}, {17, 3}, {511, 200}, {1000, 1000}};
    double sampler = 0.0;
    int sets = 0;
    for (const auto& px : pixels) {
        for (uint32_t pair = 0; pair < 3; ++pair) {
            sampler += l2_star_discrepancy(sampler_points(px[0], px[1], pair, 0, kPoints));
            ++sets;
        }
    }
    sampler /= sets;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    double random = 0.0;
    for (int s = 0; s < sets; ++s) {
        std::vector<std::array<double, 2>> pts(kPoints);
        for (auto& p : pts) p = {uni(rng), uni(rng)};
        random += l2_star_discrepancy(pts);
    }
    random /= sets;
    RecordProperty("sampler_l2_star", std::to_string(sampler));
    RecordProperty("random_l2_star", std::to_string(random));
    std::printf("L2-star discrepancy of 1024 points: sampler %.3g, independent random %.3g\n",
                sampler, random);
    EXPECT_LT(sampler, 0.25 * random);
}

// Every aligned block of 2^k samples of one pixel and pair is a (0, k, 2)
// net: each elementary interval of area 2^-k holds exactly one point.
TEST_F(SamplingTest, SamplerPowerOfTwoBlocksAreStratified) {
    constexpr uint32_t kLog2 = 6;
    constexpr uint32_t kBlock = 1u << kLog2;
    const auto pts = sampler_points(7, 9, 1, 0, 4 * kBlock);
    for (uint32_t block = 0; block < 4; ++block) {
        for (uint32_t xBits = 0; xBits <= kLog2; ++xBits) {
            const uint32_t nx = 1u << xBits, ny = kBlock / nx;
            std::vector<int> cells(kBlock, 0);
            for (uint32_t i = 0; i < kBlock; ++i) {
                const auto& p = pts[block * kBlock + i];
                const uint32_t cx = static_cast<uint32_t>(p[0] * nx);
                const uint32_t cy = static_cast<uint32_t>(p[1] * ny);
                ++cells[cy * nx + cx];
            }
            for (int c : cells) ASSERT_EQ(c, 1) << "block " << block << ", " << nx << "x" << ny;
        }
    }
}

TEST_F(SamplingTest, TwoBatchesOfEightEqualOneOfSixteen) {
    for (uint32_t pair = 0; pair < 4; ++pair) {
        const auto whole = sampler_points(5, 6, pair, 0, 16);
        const auto first = sampler_points(5, 6, pair, 0, 8);
        const auto second = sampler_points(5, 6, pair, 8, 8);
        for (uint32_t i = 0; i < 8; ++i) {
            EXPECT_EQ(whole[i], first[i]);
            EXPECT_EQ(whole[8 + i], second[i]);
        }
    }
}

TEST_F(SamplingTest, PixelsAndDimensionPairsAreDecorrelated) {
    const auto a = sampler_points(1, 1, 0, 0, 256);
    const auto b = sampler_points(2, 1, 0, 0, 256);
    const auto c = sampler_points(1, 1, 1, 0, 256);
    // Correlation of the first coordinate between pixels and between pairs.
    auto correlation = [](const auto& p, const auto& q) {
        double mp = 0, mq = 0;
        for (size_t i = 0; i < p.size(); ++i) mp += p[i][0], mq += q[i][0];
        mp /= p.size();
        mq /= q.size();
        double cov = 0, vp = 0, vq = 0;
        for (size_t i = 0; i < p.size(); ++i) {
            cov += (p[i][0] - mp) * (q[i][0] - mq);
            vp += (p[i][0] - mp) * (p[i][0] - mp);
            vq += (q[i][0] - mq) * (q[i][0] - mq);
        }
        return cov / std::sqrt(vp * vq);
    };
    // 256 independent pairs give |r| above 0.25 with probability < 1e-4.
    EXPECT_LT(std::fabs(correlation(a, b)), 0.25);
    EXPECT_LT(std::fabs(correlation(a, c)), 0.25);
    EXPECT_NE(a[0], b[0]);
}

TEST_F(SamplingTest, LightCdfFrequenciesMatchHostWeights) {
    Scene scene = light_scene();
    TextureData env;
    env.width = 4;
    env.height = 2;
    env.channels = 3;
    env.is_float = true;
    env.pixelsf.assign(4 * 2 * 3, 0.5f);
    scene.textures.push_back(env);
    scene.envmap_texture = 0;
    build_scene_buffer(scene, 64, 64, 1.0f);
    ASSERT_EQ(scene.light_cdf.size(), 3u);  // two instances and the environment
    const std::vector<double> weights(scene.light_pdf.begin(), scene.light_pdf.end());
    expect_frequencies_match(scene.light_cdf, 0, 3, weights, 1u << 18, 1);

    SamplingPush push;
    push.mode = kCdfProbability;
    push.count = 3;
    push.table_count = 3;
    const std::vector<uint32_t> probs = run(push, scene.light_cdf, 3);
    for (uint32_t i = 0; i < 3; ++i) {
        float p;
        std::memcpy(&p, &probs[i], 4);
        EXPECT_NEAR(p, scene.light_pdf[i], 1e-6) << "light " << i;
    }
}

TEST_F(SamplingTest, TriangleCdfFrequenciesMatchAreasAndSkipDegenerateTriangles) {
    Scene scene = light_scene();
    build_scene_buffer(scene, 64, 64, 1.0f);
    ASSERT_EQ(scene.emissive_instances.size(), 2u);
    ASSERT_EQ(scene.emissive_tri_cdf.size(), 8u);
    // The second emissive instance's table starts after the first's four.
    expect_frequencies_match(scene.emissive_tri_cdf, 4, 4, {3.0, 6.0, 0.0, 12.0}, 1u << 17, 7);
    expect_frequencies_match(scene.emissive_tri_cdf, 0, 4, {1.0, 2.0, 0.0, 4.0}, 1u << 17, 8);
}

TEST_F(SamplingTest, CdfSearchPicksFirstEntryNotBelowTheDrawnNumber) {
    const std::vector<uint32_t> table = {0u, 100u, 100u, 4000000000u, 0xFFFFFFFFu};
    const std::vector<uint32_t> xi = {0u,   1u,          100u,        101u,
                                      4000000000u, 4000000001u, 0xFFFFFFFFu};
    const std::vector<uint32_t> want = {0u, 1u, 1u, 3u, 3u, 4u, 4u};
    SamplingPush push;
    push.mode = kCdfGiven;
    push.count = static_cast<uint32_t>(xi.size());
    push.table_count = static_cast<uint32_t>(table.size());
    EXPECT_EQ(run(push, table, xi.size(), xi), want);

    // Probabilities: entry 0 owns only xi = 0, entry 2 nothing.
    push.mode = kCdfProbability;
    push.count = static_cast<uint32_t>(table.size());
    const std::vector<uint32_t> words = run(push, table, table.size());
    std::vector<double> p(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        float f;
        std::memcpy(&f, &words[i], 4);
        p[i] = f;
    }
    EXPECT_DOUBLE_EQ(p[0], 1.0 / kTwoTo32);
    EXPECT_NEAR(p[1], 100.0 / kTwoTo32, 1e-12);
    EXPECT_EQ(p[2], 0.0);
    EXPECT_NEAR(p[0] + p[1] + p[2] + p[3] + p[4], 1.0, 1e-6);
}

TEST_F(SamplingTest, TriangleSamplingIsUniformOverArea) {
    constexpr uint32_t kDraws = 1u << 16;
    constexpr int kGrid = 8;  // 64 equal-area sub-triangles
    SamplingPush push;
    push.mode = kTriangle;
    push.count = kDraws;
    push.seed = 3;
    const std::vector<uint32_t> words = run(push, {0}, 3 * kDraws);
    // Cell (cx, cy) of the grid over (b1, b2) holds a lower sub-triangle when
    // cx + cy < kGrid and an upper one when cx + cy < kGrid - 1.
    auto cell_of = [](int cx, int cy, bool upper) { return 2 * (cy * kGrid + cx) + (upper ? 1 : 0); };
    std::vector<double> observed(2 * kGrid * kGrid, 0.0);
    std::vector<double> expected(2 * kGrid * kGrid, 0.0);
    for (int cy = 0; cy < kGrid; ++cy) {
        for (int cx = 0; cx + cy < kGrid; ++cx) {
            expected[cell_of(cx, cy, false)] = static_cast<double>(kDraws) / (kGrid * kGrid);
            if (cx + cy < kGrid - 1)
                expected[cell_of(cx, cy, true)] = static_cast<double>(kDraws) / (kGrid * kGrid);
        }
    }
    for (uint32_t i = 0; i < kDraws; ++i) {
        float b[3];
        std::memcpy(b, &words[3 * i], 12);
        ASSERT_GE(b[0], 0.0f);
        ASSERT_GE(b[1], 0.0f);
        ASSERT_GE(b[2], -1e-6f);
        ASSERT_NEAR(b[0] + b[1] + b[2], 1.0f, 1e-6f);
        const double x = b[1] * kGrid, y = std::max(b[2], 0.0f) * kGrid;
        const int cx = std::min(static_cast<int>(x), kGrid - 1);
        const int cy = std::min(static_cast<int>(y), kGrid - 1 - cx);
        const bool upper = (x - cx) + (y - cy) > 1.0 && cx + cy < kGrid - 1;
        observed[cell_of(cx, cy, upper)] += 1.0;
    }
    const ChiSquareResult r = chi_square_test(observed, expected);
    EXPECT_GT(r.p_value, kAlpha) << r.describe();
}

TEST_F(SamplingTest, PowerHeuristicWeightsSumToOneWithoutOverflow) {
    const float densities[][2] = {{1.0f, 1.0f},  {2.0f, 0.5f},   {1e30f, 3.0f},
                                  {1e-30f, 1e-30f}, {0.0f, 4.0f}, {3e38f, 3e38f}};
    std::vector<uint32_t> table;
    for (const auto& d : densities) {
        uint32_t w[2];
        std::memcpy(w, d, 8);
        table.insert(table.end(), {w[0], w[1]});
    }
    SamplingPush push;
    push.mode = kMis;
    push.count = static_cast<uint32_t>(std::size(densities));
    const std::vector<uint32_t> words = run(push, table, 2 * push.count);
    for (uint32_t i = 0; i < push.count; ++i) {
        float w[2];
        std::memcpy(w, &words[2 * i], 8);
        EXPECT_TRUE(std::isfinite(w[0]) && std::isfinite(w[1])) << "case " << i;
        EXPECT_NEAR(w[0] + w[1], 1.0f, 1e-6f) << "case " << i;
        const double f = densities[i][0], g = densities[i][1];
        if (f > 0 && f < 1e18 && g < 1e18) {
            EXPECT_NEAR(w[0], f * f / (f * f + g * g), 1e-6);
        }
    }
}

}  // namespace
