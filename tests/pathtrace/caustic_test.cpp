// Light tracing for caustics: switched on it must leave scenes without
// specular vertices alone, agree with pure path tracing where it takes
// over (a glass sphere's caustic), beat it there on noise, and stay
// repeatable to the bit.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "pathtrace/path_test_support.h"
#include "shaders/gpu_layout.h"

namespace {

constexpr int kSize = 48;
constexpr int kBounces = 8;
constexpr int kLightTracing = kBounces | TRACE_PARAM_LIGHT_TRACING;

// Per-pixel mean and squared standard error of the mean from independent
// batches (channel sum, so one number per pixel).
struct BatchStats {
    std::vector<double> mean;
    std::vector<double> var_of_mean;
};

BatchStats batch_stats(const std::vector<Accumulation>& batches) {
    const Accumulation& first = batches.front();
    const size_t pixels = static_cast<size_t>(first.width) * first.height;
    const double k = static_cast<double>(batches.size());
    BatchStats s{std::vector<double>(pixels, 0.0), std::vector<double>(pixels, 0.0)};
    std::vector<double> sq(pixels, 0.0);
    for (const Accumulation& a : batches)
        for (size_t p = 0; p < pixels; ++p) {
            const Rgb m = a.mean(static_cast<int>(p % a.width), static_cast<int>(p / a.width));
            const double v = m[0] + m[1] + m[2];
            s.mean[p] += v / k;
            sq[p] += v * v / k;
        }
    for (size_t p = 0; p < pixels; ++p)
        s.var_of_mean[p] = std::max(sq[p] - s.mean[p] * s.mean[p], 0.0) * k / (k - 1.0) / k;
    return s;
}

}  // namespace

class CausticTest : public PathTest {
protected:
    // `count` independent batches of `spp` samples each, every one from
    // its own sample range starting at `first`.
    std::vector<Accumulation> batches(int count, int spp, int first, int traceParam) {
        std::vector<Accumulation> out;
        for (int b = 0; b < count; ++b) {
            batch(spp, first + b * spp, true, traceParam);
            out.push_back(accumulation());
        }
        return out;
    }
};

TEST_F(CausticTest, WithoutSpecularVerticesLightTracingChangesNothing) {
    prepare(cornell_box_scene(), 32);
    batch(16, 0, true, kBounces);
    const Accumulation off = accumulation();
    batch(16, 0, true, kLightTracing);
    const Accumulation on = accumulation();
    // Every path of the box is the eye paths' (nothing to splat) and the
    // eye paths keep all of them: the same samples give the same floats.
    EXPECT_EQ(std::memcmp(off.eye.data(), on.eye.data(), off.eye.size() * sizeof(float)), 0);
    EXPECT_EQ(on.light, off.light);
}

TEST_F(CausticTest, AgreesWithPathTracingAndIsFarLessNoisyInTheCaustic) {
    prepare(caustic_scene(), kSize);
    constexpr int kBatches = 16;
    // Pure path tracing, many samples: the reference.
    const BatchStats reference = batch_stats(batches(kBatches, 256, 1 << 20, kBounces));
    const BatchStats off = batch_stats(batches(kBatches, 16, 0, kBounces));
    const std::vector<Accumulation> on_batches = batches(kBatches, 16, 0, kLightTracing);
    const BatchStats on = batch_stats(on_batches);

    // Light tracing really contributes: the caustic is the pixels where the
    // light splats are bright.
    std::vector<double> splat(reference.mean.size(), 0.0);
    for (const Accumulation& a : on_batches)
        for (size_t p = 0; p < splat.size(); ++p) {
            const Rgb m = a.mean(static_cast<int>(p % a.width), static_cast<int>(p / a.width), true);
            splat[p] += (m[0] + m[1] + m[2]) / kBatches;
        }
    const double brightest = *std::max_element(splat.begin(), splat.end());
    ASSERT_GT(brightest, 0.0) << "no light path reached the camera";

    size_t within = 0, caustic = 0;
    double var_on = 0.0, var_off = 0.0;
    for (size_t p = 0; p < reference.mean.size(); ++p) {
        const double se = std::sqrt(reference.var_of_mean[p] + on.var_of_mean[p]);
        const double diff = std::fabs(on.mean[p] - reference.mean[p]);
        if (diff <= 3.0 * se || diff < 1e-6) ++within;
        if (splat[p] > 0.25 * brightest) {
            ++caustic;
            var_on += on.var_of_mean[p];
            var_off += off.var_of_mean[p];
        }
    }
    EXPECT_GE(static_cast<double>(within), 0.99 * reference.mean.size())
        << within << " of " << reference.mean.size() << " pixels within 3 standard errors";
    ASSERT_GT(caustic, 4u);
    // Same samples per pixel; BENCHMARKS.md has the equal-time comparison.
    EXPECT_GT(std::sqrt(var_off / var_on), 5.0) << "caustic noise not reduced enough";
}

TEST_F(CausticTest, RepeatableToTheBit) {
    prepare(caustic_scene(), kSize);
    batch(16, 0, true, kLightTracing);
    const Accumulation once = accumulation();
    batch(16, 0, true, kLightTracing);
    const Accumulation again = accumulation();
    batch(8, 0, true, kLightTracing);
    batch(8, 8, false, kLightTracing);
    const Accumulation split = accumulation();
    long long splats = 0;
    for (size_t i = 0; i < once.light.size(); i += 4) splats += once.light[i];
    EXPECT_GT(splats, 0);
    for (const Accumulation* other : {&again, &split}) {
        EXPECT_EQ(std::memcmp(once.eye.data(), other->eye.data(), once.eye.size() * sizeof(float)), 0);
        EXPECT_EQ(once.light, other->light);
    }
}
