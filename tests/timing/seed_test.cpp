// The sampler seed: one seed always gives the same image, different seeds
// give different images of the same expected value, and only a new seed
// starts a new image.
#include <cmath>
#include <cstring>
#include <vector>

#include "api/render_call_support.h"

namespace {

constexpr int kSize = 32;
constexpr int kBatches = 2;

// A square of edge `edge` in the plane z, facing the camera.
void add_square(VitrelContext* ctx, float z, float edge, int material) {
    const float h = edge / 2;
    const float pos[12] = {-h, -h, 0, h, -h, 0, h, h, 0, -h, h, 0};
    const unsigned idx[6] = {0, 1, 2, 0, 2, 3};
    const int mesh =
        vitrel_add_mesh(ctx, pos, 4, idx, 2, nullptr, nullptr, nullptr, nullptr, material);
    const auto m = translation_matrix(0, 0, z);
    ASSERT_GE(vitrel_add_instance(ctx, mesh, material, m.data()), 0);
}

// A grey floor filling the view under a uniform sky, shadowed by a black
// square floating in front of it: every floor pixel near the square is
// noisy.
void build_occluded_floor(VitrelContext* ctx) {
    setup_render_context(ctx, kSize);
    set_uniform_environment(ctx, 1.0f);
    add_square(ctx, 0.0f, 6.0f, add_plain_material(ctx, 0.5f, 0.5f, 0.5f));
    add_square(ctx, 0.4f, 1.0f, add_plain_material(ctx, 0.0f, 0.0f, 0.0f));
}

std::vector<float> render_with_seed(VitrelContext* ctx, unsigned seed) {
    vitrel_set_seed(ctx, seed);
    vitrel_reset_accumulation(ctx);
    for (int b = 0; b < kBatches; ++b) EXPECT_GT(vitrel_render_batch(ctx), 0);
    return linear_image(ctx);
}

bool same_bytes(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace

TEST(SamplerSeed, SameSeedSameImageOtherSeedsIndependentImagesOfOneMean) {
    RenderContext rc;
    build_occluded_floor(rc.ctx);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    const std::vector<float> first = render_with_seed(rc.ctx, 0);
    ASSERT_EQ(first.size(), static_cast<size_t>(4 * kSize * kSize));
    EXPECT_TRUE(same_bytes(first, render_with_seed(rc.ctx, 0)));
    const std::vector<float> a = render_with_seed(rc.ctx, 7);
    const std::vector<float> b = render_with_seed(rc.ctx, 8);
    EXPECT_TRUE(same_bytes(a, render_with_seed(rc.ctx, 7)));
    EXPECT_FALSE(same_bytes(first, a));

    // Per pixel, the two seeds' values are independent draws of one
    // distribution, so their differences average to zero within noise.
    double sum = 0.0, sum_sq = 0.0;
    int differing = 0;
    const int n = kSize * kSize;
    for (int p = 0; p < n; ++p) {
        const double d = a[4 * static_cast<size_t>(p)] - b[4 * static_cast<size_t>(p)];
        sum += d;
        sum_sq += d * d;
        differing += d != 0.0;
    }
    EXPECT_GT(differing, n / 2);
    const double mean = sum / n;
    const double standard_error = std::sqrt((sum_sq / n - mean * mean) / (n - 1));
    EXPECT_LT(std::abs(mean), 4.0 * standard_error);

    // Setting the seed in use keeps the accumulation; another restarts it.
    vitrel_set_seed(rc.ctx, 7);
    EXPECT_GT(vitrel_get_total_samples(rc.ctx), 0);
    vitrel_set_seed(rc.ctx, 3);
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 0);
    EXPECT_EQ(vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr), nullptr);
    vitrel_set_seed(nullptr, 3);
}
