// The Cornell box: convergence towards a high-sample reference, exact
// repeatability, and robustness against non-finite materials and texels;
// and the faster convergence the sampler gives direct light from an area
// light.
#include <cmath>
#include <limits>
#include <vector>

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

// Least-squares slope of log y over log x.
double log_log_slope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double mx = 0, my = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        mx += std::log(x[i]) / n;
        my += std::log(y[i]) / n;
    }
    double sxy = 0, sxx = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sxy += (std::log(x[i]) - mx) * (std::log(y[i]) - my);
        sxx += (std::log(x[i]) - mx) * (std::log(x[i]) - mx);
    }
    return sxy / sxx;
}

}  // namespace

class CornellTest : public PathTest {
protected:
    // Slope of the error against a reference of `reference_spp` samples
    // (drawn from sample indices no estimate uses) over the sample counts
    // `spp`, in log-log.
    double error_slope(const std::vector<int>& spp, int reference_spp, int bounces) {
        constexpr int kReferenceFirst = 1 << 16;
        batch(reference_spp, kReferenceFirst, true, bounces);
        const Accumulation reference = accumulation();
        std::vector<double> n, error;
        for (int count : spp) {
            batch(count, 0, true, bounces);
            n.push_back(count);
            error.push_back(rms_difference(accumulation(), reference));
        }
        return log_log_slope(n, error);
    }
};

TEST_F(CornellTest, ErrorFallsAsOneOverTheSquareRootOfTheSampleCount) {
    prepare(cornell_box_scene(), kSize);
    const double slope = error_slope({4, 16, 64}, 1024, kBounces);
    EXPECT_LT(slope, -0.4);
    EXPECT_GT(slope, -0.8);
}

// A floor lit by a square light of two triangles, direct light only: the
// light sample's pair both picks the triangle and places the point on it,
// so its stratification covers the whole light and the error falls
// clearly faster than 1 / sqrt(spp). Drawing the triangle apart from the
// point left each triangle a random subset of the pair's samples.
TEST_F(CornellTest, DirectLightFromATwoTriangleLightConvergesFasterThanMonteCarlo) {
    // The camera sees only the lamp's dark back, not its bright edges.
    Scene scene = floor_under_lamp({3.0f, 0.5f, 0.5f, 4.0f, true});
    const float eye[3] = {0, 3, 3}, centre[3] = {0, 0, 0};
    set_camera(scene, eye, centre, 60.0f);
    prepare(scene, kSize);
    constexpr int kDirectOnly = 1;
    EXPECT_LT(error_slope({16, 64, 256}, 8192, kDirectOnly), -0.6);
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
    // form on devices that use it. Both traverse the driver's structure,
    // and agree bit for bit; the BVH that CPU devices build on the host
    // finds the same hits up to rounding. Both programs count the same rays
    // too (the diagnostic mode benchmarks use): at least the camera ray per
    // sample, and more on average in a closed box.
    trace_cpu_bvh_ = false;
    prepare(cornell_box_scene(), kSize);
    batch(16, 0, true, kBounces);
    const Accumulation driver = accumulation();
    double difference = 0.0, sum = 0.0;
    for (size_t i = 0; i < driver.eye.size(); ++i) {
        difference += std::fabs(double(driver.eye[i]) - double(once.eye[i]));
        sum += std::fabs(double(once.eye[i]));
    }
    EXPECT_LT(difference, 1e-4 * sum) << "the host-built BVH finds other hits";
    constexpr int kCountSamples = 4;
    auto ray_counts = [&] {
        renderer->renderBatch(scene_, output_, kCountSamples, kBounces, TRACE_EXTRA_RAY_COUNT, 0, true);
        return accumulation();
    };
    const Accumulation rays = ray_counts();
    renderer->computeEyePaths = !renderer->computeEyePaths;
    rebuild_programs();
    batch(16, 0, true, kBounces);
    EXPECT_TRUE(same_bits(driver, accumulation())) << "the other eye-path program differs";
    EXPECT_TRUE(same_bits(rays, ray_counts())) << "the other eye-path program counts other rays";
    double total = 0.0;
    int short_pixels = 0;
    for (size_t p = 0; p < rays.eye.size(); p += 4) {
        total += rays.eye[p];
        short_pixels += rays.eye[p] < kCountSamples ? 1 : 0;
    }
    EXPECT_EQ(short_pixels, 0);
    EXPECT_GT(total / (static_cast<double>(rays.eye.size() / 4) * kCountSamples), 2.0);
    trace_cpu_bvh_ = true;
    prepare(cornell_box_scene(), kSize, false);
    batch(16, 0, true, kBounces);
    EXPECT_TRUE(same_bits(once, accumulation())) << "pipelines without float atomics differ";
    // Tiles of 20 and 12 pixels: work-group grids of 3 x 3, 2 x 3 and 2 x 2,
    // which the compute program lays over each tile in scrambled orders.
    tile_size_ = 20;
    prepare(cornell_box_scene(), kSize);
    batch(16, 0, true, kBounces);
    EXPECT_TRUE(same_bits(once, accumulation())) << "other tiles differ";
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
