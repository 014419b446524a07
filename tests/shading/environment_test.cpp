// Environment sampling on the GPU against the map's own weights, computed
// on the host from the texels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "gpu/gpu_records.h"
#include "gpu_test_support.h"
#include "scene/scene.h"
#include "scene/scene_prep.h"
#include "statistics.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kW = 8;
constexpr int kH = 4;
constexpr uint32_t kSamples = 1u << 18;
// Texels with at least this many samples have relative errors of about 2 %
// in their frequency and mean 1 / pdf, so 8 % is beyond four deviations.
constexpr double kMinTexelSamples = 4000;

struct EnvResult {
    float dir[3];
    float pdf;
    float radiance[3];
    float valid;
    float pdf_at_dir;
    float radiance_at_dir[3];
};
static_assert(sizeof(EnvResult) == 48);

class EnvironmentTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        TextureData map;
        map.width = kW;
        map.height = kH;
        map.channels = 3;
        map.is_float = true;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const float v = 0.1f + 0.3f * x + 0.7f * y;
                map.pixelsf.insert(map.pixelsf.end(), {v, 0.5f * v, 2.0f * v});
            }
        map.pixelsf[3 * (1 * kW + 5) + 1] = 40.0f;  // one bright texel
        scene_.textures.push_back(map);
        scene_.envmap_texture = 0;
        scene_.envmap_intensity = 1.5f;
        scene_.envmap_rotation[0] = 30.0f;
        scene_.envmap_rotation[1] = -45.0f;
        scene_.envmap_rotation[2] = 60.0f;
        build_scene_buffer(scene_, 8, 8, 1.0f);
    }

    std::vector<EnvResult> run(const std::vector<uint32_t>& block) {
        const Atlas atlas = upload_atlas(scene_);
        const auto env = upload(block);
        GpuBuffer out(gpu(), kSamples * sizeof(EnvResult));
        const uint32_t push[2] = {kSamples, 11};
        gpu().dispatch(program("env_test.comp", 5), {atlas.data.get(), atlas.entries.get(), atlas.srgb.get(), env.get(), &out},
                       groups_for(kSamples), push, sizeof(push));
        std::vector<EnvResult> r(kSamples);
        const std::vector<float> v = out.read<float>();
        std::memcpy(r.data(), v.data(), kSamples * sizeof(EnvResult));
        return r;
    }

    // Texel of a world direction, through the inverse rotation.
    std::pair<int, int> texel_of(const float d[3]) const {
        float rot[9];
        euler_to_rotation_ext(scene_.envmap_rotation, rot);
        double m[3];
        for (int c = 0; c < 3; ++c) m[c] = rot[c] * d[0] + rot[3 + c] * d[1] + rot[6 + c] * d[2];
        const double theta = std::acos(std::clamp(m[1], -1.0, 1.0));
        double phi = std::atan2(m[2], m[0]);
        if (phi < 0) phi += 2 * kPi;
        const int x = std::min(static_cast<int>(phi / (2 * kPi) * kW), kW - 1);
        const int y = std::min(static_cast<int>(theta / kPi * kH), kH - 1);
        return {x, y};
    }

    // Weight of texel (x, y) as the map defines it (luminance times the
    // intensity, floored, times the sine of the row centre).
    double weight(int x, int y) const {
        const float* p = &scene_.textures[0].pixelsf[3 * (y * kW + x)];
        const double lum = 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
        return std::max(scene_.envmap_intensity * lum, 1e-8) * std::sin((y + 0.5) * kPi / kH);
    }

    Scene scene_;
};

// One set of samples: texel frequencies against the map's weights, and
// pdf and radiance against the samples, their lookups and the frequencies.
TEST_F(EnvironmentTest, SamplesMatchMapWeightsPdfAndRadiance) {
    const auto r = run(build_env_block(scene_));
    std::vector<double> observed(kW * kH, 0.0), expected(kW * kH);
    double total = 0.0;
    for (int i = 0; i < kW * kH; ++i) total += weight(i % kW, i / kW);
    for (int i = 0; i < kW * kH; ++i) expected[i] = weight(i % kW, i / kW) / total * kSamples;
    for (const EnvResult& e : r) {
        ASSERT_EQ(e.valid, 1.0f);
        const auto [x, y] = texel_of(e.dir);
        observed[y * kW + x] += 1.0;
    }
    const ChiSquareResult c = chi_square_test(observed, expected);
    EXPECT_GT(c.p_value, 0.01) << c.describe();

    // Integral of the radiance over the sphere, exactly, from the texels.
    double exact = 0.0;
    for (int y = 0; y < kH; ++y) {
        const double band = std::cos(y * kPi / kH) - std::cos((y + 1) * kPi / kH);
        for (int x = 0; x < kW; ++x)
            exact += scene_.envmap_intensity * scene_.textures[0].pixelsf[3 * (y * kW + x) + 1] *
                     band * 2 * kPi / kW;
    }
    double estimate = 0.0;
    std::vector<double> count(kW * kH, 0.0), inv_pdf_sum(kW * kH, 0.0);
    // A direction that lands on a texel border in single precision may be
    // given to the neighbour when looked up again; that must stay rare.
    int disagreements = 0;
    for (const EnvResult& e : r) {
        ASSERT_GT(e.pdf, 0.0f);
        if (std::fabs(e.pdf_at_dir / e.pdf - 1.0) > 1e-3 || e.radiance_at_dir[1] != e.radiance[1])
            ++disagreements;
        estimate += e.radiance[1] / e.pdf;
        const auto [x, y] = texel_of(e.dir);
        count[y * kW + x] += 1.0;
        inv_pdf_sum[y * kW + x] += 1.0 / e.pdf;
    }
    estimate /= kSamples;
    EXPECT_LT(disagreements, static_cast<int>(kSamples / 10000)) << "pdf or radiance lookups";
    EXPECT_NEAR(estimate / exact, 1.0, 0.01) << "importance-sampled radiance integral";
    // Per texel, the mean of 1 / pdf over its samples is its solid angle
    // divided by the probability of drawing it, which the frequency
    // estimates.
    for (int y = 0; y < kH; ++y) {
        const double band = std::cos(y * kPi / kH) - std::cos((y + 1) * kPi / kH);
        for (int x = 0; x < kW; ++x) {
            const int i = y * kW + x;
            if (count[i] < kMinTexelSamples) continue;
            const double freq = count[i] / kSamples;
            const double mean_inv_pdf = inv_pdf_sum[i] / count[i];
            const double solid_angle = band * 2 * kPi / kW;
            EXPECT_NEAR(mean_inv_pdf * freq / solid_angle, 1.0, 0.08) << "texel " << x << "," << y;
        }
    }
}

TEST_F(EnvironmentTest, InactiveOrTruncatedBlockNeverSamples) {
    std::vector<uint32_t> truncated = build_env_block(scene_);
    truncated.resize(truncated.size() - 1);
    for (const auto& block : {std::vector<uint32_t>(16, 0), truncated}) {
        const auto r = run(block);
        for (size_t i = 0; i < 256; ++i) {
            EXPECT_EQ(r[i].valid, 0.0f);
            EXPECT_EQ(r[i].pdf, 0.0f);
            EXPECT_EQ(r[i].pdf_at_dir, 0.0f);
            EXPECT_EQ(r[i].radiance_at_dir[0], 0.0f);
        }
    }
}

}  // namespace
