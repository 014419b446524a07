// Environment map sampling tables: edge cases, caching, short or narrow
// data arrays and independence from the number of worker threads.
#include "scene_test_util.h"

namespace {

constexpr uint32_t kLast = 0xFFFFFFFFu;
constexpr double kPi = 3.141592653589793;

// Texel weight as documented: floored, intensity-scaled luminance times the
// sine of the row's polar angle.
double texel_weight(double r, double g, double b, int y, int h, double intensity = 1.0) {
    const double v = intensity * (0.2126 * r + 0.7152 * g + 0.0722 * b);
    return std::max(v, 1e-8) * std::sin((y + 0.5) * kPi / h);
}

Scene float_env_scene(int w, int h, std::vector<float> rgb, int channels = 3) {
    Scene scene;
    TextureData t;
    t.width = w;
    t.height = h;
    t.channels = channels;
    t.is_float = true;
    t.pixelsf = std::move(rgb);
    scene.textures.push_back(std::move(t));
    scene.envmap_texture = 0;
    return scene;
}

std::string build_tables(Scene& scene, unsigned workers) {
    testing::internal::CaptureStdout();
    build_envmap_cdf_with_workers(scene, workers);
    return testing::internal::GetCapturedStdout();
}

// Checks every conditional entry and row weight bit for bit against the
// documented computation, with `lum(x, y)` the texel's luminance.
template <class Lum>
void expect_exact_tables(const Scene& scene, int w, int h, Lum lum, double intensity = 1.0) {
    ASSERT_EQ(scene.env_conditional_cdf.size(), static_cast<size_t>(w) * h);
    ASSERT_EQ(scene.env_row_weights.size(), static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
        const double sin_theta = std::sin((y + 0.5) * kPi / h);
        std::vector<double> weights(w);
        double row = 0.0;
        for (int x = 0; x < w; ++x) {
            weights[x] = std::max(intensity * lum(x, y), 1e-8) * sin_theta;
            row += weights[x];
        }
        double running = 0.0;
        for (int x = 0; x + 1 < w; ++x) {
            running += weights[x];
            EXPECT_EQ(scene.env_conditional_cdf[y * w + x], quantize_cdf(running / (row > 0.0 ? row : 1.0)))
                << "texel " << x << ", row " << y;
        }
        EXPECT_EQ(scene.env_conditional_cdf[y * w + w - 1], kLast);
        EXPECT_EQ(scene.env_row_weights[y], static_cast<float>(row)) << "row " << y;
    }
}

TEST(EnvmapTables, OneByOneMap) {
    Scene scene = float_env_scene(1, 1, {0.5f, 1.0f, 2.0f});
    build_tables(scene, 2);
    EXPECT_EQ(scene.env_conditional_cdf, std::vector<uint32_t>{kLast});
    EXPECT_EQ(scene.env_marginal_cdf, std::vector<uint32_t>{kLast});
    ASSERT_EQ(scene.env_row_weights.size(), 1u);
    EXPECT_EQ(scene.env_row_weights[0], scene.env_total_weight);
    const double expected = texel_weight(0.5, 1.0, 2.0, 0, 1);
    EXPECT_FLOAT_EQ(scene.env_total_weight, static_cast<float>(expected));
    EXPECT_EQ(scene.env_cdf_width, 1);
    EXPECT_EQ(scene.env_cdf_height, 1);
}

TEST(EnvmapTables, BlackMapKeepsFlooredWeightsAndStaysEnabled) {
    Scene scene = float_env_scene(4, 2, std::vector<float>(4 * 2 * 3, 0.0f));
    build_tables(scene, 2);
    EXPECT_EQ(scene.envmap_texture, 0);
    const double row = 4 * 1e-8 * std::sin(0.25 * kPi);
    EXPECT_FLOAT_EQ(scene.env_total_weight, static_cast<float>(2 * row));
    ASSERT_EQ(scene.env_conditional_cdf.size(), 8u);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_NEAR(static_cast<double>(scene.env_conditional_cdf[4 * y + x]), (x + 1) / 4.0 * 4294967295.0,
                        2.0);
        }
        EXPECT_EQ(scene.env_conditional_cdf[4 * y + 3], kLast);
    }
    EXPECT_NEAR(static_cast<double>(scene.env_marginal_cdf[0]), 0.5 * 4294967295.0, 2.0);
}

TEST(EnvmapTables, RowsBeyondShortDataHaveZeroWeight) {
    // A 3 x 3 map whose data covers two rows and one component of the third.
    std::vector<float> rgb(3 * 3 * 2 + 1, 1.0f);
    Scene scene = float_env_scene(3, 3, rgb);
    build_tables(scene, 3);
    ASSERT_EQ(scene.env_conditional_cdf.size(), 9u);
    EXPECT_EQ(scene.env_conditional_cdf[6], 0u);
    EXPECT_EQ(scene.env_conditional_cdf[7], 0u);
    EXPECT_EQ(scene.env_conditional_cdf[8], kLast);
    EXPECT_EQ(scene.env_row_weights[2], 0.0f);
    EXPECT_EQ(scene.env_marginal_cdf[1], kLast);  // all the mass is in rows 0 and 1
    EXPECT_EQ(scene.env_marginal_cdf[2], kLast);

    // One missing component makes the last texel unreadable, not the row.
    rgb.assign(3 * 3 * 3 - 1, 1.0f);
    Scene partial = float_env_scene(3, 3, rgb);
    build_tables(partial, 1);
    const double w = texel_weight(1, 1, 1, 2, 3);
    EXPECT_FLOAT_EQ(partial.env_row_weights[2], static_cast<float>(2 * w));
    EXPECT_NEAR(static_cast<double>(partial.env_conditional_cdf[7]), 4294967295.0, 1.0);
}

TEST(EnvmapTables, MapWithoutReadableTexelIsSwitchedOffKeepingOldTables) {
    Scene scene = float_env_scene(2, 2, std::vector<float>(12, 1.0f));
    build_tables(scene, 2);
    const std::vector<uint32_t> conditional = scene.env_conditional_cdf;
    const std::vector<uint32_t> marginal = scene.env_marginal_cdf;
    const float total = scene.env_total_weight;

    TextureData empty;
    empty.width = 3;
    empty.height = 3;
    empty.channels = 3;
    empty.is_float = true;
    empty.pixelsf = {1.0f, 1.0f};  // not even one full texel
    scene.textures.push_back(empty);
    scene.envmap_texture = 1;
    const std::string out = build_tables(scene, 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(scene.envmap_texture, -1);
    EXPECT_EQ(scene.env_conditional_cdf, conditional);
    EXPECT_EQ(scene.env_marginal_cdf, marginal);
    EXPECT_EQ(scene.env_total_weight, total);
}

TEST(EnvmapTables, PreparationTwiceBuildsOnceUntilTheSizeChanges) {
    Scene scene = float_env_scene(2, 2, std::vector<float>(12, 1.0f));
    std::string out = scene_test::prepare(scene);
    scene.envmap_intensity = 5.0f;  // not a cache key
    out += scene_test::prepare(scene);
    EXPECT_EQ(scene_test::count_occurrences(out, "  Envmap CDF: 2x2, total_weight="), 1u);

    scene.textures.push_back(scene.textures[0]);
    scene.textures[1].width = 4;
    scene.textures[1].height = 1;
    scene.envmap_texture = 1;
    out = scene_test::prepare(scene);
    EXPECT_EQ(scene_test::count_occurrences(out, "  Envmap CDF: 4x1, total_weight="), 1u);
    EXPECT_EQ(scene.env_conditional_cdf.size(), 4u);
    EXPECT_EQ(scene.env_marginal_cdf.size(), 1u);
}

TEST(EnvmapTables, RestoredTablesWithoutTexturesStayAndStillLight) {
    Scene scene;
    scene.envmap_texture = 0;  // restored from a cache: tables, no textures
    scene.env_cdf_width = 1;
    scene.env_cdf_height = 1;
    scene.env_conditional_cdf = {kLast};
    scene.env_marginal_cdf = {kLast};
    scene.env_row_weights = {3.0f};
    scene.env_total_weight = 3.0f;
    const std::string out = scene_test::prepare(scene);
    EXPECT_EQ(out.find("Envmap"), std::string::npos);
    EXPECT_EQ(scene.env_total_weight, 3.0f);
    // The environment alone is the one light, chosen every time.
    EXPECT_EQ(scene.light_pdf, std::vector<float>{1.0f});
    EXPECT_EQ(scene.light_cdf, std::vector<uint32_t>{kLast});
    EXPECT_EQ(scene.scene_params[22], 1.0f);
    EXPECT_EQ(scene.scene_params[23], 1.0f);
    EXPECT_EQ(scene.scene_params[24], 1.0f);
}

TEST(EnvmapTables, FewerThanThreeChannelsUseRedForAllAndReadToTheLastComponent) {
    // One channel: exactly width x height floats; every texel is readable.
    Scene mono = float_env_scene(2, 1, {1.0f, 3.0f}, 1);
    build_tables(mono, 1);
    const double w0 = texel_weight(1, 1, 1, 0, 1), w1 = texel_weight(3, 3, 3, 0, 1);
    EXPECT_NEAR(static_cast<double>(mono.env_conditional_cdf[0]), w0 / (w0 + w1) * 4294967295.0, 2.0);
    EXPECT_FLOAT_EQ(mono.env_total_weight, static_cast<float>(w0 + w1));

    // Two channels, 8-bit: the second channel is ignored.
    Scene pair;
    TextureData t;
    t.width = 2;
    t.height = 1;
    t.channels = 2;
    t.pixels8 = {255, 0, 0, 255};
    pair.textures.push_back(t);
    pair.envmap_texture = 0;
    build_tables(pair, 1);
    // Texel 1 is black and keeps only the floor weight.
    EXPECT_NEAR(static_cast<double>(pair.env_conditional_cdf[0]), 4294967295.0 / (1.0 + 1e-8), 2.0);
    EXPECT_NEAR(pair.env_total_weight, 1.0 + 1e-8, 1e-6);

    Scene no_channels = float_env_scene(1, 1, {1.0f, 1.0f, 1.0f}, 0);
    build_tables(no_channels, 1);
    EXPECT_EQ(no_channels.envmap_texture, -1);
}

double decode_srgb(uint8_t code) {
    const double c = code / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

TEST(EnvmapTables, EightBitTablesMatchPerChannelDecodingBitForBit) {
    constexpr int kW = 21, kH = 6;
    std::mt19937 rng(5);
    for (int channels : {1, 3, 4}) {
        Scene scene;
        TextureData t;
        t.width = kW;
        t.height = kH;
        t.channels = channels;
        for (int i = 0; i < kW * kH * channels; ++i) t.pixels8.push_back(static_cast<uint8_t>(rng()));
        scene.textures.push_back(t);
        scene.envmap_texture = 0;
        scene.envmap_intensity = 1.7f;
        build_tables(scene, 2);
        SCOPED_TRACE(channels);
        expect_exact_tables(
            scene, kW, kH,
            [&](int x, int y) {
                const uint8_t* p = &t.pixels8[(y * kW + x) * channels];
                const double r = decode_srgb(p[0]);
                const double g = channels >= 3 ? decode_srgb(p[1]) : r;
                const double b = channels >= 3 ? decode_srgb(p[2]) : r;
                return 0.2126 * r + 0.7152 * g + 0.0722 * b;
            },
            static_cast<double>(1.7f));
    }
}

TEST(EnvmapTables, NanTexelGetsTheFloorInsteadOfDisablingTheMap) {
    Scene scene = float_env_scene(2, 1, {NAN, NAN, NAN, 1.0f, 1.0f, 1.0f});
    build_tables(scene, 1);
    EXPECT_EQ(scene.envmap_texture, 0);
    EXPECT_TRUE(std::isfinite(scene.env_total_weight));
    EXPECT_NEAR(static_cast<double>(scene.env_conditional_cdf[0]), 1e-8 / (1.0 + 1e-8) * 4294967295.0, 1.0);
}

TEST(EnvmapTables, SameTablesForAnyNumberOfWorkers) {
    constexpr int kW = 37, kH = 23;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(0.0f, 4.0f);
    std::vector<float> rgb(kW * kH * 3);
    for (float& v : rgb) v = dist(rng);
    for (int x = 0; x < kW * 3; ++x) rgb[5 * kW * 3 + x] = 0.0f;  // one black row

    // Row sums as documented, for the exact totals below.
    std::vector<double> row_sums(kH, 0.0);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const float* p = &rgb[(y * kW + x) * 3];
            row_sums[y] += texel_weight(p[0], p[1], p[2], y, kH);
        }
    }

    Scene reference = float_env_scene(kW, kH, rgb);
    build_tables(reference, 1);
    for (unsigned workers : {1u, 2u, 7u, 64u}) {
        // The total adds per-worker block sums (ceil(h / T) rows each) in
        // worker order; the marginal CDF divides the row-order running sum
        // by that total.
        const int rows = (kH + static_cast<int>(workers) - 1) / static_cast<int>(workers);
        double total = 0.0;
        for (int begin = 0; begin < kH; begin += rows) {
            double block = 0.0;
            for (int y = begin; y < std::min(begin + rows, kH); ++y) block += row_sums[y];
            total += block;
        }
        Scene exact = float_env_scene(kW, kH, rgb);
        build_tables(exact, workers);
        EXPECT_EQ(exact.env_total_weight, static_cast<float>(total)) << workers << " workers";
        double running = 0.0;
        for (int y = 0; y + 1 < kH; ++y) {
            running += row_sums[y];
            EXPECT_EQ(exact.env_marginal_cdf[y], quantize_cdf(running / total)) << "row " << y << ", " << workers;
        }
        EXPECT_EQ(exact.env_marginal_cdf[kH - 1], kLast);
    }
    for (unsigned workers : {2u, 7u, 64u}) {
        Scene scene = float_env_scene(kW, kH, rgb);
        build_tables(scene, workers);
        EXPECT_EQ(scene.env_conditional_cdf, reference.env_conditional_cdf) << workers << " workers";
        EXPECT_EQ(scene.env_row_weights, reference.env_row_weights) << workers << " workers";
        EXPECT_FLOAT_EQ(scene.env_total_weight, reference.env_total_weight) << workers << " workers";
        ASSERT_EQ(scene.env_marginal_cdf.size(), reference.env_marginal_cdf.size());
        for (size_t y = 0; y < scene.env_marginal_cdf.size(); ++y) {
            EXPECT_NEAR(static_cast<double>(scene.env_marginal_cdf[y]),
                        static_cast<double>(reference.env_marginal_cdf[y]), 2.0)
                << "row " << y << ", " << workers << " workers";
        }
    }
    // The tables are right, not merely consistent.
    expect_exact_tables(reference, kW, kH, [&](int x, int y) {
        const float* p = &rgb[(y * kW + x) * 3];
        return 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
    });
}

TEST(EnvmapTables, ProductionPathUsesHardwareThreads) {
    Scene scene = float_env_scene(3, 5, std::vector<float>(45, 1.0f));
    Scene single = scene;
    testing::internal::CaptureStdout();
    build_envmap_cdf(scene);
    const std::string out = testing::internal::GetCapturedStdout();
    build_tables(single, 1);
    EXPECT_EQ(out.rfind("  Envmap CDF: 3x5, total_weight=", 0), 0u);
    EXPECT_EQ(scene.env_conditional_cdf, single.env_conditional_cdf);
}

TEST(QuantizeCdf, RoundsAndClamps) {
    EXPECT_EQ(quantize_cdf(0.0), 0u);
    EXPECT_EQ(quantize_cdf(1.0), kLast);
    EXPECT_EQ(quantize_cdf(0.5), 2147483648u);  // 2147483647.5 + 0.5
    EXPECT_EQ(quantize_cdf(1.0 / 4294967295.0 * 0.49), 0u);
    EXPECT_EQ(quantize_cdf(1.0 + 1e-12), kLast);
    EXPECT_EQ(quantize_cdf(-0.25), 0u);
    EXPECT_EQ(quantize_cdf(NAN), 0u);
}

}  // namespace
