// The calls that prepare, render and read out, on one lavapipe device with
// validation on: results, sample counts, messages and the refusals that
// keep a prepared context consistent with its GPU buffers.
#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/vk_renderer.h"
#include "render_call_support.h"

namespace {
const float kEye[3] = {0, 0, 3}, kTarget[3] = {0, 0, 0}, kUp[3] = {0, 1, 0};
}  // namespace

TEST(RenderCallsUnprepared, EveryGpuCallRefusesWithoutTouchingTheErrorText) {
    ContextGuard g;
    add_emissive_square(g.ctx, 0, 0, 1, 1);
    int w = -7, h = -7;
    EXPECT_EQ(vitrel_render_batch(g.ctx), -1);
    EXPECT_EQ(vitrel_get_pixels(g.ctx, &w, &h), nullptr);
    EXPECT_EQ(vitrel_get_pixels_linear(g.ctx, &w, &h), nullptr);
    EXPECT_EQ(vitrel_get_pixels_uint8(g.ctx, &w, &h), nullptr);
    EXPECT_EQ(vitrel_compute_aovs(g.ctx), -1);
    EXPECT_EQ(vitrel_get_aov_depth(g.ctx, &w, &h), nullptr);
    EXPECT_EQ(vitrel_get_aov_normal(g.ctx, &w, &h), nullptr);
    EXPECT_EQ(vitrel_get_aov_object_id(g.ctx, &w, &h), nullptr);
    EXPECT_EQ(update_camera(g.ctx, 16, 16), -1);
    EXPECT_EQ(vitrel_rebuild_tlas(g.ctx), -1);
    EXPECT_EQ(w, -7);
    EXPECT_EQ(h, -7);
    EXPECT_STREQ(vitrel_get_last_error(g.ctx), "");
    EXPECT_EQ(vitrel_prepare(nullptr), -1);
    EXPECT_EQ(vitrel_render_batch(nullptr), -1);
    EXPECT_EQ(vitrel_update_camera(nullptr, kEye, kTarget, kUp, 1, 1, 45, 0, 1), -1);
    EXPECT_EQ(vitrel_rebuild_tlas(nullptr), -1);
    EXPECT_EQ(vitrel_compute_aovs(nullptr), -1);
    vitrel_reset_accumulation(nullptr);
}

TEST(RenderCallsPrepare, EmptySceneAndEmptyOutputAreRefused) {
    ContextGuard g;
    add_plain_material(g.ctx);
    add_triangle_mesh(g.ctx);
    std::string err = capture_stderr([&] { EXPECT_EQ(vitrel_prepare(g.ctx), -1); });
    EXPECT_EQ(err, "vitrel_prepare: empty scene (mats=1, meshes=1, instances=0)\n");

    const auto m = translation_matrix(0, 0, 0);
    vitrel_add_instance(g.ctx, 0, 0, m.data());
    for (const auto& [w, h, q] : {std::array{0, 16, 1}, {16, -3, 1}, {16, 16, 0}, {70000, 16, 1}}) {
        vitrel_set_output_size(g.ctx, w, h);
        vitrel_set_quality(g.ctx, q);
        err = capture_stderr([&] { EXPECT_EQ(vitrel_prepare(g.ctx), -1); });
        EXPECT_EQ(err.rfind("vitrel_prepare: ", 0), 0u) << err;
    }
    EXPECT_STREQ(vitrel_get_last_error(g.ctx), "");
    EXPECT_TRUE(g.ctx->renderers.empty());
}

TEST(RenderCallsEnumerate, NamesStayInsideStrideTimesMaximum) {
    char none[4] = {};
    EXPECT_EQ(vitrel_enumerate_gpus(nullptr, 8, 1), 0);
    EXPECT_EQ(vitrel_enumerate_gpus(none, 0, 1), 0);
    EXPECT_EQ(vitrel_enumerate_gpus(none, 4, 0), 0);
    EXPECT_EQ(vitrel_enumerate_gpus(none, -4, -1), 0);

    const int available = static_cast<int>(VkRenderer::enumerateRayTracingDevices().size());
    ASSERT_GE(available, 1);
    std::vector<char> buffer(8 * available + 16, '#');
    ASSERT_EQ(vitrel_enumerate_gpus(buffer.data(), 8, available), available);
    for (int k = 0; k < available; ++k) {
        EXPECT_EQ(std::strlen(&buffer[8 * k]), 7u);  // "llvmpipe..." cut to 7 characters
        EXPECT_EQ(buffer[8 * k + 7], '\0');
    }
    for (size_t i = 8 * available; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#');

    char one[64];
    std::memset(one, '#', sizeof(one));
    EXPECT_EQ(vitrel_enumerate_gpus(one, 32, 1), 1);
    EXPECT_EQ(std::string(one).rfind("llvmpipe", 0), 0u);
    EXPECT_EQ(one[32], '#');
}

TEST(RenderCallsBatch, BatchesAccumulateAndResetRestarts) {
    PreparedSquare rc;
    EXPECT_EQ(vitrel_is_prepared(rc.ctx), 1);
    EXPECT_EQ(vitrel_get_pixels(rc.ctx, nullptr, nullptr), nullptr);
    EXPECT_EQ(vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr), nullptr);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 16);
    int w = 0, h = 0;
    ASSERT_NE(vitrel_get_pixels_uint8(rc.ctx, &w, &h), nullptr);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 16);
    const double before = red_sum(linear_image(rc.ctx));

    vitrel_reset_accumulation(rc.ctx);
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 0);
    EXPECT_EQ(vitrel_get_pixels_linear(rc.ctx, nullptr, nullptr), nullptr);
    EXPECT_EQ(vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr), nullptr);
    // The batch after a reset clears the accumulation: the image is the
    // mean of 8 samples again, not of 8 on top of 16.
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
    EXPECT_NEAR(red_sum(linear_image(rc.ctx)), before, 0.05 * before);

    VkRenderer* first = rc.ctx->renderers[0];
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);  // fast path: same renderer, count restarts
    EXPECT_EQ(rc.ctx->renderers[0], first);
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 0);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
    ASSERT_NE(vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr), nullptr);

    // A failed batch restarts the accumulation too.
    rc.ctx->renderers[0]->destroySceneResources();  // the device lost its scene
    const std::string err = capture_stderr([&] { EXPECT_EQ(vitrel_render_batch(rc.ctx), -3); });
    const std::string text = vitrel_get_last_error(rc.ctx);
    EXPECT_EQ(text.rfind("render_batch: ", 0), 0u) << text;
    EXPECT_EQ(err, "vitrel_render_batch error: " + text.substr(14) + "\n");
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 0);
    EXPECT_EQ(vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr), nullptr);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
}

// Sample counts below one still end a batch, and software motion sub-steps
// split it (the last step's transform stays on the instance).
TEST(RenderCallsBatch, SampleCountsBelowOneAndMotionSubSteps) {
    RenderContext rc;
    const int inst = add_emissive_square(rc.ctx, 0, 0, 0.5f, 1);
    vitrel_set_render_params(rc.ctx, -5, 6, 1.0f);  // reads as billions unsigned
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    EXPECT_EQ(rc.ctx->renderers[0]->samplesPerDispatch, 1u);
    rc.ctx->samples_per_batch = 0;
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    EXPECT_EQ(rc.ctx->renderers[0]->samplesPerDispatch, 1u);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 1);
    vitrel_set_motion_blur(rc.ctx, 3, 0.5f);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 4);  // three sub-steps of one sample

    rc.ctx->samples_per_batch = 8;
    const auto last = translation_matrix(0.4f, 0, 0);
    vitrel_set_instance_transform_at(rc.ctx, inst, 2, last.data());
    ASSERT_FALSE(rc.ctx->renderers[0]->hasMotionBlur);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 10);  // 3 sub-steps of 2
    EXPECT_FLOAT_EQ(rc.ctx->scene.instances[0].transform[3], 0.4f);
    vitrel_set_motion_blur(rc.ctx, 5, 0.5f);
    rc.ctx->samples_per_batch = 4;
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 15);  // 5 sub-steps of 1
}

// A square moving across the frame during the shutter leaves a streak:
// wider than the square, and holding the same light, since every sub-step
// sees the whole square inside the frame.
TEST(RenderCallsMotion, MovingSquareLeavesAStreakOfEqualIntegral) {
    RenderContext still(32), moving(32);
    add_emissive_square(still.ctx, 0, 0, 0.3f, 1);
    const int inst = add_emissive_square(moving.ctx, 0, 0, 0.3f, 1);
    constexpr int kSteps = 4;
    vitrel_set_motion_blur(moving.ctx, kSteps, 1.0f);
    for (int s = 0; s < kSteps; ++s) {
        const auto m = translation_matrix(-0.45f + 0.3f * s, 0, 0);
        vitrel_set_instance_transform_at(moving.ctx, inst, s, m.data());
    }
    for (VitrelContext* c : {still.ctx, moving.ctx}) {
        vitrel_set_render_params(c, 16, 6, 1.0f);
        ASSERT_EQ(vitrel_prepare(c), 0);
        for (int b = 0; b < 4; ++b) ASSERT_GT(vitrel_render_batch(c), 0);
    }
    const std::vector<float> a = linear_image(still.ctx), b = linear_image(moving.ctx);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    const double area = red_sum(a);
    ASSERT_GT(area, 5.0);
    EXPECT_NEAR(red_sum(b), area, 0.08 * area);

    auto lit_columns = [](const std::vector<float>& img) {
        int count = 0;
        for (int x = 0; x < 32; ++x) {
            double column = 0;
            for (int y = 0; y < 32; ++y) column += img[4 * (y * 32 + x)];
            if (column > 0.05) ++count;
        }
        return count;
    };
    EXPECT_GE(lit_columns(b), 3 * lit_columns(a));
    // No pixel of the streak is as bright as the still square's centre.
    float peak = 0;
    for (size_t i = 0; i < b.size(); i += 4) peak = std::max(peak, b[i]);
    EXPECT_LT(peak, 0.75f);
}

TEST(RenderCallsUpdate, CameraUpdateRefusesEmptySizesAndGrownTables) {
    PreparedSquare rc;
    ASSERT_EQ(vitrel_render_batch(rc.ctx), 8);
    ASSERT_NE(vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr), nullptr);

    for (const auto& [w, h] : {std::array{0, 16}, {16, 0}, {-1, 16}, {16, -100000}}) {
        EXPECT_EQ(update_camera(rc.ctx, w, h), -1);
        EXPECT_NE(std::string(vitrel_get_last_error(rc.ctx)).find("at least 1"), std::string::npos);
    }
    EXPECT_EQ(rc.ctx->output.width, 16u);
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 8);  // refused calls change nothing

    // A camera that is not finite sees nothing: no ray is traced, every
    // sample is dropped and the passes report misses.
    const float nowhere[3] = {std::numeric_limits<float>::quiet_NaN(), 0, 3};
    ASSERT_EQ(vitrel_update_camera(rc.ctx, nowhere, kTarget, kUp, 16, 16, 45, 0, 3), 0);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
    const std::vector<float> dark = linear_image(rc.ctx);
    for (size_t i = 0; i < dark.size(); i += 4)
        ASSERT_EQ(std::max({dark[i], dark[i + 1], dark[i + 2]}), 0.0f) << i / 4;
    ASSERT_EQ(vitrel_compute_aovs(rc.ctx), 0);
    int w = 0, h = 0;
    const int* ids = vitrel_get_aov_object_id(rc.ctx, &w, &h);
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(*std::max_element(ids, ids + w * h), -1);
    ASSERT_EQ(update_camera(rc.ctx, 16, 16), 0);

    // More keyframes than at preparation: the parameter block grows.
    for (int k = 0; k < 6; ++k) vitrel_add_keyframe(rc.ctx, kEye, kTarget, 0.1f * k);
    EXPECT_EQ(update_camera(rc.ctx, 24, 20), 0);
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 0);
    EXPECT_EQ(rc.ctx->renderers[0]->outputWidth, 24);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
    ASSERT_NE(vitrel_get_pixels(rc.ctx, &w, &h), nullptr);
    EXPECT_EQ(w, 24);
    EXPECT_EQ(h, 20);

    add_plain_material(rc.ctx);
    EXPECT_EQ(update_camera(rc.ctx, 16, 16), -1);
    const std::string err = vitrel_get_last_error(rc.ctx);
    EXPECT_EQ(err.rfind("update_camera: material count changed from 1 to 2", 0), 0u) << err;
    EXPECT_NE(err.find("prepare again"), std::string::npos);
    EXPECT_EQ(vitrel_rebuild_tlas(rc.ctx), -1);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    EXPECT_EQ(update_camera(rc.ctx, 16, 16), 0);
}

TEST(RenderCallsUpdate, TlasRebuildTakesNewInstancesButNotNewMeshes) {
    RenderContext rc;
    const int inst = add_emissive_square(rc.ctx, 0, 0, 0.5f, 1);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    const auto moved = translation_matrix(0.3f, 0, 0);
    vitrel_set_instance_transform(rc.ctx, inst, moved.data());
    const auto other = translation_matrix(-0.5f, 0, 0);
    ASSERT_EQ(vitrel_add_instance(rc.ctx, 0, 0, other.data()), 1);  // a new light
    // A camera update does not upload lights, so it must not pack them.
    const float elsewhere[3] = {1, 1, 1};
    EXPECT_EQ(vitrel_update_camera(rc.ctx, elsewhere, kTarget, kUp, 20, 20, 30, 0, 3), -1);
    EXPECT_NE(std::string(vitrel_get_last_error(rc.ctx)).find("vitrel_rebuild_tlas"),
              std::string::npos);
    EXPECT_EQ(rc.ctx->output.width, 16u);  // refused: camera and size untouched
    EXPECT_EQ(rc.ctx->scene.camera_position[0], 0.0f);
    EXPECT_EQ(rc.ctx->scene.camera_fov, 45.0f);
    EXPECT_EQ(vitrel_rebuild_tlas(rc.ctx), 0);
    EXPECT_EQ(update_camera(rc.ctx, 16, 16), 0);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
    const double two = red_sum(linear_image(rc.ctx));

    add_triangle_mesh(rc.ctx, 0);
    EXPECT_EQ(vitrel_rebuild_tlas(rc.ctx), -1);
    EXPECT_NE(std::string(vitrel_get_last_error(rc.ctx)).find("mesh count changed from 1 to 2"),
              std::string::npos);
    vitrel_set_motion_blur(rc.ctx, 2, 0.5f);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), -3);
    EXPECT_NE(std::string(vitrel_get_last_error(rc.ctx)).find("render_batch: mesh count"),
              std::string::npos);
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 8);
    EXPECT_EQ(vitrel_is_prepared(rc.ctx), 1);  // nothing was replaced
    vitrel_set_motion_blur(rc.ctx, 0, 0.0f);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 16);
    EXPECT_NEAR(red_sum(linear_image(rc.ctx)), two, 0.05 * two);
}

// Textures and materials with a new feature added after preparation: the
// camera update refuses the grown atlas, and the fast path rebuilds the
// atlas and the programs on the same renderer.
TEST(RenderCallsPrepare, TexturesAndNewMaterialFeaturesRebuildOnTheFastPath) {
    RenderContext rc;
    add_emissive_square(rc.ctx, 0, 0, 1, 1);
    const unsigned char texel[4] = {1, 2, 3, 4};
    vitrel_add_texture(rc.ctx, texel, 1, 1, 4, 0, 0);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    const VkRenderer* renderer = rc.ctx->renderers.front();
    EXPECT_EQ(renderer->programFeatures & PROGRAM_FEATURE_COAT, 0u);
    vitrel_add_texture(rc.ctx, texel, 1, 1, 4, 0, 0);
    EXPECT_EQ(update_camera(rc.ctx, 16, 16), -1);
    EXPECT_NE(std::string(vitrel_get_last_error(rc.ctx)).find("texture count"), std::string::npos);
    const float white[3] = {1, 1, 1}, black[3] = {0, 0, 0};
    ASSERT_GE(vitrel_add_material(rc.ctx, white, black, -1, -1, -1, -1, 0.5f, 0, 0, 1.5f, 0.5f,
                                  /*coat*/ 1.0f, 0, 0, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    ASSERT_EQ(rc.ctx->renderers.front(), renderer);  // the fast path
    EXPECT_NE(renderer->programFeatures & PROGRAM_FEATURE_COAT, 0u);
    EXPECT_EQ(rc.ctx->scene.atlas_entries.size(), 2u);
    EXPECT_EQ(update_camera(rc.ctx, 16, 16), 0);
}

TEST(RenderCallsGpuMask, MissingGpuFailsTheFullPathOnly) {
    PreparedSquare rc;
    const int missing[1] = {7};
    vitrel_set_gpu_mask(rc.ctx, missing, 1);
    const int negative[2] = {0, -1};
    vitrel_set_gpu_mask(rc.ctx, negative, 2);  // ignored
    EXPECT_EQ(rc.ctx->gpu_indices, std::vector<uint32_t>{7});
    EXPECT_EQ(vitrel_prepare(rc.ctx), 0);  // fast path keeps GPU 0
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);

    vitrel_scene_clear(rc.ctx);
    add_emissive_square(rc.ctx, 0, 0, 1, 1);
    std::string err = capture_stderr([&] { EXPECT_EQ(vitrel_prepare(rc.ctx), -2); });
    const std::string text = vitrel_get_last_error(rc.ctx);
    EXPECT_EQ(text.rfind("GPU 7: ", 0), 0u) << text;
    EXPECT_GT(text.size(), 7u);
    EXPECT_EQ(err, "vitrel_prepare: " + text + "\n");
    EXPECT_TRUE(rc.ctx->renderers.empty());
    EXPECT_EQ(vitrel_is_prepared(rc.ctx), 0);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), -1);
}

TEST(RenderCallsReadout, AovsAndTheBusyEightBitPath) {
    PreparedSquare rc;
    ASSERT_EQ(vitrel_compute_aovs(rc.ctx), 0);
    int w = 0, h = 0;
    const float* depth = vitrel_get_aov_depth(rc.ctx, &w, &h);
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(w * h, 256);
    EXPECT_NEAR(depth[8 * 16 + 8], 3.0f, 0.05f);  // the square at the centre
    EXPECT_NE(vitrel_get_aov_normal(rc.ctx, nullptr, nullptr), nullptr);
    EXPECT_NE(vitrel_get_aov_object_id(rc.ctx, nullptr, nullptr), nullptr);

    // While another thread holds the context, the 8-bit read-out serves
    // the published image (none yet, then the last one) without waiting.
    {
        std::lock_guard<std::mutex> busy(rc.ctx->mutex);
        EXPECT_EQ(vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr), nullptr);
    }
    ASSERT_EQ(vitrel_render_batch(rc.ctx), 8);
    const unsigned char* published = vitrel_get_pixels_uint8(rc.ctx, nullptr, nullptr);
    ASSERT_NE(published, nullptr);
    const std::vector<unsigned char> copy(published, published + 4 * 256);
    ASSERT_EQ(vitrel_render_batch(rc.ctx), 16);
    {
        std::lock_guard<std::mutex> busy(rc.ctx->mutex);
        w = h = 0;
        const unsigned char* served = vitrel_get_pixels_uint8(rc.ctx, &w, &h);
        EXPECT_EQ(served, published);
        EXPECT_EQ(w, 16);
        EXPECT_EQ(std::vector<unsigned char>(served, served + 4 * 256), copy);
    }

    // An output size set without a preparation or camera update has not
    // reached the renderer: read-outs report the size of the data they return.
    vitrel_set_output_size(rc.ctx, 64, 48);
    w = h = 0;
    const float* pixels = vitrel_get_pixels(rc.ctx, &w, &h);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w * h, 256);
    w = h = 0;
    ASSERT_NE(vitrel_get_aov_normal(rc.ctx, &w, &h), nullptr);
    EXPECT_EQ(w * h, 256);

    // Nor has a new quality: the read-out keeps the one the framebuffers
    // were made for. A larger one would downsample past the render image,
    // and -1 (stored as 2^32 - 1) would loop for hours.
    const std::vector<float> image(pixels, pixels + 4 * 256);
    for (int quality : {3, -1}) {
        vitrel_set_quality(rc.ctx, quality);
        pixels = vitrel_get_pixels(rc.ctx, nullptr, nullptr);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(std::vector<float>(pixels, pixels + 4 * 256), image) << "quality " << quality;
    }
}

namespace {

// Centre of the red light along x, in pixels.
double centroid_x(const std::vector<float>& rgba, int width) {
    double sum = 0, moment = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const int x = static_cast<int>((i / 4) % width);
        sum += rgba[i];
        moment += rgba[i] * (x + 0.5);
    }
    return moment / sum;
}

}  // namespace

// The camera pans from x = -0.5 to x = +0.5 over one second at 2 frames per
// second. A host renders frame f by shifting the keyframes by -f / fps and
// updating the camera; with an almost closed shutter each frame shows the
// square where the camera stood at that moment.
TEST(RenderCallsAnimation, FramesFollowTheCameraKeyframes) {
    RenderContext rc(32);
    add_emissive_square(rc.ctx, 0, 0, 0.4f, 1);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    constexpr float kFps = 2.0f;
    auto render_frame = [&](int f) {
        vitrel_clear_animation(rc.ctx);
        vitrel_set_animation(rc.ctx, 0, 1.0f, kFps);
        vitrel_set_motion_blur(rc.ctx, 0, 1e-4f);
        const float shift = -static_cast<float>(f) / kFps;
        const float p0[3] = {-0.5f, 0, 3}, l0[3] = {-0.5f, 0, 0};
        const float p1[3] = {0.5f, 0, 3}, l1[3] = {0.5f, 0, 0};
        vitrel_add_keyframe(rc.ctx, p0, l0, 0.0f + shift);
        vitrel_add_keyframe(rc.ctx, p1, l1, 1.0f + shift);
        EXPECT_EQ(update_camera(rc.ctx, 32, 32), 0) << vitrel_get_last_error(rc.ctx);
        EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
        EXPECT_EQ(vitrel_render_batch(rc.ctx), 16);
        return centroid_x(linear_image(rc.ctx), 32);
    };
    const double x0 = render_frame(0), x1 = render_frame(1), x2 = render_frame(2);
    // The square sits 0.5 units off-axis at 3 units with a 45-degree view
    // over 32 pixels: 0.5 / (3 tan 22.5 deg) * 16 = 6.4 pixels.
    constexpr double kOffset = 0.5 / (3.0 * 0.41421356) * 16.0;
    EXPECT_NEAR(x0, 16.0 + kOffset, 0.6);
    EXPECT_NEAR(x1, 16.0, 0.6);
    EXPECT_NEAR(x2, 16.0 - kOffset, 0.6);
}
