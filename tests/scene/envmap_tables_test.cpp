// Environment map sampling tables: every table checked against the
// documented computation for maps of every kind (short data, NaN, fewer
// channels, 8-bit), caching, and independence from the number of workers.
#include "scene_test_util.h"

namespace {

constexpr uint32_t kLast = 0xFFFFFFFFu;
constexpr double kPi = 3.141592653589793;

double decode_srgb(uint8_t code) {
    const double c = code / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

TextureData env_texture(int w, int h, int channels, std::vector<float> rgb) {
    TextureData t;
    t.width = w;
    t.height = h;
    t.channels = channels;
    t.is_float = true;
    t.pixelsf = std::move(rgb);
    return t;
}

Scene env_scene(TextureData t, float intensity = 1.0f) {
    Scene scene;
    scene.textures.push_back(std::move(t));
    scene.envmap_texture = 0;
    scene.envmap_intensity = intensity;
    return scene;
}

std::string build_tables(Scene& scene, unsigned workers) {
    testing::internal::CaptureStdout();
    build_envmap_cdf_with_workers(scene, workers);
    return testing::internal::GetCapturedStdout();
}

// The documented texel weights: intensity-scaled luminance (red alone below
// three channels, 8-bit codes sRGB-decoded), floored (NaN included), times
// the sine of the row's polar angle; 0 for a texel the data does not cover.
std::vector<double> reference_weights(const TextureData& t, double intensity) {
    const size_t need = t.channels >= 3 ? 3 : 1;
    const size_t stored = t.is_float ? t.pixelsf.size() : t.pixels8.size();
    std::vector<double> w(static_cast<size_t>(t.width) * t.height, 0.0);
    for (int y = 0; y < t.height; ++y) {
        for (int x = 0; x < t.width; ++x) {
            const size_t at = (static_cast<size_t>(y) * t.width + x) * t.channels;
            if (at + need > stored) continue;
            auto c = [&](size_t k) { return t.is_float ? double{t.pixelsf[at + k]} : decode_srgb(t.pixels8[at + k]); };
            const double r = c(0), g = need == 3 ? c(1) : r, b = need == 3 ? c(2) : r;
            const double v = intensity * (0.2126 * r + 0.7152 * g + 0.0722 * b);
            w[static_cast<size_t>(y) * t.width + x] = (v > 1e-8 ? v : 1e-8) * std::sin((y + 0.5) * kPi / t.height);
        }
    }
    return w;
}

// Conditional CDFs, row weights, marginal CDF and total of a one-worker
// build, bit for bit.
void expect_tables(const Scene& scene, const std::vector<double>& weights, int w, int h) {
    EXPECT_EQ(scene.envmap_texture, 0);
    EXPECT_EQ(scene.env_cdf_width, w);
    EXPECT_EQ(scene.env_cdf_height, h);
    ASSERT_EQ(scene.env_conditional_cdf.size(), static_cast<size_t>(w) * h);
    ASSERT_EQ(scene.env_row_weights.size(), static_cast<size_t>(h));
    ASSERT_EQ(scene.env_marginal_cdf.size(), static_cast<size_t>(h));
    std::vector<double> rows(h, 0.0);
    double total = 0.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) rows[y] += weights[y * w + x];
        total += rows[y];
    }
    double running_rows = 0.0;
    for (int y = 0; y < h; ++y) {
        double running = 0.0;
        for (int x = 0; x + 1 < w; ++x) {
            running += weights[y * w + x];
            EXPECT_EQ(scene.env_conditional_cdf[y * w + x], quantize_cdf(running / (rows[y] > 0.0 ? rows[y] : 1.0)))
                << "texel " << x << ", row " << y;
        }
        EXPECT_EQ(scene.env_conditional_cdf[y * w + w - 1], kLast) << "row " << y;
        EXPECT_EQ(scene.env_row_weights[y], static_cast<float>(rows[y])) << "row " << y;
        running_rows += rows[y];
        EXPECT_EQ(scene.env_marginal_cdf[y], y + 1 < h ? quantize_cdf(running_rows / total) : kLast) << "row " << y;
    }
    EXPECT_EQ(scene.env_total_weight, static_cast<float>(total));
}

TextureData random_8bit(int w, int h, int channels, std::mt19937& rng) {
    TextureData t;
    t.width = w;
    t.height = h;
    t.channels = channels;
    for (int i = 0; i < w * h * channels; ++i) t.pixels8.push_back(static_cast<uint8_t>(rng()));
    return t;
}

TEST(EnvmapTables, MapsOfEveryKindGiveTheDocumentedTables) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    TextureData two_channel_8bit;
    two_channel_8bit.width = 2;
    two_channel_8bit.height = 1;
    two_channel_8bit.channels = 2;  // the second channel is ignored
    two_channel_8bit.pixels8 = {255, 0, 0, 255};
    std::mt19937 rng(5);
    const struct {
        const char* what;
        TextureData t;
        float intensity;
    } cases[] = {
        {"one texel", env_texture(1, 1, 3, {0.5f, 1.0f, 2.0f}), 1.0f},
        {"black: floored weights, still enabled", env_texture(4, 2, 3, std::vector<float>(24, 0.0f)), 1.0f},
        {"data ends before the third row", env_texture(3, 3, 3, std::vector<float>(19, 1.0f)), 1.0f},
        {"data ends inside the second row", env_texture(4, 2, 3, std::vector<float>(15, 1.0f)), 1.0f},
        {"last texel one component short", env_texture(3, 3, 3, std::vector<float>(26, 1.0f)), 1.0f},
        {"one channel", env_texture(2, 1, 1, {1.0f, 3.0f}), 1.0f},
        {"NaN texel gets the floor", env_texture(2, 1, 3, {nan, nan, nan, 1, 1, 1}), 1.0f},
        {"two channels, 8-bit", two_channel_8bit, 1.0f},
        {"8-bit grey", random_8bit(21, 6, 1, rng), 1.7f},
        {"8-bit RGB", random_8bit(21, 6, 3, rng), 1.7f},
        {"8-bit RGBA", random_8bit(21, 6, 4, rng), 1.7f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene = env_scene(c.t, c.intensity);
        build_tables(scene, 2);
        expect_tables(scene, reference_weights(c.t, static_cast<double>(c.intensity)), c.t.width, c.t.height);
    }
}

// With no readable texel (or no channels) the map is switched off and the
// tables of the previous map are kept.
TEST(EnvmapTables, MapWithoutReadableTexelIsSwitchedOffKeepingOldTables) {
    for (const TextureData& bad : {env_texture(3, 3, 3, {1.0f, 1.0f}), env_texture(1, 1, 0, {1.0f, 1.0f, 1.0f})}) {
        Scene scene = env_scene(env_texture(2, 2, 3, std::vector<float>(12, 1.0f)));
        build_tables(scene, 2);
        const Scene before = scene;
        scene.textures.push_back(bad);
        scene.envmap_texture = 1;
        EXPECT_EQ(build_tables(scene, 2), "");
        EXPECT_EQ(scene.envmap_texture, -1);
        EXPECT_EQ(scene.env_conditional_cdf, before.env_conditional_cdf);
        EXPECT_EQ(scene.env_marginal_cdf, before.env_marginal_cdf);
        EXPECT_EQ(scene.env_total_weight, before.env_total_weight);
    }
}

TEST(EnvmapTables, PreparationTwiceBuildsOnceUntilTheSizeChanges) {
    Scene scene = env_scene(env_texture(2, 2, 3, std::vector<float>(12, 1.0f)));
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

// The total adds per-worker block sums (ceil(h / T) rows each) in worker
// order and the marginal CDF divides the row-order running sum by it; all
// else is the same for any number of workers, and the production entry
// point (hardware threads) agrees.
TEST(EnvmapTables, SameTablesForAnyNumberOfWorkers) {
    constexpr int kW = 37, kH = 23;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(0.0f, 4.0f);
    std::vector<float> rgb(kW * kH * 3);
    for (float& v : rgb) v = dist(rng);
    for (int x = 0; x < kW * 3; ++x) rgb[5 * kW * 3 + x] = 0.0f;  // one black row
    const TextureData tex = env_texture(kW, kH, 3, rgb);
    const std::vector<double> weights = reference_weights(tex, 1.0);
    std::vector<double> row_sums(kH, 0.0);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) row_sums[y] += weights[y * kW + x];

    Scene reference = env_scene(tex);
    build_tables(reference, 1);
    expect_tables(reference, weights, kW, kH);
    for (unsigned workers : {2u, 7u, 64u}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        const int rows = (kH + static_cast<int>(workers) - 1) / static_cast<int>(workers);
        double total = 0.0;
        for (int begin = 0; begin < kH; begin += rows) {
            double block = 0.0;
            for (int y = begin; y < std::min(begin + rows, kH); ++y) block += row_sums[y];
            total += block;
        }
        Scene scene = env_scene(tex);
        build_tables(scene, workers);
        EXPECT_EQ(scene.env_conditional_cdf, reference.env_conditional_cdf);
        EXPECT_EQ(scene.env_row_weights, reference.env_row_weights);
        EXPECT_EQ(scene.env_total_weight, static_cast<float>(total));
        double running = 0.0;
        for (int y = 0; y + 1 < kH; ++y) {
            running += row_sums[y];
            EXPECT_EQ(scene.env_marginal_cdf[y], quantize_cdf(running / total)) << "row " << y;
        }
        EXPECT_EQ(scene.env_marginal_cdf[kH - 1], kLast);
    }
    Scene production = env_scene(tex);
    testing::internal::CaptureStdout();
    build_envmap_cdf(production);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("  Envmap CDF: 37x23, total_weight=", 0), 0u);
    EXPECT_EQ(production.env_conditional_cdf, reference.env_conditional_cdf);
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
