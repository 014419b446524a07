// Lifecycle, status and the null-context contract of every call.
#include <gtest/gtest.h>

#include <cstring>

#include "scene/ess_lut.h"
#include "test_helpers.h"

TEST(Context, FreshContextHasDefaults) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(vitrel_is_prepared(ctx), 0);
    EXPECT_EQ(vitrel_get_total_samples(ctx), 0);
    EXPECT_STREQ(vitrel_get_last_error(ctx), "");
    EXPECT_EQ(ctx->output.width, 512u);
    EXPECT_EQ(ctx->output.height, 512u);
    EXPECT_EQ(ctx->output.overscan, 4u);
    EXPECT_EQ(ctx->output.quality, 2u);
    EXPECT_EQ(ctx->output.post_mode, 0u);
    EXPECT_FLOAT_EQ(ctx->output.post_param0, 0.5f);
    EXPECT_FLOAT_EQ(ctx->output.post_param1, 4.5f);
    EXPECT_FLOAT_EQ(ctx->output.exposure, 1.0f);
    const float neutral[5] = {1, 1, 1, 0, 1};
    EXPECT_EQ(std::memcmp(ctx->output.grade, neutral, sizeof(neutral)), 0);
    EXPECT_EQ(ctx->samples_per_batch, 8u);
    EXPECT_EQ(ctx->trace_param, 6u);
    EXPECT_EQ(ctx->tile_size, 256u);
    EXPECT_EQ(ctx->gpu_indices, std::vector<uint32_t>{0});
    EXPECT_FALSE(ctx->shader_dir.empty());
    EXPECT_TRUE(ctx->shader_src_dir.empty());
    ASSERT_EQ(ctx->ess_lut.size(), kEssLutSize);
    EXPECT_EQ(std::memcmp(ctx->ess_lut.data(), ess_lut_precomputed, sizeof(ess_lut_precomputed)), 0);
    EXPECT_TRUE(ctx->renderers.empty());
    EXPECT_TRUE(ctx->material_exprs.empty());
    EXPECT_EQ(ctx->motion_steps, 0);
}

TEST(Context, NullContextNeverFaults) {
    const float v3[3] = {0, 0, 0};
    const auto m = translation_matrix(0, 0, 0);
    const unsigned idx[3] = {0, 1, 2};
    const unsigned char px[4] = {1, 2, 3, 4};

    vitrel_destroy(nullptr);
    vitrel_scene_clear(nullptr);
    EXPECT_EQ(vitrel_is_prepared(nullptr), 0);
    EXPECT_EQ(vitrel_get_total_samples(nullptr), 0);
    ASSERT_NE(vitrel_get_last_error(nullptr), nullptr);
    EXPECT_STREQ(vitrel_get_last_error(nullptr), "");

    EXPECT_EQ(vitrel_add_texture(nullptr, px, 1, 1, 4, 0, 0), -1);
    EXPECT_EQ(vitrel_add_material(nullptr, v3, v3, -1, -1, -1, -1, 0, 0, 0, 1.5f, 0.5f, 0, 0, 0,
                                  0, 0, 0, 0, 0),
              -1);
    EXPECT_EQ(vitrel_add_mesh(nullptr, v3, 1, idx, 1, nullptr, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(vitrel_add_instance(nullptr, 0, 0, m.data()), -1);
    EXPECT_EQ(vitrel_set_envmap(nullptr, v3, 1, 1, nullptr, 1.0f), -1);
    vitrel_set_camera(nullptr, v3, v3, v3, 60, 0, 4);
    vitrel_set_material_subsurface(nullptr, 0, 1, v3, 1);
    vitrel_set_material_subsurface_ext(nullptr, 0, 1, 0);
    vitrel_set_material_alpha(nullptr, 0, 1, 0.5f, 0.5f);
    vitrel_set_material_emission_tex(nullptr, 0, 0);
    vitrel_set_material_f82_tint(nullptr, 0, v3);
    vitrel_set_material_transmission(nullptr, 0, v3, 1);
    vitrel_set_material_coat_color(nullptr, 0, v3);
    vitrel_set_material_thin_walled(nullptr, 0, 1);
    vitrel_set_instance_transform(nullptr, 0, m.data());
    vitrel_clear_animation(nullptr);
    vitrel_set_animation(nullptr, 1, 1, 24);
    vitrel_add_keyframe(nullptr, v3, v3, 0);
    vitrel_set_motion_blur(nullptr, 2, 0.5f);
    vitrel_set_instance_transform_at(nullptr, 0, 0, m.data());
    vitrel_set_output_size(nullptr, 10, 10);
    vitrel_set_render_params(nullptr, 4, 4, 2);
    vitrel_set_tile_size(nullptr, 64);
    vitrel_set_quality(nullptr, 1);
    vitrel_set_shader_paths(nullptr, "a", "b");
    vitrel_set_grade(nullptr, "filmic");
}

TEST(Context, SceneClearResetsSceneButKeepsSettings) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_output_size(ctx, 320, 200);
    vitrel_set_quality(ctx, 3);
    vitrel_set_tile_size(ctx, 64);
    vitrel_set_shader_paths(ctx, "/spv", "/src");
    vitrel_set_render_params(ctx, 16, 3, 1.5f);
    const uint32_t gpus[2] = {1, 0};
    ctx->gpu_indices.assign(gpus, gpus + 2);
    ASSERT_EQ(add_plain_material(ctx), 0);
    ASSERT_EQ(add_triangle_mesh(ctx), 0);
    const auto m = translation_matrix(0, 0, 0);
    ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m.data()), 0);
    vitrel_set_motion_blur(ctx, 2, 0.5f);
    ctx->prepared = true;
    ctx->total_samples = 24;
    ctx->front_valid = true;
    ctx->pixels8_front.assign(16, 7);
    ctx->aov_depth.assign(4, 1.0f);

    vitrel_scene_clear(ctx);

    EXPECT_EQ(vitrel_is_prepared(ctx), 0);
    EXPECT_EQ(vitrel_get_total_samples(ctx), 0);
    EXPECT_TRUE(ctx->scene.materials.empty());
    EXPECT_TRUE(ctx->scene.meshes.empty());
    EXPECT_TRUE(ctx->scene.instances.empty());
    EXPECT_TRUE(ctx->material_exprs.empty());
    EXPECT_FALSE(ctx->front_valid);
    EXPECT_TRUE(ctx->pixels8_front.empty());
    EXPECT_EQ(ctx->output.width, 320u);
    EXPECT_EQ(ctx->output.height, 200u);
    EXPECT_EQ(ctx->output.quality, 3u);
    EXPECT_EQ(ctx->tile_size, 64u);
    EXPECT_EQ(ctx->shader_dir, "/spv");
    EXPECT_EQ(ctx->shader_src_dir, "/src");
    EXPECT_EQ(ctx->samples_per_batch, 16u);
    EXPECT_EQ(ctx->trace_param, 3u);
    EXPECT_EQ(ctx->gpu_indices, (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(ctx->motion_steps, 2);
    EXPECT_EQ(ctx->motion_xforms.size(), 2u);
    EXPECT_EQ(ctx->aov_depth.size(), 4u);
    // The cleared scene is a default one: ids start again at 0.
    EXPECT_EQ(add_plain_material(ctx), 0);
    EXPECT_EQ(ctx->material_exprs.size(), 1u);
}

TEST(Context, LastErrorSurvivesLaterCalls) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    ctx->last_error = "GPU 7: no device";
    EXPECT_EQ(add_plain_material(ctx), 0);
    vitrel_set_output_size(ctx, 64, 64);
    vitrel_scene_clear(ctx);
    EXPECT_STREQ(vitrel_get_last_error(ctx), "GPU 7: no device");
}

TEST(Context, TotalSamplesReadsWithoutTheLock) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    std::lock_guard<std::mutex> held(ctx->mutex);
    ctx->total_samples = 40;
    // Would deadlock if the call took the context lock.
    EXPECT_EQ(vitrel_get_total_samples(ctx), 40);
}
