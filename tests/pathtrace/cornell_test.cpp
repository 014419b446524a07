// The Cornell box: convergence towards a high-sample reference, exact
// repeatability, and robustness against non-finite materials and texels.
#include <cmath>
#include <limits>

#include "pathtrace/path_test_support.h"

namespace {

constexpr int kSize = 32;
constexpr int kBounces = 8;

// Root-mean-square difference of the per-pixel means (all channels).
double rms_difference(const Accumulation& a, const Accumulation& b) {
    double sum = 0.0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const Rgb p = a.mean(x, y), q = b.mean(x, y);
            for (int c = 0; c < 3; ++c) sum += (p[c] - q[c]) * (p[c] - q[c]);
        }
    return std::sqrt(sum / (3.0 * a.width * a.height));
}

}  // namespace

class CornellTest : public PathTest {};

TEST_F(CornellTest, ErrorFallsAsOneOverTheSquareRootOfTheSampleCount) {
    prepare(cornell_box_scene(), kSize);
    // The reference uses samples no estimate below uses.
    constexpr int kReferenceFirst = 1 << 16;
    batch(1024, kReferenceFirst, true, kBounces);
    const Accumulation reference = accumulation();
    std::vector<double> log_n, log_error;
    for (int spp : {4, 16, 64}) {
        batch(spp, 0, true, kBounces);
        log_n.push_back(std::log(spp));
        log_error.push_back(std::log(rms_difference(accumulation(), reference)));
    }
    // Least-squares slope of log error over log spp.
    const double n = static_cast<double>(log_n.size());
    double mx = 0, my = 0;
    for (size_t i = 0; i < log_n.size(); ++i) {
        mx += log_n[i] / n;
        my += log_error[i] / n;
    }
    double sxy = 0, sxx = 0;
    for (size_t i = 0; i < log_n.size(); ++i) {
        sxy += (log_n[i] - mx) * (log_error[i] - my);
        sxx += (log_n[i] - mx) * (log_n[i] - mx);
    }
    const double slope = sxy / sxx;
    EXPECT_LT(slope, -0.4);
    EXPECT_GT(slope, -0.8);
}

TEST_F(CornellTest, RepeatableToTheBit) {
    prepare(cornell_box_scene(), kSize);
    const Accumulation once = expect_split_repeats(kBounces);
    batch(16, 0, true, kBounces);
    EXPECT_TRUE(same_bits(once, accumulation())) << "the same batch twice differs";
    renderer->sampleRegeneration = !renderer->sampleRegeneration;
    batch(16, 0, true, kBounces);
    EXPECT_TRUE(same_bits(once, accumulation())) << "the other launch shape differs";
    // The other eye-path program: the ray-tracing pipeline, or its compute
    // form on devices that use it. Both count the same rays too (the
    // diagnostic mode benchmarks use): at least the camera ray per sample,
    // and more on average in a closed box.
    constexpr int kCountSamples = 4;
    auto ray_counts = [&] {
        renderer->renderBatch(scene_, output_, kCountSamples, kBounces, TRACE_EXTRA_RAY_COUNT, 0, true);
        return accumulation();
    };
    const Accumulation rays = ray_counts();
    renderer->computeEyePaths = !renderer->computeEyePaths;
    rebuild_programs();
    batch(16, 0, true, kBounces);
    EXPECT_TRUE(same_bits(once, accumulation())) << "the other eye-path program differs";
    EXPECT_TRUE(same_bits(rays, ray_counts())) << "the other eye-path program counts other rays";
    double total = 0.0;
    int short_pixels = 0;
    for (size_t p = 0; p < rays.eye.size(); p += 4) {
        total += rays.eye[p];
        short_pixels += rays.eye[p] < kCountSamples ? 1 : 0;
    }
    EXPECT_EQ(short_pixels, 0);
    EXPECT_GT(total / (static_cast<double>(rays.eye.size() / 4) * kCountSamples), 2.0);
    prepare(cornell_box_scene(), kSize, false);
    batch(16, 0, true, kBounces);
    EXPECT_TRUE(same_bits(once, accumulation())) << "pipelines without float atomics differ";
}

TEST_F(CornellTest, NonFiniteEmissionIsDroppedNotAccumulated) {
    Scene scene = cornell_box_scene();
    // A material whose emission is not a number and a texel that is
    // infinite, on two quads in front of the camera.
    Material nan_material = diffuse_material(0.5f);
    nan_material.emission[1] = std::numeric_limits<float>::quiet_NaN();
    scene.materials.push_back(nan_material);
    TextureData texel;
    texel.width = texel.height = 1;
    texel.channels = 3;
    texel.is_float = true;
    texel.pixelsf = {std::numeric_limits<float>::infinity(), 1.0f, 1.0f};
    scene.textures.push_back(texel);
    Material inf_material = diffuse_material(0.5f, 1.0f);
    inf_material.emission_tex = 0;
    scene.materials.push_back(inf_material);
    const int nan_id = static_cast<int>(scene.materials.size()) - 2;
    const float a[3] = {350, 200, 100}, b[3] = {250, 200, 100}, c[3] = {250, 300, 100}, d[3] = {350, 300, 100};
    add_mesh_instance(scene, quad_mesh(a, b, c, d), nan_id);
    const float e[3] = {200, 200, 100}, f[3] = {100, 200, 100}, g[3] = {100, 300, 100}, h[3] = {200, 300, 100};
    add_mesh_instance(scene, quad_mesh(e, f, g, h), nan_id + 1);

    const Accumulation a_ = render(scene, kSize, 8, kBounces);
    for (float v : a_.eye) ASSERT_TRUE(std::isfinite(v));
    EXPECT_GT(a_.dropped(), 0);
}
